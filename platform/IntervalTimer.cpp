#include "platform/IntervalTimer.h"

#include "base/RuntimeError.h"

namespace plc {

IntervalTimer::IntervalTimer(std::int32_t intervalMs, EventLoop& loop) : loop_(loop), interval_(intervalMs) {
  if (intervalMs < 0) throw RuntimeError(err::InvalidPropertyValue);
}

IntervalTimer::~IntervalTimer() { Disarm(); }

void IntervalTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Arm();
}

void IntervalTimer::SetInterval(std::int32_t ms) {
  if (ms < 0) throw RuntimeError(err::InvalidPropertyValue);
  interval_ = ms;
  Arm();
}

void IntervalTimer::Disarm() {
  if (pending_) loop_.CancelTimer(pending_);
  pending_ = 0;
}

void IntervalTimer::Arm() {
  Disarm();
  if (!enabled_ || interval_ <= 0 || ticking_) return;
  pending_ = loop_.AddTimer(loop_.Now() + std::int64_t{interval_} * 1000, [this] { Fire(); });
}

void IntervalTimer::Fire() {
  pending_ = 0;
  ticking_ = true;
  // The tick may destroy this timer (a host unloading the control from an event raised in it):
  // the handler runs from a copy, and nothing of the timer is touched again.
  const Lifetime::Watch watch = life_.Watched();
  if (std::function<void()> tick = OnTick) tick();
  if (watch.Gone()) return;
  ticking_ = false;
  Arm();
}

}  // namespace plc
