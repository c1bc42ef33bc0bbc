#include "base/Crc16A001.h"

#include <array>
#include <cstddef>

namespace plc {
namespace {

// The reflected polynomial A001 as tables built at compile time. kByte[n] advances the CRC by
// one byte; kPair[n] = the effect of a low byte n followed by a zero byte, so that two bytes
// take two lookups and one step (the CRC is linear over XOR).
constexpr std::array<std::uint16_t, 256> MakeByteTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned n = 0; n < 256; ++n) {
    unsigned crc = n;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    table[n] = static_cast<std::uint16_t>(crc);
  }
  return table;
}
constexpr std::array<std::uint16_t, 256> kByte = MakeByteTable();

constexpr std::array<std::uint16_t, 256> MakePairTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned n = 0; n < 256; ++n) table[n] = static_cast<std::uint16_t>((kByte[n] >> 8) ^ kByte[kByte[n] & 0xFF]);
  return table;
}
constexpr std::array<std::uint16_t, 256> kPair = MakePairTable();

}  // namespace

std::uint16_t Crc16A001(std::span<const std::uint8_t> bytes, std::uint16_t start) {
  unsigned crc = start;
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    crc ^= unsigned{bytes[i]} | (unsigned{bytes[i + 1]} << 8);
    crc = kPair[crc & 0xFF] ^ kByte[crc >> 8];
  }
  if (i < bytes.size()) crc = (crc >> 8) ^ kByte[(crc ^ bytes[i]) & 0xFF];
  return static_cast<std::uint16_t>(crc);
}

}  // namespace plc
