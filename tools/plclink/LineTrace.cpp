#include "tools/plclink/LineTrace.h"

#include <cstdio>
#include <ctime>
#include <iostream>

#include "tools/plclink/Output.h"

namespace plc::plclink {

std::string TraceLine(TraceDirection direction, const std::uint8_t* data, std::size_t size, std::int64_t wallMicros) {
  // The same time format as the events, so that a trace and an event line sort together.
  std::string line = IsoTime(wallMicros) + (direction == TraceDirection::Sent ? " TX" : " RX");
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
