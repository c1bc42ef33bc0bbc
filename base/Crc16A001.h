#pragma once
// The CRC-16 of reflected polynomial A001 with no final exclusive-or, which Modbus (from FFFF)
// and DF1 (from 0) both use; they differ only in the starting value.
#include <cstdint>
#include <span>

namespace plc {

// The CRC of all of bytes, continuing from `start`.
std::uint16_t Crc16A001(std::span<const std::uint8_t> bytes, std::uint16_t start);

}  // namespace plc
