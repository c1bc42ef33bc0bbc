#include "directnet/BitWrites.h"

#include <exception>

#include "directnet/AddressRoad.h"
#include "directnet/AddressTexts.h"

namespace plc::dnet {

BitMark FindBitMark(const Variant& pstr, TagDatabase& tags) {
  if (!pstr.IsString()) return {};
  const std::string text = pstr.ToString();
  const std::size_t b = text.find_first_of("bB");
  if (b == std::string::npos || IsDigitText(text) || TagRecordOfName(text, tags)) return {};
  const std::string after = Trim(text.substr(b + 1));
  if (after.empty() || IsDigitText(after)) return BitMark{BitMark::Form::Marked, text.substr(0, b), after};
  // A name that is no tag stays whole: the address road says that no tag has it.
  if (text.find_first_of(";,") == std::string::npos) return {};
  return BitMark{BitMark::Form::Unreadable, {}, {}};
}

std::string UnreadableMarkRefusal(const Variant& pstr) {
  const std::string text = pstr.ToString();
  const std::size_t b = text.find_first_of("bB");
  return "address '" + Capped(text) + "' not understood: a \"" + text.substr(b, 1) +
         "\" marks a bit at the end of an address (V,2000b3, C,10b), and '" + Capped(text.substr(b + 1)) +
         "' follows it here";
}

std::string BitOfAWordRefusal(const std::string& shown, const std::string& bit) {
  return "'" + Capped(shown) + "' names " + (bit.empty() ? std::string("a bit") : "bit " + Capped(bit)) +
         " of a word, which this line cannot write alone: the station has no bit write for words, and reading the "
         "word first could undo what the PLC changes in between; write the whole word";
}

std::string SetResetRunRefusal(std::int32_t writeSize, const std::string& firstPoint) {
  if (writeSize <= 1) return {};
  return "WriteSize " + std::to_string(writeSize) + " asks for " + std::to_string(writeSize) + " points from " +
         firstPoint + ", and a set or reset writes one point: write them one at a time";
}

std::optional<bool> SetOrReset(const Variant& value, std::string* why) {
  auto neither = [why](const std::string& reason) -> std::optional<bool> {
    if (why) *why = reason;
    return std::nullopt;
  };
  if (value.IsArray() && !value.Array().Contains(1)) return neither("the array of values has no element 1 to write");
  const Variant& v = value.IsArray() ? value.Array().Get(1) : value;
  if (v.Type() == VarType::Bool) return v.ToBool();
  if (v.IsEmpty()) return neither("no value to write: 1 (or True) sets the point, 0 (or False) resets it");
  std::string shown = "(no text)";
  try {
    shown = Capped(v.ToString());
    const double d = v.ToDouble();
    if (d == 1.0) return true;
    if (d == 0.0) return false;
  } catch (const std::exception&) {
    // no number (a RuntimeError among them): neither
  }
  return neither("value " + shown + " is neither 1 (or True), which sets the point, nor 0 (or False), which resets it");
}

}  // namespace plc::dnet
