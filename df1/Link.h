#pragma once
// The port side of the DF1 link: writing a framed request, and, once the receive notification
// has come, holding the thread while it reads the link response and the reply, acknowledges
// it and closes the transaction. It reads the port directly with bounded waits (the event
// loop does not run meanwhile); its time limits are on the seconds-since-midnight clock.
//
// A good reply is answered with one DLE ACK; every failure ends with three DLE ACKs 0.11 s
// apart and an emptied input buffer.
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "core/ResultCodes.h"
#include "df1/Df1State.h"
#include "df1/Frame.h"
#include "platform/EventLoop.h"
#include "platform/SerialPort.h"

namespace plc::df1 {

inline constexpr double kByteLimitSeconds = 0.71;
inline constexpr double kAckPauseSeconds = 0.11;

// Elapsed time on the seconds-since-midnight clock. A reading more than 1 s before the start
// means midnight has passed: the start moves to now and the time counts from 0.
class MidnightStopwatch {
 public:
  explicit MidnightStopwatch(const Clock& clock) : clock_(clock), start_(clock.SecondsSinceMidnight()) {}
  double Elapsed();

 private:
  const Clock& clock_;
  double start_;
};

// The loop time just past `seconds` from now, so that a wait woken then finds its limit passed.
inline std::int64_t JustPast(const EventLoop& loop, double seconds) {
  return loop.Now() + static_cast<std::int64_t>(std::ceil(seconds * 1e6)) + 1000;
}

struct LinkClosing {
  Result status = 0;
  std::string text;
  std::optional<int> tns;  // the reply's row of ReplyTable, for a good reply that has one
};

class Df1Link {
 public:
  Df1Link(SerialPort& port, EventLoop& loop) : port_(port), loop_(loop) {}

  // The port steps of a request: discard what was received, arm the receive notification
  // for two bytes (normally DLE ACK), note the send time, write. The port's errors pass.
  void Send(const Bytes& frame, Df1State& s);

  // The transaction after the receive notification, up to the closing acknowledgements. A good
  // reply's words are stored in the reply table and DataBuffer.
  LinkClosing Close(Df1State& s);

 private:
  Result WaitLinkResponse();
  // One byte, awaited at most 0.71 s.
  std::optional<std::uint8_t> ReadByte();
  LinkClosing ReadReply(Df1State& s);
  void SendDleAck();
  void Discard();
  // 0.11 s during which whatever arrives is dropped.
  void Pause();
  // Waits on the port until the stopwatch passes limit; true when a byte waits.
  bool WaitFor(MidnightStopwatch& watch, double limit);
  // Received bytes are taken from the port in one piece and handed out one at a time.
  bool HasByte() const { return taken_ < received_.size() || port_.InBufferCount() > 0; }
  std::optional<std::uint8_t> TakeByte();

  SerialPort& port_;
  EventLoop& loop_;
  Bytes received_;
  std::size_t taken_ = 0;
};

}  // namespace plc::df1
