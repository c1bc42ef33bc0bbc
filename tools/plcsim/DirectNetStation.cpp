#include "tools/plcsim/DirectNetStation.h"

namespace plc::sim {

namespace {

constexpr std::uint8_t kSoh = 0x01, kStx = 0x02, kEtx = 0x03, kEot = 0x04, kEnq = 0x05, kAck = 0x06;
constexpr std::uint8_t kEtb = 0x17, kNak = 0x15, kHeaderType = 0x01;

// The memory map (header addresses; each area [first, end)).
constexpr std::uint32_t kBitsFirst = 0x4000, kBitsEnd = 0x4200;
constexpr std::uint32_t kHighWordsEnd = 0x8000;
constexpr std::uint32_t kSetResetFirst = 0xF000, kSetResetEnd = 0xF400;
constexpr std::uint32_t kCBits = 0x4180;

enum class Kind { Words, Bits, None };
struct Area {
  Kind kind;
  std::uint32_t first, end;
};

Area AreaOf(std::uint32_t address) {
  if (address < kBitsFirst) return {Kind::Words, 0, kBitsFirst};
  if (address < kBitsEnd) return {Kind::Bits, kBitsFirst, kBitsEnd};
  if (address < kHighWordsEnd) return {Kind::Words, kBitsEnd, kHighWordsEnd};
  return {Kind::None, 0, 0};
}

// Whether count words at address lie inside one area (the bit area takes two addresses a word).
bool Fits(std::uint32_t address, std::uint32_t count) {
  const Area area = AreaOf(address);
  if (area.kind == Kind::None || count == 0) return false;
  const std::uint32_t span = area.kind == Kind::Bits ? 2 * count : count;
  return address + span <= area.end;
}

std::uint8_t Xor(const StationBytes& b, std::size_t from, std::size_t to) {  // [from, to)
  std::uint8_t x = 0;
  for (std::size_t i = from; i < to; ++i) x ^= b[i];
  return x;
}

StationImage EmptyImage() { return StationImage{std::vector<std::uint16_t>(kHighWordsEnd, 0), std::vector<std::uint8_t>(kBitsEnd - kBitsFirst, 0)}; }

// Word k (from 0) of a transfer at address, read or written in the image.
std::uint16_t Get(const StationImage& image, std::uint32_t address, std::uint32_t k) {
  if (AreaOf(address).kind == Kind::Words) return image.words[address + k];
  const std::uint32_t at = address - kBitsFirst + 2 * k;
  return static_cast<std::uint16_t>(image.bits[at] | image.bits[at + 1] << 8);
}

void Put(StationImage& image, std::uint32_t address, std::uint32_t k, std::uint16_t value) {
  if (AreaOf(address).kind == Kind::Words) {
    image.words[address + k] = value;
    return;
  }
  const std::uint32_t at = address - kBitsFirst + 2 * k;
  image.bits[at] = static_cast<std::uint8_t>(value & 0xFF);
  image.bits[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

const std::vector<std::string>& StationFaultNames() {
  static const std::vector<std::string> names{"none", "no-answer", "bad-lrc", "nak", "no-eot", "slow"};
  return names;
}

std::string CountsText(const StationCounts& c) {
  return "received " + std::to_string(c.bytes) + " bytes: " + std::to_string(c.enquiries) + " enquiries, " +
         std::to_string(c.headers) + " headers (" + std::to_string(c.refused) + " refused), " +
         std::to_string(c.acks) + " ACKs, " + std::to_string(c.closingEots) + " closing EOTs, " +
         std::to_string(c.stray) + " stray";
}

bool DirectNetStation::Holds(std::uint32_t address, std::uint32_t count) { return Fits(address, count); }

DirectNetStation::DirectNetStation(std::vector<int> stations) {
  for (int s : stations) images_[s] = EmptyImage();
}

std::uint16_t DirectNetStation::Word(int station, std::uint32_t address) const {
  auto it = images_.find(station);
  if (it == images_.end() || !Fits(address, 1)) return 0;
  return Get(it->second, address, 0);
}

bool DirectNetStation::SetWord(int station, std::uint32_t address, std::uint16_t value) {
  auto it = images_.find(station);
  if (it == images_.end() || !Fits(address, 1)) return false;
  Put(it->second, address, 0, value);
  return true;
}

std::uint8_t DirectNetStation::Byte(int station, std::uint32_t address) const {
  auto it = images_.find(station);
  if (it == images_.end() || AreaOf(address).kind != Kind::Bits) return 0;
  return it->second.bits[address - kBitsFirst];
}

void DirectNetStation::SetByte(int station, std::uint32_t address, std::uint8_t value) {
  auto it = images_.find(station);
  if (it != images_.end() && AreaOf(address).kind == Kind::Bits) it->second.bits[address - kBitsFirst] = value;
}

StationImage DirectNetStation::Image(int station) const {
  auto it = images_.find(station);
  return it == images_.end() ? StationImage{} : it->second;
}

std::vector<StationBytes> DirectNetStation::Feed(std::span<const std::uint8_t> bytes) {
  counts_.bytes += static_cast<long>(bytes.size());
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
        ++counts_.stray;
        phase_ = Phase::Enquiry;
        return true;
      }
      ++counts_.acks;
      phase_ = Phase::AwaitEot;
      if (fault != StationFault::NoEot) out.push_back({kEot});
      return true;
    }
    case Phase::AwaitEot: {
      const std::uint8_t b = buffer_.front();
      if (b != 'K') {
        Drop(1);
        if (b == kEot) ++counts_.closingEots;
        else ++counts_.stray;
      }
      phase_ = Phase::Enquiry;
      return true;
    }
  }
  return false;
}

bool DirectNetStation::TakeEnquiry(std::vector<StationBytes>& out) {
  if (buffer_.front() != 'K') {
    Drop(1);
    ++counts_.stray;
    return true;
  }
  if (buffer_.size() < 3) return false;
  const int station = buffer_[1] - 0x20;
  const bool enquiry = buffer_[2] == kEnq && Serves(station);
  if (!enquiry) {
    Drop(1);
    ++counts_.stray;
    return true;
  }
  Drop(3);
  ++counts_.enquiries;
  if (fault == StationFault::NoAnswer) return true;
  current_ = station;
  out.push_back({'N', static_cast<std::uint8_t>(station + 0x20), fault == StationFault::Nak ? kNak : kAck});
  if (fault != StationFault::Nak) phase_ = Phase::Header;
  return true;
}

bool DirectNetStation::TakeHeader(std::vector<StationBytes>& out) {
  if (buffer_.front() != kSoh) {
    Drop(1);
    ++counts_.stray;
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
    ++counts_.stray;
    phase_ = Phase::Enquiry;
    out.push_back({kNak});
    return true;
  }
  if (buffer_.size() < length) return false;
  StationBytes header(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
  Drop(length);
  ++counts_.headers;
  StationBytes answer;
  // Every header carries the type byte 01h; one that does not is no block of this protocol.
  if (header[2] == kHeaderType && header[length - 2] == kEtb && header[length - 1] == Xor(header, 1, length - 2))
    answer = Serve(command, header[3] * 256u + header[4], header);
  if (answer.empty()) {
    ++counts_.refused;
    phase_ = Phase::Enquiry;
    out.push_back({kNak});
    return true;
  }
  out.push_back(std::move(answer));
  phase_ = Phase::AwaitAck;
  return true;
}

StationBytes DirectNetStation::Serve(std::uint8_t command, std::uint32_t address, std::span<const std::uint8_t> header) {
  StationImage& image = images_.at(current_);
  if (command == 0x40) {
    // 1..255 words; a count of 0 reads nothing and is refused as Fits refuses it.
    const std::uint32_t count = header[5];
    if (!Fits(address, count)) return {};
    return ReadReply(address, count);
  }
  if (command == 'F') {
    const std::uint32_t count = header[5];
    if (!Fits(address, count)) return {};
    for (std::uint32_t k = 0; k < count; ++k)
      Put(image, address, k, static_cast<std::uint16_t>(header[6 + 2 * k] | header[7 + 2 * k] << 8));
    return WriteReply(command, address);
  }
  // Set/reset: C points only.
  if (address < kSetResetFirst || address >= kSetResetEnd) return {};
  const std::uint32_t n = address - kSetResetFirst;
  std::uint8_t& bits = image.bits[kCBits + n / 8 - kBitsFirst];
  const auto mask = static_cast<std::uint8_t>(1u << (n % 8));
  bits = command == 'D' ? static_cast<std::uint8_t>(bits | mask) : static_cast<std::uint8_t>(bits & ~mask);
  return WriteReply(command, address);
}

StationBytes DirectNetStation::ReadReply(std::uint32_t address, std::uint32_t count) const {
  const StationImage& image = images_.at(current_);
  StationBytes r{kAck, kStx, static_cast<std::uint8_t>(current_ + 0x20), 0x40, static_cast<std::uint8_t>(address >> 8),
                 static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(count)};
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint16_t w = Get(image, address, k);
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

}  // namespace plc::sim
