#pragma once
// The DF1 driver state of one thread, shared by every DfLink on it: the transaction counter,
// the flags that keep one transaction on the line, the last read's address, the reply table
// and DataBuffer. What a request is addressed and framed with is each control's own
// (StationCopies, Engine.h).
//
// The flags change only through the operations below, named for what happens on the line.
//
// One request at a time is on the line: the Transaction record says which, so that a reply is
// taken only by the request it answers and decoded with that request's address and count.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "base/ResultCodes.h"
#include "base/Variant.h"
#include "df1/Addressing.h"
#include "df1/Receive.h"
#include "df1/Requests.h"

namespace plc::df1 {

class Df1Engine;

inline constexpr std::int32_t kDataBufferSize = 300;

// The words of one reply, in columns 1..130 (signed for an N file and a counter's PRE and ACC).
using ReplyRow = std::array<std::int32_t, kReplyWords + 1>;

// A request on the line, awaiting its reply.
struct Transaction {
  enum class Kind { WaitingRead, NonWaitingRead, Write };
  Kind kind = Kind::NonWaitingRead;
  Df1Engine* line = nullptr;   // the engine (and so the port) it went out on
  std::uint64_t number = 0;    // counts the requests of the thread
  std::int32_t tns = 0;
  std::int32_t dst = 0;
  std::uint8_t cmd = 0;
  std::int32_t mode = 0;  // the check it went out with, which its reply carries (Mode may change meanwhile)
  ParsedAddress address;
  std::int16_t count = 0;  // values asked (RequestCount)
  bool floatFlag = false;
  std::int32_t expectedWords = 0;  // a read's reply must carry at least this many
  std::int32_t replyBytes = 0;     // the reply frame, unstuffed
  std::int32_t requestBytes = 0;   // the request frame as written
  double byteSeconds = 0;          // line time of one byte at the port's speed
  std::int64_t sentMicros = 0;     // loop time of the send
  std::string text;                // the address as the host gave it
  Bytes payload;                   // as sent, for the one resend of a line's first request
  bool firstOnLine = false;        // the line's first request since the port opened
  bool resent = false;

  bool IsRead() const { return kind != Kind::Write; }
  // "the read of N7:0 x2", "the write to T4:1.PRE", for texts.
  std::string What() const {
    return (IsRead() ? "the read of " : "the write to ") + text + (count > 1 ? " x" + std::to_string(count) : "");
  }
  // Line time of the bytes the transaction moves after the request is written: the request
  // itself (a UART still sends it), the link response and the reply.
  double LineSeconds() const { return byteSeconds * (requestBytes + 2 + replyBytes); }
};

struct Df1State {
  // The transaction number of the last request sent on the thread (each line keeps its own
  // sequence, Df1Engine).
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
  // The request awaiting its reply, and the count of requests sent (a completion handler can
  // see whether one went out while it ran).
  std::optional<Transaction> OnLine;
  std::uint64_t RequestsSent = 0;

  std::array<ReplyRow, kReplyRows> ReplyTable{};  // [row][1..130]
  VariantArray DataBuffer{1, kDataBufferSize};

  // ---- Operations on the flags ----

  // CommBusy let: setting False frees a stuck driver (a reply still to come is then nobody's).
  // A write given up so cancels no read sent after it.
  void SetCommBusy(bool busy) {
    Busy = busy;
    LineFree = !busy;
    if (!busy) {
      OnLine.reset();
      CancelWait = false;
    }
  }
  // A request went on the line; one still awaiting its reply is given up.
  void RequestSent(std::int64_t wallSeconds, Transaction t) {
    // A read that gives up a write still awaiting its reply went out after that write, which
    // cancels nothing of it: only a write sent while a read waits does.
    if (t.IsRead() && OnLine && !OnLine->IsRead()) CancelWait = false;
    LineFree = false;
    SendTime = wallSeconds;
    t.number = ++RequestsSent;
    TnsCounter = t.tns;
    if (t.kind == Transaction::Kind::WaitingRead) ReadPending = true;
    OnLine = std::move(t);
  }
  // The watchdog found the line held for 2 s: everything is released.
  void WatchdogRelease(std::int64_t wallSeconds) {
    LineFree = true;
    CancelWait = false;
    Busy = false;
    ReadPending = false;
    SendTime = wallSeconds;
    OnLine.reset();
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
  // The port closed under the request on the line: no reply will close it. A write or a
  // non-waiting read held the driver until its reply, and a write cancels no later read; a
  // waiting read's own call frees the driver.
  void RequestDropped() {
    if (OnLine && OnLine->kind != Transaction::Kind::WaitingRead) {
      Busy = false;
      if (!OnLine->IsRead()) CancelWait = false;
    }
    OnLine.reset();
    LineFree = true;
  }
  // The transaction is closed and the line idle.
  void LineIdle() { LineFree = true; }

  // The record as a thread starts with it (tests start each case from here).
  void Reset() { *this = Df1State{}; }
};

// This thread's record.
Df1State& TheDf1State();

}  // namespace plc::df1
