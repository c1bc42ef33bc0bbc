#include "df1/Engine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/Enums.h"
#include "base/RuntimeError.h"
#include "frame/WallSeconds.h"
#include "df1/ControlBytes.h"
#include "df1/Decoding.h"
#include "df1/Frame.h"
#include "df1/Requests.h"

namespace plc::df1 {

namespace {

constexpr double kTnsStepSeconds = 0.001;

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", s);
  return text;
}

}  // namespace

std::int32_t FirstTns(const Clock& clock) {
  const auto steps = static_cast<std::int64_t>(std::floor(clock.SecondsSinceMidnight() / kTnsStepSeconds));
  return static_cast<std::int32_t>(steps % kLastTns) + 1;
}

Df1Engine::Df1Engine(SerialPort& port, EventLoop& loop) : port_(port), loop_(loop), link_(port, loop) {
  port_.OnComm = [this] { OnComm(); };
}

Df1Engine::~Df1Engine() {
  port_.OnComm = nullptr;
  OnGivenUp = nullptr;  // its control is going
  LineClosed();  // a request of this line has nobody left to take its reply
}

void Df1Engine::LineClosed() {
  reopened_ = true;  // another program may talk to the processor before the port opens again
  Df1State& s = State();
  if (!s.OnLine || s.OnLine->line != this) return;
  droppedNumber_ = s.OnLine->number;
  const Transaction t = *s.OnLine;
  s.RequestDropped();
  GivenUp(t, GiveUp::PortClosed, {});
}

void Df1Engine::TakeLine(const std::string& by) {
  Df1State& s = State();
  if (!s.OnLine) return;
  const Transaction held = *s.OnLine;
  s.OnLine.reset();
  s.LineFree = true;
  TellGivenUp(held, GiveUp::LineTaken, by);
}

void Df1Engine::SetCommBusy(bool busy) {
  if (busy) {
    State().SetCommBusy(true);
    return;
  }
  FreeDriver(GiveUp::CommBusy, [](Df1State& s) { s.SetCommBusy(false); });
}

void Df1Engine::FreeDriver(GiveUp how, const std::function<void(Df1State&)>& release) {
  Df1State& s = State();
  std::optional<Transaction> held;
  if (s.OnLine) held = *s.OnLine;
  release(s);
  if (held) TellGivenUp(*held, how);
}

void Df1Engine::TellGivenUp(const Transaction& t, GiveUp how, const std::string& by) {
  // The line of a request on the line is alive: an engine going gives up its own request first.
  if (t.line) t.line->GivenUp(t, how, by);
}

void Df1Engine::GivenUp(const Transaction& t, GiveUp how, const std::string& by) {
  if (!OnGivenUp) return;
  const double age = static_cast<double>(loop_.Now() - t.sentMicros) / 1e6;
  const double limit = kReplyLimitSeconds + t.LineSeconds();
  const std::string station = "station " + std::to_string(t.dst);
  if (how == GiveUp::PortClosed) {
    OnGivenUp(t, ResultFailed,
              "the port (COM" + std::to_string(port_.CommPort()) + ") was closed before " + station + " answered " + t.What());
  } else if (age > limit) {
    const std::string after = Seconds(age);
    OnGivenUp(t, ResultNoReply,
              station + " sent no reply to " + t.What() + " within " + Seconds(limit) +
                  (how == GiveUp::Watchdog   ? " (the watchdog freed the driver after " + after + ")"
                   : how == GiveUp::CommBusy ? " (CommBusy was set False after " + after + ")"
                                             : " (" + by + " took the line after " + after + ")"));
  } else {
    OnGivenUp(t, ResultFailed,
              (how == GiveUp::CommBusy ? std::string("CommBusy was set False") : by + " took the line") + " before " +
                  station + " answered " + t.What());
  }
}

void Df1Engine::NoteRead(const ReadRequest& r) {
  Df1State& s = State();
  s.RequestCount = r.count;
  s.LastRead = r.address;
  s.FloatFlag = r.floatFlag;
}

