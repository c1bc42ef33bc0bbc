#pragma once
// Small helpers of the framing tests: frames written as hex text or as ASCII text.
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "modbus/Pdu.h"

namespace plc::modbus::testing {

// "01 03 00 0A" -> bytes.
inline Bytes Hex(std::string_view text) {
  Bytes out;
  std::istringstream in{std::string(text)};
  std::string piece;
  while (in >> piece) out.push_back(static_cast<std::uint8_t>(std::stoul(piece, nullptr, 16)));
  return out;
}

inline Bytes Chars(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline std::string ToText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace plc::modbus::testing
