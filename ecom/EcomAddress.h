#pragma once
// Where an ECOM request goes: a PLC address (an octal number, "station;TYPE,number" or a tag
// name) resolved to a station and a CCM data type, address and bit. Pure functions.
#include <cstdint>
#include <optional>
#include <string>

#include "frame/TagDatabase.h"
#include "base/Variant.h"

namespace plc::ecom {

constexpr std::uint8_t kRegisters = 0x31;
constexpr std::uint8_t kInputs = 0x32;
constexpr std::uint8_t kOutputs = 0x33;
// The CCM address field is 16 bits; registers travel as their number + 1.
constexpr std::int32_t kLastCcmAddress = 0xFFFF;
constexpr std::int32_t kLastStation = 255;

struct CcmTarget {
  std::uint8_t dataType = kRegisters;
  std::int32_t address = 0;  // as the transport takes it (registers: it adds 1)
  bool bit = false;
  std::int32_t bitIndex = 0;
  bool operator==(const CcmTarget&) const = default;
};

// A host's value as a message quotes it: its text, cut after 60 characters; "(an array)" for
// an array. Never raises.
std::string ShownText(const Variant& value);

// The memory type (upper-cased letters) and the converted number n:
//   V, empty or unknown: 31h, n        X: 32h, n/8+101h     Y: 33h, n/8+101h
//   C: 33h, n/8+181h    SP: 32h, n/8+181h   S: 33h, n/8+281h   T: 33h, n/8+301h
//   CT: 33h, n/8+321h   GX: 32h, n/8+1      GY: 33h, n/8+1     (bit types: bit n mod 8)
CcmTarget MapEcomType(const std::string& type, std::int32_t n);

// The last number of a memory type: a bit type's last point (X1777, Y1777, C3777, SP777, S1777,
// T377, CT377, GX3777, GY3777), a register's last CCM address within the 16-bit field.
std::int32_t LastEcomNumber(const std::string& type);

struct EcomAddress {
  std::int32_t station = 0;  // 0..255
  std::string type;          // upper case, may be empty
  std::int32_t number = 0;   // the octal number converted
  CcmTarget target;          // MapEcomType(type, number), its address within the CCM field
  bool operator==(const EcomAddress&) const = default;
};

// An address resolved, or why it is not, in words that name the address ("address 'V,19' not
// understood: 9 is not an octal digit").
struct EcomResolution {
  std::optional<EcomAddress> address;
  std::string refusal;
};

// A number is an octal V-memory number at the default station. Text with ";" or "," is split:
// the digits before ";" are the station, then TYPE,number (blanks around the number allowed).
// Anything else is a tag name whose address is read the same way (a number or digits in it
// being V-memory). Refused: what does not resolve, a number with a digit 8 or 9, a station
// beyond 255, a point beyond its area and a register whose CCM address would not fit the 16-bit
// field.
EcomResolution ResolveEcomAddress(const Variant& address, std::int16_t defaultStation, TagDatabase& tags = Tags());

}  // namespace plc::ecom
