#include "platform/Clock.h"

#include <chrono>
#include <ctime>
#include <limits>

namespace plc {

SystemClock::SystemClock() {
  using namespace std::chrono;
  const std::int64_t wall = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  SetCountOffset(wall - MonotonicMicros());
}

std::int64_t SystemClock::MonotonicMicros() const {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

std::int64_t SystemClock::WallSeconds() const {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

double SystemClock::SecondsSinceMidnight() const {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  // localtime_r takes a lock and walks the zone's rules, about as much work as the rest of a
  // serial read, and the DF1 link reads this clock for every chunk of a reply. Its result
  // depends on the whole second alone (a zone's offset changes at a whole second too), so it
  // is converted once per second and thread.
  struct LocalSecond {
    std::time_t utc;
    int secondOfDay;
  };
  thread_local LocalSecond last{std::numeric_limits<std::time_t>::min(), 0};
  if (t != last.utc) {
    std::tm local{};
    localtime_r(&t, &local);
    last = {t, local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec};
  }
  double frac = static_cast<double>(duration_cast<microseconds>(now.time_since_epoch()).count() % 1'000'000) / 1e6;
  return last.secondOfDay + frac;
}

ManualClock::ManualClock(std::int64_t wallStartMicros) : wallStart_(wallStartMicros) { SetCountOffset(wallStartMicros); }

std::int64_t ManualClock::WallSeconds() const { return (wallStart_ + now_) / 1'000'000; }

double ManualClock::SecondsSinceMidnight() const {
  std::int64_t micros = (wallStart_ + now_) % (86'400LL * 1'000'000);
  return static_cast<double>(micros) / 1e6;
}

void ManualClock::AdvanceTo(std::int64_t monotonicMicros) {
  if (monotonicMicros > now_) now_ = monotonicMicros;
}

SystemClock& TheSystemClock() {
  static SystemClock clock;  // its count's offset is fixed when it is made
  return clock;
}

}  // namespace plc
