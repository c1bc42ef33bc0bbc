#pragma once
// From the host's Address argument to the station and 16-bit word address of a DirectNET
// header. An address is an octal V-memory number ("2000", station from the Address property),
// an address string "station;TYPE,number" or "TYPE,number", or a tag name whose address string
// is parsed the same way. Numbers are octal; the memory type picks the header address:
//   X, Y, C, GX, GY   bits, eight to a header address (C writes address single bits)
//   V, T, CT, S, SP   words
// Each type reaches as far as its memory does: the bit types to the end of their area (X and Y
// to 777, C, GX and GY to 1777, so that X1000 is not taken for Y0), T, CT, S and SP to the
// last word the largest DirectLOGIC has of them (T377, CT377, S,77, SP,37; T400 would be V400),
// V to the last address a header carries (FFFFh). Nothing here raises an error: an address that
// does not resolve says why, naming the address and the part that was not understood.
#include <cstdint>
#include <optional>
#include <string>

#include "frame/TagDatabase.h"
#include "base/Variant.h"
#include "directnet/Blocks.h"

namespace plc::dnet {

enum class Access { Read, Write };

struct MemoryAddress {
  std::int32_t address = 0;  // header address
  bool bit = false;
  std::int32_t bitIndex = 0;  // 0..7 for a bit type read
  bool operator==(const MemoryAddress&) const = default;
};

struct SplitFields {
  std::optional<std::int32_t> station;  // nullopt: the Address property
  std::string type;                     // memory type letters as written
  std::string number;                   // octal number text, trimmed
};

struct ResolvedAddress {
  std::int32_t station = 0;
  MemoryAddress memory;
  std::string type;  // memory type letters in upper case; empty for a plain number
  std::int32_t number = 0;  // the converted (octal) number
};

// What the road made of an address: the target, or why there is none ("address 'V,2008' not
// understood: '2008' is not an octal number (digits 0 to 7)").
struct Resolution {
  std::optional<ResolvedAddress> target;
  std::string refusal;

  explicit operator bool() const { return target.has_value(); }
  const ResolvedAddress& operator*() const { return *target; }
  const ResolvedAddress* operator->() const { return &*target; }
};

// How a tag's address string is read: as an address string of this form (ReadPLC, WritePLC,
// WritePLCBit), or by the frame's address-string parser (ReadPLCNW, ReadDevice), whose unit is
// the station and whose reference address the number, with no memory type.
enum class TagForm { TypedString, FrameString };

// "station;TYPE,number" or "TYPE,number". nullopt when it is neither, or names a station
// beyond lastStation; why, in *why when given.
std::optional<SplitFields> SplitAddress(const std::string& text, std::string* why = nullptr,
                                        std::int32_t lastStation = kMaxStation);

// The header address of type letters (any case) and the converted number n. n must not be
// beyond LastNumber.
MemoryAddress MapMemoryType(const std::string& type, std::int32_t n, Access access);
// The highest number of the type (any case): the end of a bit area (a C write, F000h + n,
// reaches as far as a C read), or the last word address a header carries.
std::int32_t LastNumber(const std::string& type);

// Why count values from the target would run past the last of its type ("2 words from T377 run
// past T377, the last T word"); empty when they stay inside, or count is below 1.
std::string RunPastRefusal(const ResolvedAddress& target, std::int32_t count);

// The word read that takes `count` values at a target: for a word type, count words from its
// address; for a bit type, as many words as its points need (16 points a word), from its header
// address (one earlier when the read's last byte would pass the end of the area), the points
// starting at bit firstBit of the first word. nullopt, with why, when the values would run past
// the type's last point or word.
struct ReadSpan {
  std::int32_t address = 0;
  std::int32_t words = 0;
  std::int32_t firstBit = 0;
};
std::optional<ReadSpan> ReadSpanOf(const ResolvedAddress& target, std::int32_t count, std::string& why);

// The whole road. defaultStation is the Address property.
Resolution ResolveAddress(const Variant& Address, std::int32_t defaultStation, Access access, TagForm tagForm,
                          TagDatabase& tags = Tags());

// Text of digits only, once trimmed of blanks.
bool IsDigitText(const std::string& text);

// The address argument as a user wrote it, for messages: "'V,2000'", or a number's digits.
std::string AddressText(const Variant& Address);

}  // namespace plc::dnet
