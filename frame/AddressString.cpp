#include "frame/AddressString.h"

#include "base/RuntimeError.h"
#include "base/Variant.h"

namespace plc {

namespace {

// The text as a 32-bit integer by the usual text-to-number rules (spaces around, decimal,
// &H/&O forms, fractions rounded half to even); nullopt when it is not a number or too big.
std::optional<std::int32_t> TextToInt32(const std::string& text) {
  try {
    return Variant(text).ToInt32();
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
}

// TextToInt32 into the reference, noting whether a fraction was rounded away.
bool ReferenceFromText(const std::string& text, AddressFields& fields) {
  std::optional<std::int32_t> ref = TextToInt32(text);
  if (!ref) return false;
  fields.reference = *ref;
  fields.fractionRounded = Variant(text).ToDouble() != static_cast<double>(*ref);
  return true;
}

bool IsNumericText(const std::string& text) {
  try {
    Variant(text).ToDouble();
    return true;
  } catch (const RuntimeError&) {
    return false;
  }
}

// Up to nine decimal digits and nothing else: the usual form of an address, read without the
// general text-to-number rules (which give the same value for it).
std::optional<std::int32_t> PlainDecimal(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::int32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string_view SkipLeadingSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return s;
}

// One leading field: the digits at the start of s, as a 16-bit value. The character that ends
// the digits is consumed whatever it is, then leading spaces of the rest.
std::optional<std::int16_t> ReadField(std::string_view& s) {
  std::size_t n = 0;
  std::int32_t value = 0;
  while (n < s.size() && s[n] >= '0' && s[n] <= '9') {
    value = value * 10 + (s[n] - '0');
    if (value > 32767) return std::nullopt;
    ++n;
  }
  if (n == 0) return std::nullopt;
  s.remove_prefix(n < s.size() ? n + 1 : n);
  s = SkipLeadingSpaces(s);
  return static_cast<std::int16_t>(value);
}

}  // namespace

bool ParseAddressString(const std::string& text, AddressFields& fields) {
  if (text.find(';') == std::string::npos) return ReferenceFromText(text, fields);
  std::string_view s = SkipLeadingSpaces(text);
  std::optional<std::int16_t> unit = ReadField(s);
  if (!unit) return false;
  fields.unit = *unit;
  for (std::int16_t& field : fields.more) {
    if (s.find(';') == std::string_view::npos) break;
    std::optional<std::int16_t> v = ReadField(s);
    if (!v) return false;
    field = *v;
  }
  return ReferenceFromText(std::string(s), fields);
}

std::optional<AddressFields> ResolveAddress(const std::string& Address, std::int16_t unitAddress,
                                            TagDatabase& db) {
  AddressFields fields;
  if (std::optional<std::int32_t> plain = PlainDecimal(Address)) {
    fields.reference = *plain;
  } else if (IsNumericText(Address)) {
    // A number too big for 32 bits is still a number, not a tag name.
    if (!ReferenceFromText(Address, fields)) return std::nullopt;
  } else if (Address.find(';') != std::string::npos) {
    if (!ParseAddressString(Address, fields)) return std::nullopt;
  } else {
    const TagRecord* rec = TagRecordOfName(Address, db);
    if (!rec) return std::nullopt;
    std::string text;
    try {
      text = rec->address.ToString();
    } catch (const RuntimeError&) {
      return std::nullopt;
    }
    if (!ParseAddressString(text, fields)) return std::nullopt;
  }
  if (fields.unit == -1) fields.unit = unitAddress;
  return fields;
}

}  // namespace plc

