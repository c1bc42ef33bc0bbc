#include "modbus/Replies.h"

#include <bit>
#include <cmath>

namespace plc::modbus {

ByteView ReplyData(const Adu& reply) {
  if (reply.data.empty()) return {};
  std::size_t available = reply.data.size() - 1;
  std::size_t named = reply.data[0];
  return ByteView(reply.data).subspan(1, named < available ? named : available);
}

std::vector<std::uint16_t> DecodeRegisters(const Adu& reply) {
  ByteView data = ReplyData(reply);
  std::vector<std::uint16_t> out(data.size() / 2);
  for (std::size_t k = 0; k < out.size(); ++k) {
    out[k] = static_cast<std::uint16_t>((data[2 * k] << 8) | data[2 * k + 1]);
  }
  return out;
}

std::vector<std::int32_t> DecodeLongs(const Adu& reply) {
  ByteView data = ReplyData(reply);
  std::vector<std::int32_t> out;
  out.reserve(data.size() / 4);
  for (std::size_t i = 0; i + 3 < data.size(); i += 4) {
    std::uint32_t u = (std::uint32_t{data[i]} << 24) | (std::uint32_t{data[i + 1]} << 16) |
                      (std::uint32_t{data[i + 2]} << 8) | std::uint32_t{data[i + 3]};
    out.push_back(static_cast<std::int32_t>(u));
  }
  return out;
}

std::vector<RegisterPair> DecodeRegisterPairs(const Adu& reply) {
  std::vector<RegisterPair> out;
  for (std::int32_t v : DecodeLongs(reply)) {
    auto u = static_cast<std::uint32_t>(v);
    out.push_back({static_cast<std::uint16_t>(u >> 16), static_cast<std::uint16_t>(u & 0xFFFF)});
  }
  return out;
}

std::optional<float> FloatFromWords(std::uint16_t high, std::uint16_t low) {
  if (high == 0 && low == 0) return 0.0f;
  unsigned exponent = (high >> 7) & 0xFF;
  if (exponent == 0xFF) return std::nullopt;
  std::uint32_t bits = (std::uint32_t{high} << 16) | low;
  if (exponent != 0) return std::bit_cast<float>(bits);
  // Exponent field 0 still carries the leading one: 1.m times 2^-127.
  std::uint32_t mantissa = (bits & 0x7FFFFF) | 0x800000;
  auto magnitude = static_cast<float>(std::ldexp(static_cast<double>(mantissa), -150));
  return (high & 0x8000) ? -magnitude : magnitude;
}

std::vector<std::uint8_t> DecodeBits(const Adu& reply) {
  ByteView data = ReplyData(reply);
  std::vector<std::uint8_t> out(data.size() * 8);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = TestBit(data[i / 8], static_cast<int>(i % 8));
  return out;
}

}  // namespace plc::modbus