Df1Engine::Outcome Df1Engine::SendRequest(Transaction t, const std::function<Checked<Bytes>(const RequestHead&)>& build,
                                          std::optional<std::int16_t> dst) {
  Df1State& s = State();
  const StationCopies& own = copies_;
  const std::int16_t station = dst.value_or(own.Address);
  const std::int32_t tns = NextTns(lastTns_ ? *lastTns_ : FirstTns(loop_.GetClock()) - 1);
  auto payload = build(RequestHead{station, own.Node, tns});
  if (!payload) return {Outcome::Kind::Refused, ResultFailed, payload.why};
  auto frame = StuffAndCheck(*payload, own.Mode);
  if (!frame)
    return {Outcome::Kind::Refused, ResultFailed,
            "its request of " + std::to_string(payload->size()) + " bytes does not fit the " +
                std::to_string(MaxPayload(own.Mode)) + " a frame's check covers"};
  if (!port_.PortOpen()) return {Outcome::Kind::PortFailed, ResultFailed, "the port (COM" + std::to_string(port_.CommPort()) + ") is not open"};
  try {
    link_.Send(*frame);
  } catch (const RuntimeError& e) {
    return {Outcome::Kind::PortFailed, ResultFailed, std::string("the port refused the request: ") + e.what()};
  }
  // A request still awaiting its reply (its wait for the line ran out) is given up: its line
  // hears of it, as no closing will come for it.
  if (s.OnLine) TellGivenUp(*s.OnLine, GiveUp::LineTaken, t.What());
  t.firstOnLine = !lastTns_.has_value() || reopened_;
  reopened_ = false;
  t.payload = std::move(*payload);
  lastTns_ = tns;
  t.line = this;
  t.tns = tns;
  t.dst = station;
  t.cmd = kCommand;
  t.mode = own.Mode;
  t.requestBytes = static_cast<std::int32_t>(frame->size());
  t.byteSeconds = ByteSeconds(port_);
  t.sentMicros = loop_.Now();
  s.RequestSent(WallNow(loop_), std::move(t));
  return {};
}

Df1Engine::Outcome Df1Engine::SendRead(const ReadRequest& r, Transaction::Kind kind) {
  const ParsedAddress a = r.address;
  // Singles read from one-word elements take two words each: every value is built from words
  // this read brings.
  const std::int64_t elements = std::int64_t{r.count} * ElementsPerValue(a, r.floatFlag);
  const std::int32_t max = MaxReadCount(a, r.floatFlag);
  if (r.count < 1 || r.count > max)
    return {Outcome::Kind::Refused, ResultFailed,
            "count " + std::to_string(r.count) + " is beyond this control's limit of " + std::to_string(max) +
                " for " + r.text + " (a read carries 255 bytes)"};
  const auto count = static_cast<std::int32_t>(elements);
  const std::int32_t typeCopy = copies_.Type;
  Transaction t;
  t.kind = kind;
  t.address = a;
  t.count = r.count;
  t.floatFlag = r.floatFlag;
  t.expectedWords = count * FileTypeOf(a.FileTypeCode).elementBytes / 2;
  t.replyBytes = 2 + 6 + 2 * t.expectedWords + 2 + (IsBccMode(copies_.Mode) ? 1 : 2);
  t.text = r.text;
  // Two numbers and a reference: the function object holds them itself, with no allocation.
  return SendRequest(std::move(t), [&a, count, typeCopy](const RequestHead& h) { return ReadPayload(h, a, count, typeCopy); });
}

Df1Engine::Outcome Df1Engine::SendWrite(const ParsedAddress& a, std::int32_t valueCount, std::span<const std::int32_t> words,
                                        const std::string& text, std::optional<std::int16_t> dst) {
  Transaction t;
  t.kind = Transaction::Kind::Write;
  t.address = a;
  t.count = static_cast<std::int16_t>(std::clamp(valueCount, 0, 32767));
  t.replyBytes = 2 + 6 + 2 + (IsBccMode(copies_.Mode) ? 1 : 2);
  t.text = text;
  return SendRequest(
      std::move(t), [&](const RequestHead& h) { return WritePayload(h, a, valueCount, words); }, dst);
}

