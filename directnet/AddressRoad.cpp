#include "directnet/AddressRoad.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "frame/AddressString.h"
#include "base/OctalText.h"
#include "base/RuntimeError.h"
#include "directnet/AddressTexts.h"
#include "directnet/Blocks.h"

namespace plc::dnet {

namespace {

// A piece of the host's text in a refusal, quoted and cut to a readable length.
std::string Quoted(const std::string& text) { return "'" + Capped(text) + "'"; }

struct Area {
  std::string_view type;  // compared by length first: a read resolves its address each time
  bool bit;
  std::int32_t base;
  std::int32_t last;  // highest number
};

// The memory the header addresses reach, by type. Bit areas hold eight points a header address
// and end where the next area begins. T, CT, S and SP end with the largest DirectLOGIC's (T377,
// CT377, stages S0-S1777 in words S,0 to S,77, SP0-SP777 in SP,0 to SP,37): past them lies
// other memory (T400 is V400, S100 the timers' status bits). V reaches the last address a
// header carries.
constexpr std::int32_t kLastHeader = 0xFFFF;
constexpr Area kAreas[] = {
    {"X", true, 0x4100, 0x40 * 8 - 1},  {"Y", true, 0x4140, 0x40 * 8 - 1},  {"C", true, 0x4180, 0x80 * 8 - 1},
    {"GX", true, 0x4000, 0x80 * 8 - 1}, {"GY", true, 0x4080, 0x80 * 8 - 1}, {"T", false, 0, 0377},
    {"CT", false, 0x200, 0377},         {"S", false, 0x4200, 077},          {"SP", false, 0x4280, 037},
};
constexpr Area kWords{"V", false, 0, kLastHeader};  // V, none or any other
// A C write sets or resets one point: F000h + n.
constexpr std::int32_t kSetResetBase = 0xF000;

const Area& AreaOf(const std::string& upperType) {
  for (const Area& a : kAreas)
    if (upperType == a.type) return a;
  return kWords;
}

// A numeric argument as the text of its digits; nullopt when it is no number, why in *why when
// it is a number with no octal reading (a fraction, a sign).
std::optional<std::string> NumericText(const Variant& Address, std::string& why) {
  if (Address.IsNumeric()) {
    const double v = Address.ToDouble();
    if (v < 0 || v != std::floor(v) || v > 2147483647.0) {
      why = "a number address is a whole octal V-memory number, not " + Address.ToString();
      return std::string();
    }
    return std::to_string(static_cast<std::int64_t>(v));
  }
  if (Address.IsString() && IsDigitText(Address.ToString())) return Trim(Address.ToString());
  return std::nullopt;
}

// What the last number of an area is: " point", " word", " address a header carries".
std::string LastOfWhat(const Area& area) {
  if (area.bit) return " point";
  return &area == &kWords ? " address a header carries" : " word";
}

Resolution Refused(const std::string& address, const std::string& why) {
  return Resolution{std::nullopt, "address '" + address + "' not understood: " + why};
}

Resolution Finish(const std::string& address, std::int32_t station, const std::string& type,
                  const std::string& number, Access access) {
  if (!StationByte(station))
    return Refused(address, "station " + std::to_string(station) + " is beyond " + std::to_string(kMaxStation));
  const std::string upper = Upper(type);
  // Other letters read as V-memory, as they always have; a write to them would put the value
  // in V-memory for a mistyped type ("YY,5" is V5), so it goes nowhere.
  if (access == Access::Write && !upper.empty() && upper != "T" && &AreaOf(upper) == &kWords && upper != kWords.type)
    return Refused(address, Quoted(type) + " is no memory type a write goes to (V, T, CT, S, SP, X, Y, C, GX or GY); "
                                           "other letters are read as V-memory, never written");
  const std::string shownType = Capped(upper.empty() ? "V" : upper);
  const std::int32_t last = LastNumber(upper);
  std::int32_t n = 0;
  try {
    n = seq::CnvOctToDec(number);
  } catch (const RuntimeError& e) {
    if (e.Number() != err::Overflow)
      return Refused(address, Quoted(number) + " is not an octal number (digits 0 to 7)");
    n = -1;  // beyond any limit
  }
  if (n < 0 || n > last)
    return Refused(address, shownType + Capped(Trim(number)) + " is beyond " + shownType + OctalDigits(last) + ", the last " +
                                shownType + LastOfWhat(AreaOf(upper)));
  return Resolution{ResolvedAddress{station, MapMemoryType(upper, n, access), upper, n}, {}};
}

Resolution FromString(const std::string& address, const std::string& text, std::int32_t defaultStation,
                      Access access) {
  std::string why;
  auto fields = SplitAddress(text, &why);
  if (!fields) return Refused(address, why);
  return Finish(address, fields->station.value_or(defaultStation), fields->type, fields->number, access);
}

}  // namespace

bool IsDigitText(const std::string& text) {
  const std::string t = Trim(text);
  return !t.empty() && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string AddressText(const Variant& Address) {
  if (Address.IsEmpty()) return "";
  if (Address.IsArray()) return "(an array)";
  try {
    return Address.ToString();
  } catch (const RuntimeError&) {
    return "(no text)";
  }
}

std::optional<SplitFields> SplitAddress(const std::string& text, std::string* why, std::int32_t lastStation) {
  auto refuse = [why](const std::string& reason) -> std::optional<SplitFields> {
    if (why) *why = reason;
    return std::nullopt;
  };
  SplitFields fields;
  std::string rest = text;
  if (const std::size_t semi = text.find(';'); semi != std::string::npos) {
    std::int64_t station = 0;
    bool digit = false;
    for (std::size_t i = 0; i < semi; ++i) {
      if (text[i] < '0' || text[i] > '9') continue;
      digit = true;
      station = station * 10 + (text[i] - '0');
      // No station byte (module ID) carries it.
      if (station > lastStation) return refuse("the station before ';' is beyond " + std::to_string(lastStation));
    }
    if (!digit) return refuse("no station number before ';'");
    fields.station = static_cast<std::int32_t>(station);
    rest = Trim(text.substr(semi + 1));
  }
  // A bare number needs a memory type, which this form has not given.
  if (IsDigitText(rest)) return refuse("a station and a number need a memory type between them, as in 1;V,2000");
  const std::size_t comma = rest.find(',');
  if (comma == std::string::npos) return refuse("no ',' between memory type and number, as in V,2000");
  for (std::size_t i = 0; i < comma; ++i) {
    const char c = rest[i];
    if ((c >= '0' && c <= '9') || c == ' ') continue;
    // A second station field, not letters of a type: read as one, it would name V-memory.
    if (c == ';') return refuse("more than one ';' (one station comes before the memory type, as in 1;V,2000)");
    fields.type.push_back(c);
  }
  if (fields.type.empty()) return refuse("no memory type before ','");
  fields.number = Trim(rest.substr(comma + 1));
  if (fields.number.empty()) return refuse("no number after ','");
  if (!IsDigitText(fields.number)) return refuse(Quoted(fields.number) + " after ',' is not a number");
  return fields;
}

std::int32_t LastNumber(const std::string& type) { return AreaOf(Upper(type)).last; }

std::string RunPastRefusal(const ResolvedAddress& target, std::int32_t count) {
  const Area& area = AreaOf(target.type);
  if (count < 1 || std::int64_t{target.number} + count - 1 <= area.last) return {};
  const std::string type = target.type.empty() ? std::string(kWords.type) : Capped(target.type);
  return std::to_string(count) + (area.bit ? " points from " : " words from ") + type + OctalDigits(target.number) +
         " run past " + type + OctalDigits(area.last) + ", the last " + type + LastOfWhat(area);
}

std::optional<ReadSpan> ReadSpanOf(const ResolvedAddress& target, std::int32_t count, std::string& why) {
  if (std::string past = RunPastRefusal(target, count); !past.empty()) {
    why = std::move(past);
    return std::nullopt;
  }
  if (!target.memory.bit || count < 1) return ReadSpan{target.memory.address, count, 0};
  const Area& area = AreaOf(target.type);
  ReadSpan span{target.memory.address, 0, target.memory.bitIndex};
  auto wordsFor = [count](std::int32_t firstBit) { return (firstBit + count + 15) / 16; };
  span.words = wordsFor(span.firstBit);
  // A word is two header addresses: its second may be the next area's, which the station
  // refuses to read as this one. A start one address earlier keeps the read inside.
  const std::int32_t lastHeader = area.base + area.last / 8;
  if (span.address + 2 * span.words - 1 > lastHeader) {
    span.address -= 1;
    span.firstBit += 8;
    span.words = wordsFor(span.firstBit);
  }
  return span;
}

MemoryAddress MapMemoryType(const std::string& type, std::int32_t n, Access access) {
  const std::string t = Upper(type);
  if (t == "C" && access == Access::Write) return MemoryAddress{n + kSetResetBase, true, 0};
  const Area& area = AreaOf(t);
  if (area.bit) return MemoryAddress{n / 8 + area.base, true, n % 8};
  return MemoryAddress{n + area.base, false, 0};
}

Resolution ResolveAddress(const Variant& Address, std::int32_t defaultStation, Access access, TagForm tagForm,
                          TagDatabase& tags) {
  // The address as refusals quote it, cut to a readable length.
  const std::string shown = Capped(AddressText(Address));
  if (Address.IsArray()) return Refused(shown, "an address is one text or number, not an array");
  if (Address.IsEmpty()) return Refused(shown, "no address given");
  std::string why;
  if (auto number = NumericText(Address, why)) {
    if (!why.empty()) return Refused(shown, why);
    return Finish(shown, defaultStation, "", *number, access);
  }
  if (!Address.IsString()) return Refused(shown, "an address is a text or a number");
  const std::string text = Address.ToString();
  if (Trim(text).empty()) return Refused(shown, "no address given");
  if (text.find(';') != std::string::npos || text.find(',') != std::string::npos)
    return FromString(shown, text, defaultStation, access);

  const TagRecord* record = TagRecordOfName(text, tags);
  if (!record)
    return Refused(shown, "no tag of that name (an address is TYPE,number such as V,2000, or an octal V-memory number)");
  const Variant& tagAddress = record->address;
  const std::string tagShown = shown + " (tag of " + Capped(AddressText(tagAddress)) + ")";
  if (tagForm == TagForm::FrameString) {
    AddressFields fields;
    if (!ParseAddressString(AddressText(tagAddress), fields))
      return Refused(tagShown, "the tag's address is not station;number");
    const std::int32_t station = fields.unit == -1 ? defaultStation : fields.unit;
    return Finish(tagShown, station, "", std::to_string(fields.reference), access);
  }
  // A tag that holds a plain number names V-memory, as the same number given directly does.
  if (auto number = NumericText(tagAddress, why)) {
    if (!why.empty()) return Refused(tagShown, why);
    return Finish(tagShown, defaultStation, "", *number, access);
  }
  return FromString(tagShown, AddressText(tagAddress), defaultStation, access);
}

}  // namespace plc::dnet
