#pragma once
// From the host's Address argument to the station and 16-bit word address of a DirectNET
// header. An address is an octal V-memory number ("2000", station from the Address property),
// an address string "station;TYPE,number" or "TYPE,number", or a tag name whose address string
// is parsed the same way. Numbers are octal; the memory type picks the header address:
//   X, Y, C, GX, GY   bits, eight to a header address (C writes address single bits)
//   V, T, CT, S, SP   words
// Nothing here raises an error: an address that does not resolve is nullopt.
#include <cstdint>
#include <optional>
#include <string>

#include "core/TagDatabase.h"
#include "core/Variant.h"

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
};

// How a tag's address string is read: as an address string of this form (ReadPLC, WritePLC,
// WritePLCBit), or by the frame's address-string parser (ReadPLCNW, ReadDevice), whose unit is
// the station and whose reference address the number, with no memory type.
enum class TagForm { TypedString, FrameString };

// "station;TYPE,number" or "TYPE,number". nullopt when it is neither.
std::optional<SplitFields> SplitAddress(const std::string& text);

// The header address of type letters (any case) and the converted number n.
MemoryAddress MapMemoryType(const std::string& type, std::int32_t n, Access access);

// The whole road. defaultStation is the Address property.
std::optional<ResolvedAddress> ResolveAddress(const Variant& Address, std::int32_t defaultStation, Access access,
                                              TagForm tagForm, TagDatabase& tags = Tags());

// Text of digits only, once trimmed of blanks.
bool IsDigitText(const std::string& text);

}  // namespace plc::dnet
