// Preloaded (LD_PRELOAD) into a program under test: the wall clock (CLOCK_REALTIME) reads as
// set forward or back by the microseconds written in the file PLC_WALL_STEP_FILE names, as a
// person or an NTP step sets it; the monotonic clock runs on untouched. The file is read again
// at most every 10 ms, so a test steps the clock of a running program by rewriting it.
#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

namespace {

using ClockGettime = int (*)(clockid_t, timespec*);

ClockGettime RealClockGettime() {
  static const auto real = reinterpret_cast<ClockGettime>(::dlsym(RTLD_NEXT, "clock_gettime"));
  return real;
}

std::int64_t ReadOffset() {
  const char* path = std::getenv("PLC_WALL_STEP_FILE");
  if (path == nullptr) return 0;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32] = {};
  const ssize_t got = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  return got > 0 ? std::strtoll(text, nullptr, 10) : 0;
}

std::int64_t Offset() {
  static std::atomic<std::int64_t> offset{0};
  static std::atomic<std::int64_t> readAtUs{INT64_MIN / 2};
  timespec mono{};
  RealClockGettime()(CLOCK_MONOTONIC, &mono);
  const std::int64_t nowUs = mono.tv_sec * 1'000'000 + mono.tv_nsec / 1000;
  if (nowUs - readAtUs.load() >= 10'000) {
    offset = ReadOffset();
    readAtUs = nowUs;
  }
  return offset.load();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int clock_gettime(clockid_t id, timespec* ts) {
  const int rc = RealClockGettime()(id, ts);
  if (rc != 0 || (id != CLOCK_REALTIME && id != CLOCK_REALTIME_COARSE)) return rc;
  const std::int64_t step = Offset();
  const std::int64_t ns = ts->tv_nsec + step % 1'000'000 * 1000;
  ts->tv_sec += static_cast<time_t>(step / 1'000'000 + (ns >= 1'000'000'000 ? 1 : ns < 0 ? -1 : 0));
  ts->tv_nsec = static_cast<long>((ns % 1'000'000'000 + 1'000'000'000) % 1'000'000'000);
  return rc;
}
