#include "modbus/Crc16.h"

#include <array>

namespace plc::modbus {
namespace {

// One table entry per byte value of the reflected polynomial A001, built at compile time:
// one lookup per byte, the cheapest of the equivalent table forms.
constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned n = 0; n < 256; ++n) {
    unsigned crc = n;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    table[n] = static_cast<std::uint16_t>(crc);
  }
  return table;
}
constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : bytes) crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ b) & 0xFF]);
  return crc;
}

CrcBytes ComputeCrc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = Crc16(bytes);
  return {static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)};
}

}  // namespace plc::modbus
