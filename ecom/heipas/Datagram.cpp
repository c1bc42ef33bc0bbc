#include "ecom/heipas/Datagram.h"

#include <algorithm>
#include <stdexcept>

namespace heipas {
namespace {

constexpr std::uint8_t kMagic0 = 0x45, kMagic1 = 0x43, kVersion = 1;
constexpr std::size_t kCcmFields = 6;

bool KnownKind(std::uint8_t k) {
  return k == 0x01 || k == 0x81 || k == 0x02 || k == 0x82;
}
bool KnownDataType(std::uint8_t t) { return t >= 0x31 && t <= 0x33; }

// The data bytes a CCM datagram must carry.
std::size_t CcmDataSize(const Datagram& d) {
  if (d.kind == Kind::Ccm) return d.write ? d.length : 0;
  return (d.status == StatusOk && !d.write) ? d.length : 0;
}

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

}  // namespace

std::uint16_t Fletcher16(std::span<const std::uint8_t> bytes) {
  // Sums reduced once per block: 359 bytes is the most that cannot overflow 32 bits.
  std::uint32_t sum1 = 0, sum2 = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t end = std::min(bytes.size(), at + 359);
    for (; at < end; ++at) {
      sum1 += bytes[at];
      sum2 += sum1;
    }
    sum1 %= 255;
    sum2 %= 255;
  }
  return static_cast<std::uint16_t>(sum1 | (sum2 << 8));
}

std::vector<std::uint8_t> Encode(const Datagram& d) {
  const bool ccm = d.kind == Kind::Ccm || d.kind == Kind::CcmReply;
  if (d.kind == Kind::QueryReply && d.name.size() > kMaxName) throw std::invalid_argument("module name over 32 bytes");
  if (ccm && (d.length > kMaxCcmLength || d.write > 1 || !KnownDataType(d.dataType)))
    throw std::invalid_argument("CCM fields out of range");
  if (ccm && d.data.size() != CcmDataSize(d)) throw std::invalid_argument("CCM data disagrees with its length");

  const std::size_t bodyLength = d.kind == Kind::QueryReply ? 2 + d.name.size() : ccm ? kCcmFields + d.data.size() : 0;
  // One allocation: the datagram is built in place, header, body, check.
  std::vector<std::uint8_t> out;
  out.reserve(kHeaderSize + bodyLength + kCheckSize);
  for (std::uint8_t b : {kMagic0, kMagic1, kVersion, static_cast<std::uint8_t>(d.kind)}) out.push_back(b);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(d.sequence >> shift));
  out.push_back(d.moduleId);
  out.push_back(d.status);
  Put16(out, static_cast<std::uint16_t>(bodyLength));
  if (d.kind == Kind::QueryReply) {
    out.push_back(d.deviceType);
    out.push_back(static_cast<std::uint8_t>(d.name.size()));
    out.insert(out.end(), d.name.begin(), d.name.end());
  } else if (ccm) {
    out.push_back(d.write);
    out.push_back(d.dataType);
    Put16(out, d.address);
    Put16(out, d.length);
    out.insert(out.end(), d.data.begin(), d.data.end());
  }
  Put16(out, Fletcher16(out));
  return out;
}

std::optional<Datagram> Parse(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kHeaderSize + kCheckSize || bytes.size() > kMaxDatagram) return std::nullopt;
  if (bytes[0] != kMagic0 || bytes[1] != kMagic1 || bytes[2] != kVersion || !KnownKind(bytes[3])) return std::nullopt;
  const std::size_t bodyLength = Get16(bytes, 10);
  if (bytes.size() != kHeaderSize + bodyLength + kCheckSize) return std::nullopt;
  const std::size_t checkAt = kHeaderSize + bodyLength;
  if (Get16(bytes, checkAt) != Fletcher16(bytes.first(checkAt))) return std::nullopt;

  Datagram d;
  d.kind = static_cast<Kind>(bytes[3]);
  d.sequence = static_cast<std::uint32_t>(bytes[4]) | (static_cast<std::uint32_t>(bytes[5]) << 8) |
               (static_cast<std::uint32_t>(bytes[6]) << 16) | (static_cast<std::uint32_t>(bytes[7]) << 24);
  d.moduleId = bytes[8];
  d.status = bytes[9];
  const auto body = bytes.subspan(kHeaderSize, bodyLength);
  switch (d.kind) {
    case Kind::Query:
      if (!body.empty() || d.status != 0) return std::nullopt;
      break;
    case Kind::QueryReply: {
      if (body.size() < 2) return std::nullopt;
      const std::size_t nameLength = body[1];
      if (nameLength > kMaxName || body.size() != 2 + nameLength) return std::nullopt;
      d.deviceType = body[0];
      d.name.assign(reinterpret_cast<const char*>(body.data() + 2), nameLength);
      break;
    }
    case Kind::Ccm:
    case Kind::CcmReply: {
      if (body.size() < kCcmFields) return std::nullopt;
      d.write = body[0];
      d.dataType = body[1];
      d.address = Get16(body, 2);
      d.length = Get16(body, 4);
      if (d.write > 1 || !KnownDataType(d.dataType) || d.length > kMaxCcmLength) return std::nullopt;
      if (d.kind == Kind::Ccm && d.status != 0) return std::nullopt;
      if (body.size() != kCcmFields + CcmDataSize(d)) return std::nullopt;
      d.data.assign(body.begin() + kCcmFields, body.end());
      break;
    }
  }
  return d;
}

}  // namespace heipas
