#pragma once
// Waits measured the way the serial engines measure them: by the wall clock's whole-seconds
// count, so "2 seconds since a start reading" is reached between 1 and 2 seconds of real time,
// at the moment the count ticks over. The count runs on the monotonic clock (Clock's
// CountedSeconds), so a wall clock set back does not hold a read and its line for as long.
// A wait blocks in the event loop (events run inside it) and wakes at that tick or when an
// event has made it done; it never sleeps in slices.
#include <cstdint>
#include <functional>

#include "platform/EventLoop.h"

namespace plc {

// The wall clock's whole seconds, as counted on the monotonic clock.
inline std::int64_t WallNow(const EventLoop& loop) { return loop.GetClock().CountedSeconds(); }

// True once the seconds count has advanced by at least seconds since start.
inline bool SecondsPassed(const EventLoop& loop, std::int64_t start, std::int64_t seconds) {
  return WallNow(loop) - start >= seconds;
}

// Monotonic time at which the seconds count will read start + seconds (now when it already does).
std::int64_t WallSecondsDeadline(const EventLoop& loop, std::int64_t start, std::int64_t seconds);

// Lets events run until done() holds or the seconds count has advanced by seconds since start.
// Returns done().
bool WaitSeconds(EventLoop& loop, const std::function<bool()>& done, std::int64_t start, std::int64_t seconds);

// WaitSeconds counted from now. When done() already holds it returns at once without reading
// the clock: the usual case of a call that finds the line free.
inline bool WaitSecondsFromNow(EventLoop& loop, const std::function<bool()>& done, std::int64_t seconds) {
  return done() || WaitSeconds(loop, done, WallNow(loop), seconds);
}

}  // namespace plc
