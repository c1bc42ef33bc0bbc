#include "ecom/EcomAddress.h"

#include <algorithm>
#include <cctype>

namespace plc::ecom {
namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// An octal number's digits, read strictly: a digit 8 or 9, a sign, a point or a value over 31
// bits would send the request somewhere the host did not mean.
std::optional<std::int32_t> OctalNumber(const std::string& text) {
  const std::string digits = Trim(text);
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  std::int64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '7') return std::nullopt;
    value = value * 8 + (c - '0');
  }
  if (value > 0x7FFFFFFF) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

bool HasDigitsOnly(const std::string& text) {
  const std::string t = Trim(text);
  return !t.empty() && std::all_of(t.begin(), t.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// station;TYPE,number or TYPE,number.
std::optional<EcomAddress> Split(const std::string& text, std::int16_t defaultStation) {
  EcomAddress a;
  a.station = defaultStation;
  std::string rest = text;
  if (const auto semi = text.find(';'); semi != std::string::npos) {
    std::string digits;
    for (char c : text.substr(0, semi)) {
      if (std::isdigit(static_cast<unsigned char>(c))) digits.push_back(c);
    }
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    a.station = std::stoi(digits);
    rest = Trim(text.substr(semi + 1));
  }
  const auto comma = rest.find(',');
  if (comma == std::string::npos) return std::nullopt;  // a bare number names no memory type
  for (char c : rest.substr(0, comma)) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != ' ') a.type.push_back(c);
  }
  if (a.type.empty()) return std::nullopt;
  a.type = Upper(a.type);
  const auto number = OctalNumber(rest.substr(comma + 1));
  if (!number) return std::nullopt;
  a.number = *number;
  return a;
}

}  // namespace

CcmTarget MapEcomType(const std::string& type, std::int32_t n) {
  struct Bits {
    const char* type;
    std::uint8_t dataType;
    std::int32_t base;
  };
  static constexpr Bits kBits[] = {{"X", kInputs, 0x101},   {"Y", kOutputs, 0x101}, {"C", kOutputs, 0x181},
                                   {"SP", kInputs, 0x181},  {"S", kOutputs, 0x281}, {"T", kOutputs, 0x301},
                                   {"CT", kOutputs, 0x321}, {"GX", kInputs, 0x1},   {"GY", kOutputs, 0x1}};
  for (const Bits& b : kBits) {
    if (type == b.type) return CcmTarget{b.dataType, n / 8 + b.base, true, n % 8};
  }
  return CcmTarget{kRegisters, n, false, 0};
}

std::optional<EcomAddress> ResolveEcomAddress(const Variant& address, std::int16_t defaultStation, TagDatabase& tags) {
  if (address.IsNumeric()) {
    const double value = address.ToDouble();
    if (value < 0 || value > 2147483647.0 || value != static_cast<double>(static_cast<std::int64_t>(value)))
      return std::nullopt;
    const auto number = OctalNumber(std::to_string(static_cast<std::int64_t>(value)));
    if (!number) return std::nullopt;
    return EcomAddress{defaultStation, "", *number};
  }
  const std::string text = address.ToString();
  if (HasDigitsOnly(text)) {
    const auto number = OctalNumber(text);
    if (!number) return std::nullopt;
    return EcomAddress{defaultStation, "", *number};
  }
  if (text.find(';') != std::string::npos || text.find(',') != std::string::npos) return Split(text, defaultStation);
  const TagRecord* record = TagRecordOfName(text, tags);
  if (!record) return std::nullopt;
  if (record->address.IsNumeric()) return ResolveEcomAddress(record->address, defaultStation, tags);
  return Split(record->address.ToString(), defaultStation);
}

}  // namespace plc::ecom
