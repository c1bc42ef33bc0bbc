#pragma once
// The DF1 transactions of one DfLink: sending reads and writes, the waiting read, the
// receive notification that closes a transaction, the line between transactions, and the
// watchdog. The flags and the reply data live in the thread's Df1State, shared with every
// other DfLink on the thread; the port, and with it the line's transaction numbers, and the
// station, node, check mode and processor family its requests go out with are this control's
// own.
//
// One request is on the line at a time: a request made while another awaits its reply first
// waits (events run meanwhile) until that one ends or its limit passes; a reply that comes
// after its request was given up is acknowledged and dropped.
//
// Transaction numbers: each line starts from the wall clock in 1 ms steps (1..49), so that
// programs run one after another on a line, 1 to 48 ms apart, never start with the number the
// previous one ended on, and others 48 times in 49: a processor takes a repeated number from
// the same source for a duplicate and drops it. When it does (the first request since the port
// opened is acknowledged and then answered by silence), the request goes once more under the
// next number.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "base/ResultCodes.h"
#include "base/Variant.h"
#include "df1/Checked.h"
#include "df1/Df1State.h"
#include "df1/Link.h"
#include "df1/Requests.h"
#include "platform/EventLoop.h"
#include "platform/Lifetime.h"
#include "platform/SerialPort.h"

namespace plc::df1 {

// Limits of the waits, on the clocks their rules name; each grows by the line time of what
// the transaction still moves at the port's speed.
inline constexpr double kReplyLimitSeconds = 0.71;     // a waiting read's reply
inline constexpr double kBusyLimitSeconds = 0.71;      // ReadPLC waiting for a busy driver
inline constexpr double kLineWaitSeconds = 1.0;        // a read waiting for the line
inline constexpr std::int64_t kWriteWaitSeconds = 2;   // a write waiting for the line
inline constexpr std::int64_t kWatchdogSeconds = 2;    // a transaction older than this is freed

// The first transaction number of a line started at this clock reading.
std::int32_t FirstTns(const Clock& clock);

struct ReadRequest {
  ParsedAddress address;
  std::int16_t count = 1;
  bool floatFlag = false;
  std::string text;  // the address as the host gave it
};

// The 16-bit copies of a control's Address, Node, Mode and PLCType that its requests are built
// from and its line is framed with. A value that does not fit 16 bits leaves its copy as it was.
struct StationCopies {
  std::int16_t Address = 1;  // DST
  std::int16_t Node = 1;     // SRC
  std::int32_t Mode = 0;     // 1 BCC, else CRC
  std::int32_t Type = 0;     // 3 PLC5, else SLC500/MicroLogix
};

class Df1Engine {
 public:
  // What a call that puts a request on the line gets: sent, or why not.
  struct Outcome {
    enum class Kind { Sent, Refused, PortFailed, Finished };
    Kind kind = Kind::Sent;
    Result result = ResultOk;  // Finished: the waiting read's result
    std::string cause;
    bool Sent() const { return kind == Kind::Sent; }
  };

  Df1Engine(SerialPort& port, EventLoop& loop);
  ~Df1Engine();
  Df1Engine(const Df1Engine&) = delete;
  Df1Engine& operator=(const Df1Engine&) = delete;

  Df1State& State() const { return TheDf1State(); }
  // The control's own copies (the Mode getter refreshes its copy, so a const control changes it).
  StationCopies& Copies() const { return copies_; }
  EventLoop& Loop() const { return loop_; }

  // Raised between the two halves of the completion, as CommComplete is, with the
  // transaction it closed.
  std::function<void(const LinkClosing&, const Transaction&)> OnClosed;
  // A request of this line given up unanswered (the watchdog, CommBusy = False, the port
  // closed): no closing will come for it. The result and why, naming the station and request.
  std::function<void(const Transaction&, Result, const std::string&)> OnGivenUp;

  // Keeps a read call's count and address, which a write's completion reports.
  void NoteRead(const ReadRequest& r);
  // The read (count × ElementsPerValue elements) on the line.
  Outcome SendRead(const ReadRequest& r, Transaction::Kind kind);
  // dst: the station written (unset: the control's Address).
  Outcome SendWrite(const ParsedAddress& a, std::int32_t valueCount, std::span<const std::int32_t> words,
                    const std::string& text, std::optional<std::int16_t> dst = std::nullopt);

  // The waiting transaction: waits for the line, sends the read and waits for its reply;
  // Finished with -1 and the values in readValue, or with the status and its cause.
  Outcome ReadAndWait(const ReadRequest& r, Variant& readValue);

  // Seconds beyond a wait's base that the transaction on the line may still take.
  double LineAllowance() const;
  // Lets events run until no request awaits its reply, at most until the one on the line has
  // passed its own limit, and at most extra seconds more. True when the line came free.
  bool AwaitLine(double extra);
  // Waits, letting events run, until pred holds or seconds have passed on the midnight clock.
  bool WaitShort(const std::function<bool()>& pred, double seconds);

  void WatchdogTick();
  // CommBusy let: False frees the driver and gives up the request on the line.
  void SetCommBusy(bool busy);
  // The port closed: a request of this line still awaiting its reply is given up.
  void LineClosed();
  // A request whose wait for the line ran out takes it: the one on it is given up, and its
  // line told so. by names the request ("the write to N7:1").
  void TakeLine(const std::string& by);

  // The line's last transaction number (unset until its first request); tests set it.
  std::optional<std::int32_t> LastTns() const { return lastTns_; }
  void SetLastTns(std::optional<std::int32_t> tns) { lastTns_ = tns; }

 private:
  enum class GiveUp { Watchdog, CommBusy, PortClosed, LineTaken };
  // Tells the line that sent t (given up, no longer on the line) why no closing will come;
  // by names the request that took the line (LineTaken).
  static void TellGivenUp(const Transaction& t, GiveUp how, const std::string& by = {});
  void GivenUp(const Transaction& t, GiveUp how, const std::string& by);
  // Frees the driver with release and tells the line of the request it dropped, if any.
  void FreeDriver(GiveUp how, const std::function<void(Df1State&)>& release);
  void OnComm();
  void HandleReply();
  void ListenBetween();
  // Sends the request on the line once more under the next number; false when it cannot.
  bool Resend();
  Outcome SendRequest(Transaction t, const std::function<Checked<Bytes>(const RequestHead&)>& build,
                      std::optional<std::int16_t> dst = std::nullopt);

  SerialPort& port_;
  EventLoop& loop_;
  Df1Link link_;
  mutable StationCopies copies_;
  std::optional<std::int32_t> lastTns_;
  bool reopened_ = false;  // the port closed since the last request
  // The transaction this line closed last, and how.
  std::uint64_t closedNumber_ = 0;
  // The request the port took with it when it closed: no reply will close it.
  std::uint64_t droppedNumber_ = 0;
  Lifetime life_;  // the completion's handler may unload the control, and this engine with it
  LinkClosing lastClosing_;
  Transaction lastClosed_;
  ReplyRow lastRow_{};  // the words of its reply
  bool sentInCompletion_ = false;  // its completion handler sent a request
};

}  // namespace plc::df1
