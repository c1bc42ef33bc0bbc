#pragma once
// DF1 full-duplex framing as pure functions: a request payload becomes DLE STX, the payload
// with every 0x10 doubled, DLE ETX and the check (BCC, or CRC low then high, never doubled).
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace plc::df1 {

using Bytes = std::vector<std::uint8_t>;

// The payload is checked in a buffer of 100 bytes; in CRC mode ETX takes one place of it.
inline constexpr std::size_t kCheckBufferSize = 100;
std::size_t MaxPayload(std::int32_t mode);

// The two's complement of the byte sum: payload and BCC add up to 0 mod 256.
std::uint8_t Bcc(std::span<const std::uint8_t> bytes);

// The whole request frame for the check mode (1 BCC, else CRC); empty when the payload does
// not fit the check buffer, so that nothing is sent.
std::optional<Bytes> StuffAndCheck(std::span<const std::uint8_t> payload, std::int32_t mode);

}  // namespace plc::df1
