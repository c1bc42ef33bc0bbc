#pragma once
// The port side of the DF1 link: writing a framed request, and, once the receive notification
// has come, holding the thread while it reads the link response and the reply, acknowledges
// it and closes the transaction. It reads the port directly with bounded waits (the event
// loop does not run meanwhile); its time limits are on the seconds-since-midnight clock.
//
// A good reply is answered with one DLE ACK; every failure ends with three DLE ACKs 0.11 s
// apart and an emptied input buffer. A good frame that answers another request (a reply the
// master gave up on, arriving late) is acknowledged as the link expects and not taken. A DLE
// ENQ from the station before the reply starts asks about the station's own last frame: it is
// answered with DLE ACK and the transaction waits on; when it took the place of the link
// response and no DLE ACK follows in time, the status is 5.
//
// Limits: each wait is 0.71 s plus the line time, at the port's speed, of the bytes it still
// expects (the link response, the reply frame, one byte), so that a long reply on a slow line
// fits; at 9600 baud a one-word reply adds 14 ms.
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/ResultCodes.h"
#include "df1/Df1State.h"
#include "df1/Frame.h"
#include "platform/EventLoop.h"
#include "platform/SerialPort.h"

namespace plc::df1 {

inline constexpr double kByteLimitSeconds = 0.71;
inline constexpr double kAckPauseSeconds = 0.11;
// Replies to other requests skipped while one request waits; more is a looping peer.
inline constexpr int kMaxForeignReplies = 4;
// DLE ENQs of the station answered while one request waits; more are left unanswered.
inline constexpr int kMaxEnquiries = 4;

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

// Line time of one byte at the port's speed (start, data, parity and stop bits).
double ByteSeconds(const SerialPort& port);

struct LinkClosing {
  Result status = 0;
  std::string text;   // for ReadErrors and CommComplete (the classic texts)
  std::string cause;  // why it failed, naming the station
  std::optional<int> tns;  // the reply's row of ReplyTable, for a good reply that has one
  std::vector<std::uint16_t> words;
  int foreignReplies = 0;  // good frames of other requests acknowledged and dropped
  std::string foreign;     // how the last of them differed from the request (ReplyMismatch)
  // The station acknowledged the request and then sent nothing at all: what a processor does
  // with a request it takes for a repeat of the one before.
  bool silentAfterAck = false;
};

// For the cause of a failed transaction that skipped replies to other requests: a station
// that answers with another station number, command or transaction number looks silent
// otherwise. Empty when none came.
std::string ForeignNote(const LinkClosing& closing);

class Df1Link {
 public:
  Df1Link(SerialPort& port, EventLoop& loop) : port_(port), loop_(loop) {}

  // The port steps of a request: discard what was received, arm the receive notification
  // for two bytes (normally DLE ACK), write. The port's errors pass.
  void Send(const Bytes& frame);

  // The transaction after the receive notification, up to the closing acknowledgements.
  LinkClosing Close(std::int32_t mode, const Transaction& t);

  // Between transactions: answers a DLE ENQ or a whole frame with DLE ACK; nothing is taken
  // from the port's buffer.
  void Listen(std::int32_t mode);

 private:
  Result WaitLinkResponse(std::int32_t mode, const Transaction& t, LinkClosing& out);
  // One byte, awaited at most the limit. A byte already received is taken without reading the
  // clock or calling out: a reply arrives in a few chunks and is read a byte at a time.
  std::optional<std::uint8_t> ReadByte(double limit) {
    if (taken_ < received_.size()) return received_[taken_++];
    return AwaitByte(limit);
  }
  std::optional<std::uint8_t> AwaitByte(double limit);
  // Receives one reply frame into the receiver, under the reply limit.
  LinkClosing ReadReply(ReplyReceiver& receiver, const Transaction& t);
  // The rest of a frame whose first bytes the receiver holds, then its outcome.
  std::optional<ReplyOutcome> FinishFrame(ReplyReceiver& receiver, double byteLimit);
  void SendDleAck();
  void Discard();
  // 0.11 s during which whatever arrives is dropped.
  void Pause();
  // Waits on the port until the stopwatch passes limit; true when a byte waits.
  bool WaitFor(MidnightStopwatch& watch, double limit);
  // Received bytes are taken from the port in one piece and handed out one at a time.
  bool HasByte() const { return taken_ < received_.size() || port_.InBufferCount() > 0; }
  std::optional<std::uint8_t> TakeByte() {
    if (taken_ < received_.size()) return received_[taken_++];
    return TakeFromPort();
  }
  // The port's received bytes as the next piece; its first byte, or nothing when none came.
  std::optional<std::uint8_t> TakeFromPort();

  SerialPort& port_;
  EventLoop& loop_;
  Bytes received_;
  std::size_t taken_ = 0;
  std::optional<IdleListener> idle_;
  // The port's BufferedTotal when the line between transactions last looked; none: look at
  // the whole buffer.
  std::optional<std::uint64_t> seen_;
};

}  // namespace plc::df1
