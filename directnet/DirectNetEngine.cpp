#include "directnet/DirectNetEngine.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "base/Enums.h"
#include "base/RuntimeError.h"
#include "frame/WallSeconds.h"
#include "directnet/ReadValues.h"
#include "directnet/WriteWords.h"

namespace plc::dnet {

DirectNetEngine::DirectNetEngine(SerialPort& port, LinkState& state, EventLoop& loop, EngineRules rules)
    : port_(port), state_(state), loop_(loop), rules_(rules), readValues_(0, rules.valuesUpper) {
  port_.OnComm = [this] { OnComm(); };
}

DirectNetEngine::~DirectNetEngine() {
  port_.OnComm = nullptr;
  // The line state is the thread's: a transaction of this engine still marked on it has nobody
  // left to end it, and would hold every other control of the thread for 2 s. Only its own
  // marks go; a waiting call of another control keeps its own.
  if (HoldsLine()) state_.Abandon(state_.WriteMode ? Direction::Write : Direction::Read);
}

bool DirectNetEngine::HoldsLine() const {
  const bool mine = progress_.transaction != 0 && state_.Transaction == progress_.transaction;
  return mine && (!state_.ReadIdle || !state_.WriteIdle);
}

void DirectNetEngine::LineClosed() {
  if (awaited_ || awaitedWrites_) return;  // a waiting call of this engine tells it itself
  if (!HoldsLine()) return;
  state_.Abandon(state_.WriteMode ? Direction::Write : Direction::Read);
  TellFailedRead();
}

std::int64_t DirectNetEngine::Now() const { return WallNow(loop_); }

namespace {

constexpr const char* kPortClosed = "the port is closed (PortOpen is False)";

std::string StationText(std::int32_t station) { return "station " + std::to_string(station); }

// The first bytes only: a noisy line can leave hundreds waiting, and a failure text is read by
// a user.
constexpr std::size_t kShownBytes = 16;

std::string HexText(std::span<const std::uint8_t> bytes) {
  std::string text;
  char one[4];
  for (std::uint8_t b : bytes.first(std::min(bytes.size(), kShownBytes))) {
    std::snprintf(one, sizeof one, "%02X", b);
    text += (text.empty() ? "" : " ") + std::string(one);
  }
  if (bytes.size() > kShownBytes) return text + "h ... (" + std::to_string(bytes.size()) + " bytes)";
  return text + "h";
}

}  // namespace

bool DirectNetEngine::Fail(std::string why) {
  failure_ = std::move(why);
  return false;
}

bool DirectNetEngine::Send(const Bytes& block) {
  try {
    port_.OutputBytes(block);
    return true;
  } catch (const RuntimeError& e) {
    lineError_ = e.what();
    return false;  // a closed or vanished port: nothing went out
  }
}

void DirectNetEngine::Expect(std::int16_t bytes) {
  port_.SetInBufferCount(0);
  port_.SetRThreshold(bytes);
  port_.SetInputLen(bytes);
}

Bytes DirectNetEngine::Take(std::size_t needed) {
  // The receive threshold guarantees the bytes before the notification; fewer waiting means
  // the notification was not for this step, and the check fails instead of waiting.
  if (static_cast<std::size_t>(port_.InBufferCount()) < needed) return {};
  return port_.InputBytes();
}

bool DirectNetEngine::OpenTransaction(std::int32_t station, const Bytes& enquiry, Direction direction) {
  // Told before the input is emptied: what the station left waiting is part of the reason.
  if (progress_.transaction != 0 && !progress_.completed && state_.Transaction == progress_.transaction)
    left_ = Left{progress_.transaction, WhyNotCompleted(progress_.transaction)};
  try {
    Expect(static_cast<std::int16_t>(kEnquiryReplyLength));
  } catch (const RuntimeError& e) {
    return Fail(std::string("the line cannot be used: ") + e.what());
  }
  TellFailedRead();  // the read it follows is over: a new transaction takes the line
  state_.Begin(direction, Now());
  progress_ = Progress{state_.Transaction, station, Awaiting::EnquiryReply, {}, {}, false};
  if (Send(enquiry)) return true;
  state_.Abandon(direction);
  return Fail("the enquiry to " + StationText(station) + " could not be sent: " + lineError_);
}

std::string DirectNetEngine::WhyNotCompleted(std::uint32_t mine) const {
  const std::string station = StationText(progress_.station);
  if (progress_.transaction != mine && left_.transaction == mine) return left_.why;
  if (state_.Transaction != mine || progress_.transaction != mine)
    return "another transaction took the line before " + station + " had answered";
  if (!progress_.refusal.empty()) return progress_.refusal;
  if (!port_.PortOpen()) return "the port was closed before " + station + " had answered";
  if (!SecondsPassed(loop_, state_.SendTime, kReplySeconds))
    return "the transaction was ended (CommBusy = False) before " + station + " had answered";
  const auto& waiting = port_.Peek();
  const bool nak = !waiting.empty() && waiting.front() == NAK;
  const std::string partial = std::to_string(waiting.size()) + " byte" + (waiting.size() == 1 ? "" : "s");
  switch (progress_.awaiting) {
    case Awaiting::EnquiryReply:
      if (nak) return station + " answered the enquiry with NAK";
      if (!waiting.empty()) return "an incomplete answer to the enquiry from " + station + " (" + partial + ") within 2 s";
      return "no answer to the enquiry from " + station + " within 2 s";
    case Awaiting::Reply:
      if (nak) return station + " refused the request with NAK (an address, count or command it does not have)";
      if (!waiting.empty()) return "an incomplete reply from " + station + " (" + partial + ") within 2 s";
      return std::string("no reply to the ") + (state_.WriteMode ? "write" : "read") + " request from " + station +
             " within 2 s";
    case Awaiting::Eot:
      if (!waiting.empty()) return station + " ended with " + HexText(Bytes(waiting.begin(), waiting.end())) +
                                   " instead of EOT";
      return "no EOT from " + station + " within 2 s after its reply was acknowledged";
  }
  return "no answer from " + station + " within 2 s";
}

// ---- Transaction starts -------------------------------------------------------------------

bool DirectNetEngine::StartRead(std::int32_t station, std::int32_t address, std::int32_t count,
                                ReadConversion conversion) {
  failure_.clear();
  passThroughMode_ = false;
  if (state_.WriteCallActive) return Fail("a write call holds the line");
  if (!port_.PortOpen()) return Fail(kPortClosed);
  auto enquiry = Enquiry(station);
  if (!enquiry) return Fail(StationText(station) + " is beyond " + std::to_string(kMaxStation));
  if (count > kMaxWords) return Fail(CountBeyondLimit(count));
  auto header = ReadHeader(address, count);
  if (!header) return Fail(count < 1 ? "count " + std::to_string(count) + ": a read is of 1 to 255 words"
                                     : "header address " + std::to_string(address) + " is beyond 65535");
  std::int64_t start = Now();
  if (!state_.WriteIdle) {
    loop_.DoEvents();
    if (Now() - start > kReplySeconds) state_.WriteIdle = true;
  }
  start = Now();
  while (!state_.ReadIdle) {
    // Until the read marker clears; each time more than 2 s have passed it is counted and
    // cleared by force.
    WaitSeconds(loop_, [this] { return state_.ReadIdle; }, start, kStuckReadSeconds);
    if (!state_.ReadIdle) {
      state_.CountStuckRead();
      state_.ReadIdle = true;
    }
  }
  // Events ran: a host write may hold the line now.
  if (state_.WriteCallActive) return Fail("a write call took the line");
  state_.HeaderBlock = *header;
  state_.ByteCount = static_cast<std::int16_t>(2 * count);
  if (conversion.values == 0) conversion.values = count;
  reading_ = conversion;
  return OpenTransaction(station, *enquiry, Direction::Read);
}

bool DirectNetEngine::StartWordWrite(std::int32_t station, std::int32_t address, std::span<const std::int32_t> words) {
  failure_.clear();
  passThroughMode_ = false;
  auto enquiry = Enquiry(station);
  if (!enquiry) return Fail(StationText(station) + " is beyond " + std::to_string(kMaxStation));
  if (words.size() > static_cast<std::size_t>(kMaxWords)) return Fail(CountBeyondLimit(static_cast<std::int64_t>(words.size())));
  auto data = PackWriteWords(words);
  if (!data) return Fail("a value is outside 0..65535, the values a data word holds");
  auto header = WordWriteHeader(address, *data);
  if (!header) return Fail(words.empty() ? "no value to write" : "header address " + std::to_string(address) + " is beyond 65535");
  state_.HeaderBlock = *header;
  state_.ByteCount = static_cast<std::int16_t>(data->size());
  return OpenTransaction(station, *enquiry, Direction::Write);
}

bool DirectNetEngine::StartBitWrite(std::int32_t station, std::int32_t address, bool set, std::int32_t writeSize) {
  failure_.clear();
  passThroughMode_ = false;
  auto enquiry = Enquiry(station);
  if (!enquiry) return Fail(StationText(station) + " is beyond " + std::to_string(kMaxStation));
  auto header = SetResetHeader(address, set);
  if (!header) return Fail("header address " + std::to_string(address) + " is beyond 65535");
  state_.HeaderBlock = *header;
  state_.ByteCount = static_cast<std::int16_t>(2 * std::clamp(writeSize, 0, 16383));
  return OpenTransaction(station, *enquiry, Direction::Write);
}

// ---- Waiting calls --------------------------------------------------------------------------

bool DirectNetEngine::WaitingRead(const ResolvedAddress& target, std::int32_t count, ReadConversion conversion,
                                  std::array<std::int32_t, kLastReadWord + 1>* words) {
  failure_.clear();
  if (!port_.PortOpen()) return Fail(kPortClosed);  // no line to wait for
  bool lineFree = WaitSecondsFromNow(loop_, [this] { return state_.WriteIdle && !state_.WriteCallActive; }, kReplySeconds);
  lineFree = WaitSecondsFromNow(loop_, [this] { return state_.ReadIdle; }, kReplySeconds) && lineFree;
  if (!lineFree) state_.ResetAfterWait();
  state_.CallActive = true;
  if (!StartRead(target.station, target.memory.address, count, conversion)) {
    state_.CallActive = false;
    return false;
  }
  const std::uint32_t mine = state_.Transaction;
  AwaitedRead awaited{mine, words, false};
  AwaitedRead* const outer = std::exchange(awaited_, &awaited);
  // Ends with this read, or when the watchdog or CommBusy freed the line: only the first is
  // a success.
  WaitSeconds(loop_,
              [this, mine, &awaited] {
                return awaited.completed || state_.ReadIdle || state_.Transaction != mine || !port_.PortOpen();
              },
              state_.SendTime, kReplySeconds);
  awaited_ = outer;
  state_.CallActive = false;
  if (awaited.completed) return true;
  if (ClosedUnder(mine)) return Fail("the port was closed while the read waited for " + StationText(target.station));
  return Fail(WhyNotCompleted(mine));
}

bool DirectNetEngine::RunWrite(const ResolvedAddress& target, std::span<const std::int32_t> words, bool set,
                               std::int32_t writeSize) {
  failure_.clear();
  // More words than a header carries are refused before any wait for the line.
  if (!target.memory.bit && words.size() > static_cast<std::size_t>(kMaxWords))
    return Fail(CountBeyondLimit(static_cast<std::int64_t>(words.size())));
  if (!port_.PortOpen()) return Fail(kPortClosed);  // no line to wait for
  auto lineFree = [this] {
    return state_.ReadIdle && state_.WriteIdle && !state_.CallActive && !state_.ReadBusy;
  };
  if ((state_.ReadBusy || !state_.ReadIdle || !state_.WriteIdle) && !WaitSeconds(loop_, lineFree, Now(), kReplySeconds))
    state_.ResetAfterWait();
  const bool sent = target.memory.bit ? StartBitWrite(target.station, target.memory.address, set, writeSize)
                                      : StartWordWrite(target.station, target.memory.address, words);
  if (!sent) return false;
  const std::uint32_t mine = state_.Transaction;
  AwaitedWrite awaited{mine, false, awaitedWrites_};
  awaitedWrites_ = &awaited;
  bool ended = WaitSeconds(
      loop_,
      [this, mine] {
        return (!state_.ReadBusy && state_.ReadIdle && state_.WriteIdle) || state_.Transaction != mine ||
               !port_.PortOpen();
      },
      state_.SendTime, kReplySeconds);
  awaitedWrites_ = awaited.outer;
  if (awaited.completed || state_.CompletedWrite == mine) return true;
  if (ClosedUnder(mine)) return Fail("the port was closed while the write waited for " + StationText(target.station));
  const std::string why = WhyNotCompleted(mine);
  if (!ended) state_.ResetAfterWait();
  return Fail(why);
}

// The port closed under this engine's transaction (a host timer set PortOpen False inside the
// wait): nothing will answer, and the line is freed for the next call.
bool DirectNetEngine::ClosedUnder(std::uint32_t transaction) {
  if (port_.PortOpen() || state_.Transaction != transaction || (state_.ReadIdle && state_.WriteIdle)) return false;
  state_.ResetAfterWait();
  return true;
}

// ---- Watchdog -------------------------------------------------------------------------------

void DirectNetEngine::Watchdog(bool runMode) {
  if (!runMode) return;
  if (state_.TimeoutCount > kTimeoutCountLimit) {
    state_.TimeoutCount = 0;
    state_.ErrorText = kReadErrorText;
  }
  if ((!state_.ReadIdle || !state_.WriteIdle) && SecondsPassed(loop_, state_.SendTime, kReplySeconds)) state_.TimeOut();
  TellFailedRead();
}

void DirectNetEngine::TellFailedRead() {
  if (followed_ == 0) return;
  // A completed read stops being followed before its CommComplete.
  const bool ended = state_.Transaction != followed_ || state_.ReadIdle || progress_.transaction != followed_;
  if (!ended && progress_.refusal.empty()) return;
  const std::string why = WhyNotCompleted(followed_);
  followed_ = 0;
  if (Events.ReadFailed) Events.ReadFailed(why);
}

// ---- Receive engine -------------------------------------------------------------------------

void DirectNetEngine::OnComm() {
  try {
    if (passThroughMode_) {
      PassThrough();
      return;
    }
    if (port_.CommEvent() != comm::EvReceive) return;  // line errors and the rest: no action
    // The line state is shared, the port is not: only the engine that put the transaction on
    // the line takes its answers. Bytes on another control's line (a late answer to an enquiry
    // that timed out there) would carry this transaction on to that line's station.
    if (progress_.transaction != state_.Transaction) return;
    // A completion's handler may unload the control, and this engine with it.
    const Lifetime::Watch watch = life_.Watched();
    if (state_.WriteMode) WriteStep();
    else ReadStep();
    if (watch.Gone()) return;
    TellFailedRead();  // a refused answer ends the read: nothing more is sent for it
  } catch (const RuntimeError&) {
    // An error of the port inside the handler never reaches the host; the watchdog ends the
    // transaction.
  }
}

std::string DirectNetEngine::EnquiryRefusal(const Bytes& reply, std::uint8_t own) const {
  const std::string station = StationText(progress_.station);
  if (reply[2] == NAK) return station + " answered the enquiry with NAK";
  if (reply[2] != ACK || reply[1] == own) return station + " answered the enquiry with " + HexText(reply) + " instead of ACK";
  // Another station took the enquiry for its own: the header would read or write its memory.
  const int other = reply[1] - 0x20;
  const std::string who = other >= 0 && other <= kMaxStation ? StationText(other) : "no station";
  return "the enquiry to " + station + " was answered for " + who + " (" + HexText(reply) + "); no request was sent";
}

// Step 3 of either kind: the station acknowledged the enquiry, the header goes out.
void DirectNetEngine::HeaderStep(std::size_t replyLength) {
  // An EOT ahead of the answer is the last transaction's, repeated on the line after this
  // enquiry emptied the input (no answer to an enquiry starts with EOT): it is dropped, and the
  // answer awaited behind it.
  std::size_t stray = 0;
  for (std::uint8_t b : port_.Peek()) {
    if (b != EOT) break;
    ++stray;
  }
  if (stray > 0) {
    port_.SetInputLen(static_cast<std::int16_t>(stray));
    port_.InputBytes();
    port_.SetInputLen(static_cast<std::int16_t>(kEnquiryReplyLength));
    if (static_cast<std::size_t>(port_.InBufferCount()) < kEnquiryReplyLength) return;
  }
  const Bytes reply = Take(kEnquiryReplyLength);
  const std::uint8_t own = StationByte(progress_.station).value_or(0);
  const bool ok = CheckEnquiryReply(reply, own);
  port_.SetRThreshold(0);
  if (!ok) {
    if (reply.size() >= kEnquiryReplyLength) progress_.refusal = EnquiryRefusal(reply, own);
    return;
  }
  state_.Step = 2;
  progress_.awaiting = Awaiting::Reply;
  Expect(static_cast<std::int16_t>(replyLength));
  Send(state_.HeaderBlock);
}

// Step 1 of either kind: the station's EOT is answered with ours. True when it came.
bool DirectNetEngine::ClosingStep() {
  const Bytes reply = Take(kEotReplyLength);
  const bool ok = CheckEotReply(reply);
  state_.Step = 0;
  if (!ok) {
    if (!reply.empty()) progress_.refusal = StationText(progress_.station) + " ended with " + HexText(reply) + " instead of EOT";
    return false;
  }
  port_.SetRThreshold(1);
  port_.SetInputLen(0);
  Send(EOT);
  return true;
}

void DirectNetEngine::AcknowledgeReply() {
  progress_.awaiting = Awaiting::Eot;
  Expect(static_cast<std::int16_t>(kEotReplyLength));
  Send(ACK);
}

void DirectNetEngine::WriteStep() {
  switch (state_.Step) {
    case 3:
      HeaderStep(kWriteReplyLength);
      return;
    case 2: {
      const Bytes reply = Take(kWriteReplyLength);
      if (!CheckWriteReply(reply)) {
        RefuseReply(reply, "write");
        return;
      }
      state_.Step = 1;
      AcknowledgeReply();
      return;
    }
    case 1:
      if (ClosingStep()) {
        state_.EndWrite();
        progress_.completed = true;
        for (AwaitedWrite* w = awaitedWrites_; w; w = w->outer) {
          if (w->transaction == state_.Transaction) w->completed = true;
        }
      }
      return;
    default:
      return;  // no transaction: stray bytes
  }
}

void DirectNetEngine::ReadStep() {
  const auto byteCount = static_cast<std::size_t>(state_.ByteCount);
  switch (state_.Step) {
    case 3:
      HeaderStep(ReadReplyLength(byteCount));
      return;
    case 2: {
      const Bytes reply = Take(ReadReplyLength(byteCount));
      const ReadReplyCheck check = CheckReadReply(reply, byteCount);
      state_.Step = 1;
      // The words of an acknowledged reply are kept even when its LRC fails, where the host
      // sees them only through a completed read.
      if (check.Passed() || (check.acknowledged && rules_.convertOnCompletion)) {
        const auto first = state_.ReadWords.begin() + 1;
        const std::size_t n = UnpackReadWords(reply, byteCount, std::span(state_.ReadWords).subspan(1));
        progress_.words.assign(first, first + static_cast<std::ptrdiff_t>(n));
      }
      if (check.Passed()) {
        AcknowledgeReply();
        return;
      }
      // The step counts on to the EOT whatever the check found: what arrives after a refused
      // reply is never taken as the station's closing EOT, which would complete the read.
      port_.SetRThreshold(0);
      RefuseReply(reply, "read");
      return;
    }
    case 1:
      if (ClosingStep()) CompleteRead();
      return;
    default:
      return;
  }
}

void DirectNetEngine::RefuseReply(const Bytes& reply, const char* kind) {
  if (reply.empty()) return;  // the notification was not for this step: the time-out tells
  const std::string station = StationText(progress_.station);
  progress_.refusal = reply[0] != ACK ? "the " + std::string(kind) + " reply of " + station + " began with " +
                                            HexText(std::span(reply).first(1)) + " instead of ACK"
                                      : "the " + std::string(kind) + " reply of " + station + " failed its LRC check";
}

void DirectNetEngine::CompleteRead() {
  std::copy(progress_.words.begin(), progress_.words.end(), state_.ReadWords.begin() + 1);
  state_.EndRead();
  progress_.completed = true;
  if (followed_ == state_.Transaction) followed_ = 0;
  if (awaited_ && awaited_->transaction == state_.Transaction) {
    awaited_->completed = true;
    if (awaited_->words) *awaited_->words = state_.ReadWords;
  }
  if (rules_.convertOnCompletion) {
    state_.ErrorText.clear();
    completed_ = reading_;
    FillReadValues(state_.ReadWords, completed_.values, completed_.ioType, completed_.bitIndex, readValues_);
  }
  if (Events.CommComplete) Events.CommComplete();
}

// ---- Pass-through mode ----------------------------------------------------------------------

void DirectNetEngine::SendToComm(const std::string& line1) {
  passThroughMode_ = true;
  port_.SetRThreshold(1);
  port_.Output(Variant(line1));
}

void DirectNetEngine::PassThrough() {
  const std::int16_t event = port_.CommEvent();
  bool* connected = nullptr;
  if (event == comm::EvReceive && port_.InBufferCount() > 0) {
    // All of it: a transaction cut short leaves its reply's length as the input length, and
    // bytes left behind would wait for the next arrival, or for ever.
    port_.SetInputLen(0);
    Bytes bytes = port_.InputBytes();
    modemData_.Set(1, Variant(std::string(bytes.begin(), bytes.end())));
    connected = &connected_;
  } else if (event == comm::EvCD) {
    modemData_.Set(1, Variant());
    carrierState_ = port_.CDHolding();
    connected = &carrierState_;
  } else {
    return;
  }
  if (!Events.CommEventModem) return;
  std::vector<Variant> args{Variant(event), Variant(modemData_), Variant(*connected)};
  const Lifetime::Watch watch = life_.Watched();
  Events.CommEventModem(args);
  if (watch.Gone()) return;  // the handler unloaded the control
  // By reference: what a handler assigns to MData or Connected stays.
  if (args[1].IsArray()) modemData_ = args[1].Array();
  try {
    *connected = args[2].ToBool();
  } catch (const RuntimeError&) {
    // a handler that stored something that is no Boolean leaves the flag as it was
  }
}

}  // namespace plc::dnet
