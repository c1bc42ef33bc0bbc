#include "df1/Link.h"

#include <algorithm>
#include <cstdio>

#include "base/Enums.h"
#include "base/RuntimeError.h"
#include "df1/ControlBytes.h"
#include "df1/Receive.h"
#include "df1/Results.h"

namespace plc::df1 {

namespace {

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", s);
  return text;
}

std::string Station(const Transaction& t) { return "station " + std::to_string(t.dst); }

}  // namespace

double MidnightStopwatch::Elapsed() {
  const double now = clock_.SecondsSinceMidnight();
  double d = now - start_;
  if (d < -1) {
    start_ = now;
    d = 0;
  }
  return d;
}

double ByteSeconds(const SerialPort& port) {
  const SerialSettings& s = port.LineSettings();
  return s.baud > 0 ? static_cast<double>(s.BitsPerCharacter()) / s.baud : 0.0;
}

std::string ForeignNote(const LinkClosing& closing) {
  if (closing.foreignReplies == 0) return {};
  const int n = closing.foreignReplies;
  return "; " + std::to_string(n) + (n == 1 ? " reply" : " replies") + " to no request of this line came meanwhile (the last " +
         closing.foreign + "), acknowledged and not taken";
}

void Df1Link::Send(const Bytes& frame) {
  received_.clear();
  taken_ = 0;
  idle_.reset();
  seen_.reset();
  port_.SetInBufferCount(0);
  port_.SetRThreshold(2);
  port_.SetInputLen(1);
  port_.SetInputMode(InputModeKind::Binary);
  port_.SetNullDiscard(false);
  port_.OutputBytes(frame);
}

std::optional<std::uint8_t> Df1Link::TakeFromPort() {
  try {
    port_.SetInputLen(0);
    port_.InputInto(received_);
  } catch (const RuntimeError&) {
    received_.clear();  // the port closed under the transaction: nothing more comes
  }
  taken_ = 0;
  if (received_.empty()) return std::nullopt;
  return received_[taken_++];
}

bool Df1Link::WaitFor(MidnightStopwatch& watch, double limit) {
  for (;;) {
    if (HasByte()) return true;
    const double left = limit - watch.Elapsed();
    if (left < 0) return false;
    port_.WaitForInput(JustPast(loop_, left));
  }
}

std::optional<std::uint8_t> Df1Link::AwaitByte(double limit) {
  if (!HasByte()) {
    MidnightStopwatch watch(loop_.GetClock());
    if (!WaitFor(watch, limit)) return std::nullopt;
  }
  return TakeByte();
}

std::optional<ReplyOutcome> Df1Link::FinishFrame(ReplyReceiver& receiver, double byteLimit) {
  while (!receiver.LoopEnded()) {
    auto byte = ReadByte(byteLimit);
    if (!byte) return std::nullopt;
    receiver.Feed(*byte);
  }
  if (receiver.State() == ReplyReceiver::Phase::CrcHigh) {
    auto high = ReadByte(byteLimit);
    if (!high) return std::nullopt;
    receiver.Feed(*high);
  }
  return EvaluateReply(receiver);
}