double Df1Engine::LineAllowance() const {
  const Df1State& s = State();
  return s.OnLine ? s.OnLine->LineSeconds() : 0.0;
}

bool Df1Engine::WaitShort(const std::function<bool()>& pred, double seconds) {
  if (pred()) return true;
  MidnightStopwatch watch(loop_.GetClock());
  auto passed = [&] { return watch.Elapsed() > seconds; };
  while (!pred() && !passed()) {
    const double left = seconds - watch.Elapsed();
    loop_.WaitUntil([&] { return pred() || passed(); }, JustPast(loop_, std::max(left, 0.0)));
  }
  return pred();
}

bool Df1Engine::AwaitLine(double extra) {
  const Df1State& s = State();
  if (!s.OnLine) return true;
  const Transaction& t = *s.OnLine;
  const double age = static_cast<double>(loop_.Now() - t.sentMicros) / 1e6;
  const double left = std::max(0.0, kReplyLimitSeconds + t.LineSeconds() - age) + extra;
  return WaitShort([&s] { return !s.OnLine; }, left);
}

Df1Engine::Outcome Df1Engine::ReadAndWait(const ReadRequest& r, Variant& readValue) {
  Df1State& s = State();
  s.Busy = true;
  WaitShort([&s] { return !s.OnLine; }, kLineWaitSeconds + LineAllowance());
  Outcome sent = SendRead(r, Transaction::Kind::WaitingRead);
  if (!sent.Sent()) return sent;
  s.Busy = true;
  const Transaction& t = *s.OnLine;
  const std::uint64_t mine = t.number;
  const double limit = kReplyLimitSeconds + t.LineSeconds();
  const std::int32_t station = t.dst;
  std::optional<MidnightStopwatch> watch(std::in_place, loop_.GetClock());
  auto closed = [&] { return closedNumber_ == mine; };
  auto resent = [&] { return s.OnLine && s.OnLine->number == mine && s.OnLine->resent; };
  // A host timer set PortOpen False inside the wait: the request went with the port.
  auto dropped = [&] { return droppedNumber_ == mine; };
  bool restarted = false;
  for (;;) {
    WaitShort([&] { return closed() || dropped() || s.CancelWait || (!restarted && resent()); }, limit);
    if (restarted || !resent() || closed() || dropped() || s.CancelWait) break;
    restarted = true;  // the request went again: its limit starts again
    watch.emplace(loop_.GetClock());
  }
  const bool late = watch->Elapsed() > limit;
  s.ReadPending = false;
  Outcome out{Outcome::Kind::Finished, ResultOk, {}};
  auto what = [&r] { return "the read of " + r.text + (r.count > 1 ? " x" + std::to_string(r.count) : ""); };
  // A good reply to this very request is taken even when its handling ended past the limit.
  const bool good = closed() && lastClosing_.status == ResultOk;
  // A write sent by this read's own completion handler went out after its reply was in: it
  // cancels nothing.
  const bool writeAfterReply = good && sentInCompletion_;
  if (dropped() && !closed()) {
    out.result = ResultFailed;
    out.cause = "the port (COM" + std::to_string(port_.CommPort()) + ") was closed while " + what() +
                " waited for its reply";
  } else if (late && !good) {
    out.result = ResultNoReply;
    out.cause = "station " + std::to_string(station) + " sent no complete reply within " + Seconds(limit) + " of " + what();
    if (closed()) out.cause += ForeignNote(lastClosing_);
  } else if (s.CancelWait && !writeAfterReply) {
    out.result = ResultCancelled;
    out.cause = "a write went out while " + what() + " waited; its reply is not taken";
  } else if (!good) {
    out.result = lastClosing_.status;
    out.cause = lastClosing_.cause;
  } else {
    try {
      DecodeInto(readValue, lastRow_, lastClosed_, r.count);
    } catch (const RuntimeError& e) {
      out.result = ResultFailed;
      if (e.Number() == err::Subscript) {
        const VariantArray& a = readValue.Array();
        out.cause = "ReadValue holds the elements " + std::to_string(a.Lower()) + ".." + std::to_string(a.Upper()) +
                    ", not 1.." + std::to_string(r.count);
      } else {
        out.cause = e.what();
      }
    }
  }
  return out;
}

