#include "modbus/AsciiFrame.h"

namespace plc::modbus {
namespace {

constexpr char Digits[] = "0123456789ABCDEF";
constexpr std::uint8_t Cr = 13;
constexpr std::uint8_t Lf = 10;

std::optional<std::uint8_t> Nibble(std::uint8_t c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  return std::nullopt;
}

void AppendHexByte(std::string& out, std::uint8_t b) {
  out.push_back(Digits[b >> 4]);
  out.push_back(Digits[b & 0x0F]);
}

ByteView AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::int32_t HexValue(std::string_view text) {
  std::uint32_t sum = 0;
  std::uint32_t weight = 1;
  for (std::size_t k = text.size(); k-- > 0;) {
    auto code = static_cast<std::uint32_t>(static_cast<unsigned char>(text[k]));
    std::uint32_t digit = code > 64 ? code - 55 : code - 48;  // wraps for codes below '0'
    sum += digit * weight;
    weight *= 16;
  }
  return static_cast<std::int32_t>(sum);
}

std::string HexField(std::int64_t value, int width) {
  if (width < 1) width = 1;
  if (width > 16) width = 16;
  auto u = static_cast<std::uint64_t>(value);
  std::string out(static_cast<std::size_t>(width), '0');
  for (int k = width - 1; k >= 0; --k) {
    out[static_cast<std::size_t>(k)] = Digits[u & 0x0F];
    u >>= 4;
  }
  return out;
}

std::string MakeLRC(std::string_view msg) {
  std::uint32_t sum = 0;
  for (std::size_t i = 1; i < msg.size(); i += 2) {
    sum += static_cast<std::uint32_t>(HexValue(msg.substr(i, 2)));
  }
  return HexField(static_cast<std::int64_t>((0u - sum) & 0xFF), 2);
}

std::uint8_t ComputeLrc(ByteView bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>((0u - sum) & 0xFF);
}

std::optional<std::uint8_t> HexByte(std::uint8_t high, std::uint8_t low) {
  auto h = Nibble(high);
  auto l = Nibble(low);
  if (!h || !l) return std::nullopt;
  return static_cast<std::uint8_t>((*h << 4) | *l);
}

std::string AsciiFrameText(const Adu& adu) {
  std::string text = ":";
  AppendHexByte(text, adu.unit);
  AppendHexByte(text, adu.function);
  for (std::uint8_t b : adu.data) AppendHexByte(text, b);
  text += MakeLRC(text);
  text += "\r\n";
  return text;
}

Bytes BuildAsciiFrame(const Adu& adu) {
  std::string text = AsciiFrameText(adu);
  return Bytes(text.begin(), text.end());
}

ParsedFrame ParseAsciiFrame(ByteView frame) {
  ParsedFrame out;
  if (frame.size() < AsciiMinFrame) {
    out.error = FrameError::TooShort;
    return out;
  }
  if (frame[0] != ':') {
    out.error = FrameError::NoColon;
    return out;
  }
  std::size_t end = frame.size() - 2;
  if (frame[end] != Cr || frame[end + 1] != Lf) {
    out.error = FrameError::NoLineEnd;
    return out;
  }
  std::size_t digits = end - 1;
  if (digits % 2 != 0) {
    out.error = FrameError::OddLength;
    return out;
  }
  Bytes bytes;
  bytes.reserve(digits / 2);
  for (std::size_t i = 1; i < end; i += 2) {  // digits is even: i + 1 < end
    auto b = HexByte(frame[i], frame[i + 1]);
    if (!b) {
      out.error = FrameError::BadHex;
      return out;
    }
    bytes.push_back(*b);
  }
  std::uint8_t received = bytes.back();
  bytes.pop_back();
  if (ComputeLrc(bytes) != received) {
    out.error = FrameError::Checksum;
    return out;
  }
  out.adu = *Adu::FromBytes(bytes);
  return out;
}

ParsedFrame ParseAsciiFrame(std::string_view frame) { return ParseAsciiFrame(AsBytes(frame)); }

std::size_t SkipToColon(ByteView received) {
  for (std::size_t i = 0; i < received.size(); ++i) {
    if (received[i] == ':') return i;
  }
  return received.size();
}

Bytes AsciiKnownBytes(ByteView received) {
  Bytes bytes;
  if (received.empty() || received[0] != ':') return bytes;
  for (std::size_t i = 1; i + 1 < received.size(); i += 2) {
    auto b = HexByte(received[i], received[i + 1]);
    if (!b) break;
    bytes.push_back(*b);
  }
  return bytes;
}

std::optional<std::size_t> AsciiLineEnd(ByteView received) {
  for (std::size_t i = 0; i + 1 < received.size(); ++i) {
    if (received[i] == Cr && received[i + 1] == Lf) return i + 2;
  }
  return std::nullopt;
}

}  // namespace plc::modbus
