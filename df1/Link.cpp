#include "df1/Link.h"

#include "core/Enums.h"
#include "core/RuntimeError.h"
#include "df1/ControlBytes.h"
#include "df1/Decoding.h"
#include "df1/Receive.h"

namespace plc::df1 {

double MidnightStopwatch::Elapsed() {
  const double now = clock_.SecondsSinceMidnight();
  double d = now - start_;
  if (d < -1) {
    start_ = now;
    d = 0;
  }
  return d;
}

void Df1Link::Send(const Bytes& frame, Df1State& s) {
  received_.clear();
  taken_ = 0;
  port_.SetInBufferCount(0);
  port_.SetRThreshold(2);
  port_.SetInputLen(1);
  port_.SetInputMode(InputModeKind::Binary);
  port_.SetNullDiscard(false);
  s.RequestSent(loop_.GetClock().WallSeconds());
  port_.OutputBytes(frame);
}

std::optional<std::uint8_t> Df1Link::TakeByte() {
  if (taken_ >= received_.size()) {
    port_.SetInputLen(0);
    received_ = port_.InputBytes();
    taken_ = 0;
    if (received_.empty()) return std::nullopt;
  }
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

std::optional<std::uint8_t> Df1Link::ReadByte() {
  // A byte already received is taken without reading the clock: a reply arrives in chunks.
  if (!HasByte()) {
    MidnightStopwatch watch(loop_.GetClock());
    if (!WaitFor(watch, kByteLimitSeconds)) return std::nullopt;
  }
  return TakeByte();
}

Result Df1Link::WaitLinkResponse() {
  MidnightStopwatch watch(loop_.GetClock());
  LinkResponseWatch response;
  Result status = 0;
  while (WaitFor(watch, kByteLimitSeconds)) {
    auto byte = TakeByte();
    if (!byte) break;
    if (auto ended = response.Feed(*byte)) {
      status = *ended;
      break;
    }
  }
  return watch.Elapsed() > kByteLimitSeconds ? ResultLinkTimeout : status;
}

LinkClosing Df1Link::ReadReply(Df1State& s) {
  MidnightStopwatch watch(loop_.GetClock());
  ReplyReceiver receiver(s.ModeCopy);
  LinkClosing out;
  auto fail = [&out](Result status, const char* text) {
    out.status = status;
    out.text = text;
    return out;
  };
  while (!receiver.LoopEnded()) {
    auto byte = ReadByte();
    if (!byte) return fail(ResultLinkTimeout, kTextNoReplyByte);
    receiver.Feed(*byte);
  }
  if (watch.Elapsed() > kByteLimitSeconds) return fail(ResultLinkTimeout, kTextTimeout);
  if (receiver.State() == ReplyReceiver::Phase::CrcHigh) {
    auto high = ReadByte();
    if (!high) return fail(ResultLinkTimeout, kTextNoReplyByte);
    receiver.Feed(*high);
  }
  ReplyOutcome outcome = EvaluateReply(receiver);
  out.status = outcome.status;
  out.text = outcome.text;
  if (outcome.status != ResultOk) return out;
  // A read answered with fewer words than it asked for would leave older values in their
  // place: refused.
  if (static_cast<std::int64_t>(outcome.words.size()) < s.ExpectedWords) {
    out.status = ResultCheckError;
    out.text = kTextUnfit;
    return out;
  }
  if (outcome.tns) {
    out.tns = outcome.tns;
    StoreReply(s, *outcome.tns, outcome.words);
  } else {
    s.DataBuffer.Set(1, Variant(std::int32_t{0}));  // a reply without data
  }
  return out;
}

void Df1Link::SendDleAck() {
  try {
    port_.OutputBytes(Bytes(DleAck.begin(), DleAck.end()));
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
    // A closed port holds nothing to discard.
  }
}

void Df1Link::Pause() {
  MidnightStopwatch watch(loop_.GetClock());
  while (WaitFor(watch, kAckPauseSeconds)) Discard();
}

LinkClosing Df1Link::Close(Df1State& s) {
  LinkClosing out;
  Result status = WaitLinkResponse();
  if (status == ResultDleAck) {
    out = ReadReply(s);
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
  return out;
}

}  // namespace plc::df1
