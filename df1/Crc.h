#pragma once
// The DF1 CRC-16: reflected polynomial 0xA001, initial value 0, no final inversion
// ("123456789" gives 0xBB3D).
#include <cstddef>
#include <cstdint>
#include <span>

namespace plc::df1 {

// Folds one byte into a running CRC.
std::uint16_t Df1CrcByte(std::uint8_t byte, std::uint16_t crc);

struct CrcBytes {
  std::uint16_t crc;
  std::uint8_t low;
  std::uint8_t high;
};

// CRC of the bytes, from 0.
CrcBytes Df1Crc16(std::span<const std::uint8_t> bytes);

}  // namespace plc::df1
