#include "directnet/AddressTexts.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace plc::dnet {

namespace {
constexpr std::size_t kQuotedLength = 60;
}  // namespace

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string HexAddress(std::int32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%04Xh", static_cast<unsigned>(address));
  return text;
}

std::string Capped(const std::string& text) {
  return text.size() > kQuotedLength ? text.substr(0, kQuotedLength) + "..." : text;
}

}  // namespace plc::dnet
