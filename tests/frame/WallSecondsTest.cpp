#include "frame/WallSeconds.h"

#include <gtest/gtest.h>

#include "platform/PollEventLoop.h"

namespace plc {
namespace {

// The wall clock starts 0.3 s into a second: a 2-second wait lasts until the count has ticked
// over twice, 1.7 s.
constexpr std::int64_t kWallStart = 1'700'000'000'300'000;

TEST(WaitSeconds, EndsWhenTheSecondsCountHasTickedOverOrAnEventMadeItDone) {
  ManualClock clock(kWallStart);
  PollEventLoop loop(clock);
  EXPECT_FALSE(WaitSeconds(loop, [] { return false; }, WallNow(loop), 2));
  EXPECT_EQ(clock.MonotonicMicros(), 1'700'000);

  bool flag = false;
  loop.AddTimer(clock.MonotonicMicros() + 500'000, [&] { flag = true; });
  EXPECT_TRUE(WaitSeconds(loop, [&] { return flag; }, WallNow(loop), 2));
  EXPECT_EQ(clock.MonotonicMicros(), 2'200'000);
}

TEST(WaitSeconds, FromNowReturnsAtOnceWhenDoneAlreadyHolds) {
  ManualClock clock(kWallStart);
  PollEventLoop loop(clock);
  bool ran = false;
  loop.Post([&] { ran = true; });
  EXPECT_TRUE(WaitSecondsFromNow(loop, [] { return true; }, 2));
  EXPECT_FALSE(ran);  // no event ran and no time passed
  EXPECT_EQ(clock.MonotonicMicros(), 0);

  EXPECT_TRUE(WaitSecondsFromNow(loop, [&] { return ran; }, 2));
  EXPECT_TRUE(ran);
  EXPECT_FALSE(WaitSecondsFromNow(loop, [] { return false; }, 1));
  EXPECT_EQ(clock.MonotonicMicros(), 700'000);
}

// A wall clock set back an hour (by hand, by NTP) while a wait runs neither stretches it to an
// hour and two seconds nor, set forward, cuts it short: the seconds it counts are those that
// pass.
TEST(WaitSeconds, AWallClockSetBackOrForwardLeavesTheWaitAsLong) {
  for (std::int64_t step : {-3'600'000'000LL, 3'600'000'000LL}) {
    ManualClock clock(kWallStart);
    PollEventLoop loop(clock);
    loop.AddTimer(500'000, [&] { clock.StepWall(step); });
    EXPECT_FALSE(WaitSeconds(loop, [] { return false; }, WallNow(loop), 2)) << step;
    EXPECT_EQ(clock.MonotonicMicros(), 1'700'000) << step;
  }
}

}  // namespace
}  // namespace plc
