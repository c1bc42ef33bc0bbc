#include "df1/Frame.h"

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
  Bytes frame;
  frame.reserve(payload.size() * 2 + 6);
  frame.insert(frame.end(), DleStx.begin(), DleStx.end());
  for (std::uint8_t b : payload) {
    frame.push_back(b);
    if (b == DLE) frame.push_back(b);
  }
  frame.insert(frame.end(), DleEtx.begin(), DleEtx.end());
  if (IsBccMode(mode)) {
    frame.push_back(Bcc(payload));
  } else {
    // The CRC covers the payload and the ETX after it.
    const std::uint16_t crc = Df1CrcByte(ETX, Df1Crc16(payload).crc);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  }
  return frame;
}

}  // namespace plc::df1
