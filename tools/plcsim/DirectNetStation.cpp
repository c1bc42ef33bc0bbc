#include "tools/plcsim/DirectNetStation.h"

namespace plc::sim {

namespace {

constexpr std::uint8_t kSoh = 0x01, kStx = 0x02, kEtx = 0x03, kEot = 0x04, kEnq = 0x05, kAck = 0x06;
constexpr std::uint8_t kEtb = 0x17, kNak = 0x15;
constexpr std::uint32_t kImageWords = 0x10000;

std::uint8_t Xor(const StationBytes& b, std::size_t from, std::size_t to) {  // [from, to)
  std::uint8_t x = 0;
  for (std::size_t i = from; i < to; ++i) x ^= b[i];
  return x;
}

}  // namespace

DirectNetStation::DirectNetStation(std::vector<int> stations) {
  for (int s : stations) images_[s].assign(kImageWords, 0);
}

std::uint16_t DirectNetStation::Word(int station, std::uint32_t address) const {
  auto it = images_.find(station);
  return it == images_.end() ? 0 : it->second[address % kImageWords];
}

void DirectNetStation::SetWord(int station, std::uint32_t address, std::uint16_t value) {
  auto it = images_.find(station);
  if (it != images_.end()) it->second[address % kImageWords] = value;
}

std::vector<StationBytes> DirectNetStation::Feed(std::span<const std::uint8_t> bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  std::vector<StationBytes> out;
  while (!buffer_.empty() && Step(out)) {
  }
  return out;
}

bool DirectNetStation::Step(std::vector<StationBytes>& out) {
  switch (phase_) {
    case Phase::Enquiry:
      return TakeEnquiry(out);
    case Phase::Header:
      if (buffer_.front() == 'K') {  // the master gave up and starts again
        phase_ = Phase::Enquiry;
        return true;
      }
      return TakeHeader(out);
    case Phase::AwaitAck: {
      const std::uint8_t b = buffer_.front();
      if (b == 'K') {
        phase_ = Phase::Enquiry;
        return true;
      }
      Drop(1);
      if (b != kAck) {
        phase_ = Phase::Enquiry;
        return true;
      }
      phase_ = Phase::AwaitEot;
      if (fault != StationFault::NoEot) out.push_back({kEot});
      return true;
    }
    case Phase::AwaitEot: {
      const std::uint8_t b = buffer_.front();
      if (b != 'K') Drop(1);
      if (b == kEot) ++completed_;
      phase_ = Phase::Enquiry;
      return true;
    }
  }
  return false;
}

bool DirectNetStation::TakeEnquiry(std::vector<StationBytes>& out) {
  if (buffer_.front() != 'K') {
    Drop(1);
    return true;
  }
  if (buffer_.size() < 3) return false;
  const int station = buffer_[1] - 0x20;
  const bool enquiry = buffer_[2] == kEnq && Serves(station);
  if (!enquiry) {
    Drop(1);
    return true;
  }
  Drop(3);
  ++enquiries_;
  if (fault == StationFault::NoAnswer) return true;
  current_ = station;
  out.push_back({'N', static_cast<std::uint8_t>(station + 0x20), fault == StationFault::Nak ? kNak : kAck});
  if (fault != StationFault::Nak) phase_ = Phase::Header;
  return true;
}

bool DirectNetStation::TakeHeader(std::vector<StationBytes>& out) {
  if (buffer_.front() != kSoh) {
    Drop(1);
    return true;
  }
  if (buffer_.size() < 2) return false;
  const std::uint8_t command = buffer_[1];
  std::size_t length = 0;
  if (command == 0x40) {
    length = 8;
  } else if (command == 'D' || command == 'E') {
    length = 7;
  } else if (command == 'F') {
    if (buffer_.size() < 6) return false;
    length = 8 + 2 * static_cast<std::size_t>(buffer_[5]);
  } else {
    Drop(1);
    phase_ = Phase::Enquiry;
    out.push_back({kNak});
    return true;
  }
  if (buffer_.size() < length) return false;
  StationBytes header(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
  Drop(length);
  if (header[length - 2] != kEtb || header[length - 1] != Xor(header, 1, length - 2)) {
    phase_ = Phase::Enquiry;
    out.push_back({kNak});
    return true;
  }
  const std::uint32_t address = header[3] * 256u + header[4];
  if (command == 0x40) {
    const std::uint32_t count = header[5];
    out.push_back(ReadReply(address, count == 0 ? 256 : count));
  } else if (command == 'F') {
    for (std::uint32_t k = 0; k < header[5]; ++k)
      SetWord(current_, address + k, static_cast<std::uint16_t>(header[6 + 2 * k] | header[7 + 2 * k] << 8));
    out.push_back(WriteReply(command, address));
  } else {
    SetBit(address, command == 'D');
    out.push_back(WriteReply(command, address));
  }
  phase_ = Phase::AwaitAck;
  return true;
}

StationBytes DirectNetStation::ReadReply(std::uint32_t address, std::uint32_t count) const {
  StationBytes r{kAck, kStx, static_cast<std::uint8_t>(current_ + 0x20), 0x40, static_cast<std::uint8_t>(address >> 8),
                 static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(count)};
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint16_t w = Word(current_, address + k);
    r.push_back(static_cast<std::uint8_t>(w & 0xFF));
    r.push_back(static_cast<std::uint8_t>(w >> 8));
  }
  r.push_back(kEtx);
  std::uint8_t lrc = Xor(r, 2, r.size() - 1);
  if (fault == StationFault::BadLrc) lrc ^= 0xFF;
  r.push_back(lrc);
  return r;
}

StationBytes DirectNetStation::WriteReply(std::uint8_t command, std::uint32_t address) const {
  StationBytes r{kAck, kStx, static_cast<std::uint8_t>(current_ + 0x20), command,
                 static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF), kEtx};
  std::uint8_t lrc = Xor(r, 2, 6);
  if (fault == StationFault::BadLrc) lrc ^= 0xFF;
  r.push_back(lrc);
  return r;
}

void DirectNetStation::SetBit(std::uint32_t address, bool on) {
  std::uint32_t word = address;
  int bit = 0;
  if (address >= 0xF000) {
    const std::uint32_t n = address - 0xF000;
    word = 0x4180 + n / 8;
    bit = static_cast<int>(n % 8);
  }
  std::uint16_t v = Word(current_, word);
  v = on ? static_cast<std::uint16_t>(v | (1u << bit)) : static_cast<std::uint16_t>(v & ~(1u << bit));
  SetWord(current_, word, v);
}

}  // namespace plc::sim
