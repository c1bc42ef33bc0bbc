#include "ecom/EcomAddress.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "directnet/AddressTexts.h"

namespace plc::ecom {
namespace {

// Eight points a byte. Each area ends where the next one of its data type begins (X2000 would
// be SP0, Y2000 C0, C4000 S0); SP and CT, the last of theirs, end where the CPU's memory of
// them does (SP777, CT377).
struct BitArea {
  const char* type;
  std::uint8_t dataType;
  std::int32_t base;
  std::int32_t bytes;
};
constexpr BitArea kBitAreas[] = {
    {"X", kInputs, 0x101, 0x80},   {"Y", kOutputs, 0x101, 0x80}, {"C", kOutputs, 0x181, 0x100},
    {"SP", kInputs, 0x181, 0x40},  {"S", kOutputs, 0x281, 0x80}, {"T", kOutputs, 0x301, 0x20},
    {"CT", kOutputs, 0x321, 0x20}, {"GX", kInputs, 0x1, 0x100},  {"GY", kOutputs, 0x1, 0x100}};

const BitArea* BitAreaOf(const std::string& type) {
  for (const BitArea& b : kBitAreas) {
    if (type == b.type) return &b;
  }
  return nullptr;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string Octal(std::int64_t n) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + n % 8));
    n /= 8;
  } while (n > 0);
  return digits;
}

bool HasDigitsOnly(const std::string& text) {
  const std::string t = Trim(text);
  return !t.empty() && std::all_of(t.begin(), t.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The resolution of one address text, with the text its refusals name.
class Resolver {
 public:
  Resolver(std::string shown, std::int16_t defaultStation, TagDatabase& tags)
      : shown_(std::move(shown)), defaultStation_(defaultStation), tags_(tags) {}

  EcomResolution Refused(const std::string& why) const {
    return EcomResolution{std::nullopt, "address '" + shown_ + "' not understood: " + why};
  }

  // An octal number's digits, read strictly: a digit 8 or 9, a sign or a point would send the
  // request somewhere the host did not mean.
  std::optional<std::int32_t> OctalNumber(const std::string& text, std::string& why) const {
    const std::string digits = Trim(text);
    if (digits.empty()) {
      why = "no number";
      return std::nullopt;
    }
    std::int64_t value = 0;
    for (char c : digits) {
      if (c == '8' || c == '9') {
        why = std::string(1, c) + " is not an octal digit";
        return std::nullopt;
      }
      if (c < '0' || c > '7') {
        why = "'" + dnet::Capped(digits) + "' is not an octal number";
        return std::nullopt;
      }
      // Past the largest field any type has, the number only needs to be known as too large.
      value = std::min<std::int64_t>(value * 8 + (c - '0'), std::int64_t{1} << 40);
    }
    if (value > 0x7FFFFFFF) {
      why = "the number " + dnet::Capped(digits) + " is beyond 31 bits";
      return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
  }

  // The address at station, with the CCM field checked.
  EcomResolution Placed(std::int64_t station, const std::string& type, std::int32_t number) const {
    if (station < 0 || station > kLastStation)
      return Refused("station " + std::to_string(station) + " is beyond " + std::to_string(kLastStation) +
                     ", the last module ID");
    const std::int32_t last = LastEcomNumber(type);
    if (number > last) {
      const bool bit = BitAreaOf(type) != nullptr;
      const std::string name = bit ? type : std::string("V");
      return Refused(name + Octal(number) + " is beyond " + name + Octal(last) +
                     (bit ? ", the last " + type + " point" : std::string(", the last a 16-bit CCM address carries")));
    }
    return EcomResolution{EcomAddress{static_cast<std::int32_t>(station), type, number, MapEcomType(type, number)}, {}};
  }

  EcomResolution Number(const std::string& digits) const {
    std::string why;
    const auto n = OctalNumber(digits, why);
    if (!n) return Refused(why);
    return Placed(defaultStation_, "", *n);
  }

  // station;TYPE,number or TYPE,number.
  EcomResolution Split(const std::string& text) const {
    std::int64_t station = defaultStation_;
    std::string rest = text;
    if (const auto semi = text.find(';'); semi != std::string::npos) {
      std::string digits;
      for (char c : text.substr(0, semi)) {
        if (std::isdigit(static_cast<unsigned char>(c))) digits.push_back(c);
      }
      if (digits.empty()) return Refused("no station number before ';'");
      station = 0;
      for (char c : digits) station = std::min<std::int64_t>(station * 10 + (c - '0'), 1 << 20);
      rest = Trim(text.substr(semi + 1));
    }
    const auto comma = rest.find(',');
    if (comma == std::string::npos) {
      return Refused(HasDigitsOnly(rest) ? "a number after ';' needs its memory type (station;V,number)"
                                         : "no ',' between memory type and number");
    }
    std::string type;
    for (char c : rest.substr(0, comma)) {
      if (!std::isdigit(static_cast<unsigned char>(c)) && c != ' ') type.push_back(c);
    }
    if (type.empty()) return Refused("no memory type before ','");
    std::string why;
    const auto number = OctalNumber(rest.substr(comma + 1), why);
    if (!number) return Refused(why);
    return Placed(station, Upper(type), *number);
  }

  EcomResolution Resolve(const Variant& address, bool viaTag) const {
    if (address.IsNumeric()) {
      const double value = address.ToDouble();
      if (!(value >= 0) || value != std::floor(value) || value > 2147483647.0)
        return Refused("'" + address.ToString() + "' is not an octal number");
      return Number(std::to_string(static_cast<std::int64_t>(value)));
    }
    const std::string text = address.ToString();
    if (HasDigitsOnly(text)) return Number(text);
    if (text.find(';') != std::string::npos || text.find(',') != std::string::npos) return Split(text);
    if (viaTag) return Refused("the tag's address '" + dnet::Capped(text) + "' is neither a number nor TYPE,number");
    if (Trim(text).empty()) return Refused("it is empty");
    const TagRecord* record = TagRecordOfName(text, tags_);
    if (!record) return Refused("no tag of that name, nor a number or TYPE,number");
    return Resolve(record->address, true);
  }

 private:
  std::string shown_;
  std::int16_t defaultStation_;
  TagDatabase& tags_;
};

}  // namespace

CcmTarget MapEcomType(const std::string& type, std::int32_t n) {
  if (const BitArea* b = BitAreaOf(type)) return CcmTarget{b->dataType, n / 8 + b->base, true, n % 8};
  return CcmTarget{kRegisters, n, false, 0};
}

std::int32_t LastEcomNumber(const std::string& type) {
  if (const BitArea* b = BitAreaOf(type)) return b->bytes * 8 - 1;
  return kLastCcmAddress - 1;  // the transport sends a register as its number + 1
}

std::string ShownText(const Variant& value) {
  if (value.IsArray()) return "(an array)";
  std::string text;
  try {
    text = value.ToString();
  } catch (const std::exception&) {
    return "(no text)";
  }
  return text.size() > 60 ? text.substr(0, 60) + "..." : text;
}

EcomResolution ResolveEcomAddress(const Variant& address, std::int16_t defaultStation, TagDatabase& tags) {
  Resolver resolver(ShownText(address), defaultStation, tags);
  try {
    return resolver.Resolve(address, false);
  } catch (const std::exception&) {
    return resolver.Refused("it is neither text nor a number");
  }
}

}  // namespace plc::ecom
