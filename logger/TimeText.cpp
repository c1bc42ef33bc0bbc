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

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Exactly `width` digits at text[at]; moves at past them.
std::optional<int> Digits(std::string_view text, std::size_t& at, std::size_t width) {
  if (at + width > text.size()) return std::nullopt;
  int n = 0;
  for (std::size_t k = 0; k < width; ++k) {
    const char c = text[at + k];
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  at += width;
  return n;
}

bool Take(std::string_view text, std::size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

}  // namespace

std::optional<std::int64_t> ParseIsoTimeUtc(std::string_view text) {
  std::size_t at = 0;
  const auto year = Digits(text, at, 4);
  if (!year || !Take(text, at, '-')) return std::nullopt;
  const auto month = Digits(text, at, 2);
  if (!month || !Take(text, at, '-')) return std::nullopt;
  const auto day = Digits(text, at, 2);
  if (!day || *year < 1970 || *month < 1 || *month > 12 || *day < 1) return std::nullopt;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (*day > kDays[*month - 1] + (*month == 2 && LeapYear(*year) ? 1 : 0)) return std::nullopt;
  int hour = 0, minute = 0, second = 0;
  std::int64_t micros = 0;
  if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
    ++at;
    const auto h = Digits(text, at, 2);
    if (!h || !Take(text, at, ':')) return std::nullopt;
    const auto m = Digits(text, at, 2);
    if (!m || *h > 23 || *m > 59) return std::nullopt;
    hour = *h;
    minute = *m;
    if (Take(text, at, ':')) {
      const auto s = Digits(text, at, 2);
      if (!s || *s > 59) return std::nullopt;
      second = *s;
      if (Take(text, at, '.')) {
        std::int64_t scale = 100'000;
        std::size_t digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
          if (++digits > 6) return std::nullopt;
          micros += (text[at] - '0') * scale;
          scale /= 10;
          ++at;
        }
        if (digits == 0) return std::nullopt;
      }
    }
    Take(text, at, 'Z');
  }
  if (at != text.size()) return std::nullopt;
  const std::int64_t days = DaysFromCivil(*year, static_cast<unsigned>(*month), static_cast<unsigned>(*day));
  return ((days * 24 + hour) * 60 + minute) * 60'000'000 + std::int64_t{second} * 1'000'000 + micros;
}

}  // namespace plc::logger
