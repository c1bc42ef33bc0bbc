#include "tools/plcsim/Df1DataTable.h"

#include <cctype>
#include <string>

namespace plc::sim {

namespace {

constexpr std::uint8_t kReplyFlag = 0x40;

// Reads a three-field address number: one byte, or 0xFF and a little-endian word.
bool TakeField(const SimBytes& p, std::size_t& at, int& value) {
  if (at >= p.size()) return false;
  if (p[at] != 0xFF) {
    value = p[at++];
    return true;
  }
  if (at + 2 >= p.size()) return false;
  value = p[at + 1] | (p[at + 2] << 8);
  at += 3;
  return true;
}

}  // namespace

Df1DataTable::Df1DataTable() {
  auto add = [this](int file, int wordsPerElement, int elements) {
    files_[file] = File{wordsPerElement, std::vector<std::uint16_t>(static_cast<std::size_t>(wordsPerElement * elements))};
  };
  add(0, 1, 32);   // O
  add(1, 1, 32);   // I
  add(2, 1, 64);   // S
  add(3, 1, 64);   // B
  add(4, 3, 20);   // T: control, preset, accumulator
  add(5, 3, 20);   // C
  add(6, 3, 10);   // R
  add(7, 1, 256);  // N
  add(8, 2, 64);   // F
  add(9, 1, 32);   // A
  add(10, 21, 4);  // ST
}

bool Df1DataTable::SetWords(int file, int offset, const std::vector<std::uint16_t>& words) {
  std::lock_guard lock(mutex_);
  auto f = files_.find(file);
  if (f == files_.end() || offset < 0 || offset + words.size() > f->second.words.size()) return false;
  for (std::size_t i = 0; i < words.size(); ++i) f->second.words[static_cast<std::size_t>(offset) + i] = words[i];
  return true;
}

std::optional<std::uint16_t> Df1DataTable::Word(int file, int offset) const {
  std::lock_guard lock(mutex_);
  auto f = files_.find(file);
  if (f == files_.end() || offset < 0 || static_cast<std::size_t>(offset) >= f->second.words.size()) return std::nullopt;
  return f->second.words[static_cast<std::size_t>(offset)];
}

std::uint8_t Df1DataTable::Read(int file, int offset, int byteCount, SimBytes& data) const {
  auto f = files_.find(file);
  const int words = (byteCount + 1) / 2;
  if (f == files_.end() || offset < 0 || byteCount < 1 || static_cast<std::size_t>(offset + words) > f->second.words.size())
    return kStsAddress;
  for (int i = 0; i < byteCount; ++i) {
    std::uint16_t w = f->second.words[static_cast<std::size_t>(offset + i / 2)];
    data.push_back(static_cast<std::uint8_t>(i % 2 == 0 ? w & 0xFF : w >> 8));
  }
  return 0;
}

std::uint8_t Df1DataTable::Write(int file, int offset, const SimBytes& data) {
  auto f = files_.find(file);
  const std::size_t words = data.size() / 2;
  if (f == files_.end() || offset < 0 || words == 0 || offset + words > f->second.words.size()) return kStsAddress;
  for (std::size_t i = 0; i < words; ++i)
    f->second.words[static_cast<std::size_t>(offset) + i] = static_cast<std::uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  return 0;
}

std::optional<SimBytes> Df1DataTable::Answer(const SimBytes& p) {
  if (p.size() < 7) return std::nullopt;
  SimBytes reply{p[1], p[0], static_cast<std::uint8_t>(p[2] | kReplyFlag), 0, p[4], p[5]};
  SimBytes data;
  std::uint8_t sts = kStsCommand;
  std::lock_guard lock(mutex_);
  const std::uint8_t function = p[6];
  std::size_t at = 7;
  if (p[2] == 0x0F && (function == 0xA2 || function == 0xAA) && at < p.size()) {
    int byteCount = p[at++];
    int file = 0, element = 0, sub = 0;
    bool ok = TakeField(p, at, file) && at < p.size();
    if (ok) ++at;  // the file type: the file number decides
    ok = ok && TakeField(p, at, element) && TakeField(p, at, sub);
    auto f = files_.find(file);
    if (!ok) {
      sts = kStsCommand;
    } else if (f == files_.end()) {
      sts = kStsAddress;
    } else {
      const int offset = element * f->second.wordsPerElement + sub;
      if (function == 0xA2) {
        sts = Read(file, offset, byteCount, data);
      } else {
        SimBytes values(p.begin() + static_cast<std::ptrdiff_t>(at), p.end());
        if (values.size() > static_cast<std::size_t>(byteCount)) values.resize(static_cast<std::size_t>(byteCount));
        sts = Write(file, offset, values);
      }
    }
  } else if (p[2] == 0x0F && function == 0x01 && p.size() >= 12) {
    // PLC5 word-range read: offset (2), total (2), NUL "$" letters file ":" element NUL, size.
    at = 11;
    std::string letters, fileDigits, elementDigits;
    bool ok = at < p.size() && p[at] == 0x00 && at + 1 < p.size() && p[at + 1] == '$';
    at += 2;
    while (ok && at < p.size() && std::isalpha(p[at])) letters += static_cast<char>(p[at++]);
    while (ok && at < p.size() && std::isdigit(p[at])) fileDigits += static_cast<char>(p[at++]);
    ok = ok && at < p.size() && p[at] == ':';
    ++at;
    while (ok && at < p.size() && std::isdigit(p[at])) elementDigits += static_cast<char>(p[at++]);
    ok = ok && at + 1 < p.size() && p[at] == 0x00 && !fileDigits.empty() && !elementDigits.empty() &&
         fileDigits.size() < 6 && elementDigits.size() < 6;
    if (ok) {
      const int file = std::stoi(fileDigits);  // the number names the file; the letters follow it
      auto f = files_.find(file);
      sts = f == files_.end() ? kStsAddress
                              : Read(file, std::stoi(elementDigits) * f->second.wordsPerElement, p[at + 1], data);
    }
  }
  reply[3] = sts;
  if (sts == 0) reply.insert(reply.end(), data.begin(), data.end());
  return reply;
}

}  // namespace plc::sim