void Df1Engine::OnComm() {
  if (port_.CommEvent() != comm::EvReceive) return;
  port_.SetRThreshold(0);
  HandleReply();
}

void Df1Engine::ListenBetween() {
  link_.Listen(copies_.Mode);
  port_.SetRThreshold(1);
  // A request given up unanswered leaves the byte-at-a-time input length of its reply; what
  // arrives between transactions is the host's, and ReceiveComm hands it over whole.
  port_.SetInputLen(0);
}

void Df1Engine::HandleReply() {
  Df1State& s = State();
  if (!s.OnLine || s.OnLine->line != this) {
    ListenBetween();
    return;
  }
  LinkClosing closing = link_.Close(s.OnLine->mode, *s.OnLine);
  if (closing.silentAfterAck && s.OnLine->firstOnLine && !s.OnLine->resent && Resend()) return;
  Transaction t = std::move(*s.OnLine);
  s.LastStatus = closing.status;
  s.OnLine.reset();
  // The row is shared by every line of the thread, whose numbers run apart: a read another
  // line makes before the waiting read ends may fill it again.
  ReplyRow row{};
  if (closing.status == ResultOk) {
    if (t.IsRead() && closing.tns) {
      StoreReply(s, t, *closing.tns, closing.words);
      if (*closing.tns >= 0 && *closing.tns < kReplyRows) row = s.ReplyTable[static_cast<std::size_t>(*closing.tns)];
    } else {
      s.DataBuffer.Set(1, Variant(std::int32_t{0}));  // a reply without data
    }
  }
  const std::uint64_t sentBefore = s.RequestsSent;
  s.CompletionBegins();
  const Lifetime::Watch watch = life_.Watched();
  if (OnClosed) OnClosed(closing, t);
  if (watch.Gone()) {
    // The handler unloaded the control: the thread's record is released as the end of the
    // completion releases it (unless a request of the handler's holds the line), and nothing of
    // this engine is touched.
    if (!s.OnLine) {
      s.CompletionEnds();
      s.LineIdle();
    }
    return;
  }
  closedNumber_ = t.number;
  lastClosed_ = std::move(t);
  lastClosing_ = std::move(closing);
  lastRow_ = row;
  sentInCompletion_ = s.RequestsSent != sentBefore;
  // A request sent from the completion handler holds the line and the driver now.
  if (sentInCompletion_) return;
  s.CompletionEnds();
  try {
    port_.SetInBufferCount(0);
  } catch (const RuntimeError&) {
    // The handler may have closed the port; there is nothing left to discard.
  }
  s.LineIdle();
  port_.SetRThreshold(1);
}

bool Df1Engine::Resend() {
  // The line's first request, acknowledged and then answered by silence: a processor that took
  // it for a repeat of the last request another program sent it with that number dropped it.
  // It goes once more under the next number.
  Df1State& s = State();
  Transaction& t = *s.OnLine;
  const std::int32_t tns = NextTns(t.tns);
  Bytes payload = t.payload;
  payload[4] = static_cast<std::uint8_t>(tns & 0xFF);
  payload[5] = static_cast<std::uint8_t>(tns >> 8);
  auto frame = StuffAndCheck(payload, t.mode);
  if (!frame) return false;
  try {
    link_.Send(*frame);
  } catch (const RuntimeError&) {
    return false;
  }
  lastTns_ = tns;
  t.tns = tns;
  t.payload = std::move(payload);
  t.resent = true;
  t.sentMicros = loop_.Now();
  s.TnsCounter = tns;
  s.SendTime = WallNow(loop_);
  return true;
}

void Df1Engine::WatchdogTick() {
  Df1State& s = State();
  const auto allowance = static_cast<std::int64_t>(std::ceil(LineAllowance()));
  if ((!s.LineFree || s.Busy) && SecondsPassed(loop_, s.SendTime, kWatchdogSeconds + allowance))
    FreeDriver(GiveUp::Watchdog, [this](Df1State& state) { state.WatchdogRelease(WallNow(loop_)); });
}

}  // namespace plc::df1
