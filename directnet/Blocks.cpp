#include "directnet/Blocks.h"

#include <algorithm>

namespace plc::dnet {

namespace {

bool FitsAddress(std::int32_t address) { return address >= 0 && address <= 0xFFFF; }

void PutAddress(Bytes& block, std::int32_t address) {
  block.push_back(static_cast<std::uint8_t>(address / 256));
  block.push_back(static_cast<std::uint8_t>(address % 256));
}

// A header block's first bytes, with room for the rest: its address, count, data bytes, ETB
// and LRC go in without moving it.
Bytes OpenHeader(std::uint8_t command, std::size_t dataBytes) {
  Bytes block;
  block.reserve(3 + 2 + 1 + dataBytes + 2);
  block.push_back(SOH);
  block.push_back(command);
  block.push_back(TypeByte);
  return block;
}

// ETB and the LRC of everything after SOH.
void Close(Bytes& block) {
  block.push_back(ETB);
  block.push_back(XorOf(std::span(block).subspan(1, block.size() - 2)));
}

}  // namespace

std::optional<std::uint8_t> StationByte(std::int32_t station) {
  if (station < 0 || station > kMaxStation) return std::nullopt;
  return static_cast<std::uint8_t>(station + 0x20);
}

std::uint8_t XorOf(std::span<const std::uint8_t> data) {
  std::uint8_t lrc = 0;
  for (std::uint8_t b : data) lrc ^= b;
  return lrc;
}

std::string LRCchk(const std::string& HEADER) {
  std::uint8_t lrc = 0;
  if (HEADER.size() > 2) {
    for (std::size_t i = 1; i + 1 < HEADER.size(); ++i) lrc ^= static_cast<std::uint8_t>(HEADER[i]);
  }
  return std::string(1, static_cast<char>(lrc));
}

std::optional<Bytes> Enquiry(std::int32_t station) {
  auto s = StationByte(station);
  if (!s) return std::nullopt;
  return Bytes{EnquiryLead, *s, ENQ};
}

std::optional<Bytes> ReadHeader(std::int32_t address, std::int32_t count) {
  if (!FitsAddress(address) || count < 1 || count > kMaxWords) return std::nullopt;
  Bytes block = OpenHeader(ReadCommand, 0);
  PutAddress(block, address);
  block.push_back(static_cast<std::uint8_t>(count));
  Close(block);
  return block;
}

std::optional<Bytes> PackWriteWords(std::span<const std::int32_t> values) {
  Bytes data;
  data.reserve(values.size() * 2);
  for (std::int32_t v : values) {
    if (v < 0 || v > 0xFFFF) return std::nullopt;
    const std::int32_t high = v / 256;
    data.push_back(static_cast<std::uint8_t>(v - 256 * high));
    data.push_back(static_cast<std::uint8_t>(high));
  }
  return data;
}

std::optional<Bytes> WordWriteHeader(std::int32_t address, const Bytes& data) {
  const std::size_t count = data.size() / 2;
  if (!FitsAddress(address) || data.size() % 2 != 0 || count < 1 || count > kMaxWords) return std::nullopt;
  Bytes block = OpenHeader(WriteCommand, data.size());
  PutAddress(block, address);
  block.push_back(static_cast<std::uint8_t>(count));
  block.insert(block.end(), data.begin(), data.end());
  Close(block);
  return block;
}

std::optional<Bytes> SetResetHeader(std::int32_t address, bool set) {
  if (!FitsAddress(address)) return std::nullopt;
  Bytes block = OpenHeader(set ? SetCommand : ResetCommand, 0);
  PutAddress(block, address);
  Close(block);
  return block;
}

std::uint8_t ReplyLRC(std::span<const std::uint8_t> bytes, std::size_t count) {
  if (count < 5 || bytes.size() < count) return 0;
  return XorOf(bytes.subspan(2, count - 4));
}

bool CheckEnquiryReply(std::span<const std::uint8_t> reply, std::uint8_t stationByte) {
  return reply.size() >= kEnquiryReplyLength && reply[1] == stationByte && reply[2] == ACK;
}

ReadReplyCheck CheckReadReply(std::span<const std::uint8_t> reply, std::size_t byteCount) {
  ReadReplyCheck check;
  const std::size_t count = ReadReplyLength(byteCount);
  check.acknowledged = !reply.empty() && reply[0] == ACK;
  check.lrcMatches = reply.size() >= count && ReplyLRC(reply, count) == reply[count - 1];
  return check;
}

bool CheckWriteReply(std::span<const std::uint8_t> reply) {
  return reply.size() >= kWriteReplyLength && reply[0] == ACK &&
         ReplyLRC(reply, kWriteReplyLength) == reply[kWriteReplyLength - 1];
}

bool CheckEotReply(std::span<const std::uint8_t> reply) { return !reply.empty() && reply[0] == EOT; }

std::size_t UnpackReadWords(std::span<const std::uint8_t> reply, std::size_t byteCount,
                            std::span<std::int32_t> words) {
  constexpr std::size_t kFirstData = 7;
  const std::size_t available = reply.size() > kFirstData ? (reply.size() - kFirstData) / 2 : 0;
  const std::size_t n = std::min({byteCount / 2, available, words.size()});
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t at = kFirstData + 2 * k;
    words[k] = reply[at] + 256 * reply[at + 1];
  }
  return n;
}

}  // namespace plc::dnet
