#include "frame/WallSeconds.h"

#include <algorithm>

namespace plc {

std::int64_t WallSecondsDeadline(const EventLoop& loop, std::int64_t start, std::int64_t seconds) {
  return std::max(loop.Now(), loop.GetClock().MonotonicAtCount(start + seconds));
}

bool WaitSeconds(EventLoop& loop, const std::function<bool()>& done, std::int64_t start, std::int64_t seconds) {
  // The loop's wait ends at the tick's monotonic time; the count is read again after it.
  // Between events only done() is asked, which reads no clock.
  while (!done() && !SecondsPassed(loop, start, seconds)) loop.WaitUntil(done, WallSecondsDeadline(loop, start, seconds));
  return done();
}

}  // namespace plc
