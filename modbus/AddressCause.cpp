#include "modbus/AddressCause.h"

#include <cstdio>
#include <string_view>

#include "base/RuntimeError.h"
#include "base/Variant.h"

namespace plc::modbus {

namespace {

constexpr std::size_t kShownBytes = 48;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool HasNonAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

bool IsNumber(const std::string& text) {
  try {
    Variant(text).ToDouble();
    return true;
  } catch (const RuntimeError&) {
    return false;
  }
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// What is wrong with an address string (one holding ';'), walked as the parser walks it: the
// unit, up to five more fields, then the reference.
std::string AddressStringCause(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  static const char* const kFieldNames[] = {"the unit", "field 2", "field 3", "field 4", "field 5", "field 6"};
  for (int field = 0; field < 6; ++field) {
    if (field > 0 && s.find(';') == std::string_view::npos) break;
    std::size_t n = 0;
    long value = 0;
    while (n < s.size() && IsDigit(s[n])) {
      value = value * 10 + (s[n] - '0');
      if (value > 32767) return std::string(kFieldNames[field]) + " does not fit 16 bits (0..32767)";
      ++n;
    }
    if (n == 0) {
      return std::string(kFieldNames[field]) + (field == 0 ? " before ';'" : "") +
             " is not a number (fields are digits, each ended by one character such as ';')";
    }
    s.remove_prefix(n < s.size() ? n + 1 : n);
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  }
  std::string rest(s);
  if (Trimmed(rest).empty()) return "nothing follows the last ';' (the reference comes last, as in 1;40001)";
  if (rest.find(';') != std::string::npos) return "more than six fields before the reference";
  if (IsNumber(rest)) return "the reference " + ShownAddress(rest) + " does not fit 32 bits";
  return "the reference " + ShownAddress(rest) + " after the last ';' is not a number";
}

}  // namespace

std::string ShownAddress(const std::string& address) {
  // At most kShownBytes of text, escapes included, never ending inside a UTF-8 character.
  std::string shown;
  std::size_t used = 0;
  for (; used < address.size() && shown.size() < kShownBytes; ++used) {
    auto c = static_cast<unsigned char>(address[used]);
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    } else {
      shown += static_cast<char>(c);
    }
  }
  if (used < address.size()) {
    std::size_t keep = shown.size();
    while (keep > 0 && (static_cast<unsigned char>(shown[keep - 1]) & 0xC0) == 0x80) --keep;
    if (keep > 0 && (static_cast<unsigned char>(shown[keep - 1]) & 0xC0) == 0xC0) shown.resize(keep - 1);
  }
  std::string text = "'" + shown + (used < address.size() ? "...'" : "'");
  if (used < address.size()) text += " (" + std::to_string(address.size()) + " bytes)";
  return text;
}

std::string AddressCause(const std::string& address, TagDatabase& tags) {
  const std::string head = "address " + ShownAddress(address) + " not understood: ";
  std::string_view trimmed = Trimmed(address);
  if (trimmed.empty()) return head + "it is empty (give a reference such as 40001, or unit;reference as 2;40001)";
  if (IsNumber(address)) return head + "the number does not fit 32 bits";
  bool digitsOnly = true;
  for (char c : trimmed) digitsOnly = digitsOnly && IsDigit(c);
  if (digitsOnly) return head + "the number does not fit 32 bits";
  if (address.find(';') != std::string::npos) return head + AddressStringCause(address);
  if (HasNonAscii(address))
    return head + "it holds characters that are not ASCII (full-width digits are not digits here), and no tag has "
                  "that name";
  if (const TagRecord* tag = TagRecordOfName(address, tags)) {
    std::string text;
    try {
      text = tag->address.ToString();
    } catch (const RuntimeError&) {
      return head + "its tag holds no address text";
    }
    if (text.find(';') == std::string::npos)
      return head + "its tag holds " + ShownAddress(text) + ", which is not a number";
    return head + "its tag holds " + ShownAddress(text) + ": " + AddressStringCause(text);
  }
  return head + "not a number, not unit;reference, and no tag of that name in the tag database";
}

}  // namespace plc::modbus
