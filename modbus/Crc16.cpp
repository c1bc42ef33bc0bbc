#include "modbus/Crc16.h"

#include "base/Crc16A001.h"

namespace plc::modbus {

std::uint16_t Crc16(std::span<const std::uint8_t> bytes) { return Crc16A001(bytes, 0xFFFF); }

CrcBytes ComputeCrc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = Crc16(bytes);
  return {static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)};
}

}  // namespace plc::modbus
