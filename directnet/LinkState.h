#pragma once
// The DirectNET line state: one record per thread, shared by every control of the deliverable
// on that thread, so two controls on one form keep one transaction on the line at a time.
// Its fields keep the interface's flag names; the operations that change them together live
// here, named for what they mean.
#include <array>
#include <cstdint>
#include <string>

#include "directnet/Blocks.h"

namespace plc::dnet {

inline constexpr std::int32_t kLastReadWord = 1000;
inline constexpr std::int16_t kTimeoutCountLimit = 2;  // above this the watchdog reports it
inline constexpr const char* kReadErrorText = "Read error";

enum class Direction { Read, Write };

struct LinkState {
  // Transaction in progress: Step counts 3 (enquiry sent), 2 (header sent), 1 (ACK sent), 0.
  std::int16_t Step = 0;
  bool WriteMode = false;
  std::int16_t ByteCount = 0;
  Bytes HeaderBlock;

  bool ReadIdle = true;
  bool WriteIdle = true;
  bool WriteCallActive = false;
  bool ReadBusy = false;
  bool CallActive = false;
  bool WriteQueueActive = false;  // also the scan-write flag every control shares
  std::int64_t SendTime = 0;      // wall seconds
  std::int16_t TimeoutCount = 0;
  std::string ErrorText;
  // Index 1..1000 (0 unused).
  std::array<std::int32_t, kLastReadWord + 1> ReadWords{};

  // Every start numbers its transaction; a good end of a write records that number, so a
  // waiting write can tell its own completion from a line that was freed by the watchdog or by
  // CommBusy. A waiting read is told of its own completion by the engine, which also keeps
  // its words for it (a CommComplete handler may read or write again inside its wait).
  std::uint32_t Transaction = 0;
  std::uint32_t CompletedWrite = 0;

  bool CommBusy() const { return ReadBusy || !ReadIdle || !WriteIdle || WriteCallActive; }

  // An enquiry goes out: the line is held until the transaction ends.
  void Begin(Direction direction, std::int64_t now) {
    WriteMode = direction == Direction::Write;
    if (WriteMode) {
      WriteIdle = false;
    } else {
      ReadBusy = true;
      ReadIdle = false;
    }
    Step = 3;
    SendTime = now;
    ++Transaction;
  }
  void EndRead() {
    Step = 0;
    ReadIdle = true;
    ReadBusy = false;
  }
  void EndWrite() {
    Step = 0;
    WriteIdle = true;
    WriteCallActive = false;
    CompletedWrite = Transaction;
  }
  // The enquiry could not be sent: nothing is on the line.
  void Abandon(Direction direction) {
    Step = 0;
    if (direction == Direction::Write) {
      WriteIdle = true;
    } else {
      ReadIdle = true;
      ReadBusy = false;
    }
  }
  // The reply never came (watchdog): counted, and the line made idle.
  void TimeOut() {
    ++TimeoutCount;
    ResetAfterWait();
  }
  // A wait for the line gave up: the line is taken as free.
  void ResetAfterWait() {
    Step = 0;
    ReadIdle = WriteIdle = true;
    ReadBusy = CallActive = false;
  }
  // CommBusy := False.
  void ForceFree() {
    Step = 0;
    ReadBusy = false;
    ReadIdle = WriteIdle = true;
    WriteCallActive = false;
  }
  // Counted by a wait that found the read marker stuck; wraps after the limit.
  void CountStuckRead() {
    if (++TimeoutCount > kTimeoutCountLimit) TimeoutCount = 0;
  }
};

// Marks a write call on the line (reads are refused meanwhile, the scan-read tick stands aside)
// and clears the marks however the call ends.
class WriteCallScope {
 public:
  explicit WriteCallScope(LinkState& state) : state_(state) { state_.WriteQueueActive = state_.WriteCallActive = true; }
  ~WriteCallScope() { state_.WriteQueueActive = state_.WriteCallActive = false; }
  WriteCallScope(const WriteCallScope&) = delete;
  WriteCallScope& operator=(const WriteCallScope&) = delete;

 private:
  LinkState& state_;
};

// This thread's line state of this deliverable.
LinkState& SeqLinkState();

}  // namespace plc::dnet
