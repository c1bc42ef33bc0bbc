#pragma once
// The DF1 driver state of one thread, shared by every DfLink on it: the copies of the last
// Address, Node, Mode and PLCType set, the transaction counter, the flags that keep one
// transaction on the line, the last read's address, the reply table and DataBuffer.
//
// The flags change only through the operations below, named for what happens on the line.
#include <array>
#include <cstdint>

#include "core/ResultCodes.h"
#include "core/Variant.h"
#include "df1/Addressing.h"
#include "df1/Receive.h"

namespace plc::df1 {

inline constexpr std::int32_t kDataBufferSize = 300;

struct Df1State {
  // Copies of the properties last set or loaded on any DfLink of the thread.
  std::int16_t AddressCopy = 1;  // DST
  std::int16_t NodeCopy = 1;     // SRC
  std::int32_t ModeCopy = 0;     // 1 BCC, else CRC
  std::int32_t TypeCopy = 0;     // 3 PLC5, else SLC500/MicroLogix

  std::int32_t TnsCounter = 0;

  bool LineFree = true;
  bool Busy = false;
  bool ReadPending = false;
  bool CancelWait = false;
  Result LastStatus = 0;
  std::int64_t SendTime = 0;  // wall seconds

  // The last read call: its count and parsed address, reported with CommComplete.
  std::int16_t RequestCount = 0;
  ParsedAddress LastRead;
  bool FloatFlag = false;
  // Words the request on the line asks back (0 for a write): a good reply with fewer is refused.
  std::int32_t ExpectedWords = 0;

  std::array<std::array<std::int32_t, kReplyWords + 1>, kReplyRows> ReplyTable{};  // [row][1..130]
  VariantArray DataBuffer{1, kDataBufferSize};

  // ---- Operations on the flags ----

  // CommBusy let: setting False frees a stuck driver.
  void SetCommBusy(bool busy) {
    Busy = busy;
    LineFree = !busy;
  }
  // A request went on the line.
  void RequestSent(std::int64_t wallSeconds) {
    LineFree = false;
    SendTime = wallSeconds;
  }
  // The watchdog found the line held for 2 s: everything is released.
  void WatchdogRelease(std::int64_t wallSeconds) {
    LineFree = true;
    CancelWait = false;
    Busy = false;
    ReadPending = false;
    SendTime = wallSeconds;
  }
  // Before CommComplete: a write that cancelled a waiting read frees the driver.
  void CompletionBegins() {
    if (CancelWait) {
      CancelWait = false;
      Busy = false;
    }
  }
  // After CommComplete: a waiting read keeps Busy (its call clears it); anything else frees it.
  void CompletionEnds() {
    if (ReadPending) ReadPending = false;
    else Busy = false;
  }
  // The transaction is closed and the line idle.
  void LineIdle() { LineFree = true; }

  // The record as a thread starts with it (tests start each case from here).
  void Reset() { *this = Df1State{}; }
};

// This thread's record.
Df1State& TheDf1State();

}  // namespace plc::df1
