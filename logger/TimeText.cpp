#include "logger/TimeText.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace plc::logger {

std::int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string IsoTimeUtc(std::int64_t timeUs) {
  std::int64_t seconds = timeUs / 1'000'000;
  std::int64_t micros = timeUs % 1'000'000;
  if (micros < 0) {
    micros += 1'000'000;
    --seconds;
  }
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(micros));
  return text;
}

}  // namespace plc::logger
