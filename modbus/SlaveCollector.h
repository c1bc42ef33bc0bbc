#pragma once
// Cutting the slave's received bytes into requests, without relying on silences between them
// (USB adapters split one frame with gaps longer than any inter-frame silence).
//
// A request ends at the length its function gives (in ASCII at its CR LF). A frame that fails
// its check does not cost a good request buffered behind it: the collector looks for a valid
// frame further on and reports only the bytes before it as broken. A partial request that has
// waited past the wait limit (RTU: since its first byte; ASCII: since its last character) is
// dropped as broken when new bytes arrive, so a request cut off once never swallows the next
// one. In ASCII a ':' always starts a new frame. A stretch of bad bytes is reported once,
// however many false frame starts it holds.
//
// Pure: bytes and their arrival times in, decisions out; no port, no clock.
#include <cstdint>
#include <deque>
#include <vector>

#include "modbus/Pdu.h"

namespace plc::modbus {

enum class SlaveInput {
  NeedMore,  // nothing complete yet
  Request,   // a frame that passed its check: adu holds it
  Broken,    // bytes that are no valid request: known holds what could be read of them
};

struct CollectedRequest {
  SlaveInput kind = SlaveInput::NeedMore;
  Adu adu;      // Request
  Bytes known;  // Broken: the message bytes readable from the dropped frame (for its count field)
};

class SlaveRequestCollector {
 public:
  // waitLimitMicros: how long a partial request may wait for the rest of its bytes (in ASCII,
  // for its next character).
  explicit SlaveRequestCollector(std::int64_t waitLimitMicros) : waitLimit_(waitLimitMicros) {}

  void SetFraming(Framing framing);
  void SetWaitLimit(std::int64_t waitLimitMicros) { waitLimit_ = waitLimitMicros; }
  // Received units that arrived at nowMicros (monotonic). A partial request older than the
  // wait limit is dropped first; the next Next() reports it.
  void Add(ByteView received, std::int64_t nowMicros);
  // The next decision. Call until NeedMore.
  CollectedRequest Next();
  // Forgets everything (a mode change, a port closed).
  void Clear();

  std::size_t Buffered() const { return buffer_.size(); }

 private:
  // Removes the first n units.
  void Drop(std::size_t n);
  // Where a frame can start at or after from: ASCII a colon, RTU a served function behind a unit
  // byte (or a lone last byte). buffer_.size() when nowhere.
  std::size_t NextPlausibleStart(std::size_t from) const;
  // A complete frame at start that passes its check; its length, or 0.
  std::size_t ValidFrameAt(std::size_t start) const;
  CollectedRequest BrokenOf(ByteView frame) const;
  // One decision, before broken stretches are merged into one report.
  CollectedRequest Decide();

  std::int64_t waitLimit_;
  Framing framing_ = Framing::Rtu;
  Bytes buffer_;
  // When each unit of buffer_ arrived.
  std::vector<std::int64_t> times_;
  // A stale partial dropped by Add, reported by the next Next().
  std::deque<Bytes> stale_;
  // Bad bytes were reported and no request has been found since.
  bool brokenRun_ = false;
};

}  // namespace plc::modbus
