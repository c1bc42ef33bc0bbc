#include "tools/plcsim/Df1DataTable.h"

#include <cctype>

namespace plc::sim {

namespace {

constexpr std::uint8_t kReplyFlag = 0x40;
constexpr int kStructureWords = 3;  // control, PRE/LEN, ACC/POS

struct FileSpec {
  int number;
  std::uint8_t type;
  const char* letters;
  const char* kind;
  int wordsPerElement;
  int elements;
};

constexpr FileSpec kLayout[] = {
    {0, 0x82, "O", "outputs", 1, 32},    {1, 0x83, "I", "inputs", 1, 32},     {2, 0x84, "S", "status", 1, 64},
    {3, 0x85, "B", "bits", 1, 64},       {4, 0x86, "T", "timers", 3, 20},     {5, 0x87, "C", "counters", 3, 20},
    {6, 0x88, "R", "controls", 3, 10},   {7, 0x89, "N", "integers", 1, 256},  {8, 0x8A, "F", "floats", 2, 64},
    {9, 0x8E, "A", "ASCII", 1, 32},      {10, 0x8D, "ST", "strings", 42, 4},
};

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

// Up to five decimal digits at p[at...]; -1 when there are none or more.
int TakeNumber(const SimBytes& p, std::size_t& at) {
  int value = 0, digits = 0;
  while (at < p.size() && std::isdigit(p[at]) && digits < 6) {
    value = value * 10 + (p[at++] - '0');
    ++digits;
  }
  return digits == 0 || digits > 5 ? -1 : value;
}

}  // namespace

Df1DataTable::Df1DataTable() {
  for (const FileSpec& f : kLayout)
    files_[f.number] = File{f.type, f.letters, f.wordsPerElement,
                            std::vector<std::uint16_t>(static_cast<std::size_t>(f.wordsPerElement * f.elements))};
}

std::string Df1DataTable::Layout() {
  std::string out;
  for (const FileSpec& f : kLayout) {
    std::string name = std::string(f.letters) + std::to_string(f.number);
    name.resize(6, ' ');
    out += "    " + name + std::string(f.kind) + ", " + std::to_string(f.elements) + " elements of " +
           std::to_string(f.wordsPerElement) + (f.wordsPerElement == 1 ? " word" : " words") + "\n";
  }
  return out;
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

Df1DataTable::Status Df1DataTable::Read(const File& f, int offset, int byteCount, SimBytes& data) const {
  const int words = (byteCount + 1) / 2;
  if (offset < 0 || byteCount < 1 || static_cast<std::size_t>(offset + words) > f.words.size()) return {kStsAddress};
  for (int i = 0; i < byteCount; ++i) {
    std::uint16_t w = f.words[static_cast<std::size_t>(offset + i / 2)];
    data.push_back(static_cast<std::uint8_t>(i % 2 == 0 ? w & 0xFF : w >> 8));
  }
  return {};
}

Df1DataTable::Status Df1DataTable::Write(File& f, int offset, const SimBytes& data) {
  const std::size_t words = data.size() / 2;
  if (offset < 0 || words == 0 || offset + words > f.words.size()) return {kStsAddress};
  for (std::size_t i = 0; i < words; ++i)
    f.words[static_cast<std::size_t>(offset) + i] = static_cast<std::uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  return {};
}

// FNC byte-count file type element sub-element [data]: the typed read and write.
Df1DataTable::Status Df1DataTable::Typed(const SimBytes& p, SimBytes& data) {
  const std::uint8_t function = p[6];
  std::size_t at = 7;
  if (at >= p.size()) return {kStsCommand};
  const int byteCount = p[at++];
  int file = 0, element = 0, sub = 0;
  if (!TakeField(p, at, file) || at >= p.size()) return {kStsCommand};
  const std::uint8_t type = p[at++];
  if (!TakeField(p, at, element) || !TakeField(p, at, sub)) return {kStsCommand};
  auto f = files_.find(file);
  if (f == files_.end()) return {kStsAddress};
  if (type != f->second.type) return {kStsExtended, kExtTypeMismatch};
  // Sub-elements are the words of a timer, counter or control; a float or a string is one
  // value, whatever words it takes.
  const int subElements = f->second.wordsPerElement == kStructureWords ? kStructureWords : 1;
  if (sub >= subElements) return {kStsAddress};
  const int offset = element * f->second.wordsPerElement + sub;
  if (function == 0xA2) {
    if (at != p.size()) return {kStsCommand};
    return Read(f->second, offset, byteCount, data);
  }
  const SimBytes values(p.begin() + static_cast<std::ptrdiff_t>(at), p.end());
  if (byteCount == 0 || values.size() != static_cast<std::size_t>(byteCount) || byteCount % 2 != 0) return {kStsCommand};
  return Write(f->second, offset, values);
}

// 01 offset(2) total(2) NUL "$" letters file ":" element NUL size: the PLC5 word-range read. A
// transaction may come in packets; each one's offset counts the words from the address.
Df1DataTable::Status Df1DataTable::WordRange(const SimBytes& p, SimBytes& data) {
  if (p.size() < 11) return {kStsCommand};
  const int packetOffset = p[7] | (p[8] << 8);
  std::size_t at = 11;
  if (p.size() < at + 2 || p[at] != 0x00 || p[at + 1] != '$') return {kStsCommand};
  at += 2;
  std::string letters;
  while (at < p.size() && std::isalpha(p[at]) && letters.size() < 4) letters += static_cast<char>(p[at++]);
  const int file = TakeNumber(p, at);
  if (letters.empty() || file < 0 || at >= p.size() || p[at++] != ':') return {kStsCommand};
  const int element = TakeNumber(p, at);
  if (element < 0 || at + 2 != p.size() || p[at] != 0x00) return {kStsCommand};
  auto f = files_.find(file);
  if (f == files_.end()) return {kStsAddress};
  if (letters != f->second.letters) return {kStsExtended, kExtTypeMismatch};
  return Read(f->second, element * f->second.wordsPerElement + packetOffset, p[at + 1], data);
}

std::optional<SimBytes> Df1DataTable::Refusal(const SimBytes& p, std::uint8_t sts) {
  if (p.size() < 6) return std::nullopt;
  return SimBytes{p[1], p[0], static_cast<std::uint8_t>(p[2] | kReplyFlag), sts, p[4], p[5]};
}

std::optional<SimBytes> Df1DataTable::Answer(const SimBytes& p) {
  if (p.size() < 6) return std::nullopt;
  SimBytes reply{p[1], p[0], static_cast<std::uint8_t>(p[2] | kReplyFlag), 0, p[4], p[5]};
  SimBytes data;
  Status status{kStsCommand};
  {
    std::lock_guard lock(mutex_);
    if (p.size() >= 7 && p[2] == 0x0F && (p[6] == 0xA2 || p[6] == 0xAA)) status = Typed(p, data);
    else if (p.size() >= 7 && p[2] == 0x0F && p[6] == 0x01) status = WordRange(p, data);
  }
  reply[3] = status.sts;
  if (status.sts == kStsExtended) reply.push_back(status.ext);
  if (status.sts == 0) reply.insert(reply.end(), data.begin(), data.end());
  return reply;
}

}  // namespace plc::sim
