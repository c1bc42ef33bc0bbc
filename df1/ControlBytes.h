#pragma once
// The DF1 control bytes and the link sequences built from them. The sequences are constants:
// a transaction frames correctly whether or not mains has run.
#include <array>
#include <cstdint>

namespace plc::df1 {

inline constexpr std::uint8_t DLE = 0x10;
inline constexpr std::uint8_t STX = 0x02;
inline constexpr std::uint8_t ETX = 0x03;
inline constexpr std::uint8_t ENQ = 0x05;
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t NAK = 0x15;

using LinkSequence = std::array<std::uint8_t, 2>;
inline constexpr LinkSequence DleStx{DLE, STX};
inline constexpr LinkSequence DleEtx{DLE, ETX};
inline constexpr LinkSequence DleAck{DLE, ACK};

// Check modes: 1 selects BCC, every other value CRC.
inline bool IsBccMode(std::int32_t mode) { return mode == 1; }

}  // namespace plc::df1
