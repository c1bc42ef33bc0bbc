#include "df1/Crc.h"

#include "base/Crc16A001.h"

namespace plc::df1 {

std::uint16_t Df1CrcByte(std::uint8_t byte, std::uint16_t crc) { return Crc16A001({&byte, 1}, crc); }

CrcBytes Df1Crc16(std::span<const std::uint8_t> bytes) {
  const std::uint16_t crc = Crc16A001(bytes, 0);
  return {crc, static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)};
}

}  // namespace plc::df1
