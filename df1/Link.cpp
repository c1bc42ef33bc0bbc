#include "df1/Link.h"

#include <cmath>

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
  port_.SetInBufferCount(0);
  port_.SetRThreshold(2);
  port_.SetInputLen(1);
  port_.SetInputMode(InputModeKind::Binary);
  port_.SetNullDiscard(false);
  s.RequestSent(loop_.GetClock().WallSeconds());
  port_.OutputBytes(frame);
}

bool Df1Link::WaitFor(MidnightStopwatch& watch, double limit) {
  for (;;) {
    if (port_.InBufferCount() > 0) return true;
    const double left = limit - watch.Elapsed();
    if (left < 0) return false;
    // Just past the limit, so that the wake finds it passed.
    port_.WaitForInput(loop_.Now() + static_cast<std::int64_t>(std::ceil(left * 1e6)) + 1000);
  }
}

std::optional<std::uint8_t> Df1Link::ReadByte() {
  MidnightStopwatch watch(loop_.GetClock());
  if (!WaitFor(watch, kByteLimitSeconds)) return std::nullopt;
  Bytes one = port_.InputBytes();  // InputLen is 1
  if (one.empty()) return std::nullopt;
  return one.front();
}

Result Df1Link::WaitLinkResponse() {
  MidnightStopwatch watch(loop_.GetClock());
  LinkResponseWatch response;
  Result status = 0;
  while (WaitFor(watch, kByteLimitSeconds)) {
    Bytes one = port_.InputBytes();
    if (one.empty()) break;
    if (auto ended = response.Feed(one.front())) {
      status = *ended;
      break;
    }
  }
  return watch.Elapsed() > kByteLimitSeconds ? ResultLinkTimeout : status;
}

LinkClosing Df1Link::ReadReply(Df1State& s) {
  port_.SetInputLen(1);
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
    s.ReplyTns = *outcome.tns;
    out.tns = outcome.tns;
    StoreReply(s, *outcome.tns, outcome.words);
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
