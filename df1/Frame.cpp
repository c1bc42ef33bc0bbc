#include "df1/Frame.h"

#include <algorithm>

#include "df1/ControlBytes.h"
#include "df1/Crc.h"

namespace plc::df1 {

std::size_t MaxPayload(std::int32_t mode) { return IsBccMode(mode) ? kCheckBufferSize : kCheckBufferSize - 1; }

std::uint8_t Bcc(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>((256 - (sum % 256)) % 256);
}

std::optional<Bytes> StuffAndCheck(std::span<const std::uint8_t> payload, std::int32_t mode) {
  if (payload.size() > MaxPayload(mode)) return std::nullopt;
  Bytes frame(DleStx.begin(), DleStx.end());
  frame.reserve(payload.size() * 2 + 6);
  for (std::uint8_t b : payload) {
    frame.push_back(b);
    if (b == DLE) frame.push_back(b);
  }
  frame.insert(frame.end(), DleEtx.begin(), DleEtx.end());
  if (IsBccMode(mode)) {
    frame.push_back(Bcc(payload));
  } else {
    Bytes checked(payload.begin(), payload.end());
    checked.push_back(ETX);
    CrcBytes crc = Df1Crc16(checked);
    frame.push_back(crc.low);
    frame.push_back(crc.high);
  }
  return frame;
}

std::uint8_t ReplyBcc(std::span<const std::uint8_t> reply, std::size_t count) {
  std::size_t n = count >= 2 ? std::min(count - 2, reply.size()) : 0;
  return Bcc(reply.first(n));
}

std::uint16_t ReplyCrc(std::span<const std::uint8_t> reply, std::size_t count) {
  std::size_t n = count >= 1 ? std::min(count - 1, reply.size()) : 0;
  return Df1Crc16(reply.first(n)).crc;
}

}  // namespace plc::df1
