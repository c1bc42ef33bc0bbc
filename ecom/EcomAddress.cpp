#include "ecom/EcomAddress.h"

#include <cmath>
#include <string_view>

#include "base/OctalText.h"
#include "base/RuntimeError.h"
#include "directnet/AddressRoad.h"
#include "directnet/AddressTexts.h"

namespace plc::ecom {
namespace {

// Eight points a byte. Each area ends where the next one of its data type begins (X2000 would
// be SP0, Y2000 C0, C4000 S0); SP and CT, the last of theirs, end where the CPU's memory of
// them does (SP777, CT377).
struct BitArea {
  std::string_view type;  // compared by length first: a read resolves its address each time
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
  static std::optional<std::int32_t> OctalNumber(const std::string& text, std::string& why) {
    const std::string digits = dnet::Trim(text);
    if (digits.empty()) {
      why = "no number";
      return std::nullopt;
    }
    if (const std::size_t bad = digits.find_first_not_of("01234567"); bad != std::string::npos) {
      why = digits[bad] == '8' || digits[bad] == '9' ? std::string(1, digits[bad]) + " is not an octal digit"
                                                     : "'" + dnet::Capped(digits) + "' is not an octal number";
      return std::nullopt;
    }
    try {
      return seq::CnvOctToDec(digits);
    } catch (const RuntimeError&) {
      why = "the number " + dnet::Capped(digits) + " is beyond 31 bits";  // the only error left: overflow
      return std::nullopt;
    }
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
      return Refused(name + dnet::OctalDigits(number) + " is beyond " + name + dnet::OctalDigits(last) +
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

  // station;TYPE,number or TYPE,number, split as the DirectNET road splits it, up to the last
  // module ID.
  EcomResolution Split(const std::string& text) const {
    std::string why;
    const auto fields = dnet::SplitAddress(text, &why, kLastStation);
    if (!fields) return Refused(why);
    const auto number = OctalNumber(fields->number, why);
    if (!number) return Refused(why);
    return Placed(fields->station.value_or(defaultStation_), dnet::Upper(fields->type), *number);
  }

  EcomResolution Resolve(const Variant& address, bool viaTag) const {
    if (address.IsNumeric()) {
      const double value = address.ToDouble();
      if (!(value >= 0) || value != std::floor(value) || value > 2147483647.0)
        return Refused("'" + address.ToString() + "' is not an octal number");
      return Number(std::to_string(static_cast<std::int64_t>(value)));
    }
    const std::string text = address.ToString();
    if (dnet::IsDigitText(text)) return Number(text);
    if (text.find(';') != std::string::npos || text.find(',') != std::string::npos) return Split(text);
    if (viaTag) return Refused("the tag's address '" + dnet::Capped(text) + "' is neither a number nor TYPE,number");
    if (dnet::Trim(text).empty()) return Refused("it is empty");
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
  return dnet::Capped(text);
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
