#pragma once
// Values out of a read reply. Each decoder reads only the data bytes the reply holds after its
// byte count, and no more of them than the byte count names, so it is safe on any message,
// checked or not; CheckReply tells whether the reply is the one asked for.
#include <cstdint>
#include <optional>
#include <vector>

#include "modbus/Pdu.h"

namespace plc::modbus {

// The data bytes of a read reply: after the byte count, at most byte count of them.
ByteView ReplyData(const Adu& reply);

// Each two data bytes as one register, high byte first (a lone last byte is dropped).
std::vector<std::uint16_t> DecodeRegisters(const Adu& reply);

// A register as a signed 16-bit value (65535 is -1).
constexpr std::int16_t SignedRegister(std::uint16_t value) { return static_cast<std::int16_t>(value); }

// Each four data bytes as a 32-bit integer, the first byte carrying bits 31..24.
std::vector<std::int32_t> DecodeLongs(const Adu& reply);

// Two registers of a 32-bit real: the first holds sign, exponent and the top 7 mantissa bits.
struct RegisterPair {
  std::uint16_t high = 0;
  std::uint16_t low = 0;
  bool operator==(const RegisterPair&) const = default;
};
// Each four data bytes as a register pair.
std::vector<RegisterPair> DecodeRegisterPairs(const Adu& reply);

// The real of a register pair, as these devices mean it: 0 for two zero words; the leading one
// implied for every exponent field, 0 included (so no subnormals); nothing for an exponent
// field of 255, which does not give a number. For every normal single this is its IEEE value.
std::optional<float> FloatFromWords(std::uint16_t high, std::uint16_t low);

// 1 if bit k (0 = least significant) of the byte is set, else 0.
constexpr std::uint8_t TestBit(std::uint8_t byte, int k) {
  return (k >= 0 && k < 8) ? static_cast<std::uint8_t>((byte >> k) & 1) : 0;
}

// 8 points per data byte, least significant bit first, each 1 or 0: the last byte may give
// more points than were asked; the caller takes the count it asked for.
std::vector<std::uint8_t> DecodeBits(const Adu& reply);

}  // namespace plc::modbus
