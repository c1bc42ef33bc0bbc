#include "tools/plclink/LineTrace.h"

#include <cstdio>
#include <ctime>
#include <iostream>

namespace plc::plclink {

std::string TraceLine(TraceDirection direction, const std::uint8_t* data, std::size_t size, std::int64_t wallMicros) {
  std::time_t seconds = static_cast<std::time_t>(wallMicros / 1'000'000);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%06ld", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<long>(wallMicros % 1'000'000));
  std::string line = std::string(stamp) + (direction == TraceDirection::Sent ? " TX" : " RX");
  static const char kHex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < size; ++i) {
    line += ' ';
    line += kHex[data[i] >> 4];
    line += kHex[data[i] & 0x0F];
  }
  return line;
}

TraceHook StandardErrorTrace() {
  return [](TraceDirection direction, const std::uint8_t* data, std::size_t size, std::int64_t wallMicros) {
    std::cerr << TraceLine(direction, data, size, wallMicros) << std::endl;
  };
}

}  // namespace plc::plclink
