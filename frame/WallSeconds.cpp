#include "frame/WallSeconds.h"

#include <cmath>

namespace plc {

std::int64_t WallSecondsDeadline(const EventLoop& loop, std::int64_t start, std::int64_t seconds) {
  const Clock& clock = loop.GetClock();
  std::int64_t whole = clock.WallSeconds();
  std::int64_t target = start + seconds;
  if (whole >= target) return loop.Now();
  // The sub-second phase of the wall clock: seconds since midnight carry the fraction that the
  // whole-seconds reading drops.
  double ssm = clock.SecondsSinceMidnight();
  auto phase = static_cast<std::int64_t>(std::llround((ssm - std::floor(ssm)) * 1e6));
  if (phase < 0 || phase >= 1'000'000) phase = 0;
  std::int64_t remaining = (target - whole) * 1'000'000 - phase;
  return loop.Now() + (remaining > 0 ? remaining : 1);
}

bool WaitSeconds(EventLoop& loop, const std::function<bool()>& done, std::int64_t start, std::int64_t seconds) {
  // The loop's wait ends at the tick's monotonic time; the count is read again after it, and
  // the deadline recomputed when the wake-up came a hair before the tick (two clocks read
  // apart). Between events only done() is asked, which reads no clock.
  while (!done() && !SecondsPassed(loop, start, seconds)) loop.WaitUntil(done, WallSecondsDeadline(loop, start, seconds));
  return done();
}

}  // namespace plc
