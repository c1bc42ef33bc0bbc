#pragma once
// The DF1 transactions of one DfLink: sending reads and writes, the waiting read, the
// receive notification that closes a transaction, and the watchdog. The flags and the reply
// data live in the thread's Df1State, shared with every other DfLink on the thread; the port
// is this control's own.
#include <cstdint>
#include <functional>
#include <span>

#include "core/ResultCodes.h"
#include "core/Variant.h"
#include "df1/Df1State.h"
#include "df1/Link.h"
#include "platform/EventLoop.h"
#include "platform/SerialPort.h"

namespace plc::df1 {

// Limits of the waits, on the clocks their rules name.
inline constexpr double kReplyLimitSeconds = 0.71;     // a waiting read's reply
inline constexpr double kBusyLimitSeconds = 0.71;      // ReadPLC waiting for a busy driver
inline constexpr std::int64_t kLineWaitSeconds = 1;    // a read waiting for the line
inline constexpr std::int64_t kWriteWaitSeconds = 2;   // a write waiting for the line
inline constexpr std::int64_t kWatchdogSeconds = 2;    // a transaction older than this is freed

class Df1Engine {
 public:
  Df1Engine(SerialPort& port, EventLoop& loop);
  ~Df1Engine();
  Df1Engine(const Df1Engine&) = delete;
  Df1Engine& operator=(const Df1Engine&) = delete;

  Df1State& State() const { return TheDf1State(); }
  EventLoop& Loop() const { return loop_; }

  // Raised between the two halves of the completion, as CommComplete is.
  std::function<void(const LinkClosing&)> OnClosed;

  // Keeps a read call's count and address for the request and its reply.
  void NoteRead(const ParsedAddress& a, std::int16_t count, bool floatFlag);
  // The noted read (count × max(1, WordOffset) elements) on the line; false when it cannot be
  // encoded or the port refused it, nothing sent and the flags as they were.
  bool SendRead();
  bool SendWrite(const ParsedAddress& a, std::int32_t valueCount, std::span<const std::int32_t> words);

  // The waiting transaction: waits for the line, sends the noted read and waits for its
  // reply; -1 with the values in readValue, or the status.
  Result ReadAndWait(Variant& readValue, std::int16_t count);

  // Waits, letting events run, until pred holds or seconds have passed on the midnight clock.
  bool WaitShort(const std::function<bool()>& pred, double seconds);

  void WatchdogTick();

 private:
  void OnComm();
  void HandleReply();
  template <class Build>
  bool SendRequest(Build build, std::int32_t expectedWords);

  SerialPort& port_;
  EventLoop& loop_;
  Df1Link link_;
  int replyTns_ = 0;
};

}  // namespace plc::df1
