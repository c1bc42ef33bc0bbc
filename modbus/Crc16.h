#pragma once
// The Modbus CRC-16: initial value FFFF, reflected polynomial A001, no final exclusive-or.
// On the line the low byte goes first.
#include <cstdint>
#include <span>

namespace plc::modbus {

struct CrcBytes {
  std::uint8_t low = 0;
  std::uint8_t high = 0;
  bool operator==(const CrcBytes&) const = default;
};

// The CRC value over all of bytes.
std::uint16_t Crc16(std::span<const std::uint8_t> bytes);

// The CRC over all of bytes, as the two bytes it is sent as.
CrcBytes ComputeCrc16(std::span<const std::uint8_t> bytes);

}  // namespace plc::modbus