Result Df1Link::WaitLinkResponse(std::int32_t mode, const Transaction& t, LinkClosing& out) {
  std::optional<MidnightStopwatch> watch(std::in_place, loop_.GetClock());
  const double limit = kByteLimitSeconds + 2 * t.byteSeconds;
  LinkResponseWatch response;
  Result status = 0;
  int bytes = 0;
  int enquiries = 0;
  while (WaitFor(*watch, limit)) {
    auto byte = TakeByte();
    if (!byte) break;
    ++bytes;
    auto ended = response.Feed(*byte);
    if (!ended) continue;
    status = *ended;
    if (status == ResultDleEnq && enquiries < kMaxEnquiries) {
      // The station asks about its own last frame (a reply whose acknowledgement it missed),
      // not about this request: answered with the last response given, DLE ACK, and the wait
      // for this request's DLE ACK goes on.
      SendDleAck();
      ++enquiries;
      response = LinkResponseWatch();
      continue;
    }
    if (!response.FrameStart() || out.foreignReplies >= kMaxForeignReplies) break;
    // A frame where the link response belongs: a late reply to a request given up on is
    // acknowledged and skipped; anything else ends the wait as any other byte does.
    ReplyReceiver frame(mode);
    frame.Feed(DLE);
    frame.Feed(STX);
    auto outcome = FinishFrame(frame, kByteLimitSeconds + t.byteSeconds);
    if (!outcome || !outcome->header || ReplyAnswers(*outcome->header, t.dst, t.cmd, t.tns)) break;
    SendDleAck();
    ++out.foreignReplies;
    out.foreign = ReplyMismatch(*outcome->header, t.dst, t.cmd, t.tns);
    response = LinkResponseWatch();
    watch.emplace(loop_.GetClock());
    status = 0;
    bytes = 0;
  }
  if (watch->Elapsed() > limit && enquiries > 0) {
    out.cause = Station(t) + " sent DLE ENQ where its DLE ACK for " + t.What() +
                " belongs, and no DLE ACK followed within " + Seconds(limit);
    return ResultDleEnq;
  }
  if (watch->Elapsed() > limit) {
    out.cause = bytes == 0 ? "nothing came from " + Station(t) + " within " + Seconds(limit) + " of " + t.What()
                           : "no DLE ACK from " + Station(t) + " within " + Seconds(limit) + " of " + t.What() + " (" +
                                 std::to_string(bytes) + " other bytes came)";
    return ResultLinkTimeout;
  }
  if (status == ResultDleNak) out.cause = Station(t) + " answered " + t.What() + " with DLE NAK";
  else if (status == ResultDleEnq) out.cause = Station(t) + " sent DLE ENQ where its DLE ACK for " + t.What() + " belongs";
  else if (status == 0 && bytes == 0) out.cause = "the port gave nothing more while " + t.What() + " awaited DLE ACK";
  else if (status != ResultDleAck) {
    out.cause = Station(t) + " answered " + t.What() + " with " + HexByte(static_cast<unsigned>(status)) + (response.FrameStart() ? " (a frame)" : "");
    // The byte's value is the status; where it is also one of the control's own codes, the
    // text says which it is.
    if (ResultMeaning(status).rfind("unexpected", 0) != 0)
      out.cause += " where its DLE ACK belongs (the result " + std::to_string(status) + " is that byte's value)";
  }
  return status;
}

LinkClosing Df1Link::ReadReply(ReplyReceiver& receiver, const Transaction& t) {
  MidnightStopwatch watch(loop_.GetClock());
  const double byteLimit = kByteLimitSeconds + t.byteSeconds;
  LinkClosing out;
  auto fail = [&out](Result status, const char* text, std::string cause) {
    out.status = status;
    out.text = text;
    out.cause = std::move(cause);
    return out;
  };
  int bytes = 0;
  int answered = 0;
  while (!receiver.LoopEnded()) {
    if (receiver.Enquiries() > answered && answered < kMaxEnquiries) {
      SendDleAck();  // the station asks about its own last frame, as above
      ++answered;
    }
    auto byte = ReadByte(byteLimit);
    if (!byte) {
      out.silentAfterAck = bytes == 0;
      return fail(ResultLinkTimeout, kTextNoReplyByte,
                  bytes == 0 ? Station(t) + " acknowledged " + t.What() + " and sent no reply within " + Seconds(byteLimit)
                             : "the reply from " + Station(t) + " stopped after " + std::to_string(bytes) +
                                   " bytes (nothing more for " + Seconds(byteLimit) + ")");
    }
    ++bytes;
    receiver.Feed(*byte);
  }
  const double took = watch.Elapsed();
  // The reply's line time counts every byte it took on the line: data bytes of 10h come
  // doubled, which the expected size cannot know.
  const double limit = kByteLimitSeconds + t.byteSeconds * std::max(t.replyBytes, bytes);
  if (took > limit)
    return fail(ResultLinkTimeout, kTextTimeout,
                "the reply from " + Station(t) + " took " + Seconds(took) + ", beyond its limit of " + Seconds(limit));
  if (receiver.State() == ReplyReceiver::Phase::CrcHigh) {
    auto high = ReadByte(byteLimit);
    if (!high) return fail(ResultLinkTimeout, kTextNoReplyByte, "the reply from " + Station(t) + " lacks its last CRC byte");
    receiver.Feed(*high);
  }
  ReplyOutcome outcome = EvaluateReply(receiver);
  if (outcome.header && !ReplyAnswers(*outcome.header, t.dst, t.cmd, t.tns)) {
    out.foreignReplies = 1;  // not this request's: the caller acknowledges it and reads on
    out.foreign = ReplyMismatch(*outcome.header, t.dst, t.cmd, t.tns);
    return out;
  }
  out.status = outcome.status;
  out.text = outcome.text;
  if (outcome.status == ResultStatusError && outcome.header)
    out.cause = Station(t) + " refused " + t.What() + ": " + StatusMeaning(outcome.header->sts, outcome.header->ext);
  else if (outcome.status != ResultOk)
    out.cause = outcome.cause + " (" + Station(t) + ", " + t.What() + ")";
  if (outcome.status != ResultOk) return out;
  // A read answered with fewer words than it asked for would leave older values in their
  // place: refused.
  if (t.IsRead() && static_cast<std::int64_t>(outcome.words.size()) < t.expectedWords) {
    return fail(ResultCheckError, kTextUnfit,
                "the reply from " + Station(t) + " carries " + std::to_string(outcome.words.size()) +
                    (outcome.words.size() == 1 ? " word where " : " words where ") + t.What() + " asked for " +
                    std::to_string(t.expectedWords));
  }
  // A byte lost or doubled on the line shifts every word after it, and a BCC does not see a
  // doubled or added zero: such a reply is refused rather than read out of step.
  if (t.IsRead() && outcome.oddByte) {
    return fail(ResultCheckError, kTextUnfit,
                "the reply from " + Station(t) + " to " + t.What() +
                    " ends in a byte no word holds (a byte lost or added on the line)");
  }
  out.tns = outcome.tns;
  out.words = std::move(outcome.words);
  return out;
}

