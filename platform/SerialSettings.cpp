#include "platform/SerialSettings.h"

#include <cctype>
#include <charconv>
#include <vector>

namespace plc {

namespace {
std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

std::optional<int> ToInt(const std::string& s) {
  int v = 0;
  if (s.empty()) return std::nullopt;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
  return v;
}
}  // namespace

std::string SerialSettings::ToString() const {
  return std::to_string(baud) + "," + parity + "," + std::to_string(dataBits) + "," + std::to_string(stopBits);
}

int SerialSettings::BitsPerCharacter() const { return 1 + dataBits + (parity == 'n' ? 0 : 1) + stopBits; }

std::optional<SerialSettings> ParseSerialSettings(const std::string& text) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (true) {
    std::size_t comma = text.find(',', start);
    fields.push_back(Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (fields.size() != 4) return std::nullopt;
  SerialSettings s;
  auto baud = ToInt(fields[0]);
  auto data = ToInt(fields[2]);
  auto stop = ToInt(fields[3]);
  if (!baud || *baud <= 0 || !data || *data < 5 || *data > 8 || !stop || (*stop != 1 && *stop != 2)) return std::nullopt;
  if (fields[1].size() != 1) return std::nullopt;
  char p = static_cast<char>(std::tolower(static_cast<unsigned char>(fields[1][0])));
  if (p != 'n' && p != 'e' && p != 'o' && p != 'm' && p != 's') return std::nullopt;
  s.baud = *baud;
  s.parity = p;
  s.dataBits = *data;
  s.stopBits = *stop;
  return s;
}

}  // namespace plc
