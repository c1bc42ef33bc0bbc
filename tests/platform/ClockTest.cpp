#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

namespace plc {
namespace {

// The local time of day as localtime_r gives it for the moment now.
double LocalSecondsNow() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  auto micros = duration_cast<microseconds>(now.time_since_epoch()).count() % 1'000'000;
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + static_cast<double>(micros) / 1e6;
}

// Seconds from a to b on the clock of the day, midnight passed or not.
double DayDistance(double a, double b) {
  double d = std::fmod(b - a + 86'400.0, 86'400.0);
  return d > 43'200.0 ? d - 86'400.0 : d;
}

// Readings over more than one whole second, on two threads: each follows the local clock as
// it ticks over (a conversion kept from an earlier second would lag it by a second or more).
TEST(SystemClock, SecondsSinceMidnightFollowsTheLocalClockOnEveryThread) {
  auto readings = [] {
    const SystemClock& clock = TheSystemClock();
    for (int i = 0; i < 12; ++i) {
      double ours = clock.SecondsSinceMidnight();
      double theirs = LocalSecondsNow();
      // theirs is read after ours: the gap is the time between the two calls.
      EXPECT_GE(DayDistance(ours, theirs), 0.0);
      EXPECT_LT(DayDistance(ours, theirs), 0.25);
      std::this_thread::sleep_for(std::chrono::milliseconds(110));
    }
  };
  std::thread other(readings);
  readings();
  other.join();
}

}  // namespace
}  // namespace plc
