// The timer queue both event loops keep: due timers run in handle order, each once; what a
// callback cancels does not run and what it adds waits for the next run.
#include "platform/TimerQueue.h"

#include <gtest/gtest.h>

#include <string>

namespace plc {
namespace {

TEST(TimerQueue, RunsTheDueTimersOnceInHandleOrderAndLeavesTheRest) {
  TimerQueue q;
  std::string ran;
  EXPECT_EQ(q.NextDue(), std::numeric_limits<std::int64_t>::max());
  q.Add(3, 300, [&] { ran += "c"; });
  q.Add(1, 100, [&] { ran += "a"; });
  q.Add(2, 500, [&] { ran += "b"; });
  EXPECT_EQ(q.NextDue(), 100);
  EXPECT_EQ(q.RunDue(99), 0u);
  EXPECT_EQ(q.RunDue(300), 2u);
  EXPECT_EQ(ran, "ac");
  EXPECT_EQ(q.NextDue(), 500);
  EXPECT_EQ(q.RunDue(300), 0u) << "each runs once";
  q.Cancel(2);
  EXPECT_TRUE(q.Empty());
  EXPECT_EQ(q.RunDue(1000), 0u);
}

TEST(TimerQueue, ACallbackCancelsALaterDueTimerOrAddsOneForTheNextRun) {
  TimerQueue q;
  std::string ran;
  int armed = 0;
  q.Add(1, 10, [&] {
    ran += "a";
    q.Cancel(2);                       // due too, but cancelled before its turn
    q.Add(4, 0, [&] { ran += "d"; });  // due already: the next run takes it
  });
  q.Add(2, 10, [&] { ran += "b"; });
  q.Add(3, 10, [&] { ran += "c"; });
  // beforeEach runs ahead of each callback that runs.
  EXPECT_EQ(q.RunDue(10, [&] { ++armed; }), 2u);
  EXPECT_EQ(ran, "ac");
  EXPECT_EQ(armed, 2);
  EXPECT_EQ(q.NextDue(), 0);
  EXPECT_EQ(q.RunDue(10), 1u);
  EXPECT_EQ(ran, "acd");
}

}  // namespace
}  // namespace plc
