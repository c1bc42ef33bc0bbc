#pragma once
// What a bit write is on a DirectLOGIC line, read the same way on every path of SeqLink and
// UdpLink: the "b" mark of a WritePLC address, and the value of a set or reset.
//
// A "b" ends the address and is followed by a bit number or by nothing: "V,2000b3" (bit 3 of
// V2000), "C,10b" and "61448b" (a set/reset of the point). A name is first looked up whole as a
// tag ("Tumbler" is a tag's name, not "Tum" and a mark). In an address string ("station;TYPE,
// number") a "b" followed by anything else ("Vb,2000", "Yb,5") is no mark and no memory type:
// refused, where cutting nothing would have written V-memory.
#include <cstdint>
#include <optional>
#include <string>

#include "frame/TagDatabase.h"
#include "base/Variant.h"

namespace plc::dnet {

struct BitMark {
  enum class Form {
    None,        // no mark: the address as given (a number, a tag's name, text without "b")
    Marked,      // address before the "b", bit after it
    Unreadable,  // an address string with a "b" that is neither at the end nor before a bit number
  };
  Form form = Form::None;
  std::string address;  // Marked: the text before the "b"
  std::string bit;      // Marked: the digits after the "b", or empty
};

BitMark FindBitMark(const Variant& pstr, TagDatabase& tags = Tags());

// Why an Unreadable mark is refused: "address 'Vb,2000' not understood: ...".
std::string UnreadableMarkRefusal(const Variant& pstr);
// Why a bit of a word is refused; shown is the address as the host wrote it, bit the number
// after its "b" (empty: none).
std::string BitOfAWordRefusal(const std::string& shown, const std::string& bit);

// Why a set or reset with a WriteSize above 1 is refused: its header names one point, so the
// points after the first would be left as they were while the write was reported done.
// firstPoint as a user names it ("C10"). Empty for a WriteSize of 1 or less.
std::string SetResetRunRefusal(std::int32_t writeSize, const std::string& firstPoint);

// A set (true) or a reset (false): 1 or True sets, 0 or False resets (an array: its element 1).
// Anything else is neither, and nullopt with why in *why: a reset for "on" or -1 would turn off
// what the host meant to turn on.
std::optional<bool> SetOrReset(const Variant& value, std::string* why = nullptr);

}  // namespace plc::dnet
