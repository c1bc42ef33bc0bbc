#include "df1/Engine.h"

#include <algorithm>

#include "core/Enums.h"
#include "core/RuntimeError.h"
#include "core/WallSeconds.h"
#include "df1/Decoding.h"
#include "df1/Frame.h"
#include "df1/Requests.h"

namespace plc::df1 {

Df1Engine::Df1Engine(SerialPort& port, EventLoop& loop) : port_(port), loop_(loop), link_(port, loop) {
  port_.OnComm = [this] { OnComm(); };
}

Df1Engine::~Df1Engine() { port_.OnComm = nullptr; }

void Df1Engine::NoteRead(const ParsedAddress& a, std::int16_t count, bool floatFlag) {
  Df1State& s = State();
  s.RequestCount = count;
  s.LastRead = a;
  s.FloatFlag = floatFlag;
}

template <class Build>
bool Df1Engine::SendRequest(Build build, std::int32_t expectedWords) {
  Df1State& s = State();
  const std::int32_t tns = NextTns(s.TnsCounter);
  auto payload = build(RequestHead{s.AddressCopy, s.NodeCopy, tns});
  if (!payload) return false;
  auto frame = StuffAndCheck(*payload, s.ModeCopy);
  if (!frame) return false;
  const bool lineFree = s.LineFree;
  const std::int64_t sendTime = s.SendTime;
  try {
    link_.Send(*frame, s);
  } catch (const RuntimeError&) {
    s.LineFree = lineFree;
    s.SendTime = sendTime;
    return false;
  }
  s.TnsCounter = tns;
  s.ExpectedWords = expectedWords;
  return true;
}

bool Df1Engine::SendRead() {
  const Df1State& s = State();
  const ParsedAddress a = s.LastRead;
  const std::int64_t elements = std::int64_t{s.RequestCount} * std::max(1, a.WordOffset);
  if (elements < 1 || elements > 255) return false;
  const auto count = static_cast<std::int32_t>(elements);
  const std::int32_t typeCopy = s.TypeCopy;
  const std::int32_t words = count * FileTypeOf(a.FileTypeCode).elementBytes / 2;
  return SendRequest([&](const RequestHead& h) { return ReadPayload(h, a, count, typeCopy); }, words);
}

bool Df1Engine::SendWrite(const ParsedAddress& a, std::int32_t valueCount, std::span<const std::int32_t> words) {
  return SendRequest([&](const RequestHead& h) { return WritePayload(h, a, valueCount, words); }, 0);
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

Result Df1Engine::ReadAndWait(Variant& readValue, std::int16_t count) {
  Df1State& s = State();
  s.Busy = true;
  s.ReadPending = true;
  WaitSeconds(loop_, [&s] { return s.LineFree; }, WallNow(loop_), kLineWaitSeconds);
  if (!SendRead()) {
    s.ReadPending = false;
    return ResultFailed;
  }
  MidnightStopwatch watch(loop_.GetClock());
  auto answered = [&s] { return s.LineFree && !s.ReadPending; };
  WaitShort([&] { return answered() || s.CancelWait; }, kReplyLimitSeconds);
  const bool late = watch.Elapsed() > kReplyLimitSeconds;
  Result result = ResultOk;
  if (late) {
    result = ResultNoReply;
  } else if (!answered()) {
    result = ResultCancelled;
  } else if (s.LastStatus != ResultOk) {
    result = s.LastStatus;
  } else {
    try {
      DecodeInto(readValue, s, replyTns_, count);
    } catch (const RuntimeError&) {
      result = ResultFailed;  // an array that lacks one of the indices 1..count
    }
  }
  s.ReadPending = false;
  return result;
}

void Df1Engine::OnComm() {
  if (port_.CommEvent() != comm::EvReceive) return;
  port_.SetRThreshold(0);
  HandleReply();
}

void Df1Engine::HandleReply() {
  Df1State& s = State();
  LinkClosing closing = link_.Close(s);
  s.LastStatus = closing.status;
  if (closing.tns) replyTns_ = *closing.tns;
  s.CompletionBegins();
  if (OnClosed) OnClosed(closing);
  s.CompletionEnds();
  try {
    port_.SetInBufferCount(0);
  } catch (const RuntimeError&) {
    // The handler may have closed the port; there is nothing left to discard.
  }
  s.LineIdle();
}

void Df1Engine::WatchdogTick() {
  Df1State& s = State();
  if ((!s.LineFree || s.Busy) && SecondsPassed(loop_, s.SendTime, kWatchdogSeconds)) s.WatchdogRelease(WallNow(loop_));
}

}  // namespace plc::df1