void Df1Link::SendDleAck() {
  static const Bytes kDleAck(DleAck.begin(), DleAck.end());
  try {
    port_.OutputBytes(kDleAck);
  } catch (const RuntimeError&) {
    // A line that takes no acknowledgement has nothing left to close.
  }
}

void Df1Link::Discard() {
  received_.clear();
  taken_ = 0;
  try {
    port_.SetInBufferCount(0);
  } catch (const RuntimeError&) {
    // A closed or vanished port holds nothing to discard.
  }
}

void Df1Link::Pause() {
  MidnightStopwatch watch(loop_.GetClock());
  while (WaitFor(watch, kAckPauseSeconds)) Discard();
}

LinkClosing Df1Link::Close(std::int32_t mode, const Transaction& t) {
  idle_.reset();
  seen_.reset();
  LinkClosing out;
  Result status = WaitLinkResponse(mode, t, out);
  const int foreignBefore = out.foreignReplies;
  if (status == ResultDleAck) {
    for (int foreign = foreignBefore;; ++foreign) {
      ReplyReceiver receiver(mode);
      LinkClosing reply = ReadReply(receiver, t);
      if (reply.foreignReplies == 0) {
        reply.foreignReplies = foreign;
        reply.foreign = std::move(out.foreign);
        out = std::move(reply);
        break;
      }
      out.foreign = std::move(reply.foreign);
      SendDleAck();
      if (foreign + 1 >= kMaxForeignReplies) {
        out.status = ResultCheckError;
        out.text = kTextUnfit;
        out.cause = Station(t) + " kept sending replies to other requests after " + t.What();
        out.foreignReplies = foreign + 1;
        break;
      }
    }
    if (out.status == ResultOk) {
      SendDleAck();
      received_.clear();  // what followed the reply is dropped with the port's input
      taken_ = 0;
      return out;
    }
    Discard();
    SendDleAck();
    Pause();
    SendDleAck();
    Discard();
    Pause();
  } else {
    out.status = status;
    out.text = kTextNoAck;
    Discard();
    for (int i = 0; i < 2; ++i) {
      SendDleAck();
      Discard();
      Pause();
    }
  }
  SendDleAck();
  Discard();
  out.cause += ForeignNote(out);
  return out;
}

void Df1Link::Listen(std::int32_t mode) {
  // The bytes stay in the port's buffer, for ReceiveComm as ever; only those not seen yet are
  // looked at.
  if (!idle_) idle_.emplace(mode);
  // A host's ReceiveComm may have taken some or all of what was looked at: the bytes new since
  // then are the buffer's last ones, counted by the port.
  const auto& in = port_.Peek();
  const std::uint64_t total = port_.BufferedTotal();
  std::size_t from = 0;
  if (seen_) {
    const std::uint64_t unseen = total - *seen_;
    from = unseen < in.size() ? in.size() - static_cast<std::size_t>(unseen) : 0;
  }
  seen_ = total;
  for (std::size_t i = from; i < in.size(); ++i)
    if (idle_->Feed(in[i])) SendDleAck();
}

}  // namespace plc::df1
