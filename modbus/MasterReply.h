#pragma once
// Collecting the reply of the master's request in flight from the pieces the port hands over.
//
// It asks the framing how many units the reply still needs (an exception reply is complete at
// 5 bytes or 11 characters, a read reply follows its byte count), never guesses from silence,
// and checks the frame as soon as it is complete. Bytes that cannot begin the reply are
// dropped first (RTU: anything before the unit and function asked, or their exception;
// ASCII: anything before a colon, and a frame start cut off by another colon), so noise on
// the line before the reply does not hide it. A complete frame that is another unit's or
// another function's is dropped the same way, and a frame start that fails its checksum gives
// way to a valid reply buffered behind it. Every received byte is bounds-checked; the buffer
// never holds more than one frame plus the last chunk. What it drops is kept (the last few frames' worth), so that a request that goes
// unanswered can say whether another unit answered it instead.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "modbus/Pdu.h"
#include "modbus/Requests.h"

namespace plc::modbus {

enum class ReplyOutcome {
  NeedMore,       // nothing decided yet
  Good,           // the reply the request asked for
  ChecksumError,  // a complete frame failed its CRC or LRC (or its ASCII form)
  Exception,      // the slave refused the request
  Rejected,       // a checked frame that does not answer the request (length, byte count)
};

// An ASCII reply of the unit asked that began and never ended.
struct UnfinishedReply {
  std::size_t received = 0;  // characters from its colon on
  std::size_t expected = 0;  // characters its header asked for
  std::uint8_t loneLineEnd = 0;  // a CR or LF that came without the other, 0 when none did
};

struct CollectedReply {
  ReplyOutcome outcome = ReplyOutcome::NeedMore;
  Adu adu;  // the message (without checksum) when the frame passed its check
  ReplyError rejection = ReplyError::None;  // Rejected: why
};

class MasterReplyCollector {
 public:
  // A new request went out: what came before is forgotten.
  void Expect(const Request& request, Framing framing);
  // No request awaits a reply. What was received for the last one stays for OtherUnit.
  void Clear();
  bool Expecting() const { return expecting_; }
  const Request& Awaited() const { return request_; }
  std::size_t Buffered() const { return buffer_.size(); }

  // Adds received units. Once an outcome other than NeedMore is returned the collector stops
  // expecting; later units are ignored until the next Expect.
  CollectedReply Feed(ByteView received);

  // A unit other than the one asked that answered the last request with a checked reply to
  // it: the slave on the line is set to another unit number.
  std::optional<std::uint8_t> OtherUnit() const;
  // The reply of the unit asked that began and was still unfinished when it was given up (or
  // is now), so a request that goes unanswered can say it was answered in part.
  std::optional<UnfinishedReply> Unfinished() const;

 private:
  void Drop(std::size_t count);
  std::optional<std::uint8_t> OtherUnitInDropped() const;
  void DropUntilFrameStart();
  CollectedReply Decide(std::size_t frameLength) const;
  // After a checksum failure: a complete, valid reply that starts later in the buffer.
  std::optional<CollectedReply> ValidFrameBehindStart() const;

  Request request_;
  Framing framing_ = Framing::Rtu;
  bool expecting_ = false;
  Bytes buffer_;
  Bytes dropped_;  // RTU: the units dropped since the request, the last kDroppedKept of them
  std::optional<std::uint8_t> otherUnit_;  // ASCII: a whole frame is checked as it is dropped
  std::optional<UnfinishedReply> unfinished_;  // what Clear gave up
};

}  // namespace plc::modbus
