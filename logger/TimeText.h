#pragma once
// Times as the logs and payloads write them.
#include <cstdint>
#include <string>

namespace plc::logger {

// Microseconds since 1970-01-01 UTC now, from the system clock.
std::int64_t NowUs();
// "2026-05-01T12:00:00.123456Z".
std::string IsoTimeUtc(std::int64_t timeUs);

}  // namespace plc::logger
