#include "platform/PollEventLoop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "platform/IntervalTimer.h"

namespace plc {
namespace {

TEST(EventLoop, ManualClockWaitJumpsToDeadlineWithoutBlocking) {
  ManualClock clock;
  PollEventLoop loop(clock);
  bool done = loop.WaitUntil([] { return false; }, 2'000'000);
  EXPECT_FALSE(done);
  EXPECT_EQ(clock.MonotonicMicros(), 2'000'000);
}

TEST(EventLoop, WaitEndsWhenAnEventMakesItDone) {
  ManualClock clock;
  PollEventLoop loop(clock);
  bool flag = false;
  loop.AddTimer(300'000, [&] { flag = true; });
  EXPECT_TRUE(loop.WaitUntil([&] { return flag; }, 2'000'000));
  EXPECT_EQ(clock.MonotonicMicros(), 300'000);
}

TEST(EventLoop, CallbacksMayReenterTheLoop) {
  ManualClock clock;
  PollEventLoop loop(clock);
  int inner = 0;
  loop.Post([&] {
    loop.AddTimer(loop.Now() + 1000, [&] { ++inner; });
    loop.WaitUntil([&] { return inner > 0; }, loop.Now() + 5000);
  });
  loop.DoEvents();
  EXPECT_EQ(inner, 1);
}

TEST(EventLoop, ReadableDescriptorWakesARealWait) {
  PollEventLoop loop(TheSystemClock());
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  char got = 0;
  auto h = loop.WatchFd(fds[0], [&](short) { ASSERT_EQ(read(fds[0], &got, 1), 1); });
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_TRUE(loop.WaitUntil([&] { return got == 'x'; }, loop.Now() + 5'000'000));
  loop.UnwatchFd(h);
  close(fds[0]);
  close(fds[1]);
}

TEST(IntervalTimer, TicksEveryIntervalOnlyWhileEnabled) {
  ManualClock clock;
  PollEventLoop loop(clock);
  IntervalTimer timer(500, loop);
  int ticks = 0;
  timer.OnTick = [&] { ++ticks; };
  loop.RunFor(2'000'000);
  EXPECT_EQ(ticks, 0);
  timer.SetEnabled(true);
  loop.RunFor(2'000'000);
  EXPECT_EQ(ticks, 4);
  timer.SetInterval(0);
  loop.RunFor(2'000'000);
  EXPECT_EQ(ticks, 4);
}

TEST(IntervalTimer, ALongTickIsNotReentered) {
  ManualClock clock;
  PollEventLoop loop(clock);
  IntervalTimer timer(100, loop);
  int depth = 0, maxDepth = 0, ticks = 0;
  timer.OnTick = [&] {
    ++ticks;
    maxDepth = std::max(maxDepth, ++depth);
    loop.RunFor(350'000);  // a waiting call inside the tick
    --depth;
  };
  timer.SetEnabled(true);
  loop.RunFor(1'000'000);
  EXPECT_EQ(maxDepth, 1);
  EXPECT_GE(ticks, 2);
}

TEST(IntervalTimer, AnOwnerGoneInsideTheTickLeavesNoTickBehind) {
  // A host that unloads the control from an event raised inside the control's own tick: the
  // timer goes away while its tick runs, and nothing of it may run or be armed afterwards.
  ManualClock clock;
  PollEventLoop loop(clock);
  auto timer = std::make_unique<IntervalTimer>(100, loop);
  int ticks = 0;
  timer->OnTick = [&] {
    ++ticks;
    timer.reset();
  };
  timer->SetEnabled(true);
  loop.RunFor(1'000'000);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(timer, nullptr);
}

}  // namespace
}  // namespace plc
