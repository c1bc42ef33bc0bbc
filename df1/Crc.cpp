#include "df1/Crc.h"

#include <array>

namespace plc::df1 {

namespace {

// The table entry of one byte value, bit by bit.
constexpr std::uint16_t EntryFor(std::uint8_t value) {
  std::uint16_t crc = value;
  for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
  return crc;
}

// Two tables of 16: the entries of the bytes 0..15 and of the bytes 0x00, 0x10 .. 0xF0. The
// entry of a byte is the XOR of the entries of its two nibbles, as the CRC is linear.
constexpr auto kLow = [] {
  std::array<std::uint16_t, 16> t{};
  for (int i = 0; i < 16; ++i) t[i] = EntryFor(static_cast<std::uint8_t>(i));
  return t;
}();
constexpr auto kHigh = [] {
  std::array<std::uint16_t, 16> t{};
  for (int i = 0; i < 16; ++i) t[i] = EntryFor(static_cast<std::uint8_t>(i << 4));
  return t;
}();

static_assert(kLow[1] == 0xC0C1 && kLow[3] == 0x0140 && kHigh[1] == 0xCC01 && kHigh[3] == 0x1400);

}  // namespace

std::uint16_t Df1CrcByte(std::uint8_t byte, std::uint16_t crc) {
  const unsigned x = (byte ^ crc) & 0xFF;
  return static_cast<std::uint16_t>(kLow[x & 0x0F] ^ kHigh[(x >> 4) & 0x0F] ^ (crc >> 8));
}

CrcBytes Df1Crc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (std::uint8_t b : bytes) crc = Df1CrcByte(b, crc);
  return {crc, static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)};
}

}  // namespace plc::df1
