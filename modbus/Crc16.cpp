#include "modbus/Crc16.h"

#include <array>

namespace plc::modbus {
namespace {

// Nibble tables of the reflected polynomial A001: one lookup for the low nibble of
// (byte xor crc), one for the high nibble of the byte against the crc's second nibble.
constexpr std::array<std::uint16_t, 16> CrcTableLow = {
    0x0000, 0xC0C1, 0xC181, 0x0140, 0xC301, 0x03C0, 0x0280, 0xC241,
    0xC601, 0x06C0, 0x0780, 0xC741, 0x0500, 0xC5C1, 0xC481, 0x0440};
constexpr std::array<std::uint16_t, 16> CrcTableHigh = {
    0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00, 0x2800, 0xE401,
    0xA001, 0x6C00, 0x7800, 0xB401, 0x5000, 0x9C01, 0x8801, 0x4400};

}  // namespace

std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : bytes) {
    unsigned i = (b ^ crc) & 0x0F;
    unsigned j = ((crc >> 4) & 0x0F) ^ (b >> 4);
    crc = static_cast<std::uint16_t>(CrcTableLow[i] ^ CrcTableHigh[j] ^ (crc >> 8));
  }
  return crc;
}

CrcBytes ComputeCrc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = Crc16(bytes);
  return {static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)};
}

}  // namespace plc::modbus
