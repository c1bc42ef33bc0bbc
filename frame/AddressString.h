#pragma once
// Address strings: the unit first, up to five further numeric fields, the reference address last,
// fields separated by ";" (any non-digit ends a leading field). ResolveAddress turns the Address
// argument of RtuLink's read and write methods into a unit and a reference address.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "frame/TagDatabase.h"

namespace plc {

struct AddressFields {
  std::int16_t unit = -1;             // -1: the control's UnitAddress
  std::array<std::int16_t, 5> more{};  // fields 2..6
  std::int32_t reference = 0;
  // The reference was written with a fraction (40001.5) and rounded to the nearest whole
  // number, as text-to-number rounds; a caller whose references are whole may refuse it.
  bool fractionRounded = false;
  bool operator==(const AddressFields&) const = default;
};

// Parses text into fields. Fields the text does not carry keep the caller's values, and fields
// read before a failure stay stored. Never raises an error.
//   "3;40001", "3; 40001"  unit 3, address 40001
//   "3x2;40001"            unit 3, field 2 = 2, address 40001
//   "3 ;40001", "3;"       fail (empty field, empty address)
//   "70000;1"              fail (a leading field must fit 16 bits)
//   "40001"                address 40001, unit untouched
bool ParseAddressString(const std::string& text, AddressFields& fields);

// A number (spaces around it allowed), an address string containing ";", or a tag name whose
// address field is parsed as an address string. A unit left at -1 becomes unitAddress. nullopt
// when the address does not resolve; never raises an error.
std::optional<AddressFields> ResolveAddress(const std::string& Address, std::int16_t unitAddress,
                                            TagDatabase& db = Tags());

}  // namespace plc
