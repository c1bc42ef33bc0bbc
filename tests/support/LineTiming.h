#pragma once
// Calls on a real line, measured in real time: how long one took, how long to wait for the
// completions of calls that do not wait, and what a call failed by a silent station shows.
#include <gtest/gtest.h>

#include <chrono>

#include "base/ResultCodes.h"
#include "platform/EventLoop.h"

namespace plc::test {

inline double SecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Until `count` reaches `wanted`, for at most 3 s; false when it did not.
inline bool AwaitCount(const int& count, int wanted) {
  EventLoop& loop = EventLoop::Current();
  return loop.WaitUntil([&] { return count >= wanted; }, loop.Now() + 3'000'000);
}

// False within 1 to 2 s (a little slack for a loaded machine), and the line free again after
// the watchdog.
template <class Link>
void ExpectTimedFailure(Link& link, Result result, std::chrono::steady_clock::time_point t0) {
  const double took = SecondsSince(t0);
  EXPECT_EQ(result, ResultFailed);
  EXPECT_GE(took, 0.9);
  EXPECT_LE(took, 2.5);
  EventLoop& loop = EventLoop::Current();
  EXPECT_TRUE(loop.WaitUntil([&] { return !link.CommBusy().ToBool(); }, loop.Now() + 4'500'000));
}

}  // namespace plc::test
