#include "directnet/AddressRoad.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "core/AddressString.h"
#include "core/OctalText.h"
#include "core/RuntimeError.h"
#include "directnet/Blocks.h"

namespace plc::dnet {

namespace {

std::string Trim(const std::string& text) {
  const std::size_t b = text.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return text.substr(b, text.find_last_not_of(' ') - b + 1);
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A numeric argument as the text of its digits: a whole number only; a fraction or a sign has
// no octal reading.
std::optional<std::string> NumericText(const Variant& Address) {
  if (Address.IsNumeric()) {
    const double v = Address.ToDouble();
    if (v < 0 || v != std::floor(v) || v > 2147483647.0) return std::string("-");  // numeric, never octal
    return std::to_string(static_cast<std::int64_t>(v));
  }
  if (Address.IsString() && IsDigitText(Address.ToString())) return Trim(Address.ToString());
  return std::nullopt;
}

std::optional<ResolvedAddress> Finish(std::int32_t station, const std::string& type, const std::string& number,
                                      Access access) {
  if (!StationByte(station)) return std::nullopt;
  std::int32_t n = 0;
  try {
    n = seq::CnvOctToDec(number);
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
  MemoryAddress memory = MapMemoryType(type, n, access);
  if (memory.address < 0 || memory.address > 0xFFFF) return std::nullopt;
  return ResolvedAddress{station, memory};
}

std::optional<ResolvedAddress> FromString(const std::string& text, std::int32_t defaultStation, Access access) {
  auto fields = SplitAddress(text);
  if (!fields) return std::nullopt;
  return Finish(fields->station.value_or(defaultStation), fields->type, fields->number, access);
}

}  // namespace

bool IsDigitText(const std::string& text) {
  const std::string t = Trim(text);
  return !t.empty() && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<SplitFields> SplitAddress(const std::string& text) {
  SplitFields fields;
  std::string rest = text;
  if (const std::size_t semi = text.find(';'); semi != std::string::npos) {
    std::int64_t station = 0;
    bool digit = false;
    for (std::size_t i = 0; i < semi; ++i) {
      if (text[i] < '0' || text[i] > '9') continue;
      digit = true;
      station = station * 10 + (text[i] - '0');
      if (station > kMaxStation) return std::nullopt;  // no station byte carries it
    }
    if (!digit) return std::nullopt;
    fields.station = static_cast<std::int32_t>(station);
    rest = Trim(text.substr(semi + 1));
  }
  // A bare number needs a memory type, which this form has not given.
  if (IsDigitText(rest)) return std::nullopt;
  const std::size_t comma = rest.find(',');
  if (comma == std::string::npos) return std::nullopt;
  for (std::size_t i = 0; i < comma; ++i) {
    const char c = rest[i];
    if ((c >= '0' && c <= '9') || c == ' ') continue;
    fields.type.push_back(c);
  }
  if (fields.type.empty()) return std::nullopt;
  fields.number = Trim(rest.substr(comma + 1));
  if (!IsDigitText(fields.number)) return std::nullopt;
  return fields;
}

MemoryAddress MapMemoryType(const std::string& type, std::int32_t n, Access access) {
  const std::string t = Upper(type);
  auto bits = [n](std::int32_t base) { return MemoryAddress{n / 8 + base, true, n % 8}; };
  if (t == "X") return bits(0x4100);
  if (t == "Y") return bits(0x4140);
  if (t == "C") return access == Access::Write ? MemoryAddress{n + 0xF000, true, 0} : bits(0x4180);
  if (t == "GX") return bits(0x4000);
  if (t == "GY") return bits(0x4080);
  if (t == "CT") return {n + 0x200, false, 0};
  if (t == "S") return {n + 0x4200, false, 0};
  if (t == "SP") return {n + 0x4280, false, 0};
  return {n, false, 0};  // V, T, none or any other
}

std::optional<ResolvedAddress> ResolveAddress(const Variant& Address, std::int32_t defaultStation, Access access,
                                              TagForm tagForm, TagDatabase& tags) {
  if (Address.IsArray() || Address.IsEmpty()) return std::nullopt;
  if (auto number = NumericText(Address)) return Finish(defaultStation, "", *number, access);
  if (!Address.IsString()) return std::nullopt;
  const std::string text = Address.ToString();
  if (text.find(';') != std::string::npos || text.find(',') != std::string::npos)
    return FromString(text, defaultStation, access);

  const TagRecord* record = TagRecordOfName(text, tags);
  if (!record) return std::nullopt;
  const Variant& tagAddress = record->address;
  if (tagForm == TagForm::FrameString) {
    AddressFields fields;
    if (!ParseAddressString(tagAddress.ToString(), fields)) return std::nullopt;
    const std::int32_t station = fields.unit == -1 ? defaultStation : fields.unit;
    return Finish(station, "", std::to_string(fields.reference), access);
  }
  // A tag that holds a plain number names V-memory, as the same number given directly does.
  if (auto number = NumericText(tagAddress)) return Finish(defaultStation, "", *number, access);
  return FromString(tagAddress.ToString(), defaultStation, access);
}

}  // namespace plc::dnet
