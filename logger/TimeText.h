#pragma once
// Times as the logs and payloads write them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plc::logger {

// Microseconds since 1970-01-01 UTC now, from the system clock.
std::int64_t NowUs();
// "2026-05-01T12:00:00.123456Z".
std::string IsoTimeUtc(std::int64_t timeUs);
// A time as a person gives it, in UTC: "2026-05-01", "2026-05-01T12:00", "2026-05-01 12:00:30",
// "2026-05-01T12:00:30.5Z" (years 1970..9999). Nothing for anything else.
std::optional<std::int64_t> ParseIsoTimeUtc(std::string_view text);

}  // namespace plc::logger
