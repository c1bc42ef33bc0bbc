#include "modbus/Pdu.h"

namespace plc::modbus {

Bytes Adu::ToBytes(std::size_t room) const {
  Bytes out;
  out.reserve(2 + data.size() + room);
  out.push_back(unit);
  out.push_back(function);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::optional<Adu> Adu::FromBytes(ByteView bytes) {
  if (bytes.size() < 2) return std::nullopt;
  return Adu{bytes[0], bytes[1], Bytes(bytes.begin() + 2, bytes.end())};
}

const char* FrameErrorText(FrameError error) {
  switch (error) {
    case FrameError::None: return "no error";
    case FrameError::TooShort: return "frame too short";
    case FrameError::Checksum: return "checksum mismatch";
    case FrameError::NoColon: return "no colon at frame start";
    case FrameError::NoLineEnd: return "no CR LF at frame end";
    case FrameError::OddLength: return "odd number of hexadecimal characters";
    case FrameError::BadHex: return "character is not an upper-case hexadecimal digit";
  }
  return "unknown frame error";
}

}  // namespace plc::modbus
