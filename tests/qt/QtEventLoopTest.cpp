// The event loop on Qt: descriptors, timers and posted calls dispatched by Qt's loop, waits
// nested in it, and controls reading from their simulated PLCs, waiting and not, while a Qt
// timer on the same loop keeps firing: the window stays live during a wait.
#include "qt/QtEventLoop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTest>
#include <QTimer>
#include <chrono>

#include "base/ResultCodes.h"
#include "platform/IntervalTimer.h"
#include "platform/PseudoTerminalLink.h"
#include "tests/support/PlacedControl.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/Df1Simulator.h"
#include "tools/plcsim/DirectNetSimulator.h"

namespace plc::qt {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::int16_t kCommPort = 42;

TEST(QtEventLoop, RefusesAManualClockAndBecomesTheThreadsLoop) {
  ManualClock manual;
  EXPECT_THROW(QtEventLoop{manual}, std::logic_error);
  EventLoop* before = &EventLoop::Current();
  {
    QtEventLoop loop;
    EXPECT_EQ(&EventLoop::Current(), &loop);
  }
  EXPECT_EQ(&EventLoop::Current(), before);
}

TEST(QtEventLoop, TimersRunInOrderAndACancelledOneNever) {
  QtEventLoop loop;
  std::vector<int> ran;
  loop.AddTimer(loop.Now() + 30'000, [&] { ran.push_back(3); });
  loop.AddTimer(loop.Now() + 10'000, [&] { ran.push_back(1); });
  auto cancelled = loop.AddTimer(loop.Now() + 20'000, [&] { ran.push_back(2); });
  loop.CancelTimer(cancelled);
  loop.Post([&] { ran.push_back(0); });
  const auto start = Clock::now();
  EXPECT_TRUE(loop.WaitUntil([&] { return ran.size() == 3; }, loop.Now() + 2'000'000));
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 3}));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
}

TEST(QtEventLoop, AWaitEndsAtItsDeadlineNotBefore) {
  QtEventLoop loop;
  const std::int64_t start = loop.Now();
  EXPECT_FALSE(loop.WaitUntil([] { return false; }, start + 50'000));
  EXPECT_GE(loop.Now() - start, 50'000);
  EXPECT_LT(loop.Now() - start, 1'000'000);
}

TEST(QtEventLoop, AReadableDescriptorCallsBackWithPollsEventsAndMayUnwatchItself) {
  QtEventLoop loop;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  short seen = 0;
  int calls = 0;
  EventLoop::Handle h = 0;
  h = loop.WatchFd(fds[0], [&](short revents) {
    seen = revents;
    ++calls;
    char c;
    ASSERT_EQ(read(fds[0], &c, 1), 1);
    loop.UnwatchFd(h);
  });
  ASSERT_EQ(write(fds[1], "xy", 2), 2);
  EXPECT_TRUE(loop.WaitUntil([&] { return calls > 0; }, loop.Now() + 2'000'000));
  EXPECT_TRUE(seen & POLLIN);
  loop.RunFor(50'000);
  EXPECT_EQ(calls, 1) << "unwatched: the byte still there calls nothing";
  // A hang-up shows in revents as poll reports it.
  char c;
  ASSERT_EQ(read(fds[0], &c, 1), 1);
  short hangup = 0;
  auto h2 = loop.WatchFd(fds[0], [&](short revents) {
    hangup = revents;
  });
  close(fds[1]);
  EXPECT_TRUE(loop.WaitUntil([&] { return hangup != 0; }, loop.Now() + 2'000'000));
  EXPECT_TRUE(hangup & POLLHUP);
  loop.UnwatchFd(h2);
  close(fds[0]);
}

TEST(QtEventLoop, ATickThatWaitsLetsQtAndLaterTimersRunInside) {
  QtEventLoop loop;
  IntervalTimer timer(20, loop);
  int qtTicks = 0, inner = 0, tickDepth = -1, innerDepth = -1;
  QTimer qtTimer;
  QObject::connect(&qtTimer, &QTimer::timeout, [&] { ++qtTicks; });
  qtTimer.start(5);
  timer.OnTick = [&] {
    tickDepth = loop.WaitDepth();
    loop.AddTimer(loop.Now() + 10'000, [&] {
      innerDepth = loop.WaitDepth();
      ++inner;
    });
    const int before = qtTicks;
    loop.WaitUntil([&] { return inner > 0 && qtTicks > before + 2; }, loop.Now() + 2'000'000);
    timer.SetEnabled(false);
  };
  timer.SetEnabled(true);
  EXPECT_TRUE(loop.WaitUntil([&] { return !timer.Enabled(); }, loop.Now() + 3'000'000));
  EXPECT_EQ(inner, 1);
  EXPECT_GE(qtTicks, 3);
  // The tick ran inside the test's wait, the later timer inside the tick's own: one deeper.
  EXPECT_EQ(tickDepth, 1);
  EXPECT_EQ(innerDepth, 2);
  EXPECT_EQ(loop.WaitDepth(), 0);
}

// A control loaded as a host loads it, on the loop current when it is made, counting its
// completions.
struct Placed : test::PlacedControl {
  explicit Placed(const char* library) : PlacedControl(library) {
    control->SetEventSink([this](const std::string& name, std::vector<Variant>&) {
      if (name == "CommComplete") ++completions;
    });
  }
  int completions = 0;
};

// Counts a Qt timer's ticks and the most that came in during one call.
struct Heartbeat {
  Heartbeat() {
    QObject::connect(&timer, &QTimer::timeout, [this] { ++ticks; });
    timer.start(5);
  }
  template <class F>
  int During(F&& call) {
    const int before = ticks;
    call();
    return ticks - before;
  }
  QTimer timer;
  int ticks = 0;
};

TEST(ControlsOnQt, SeqLinkReadsWaitingAndNonWaitingWhileAQtTimerKeepsFiring) {
  QtEventLoop loop;
  PseudoTerminalLink line;
  // The station answers one byte every 3 ms: a read takes long enough to see the loop run.
  sim::DirectNetSimulator station({line.PathB(), {1}});
  station.SetWord(1, 0x0400, 1234);
  station.SetWord(1, 0x0401, 5678);
  station.SetFault(sim::StationFault::SlowBytes);
  test::ScopedCommPort port(kCommPort, line.PathA());
  Placed seq("seqlink");
  seq.control->SetProperty("CommPort", kCommPort);
  seq.control->SetProperty("Settings", "9600,n,8,1");
  seq.control->SetProperty("PortOpen", true);
  Heartbeat heart;

  Variant address("V,2000"), values, size(std::int16_t{2});
  std::int32_t result = 0;
  const auto start = Clock::now();
  const int ticks = heart.During([&] { result = seq.control->Invoke("ReadPLC", {&address, &values, &size}).ToInt32(); });
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  ASSERT_EQ(result, ResultOk) << seq.control->FailureCause();
  EXPECT_EQ(values.Array().Get(1).ToInt32(), 1234);
  EXPECT_EQ(values.Array().Get(2).ToInt32(), 5678);
  // The timer fired all through the wait: about one tick per 5 ms of it.
  EXPECT_GE(ticks, static_cast<int>(took.count() / 5 / 3)) << took.count() << " ms";
  EXPECT_GE(ticks, 5);

  Variant nwAddress("V,2001"), nwValues, nwSize(std::int16_t{1});
  const int completed = seq.completions;
  ASSERT_EQ(seq.control->Invoke("ReadPLCNW", {&nwAddress, &nwValues, &nwSize}).ToInt32(), ResultOk);
  const int before = heart.ticks;
  EXPECT_TRUE(QTest::qWaitFor([&] { return seq.completions > completed; }, 5000));
  EXPECT_GT(heart.ticks, before);
  Variant one(std::int16_t{1});
  EXPECT_EQ(seq.control->Invoke("ReadData", {&one}).ToInt32(), 5678);
}

TEST(ControlsOnQt, DfLinkWaitingReadLeavesTheLoopLiveAndItsNonWaitingReadCompletesOnIt) {
  QtEventLoop loop;
  PseudoTerminalLink line;
  sim::Df1Simulator plc(sim::Df1SimOptions{line.PathB(), false, 19200});
  plc.Plc().Table().SetWords(7, 0, {11, 22, 33});
  test::ScopedCommPort port(kCommPort, line.PathA());
  Placed df("DfLink");
  df.control->SetProperty("CommPort", kCommPort);
  df.control->SetProperty("Settings", "19200,n,8,1");
  df.control->SetProperty("Node", std::int32_t{0});
  df.control->SetProperty("PortOpen", true);
  Heartbeat heart;

  Variant address("N7:0"), values(VariantArray(1, 3, VarType::Double)), size(std::int16_t{3});
  std::int32_t result = 0;
  heart.During([&] { result = df.control->Invoke("ReadPLC", {&address, &values, &size}).ToInt32(); });
  ASSERT_EQ(result, ResultOk) << df.control->FailureCause();
  EXPECT_EQ(values.Array().Get(3).ToInt32(), 33);

  // A read the PLC never answers waits its 0.71 s inside Qt's loop, which keeps ticking.
  plc.Plc().SetFault(sim::Df1Fault::Silent);
  const int ticks = heart.During([&] { result = df.control->Invoke("ReadPLC", {&address, &values, &size}).ToInt32(); });
  EXPECT_EQ(result, 92);
  EXPECT_GE(ticks, 50) << "0.71 s at one tick per 5 ms";
  plc.Plc().SetFault(sim::Df1Fault::None);
  df.control->SetProperty("CommBusy", false);

  Variant nw("N7:1"), unused, one(std::int16_t{1});
  const int completed = df.completions;
  ASSERT_EQ(df.control->Invoke("ReadPLCNW", {&nw, &unused, &one}).ToInt32(), ResultFailed) << "0: sent";
  EXPECT_TRUE(QTest::qWaitFor([&] { return df.completions > completed; }, 5000));
}

}  // namespace
}  // namespace plc::qt
