#pragma once
// What an enIODataType value means for the registers of a read or write, as the frame applies
// it. The protocol engines ask IoCodingOf<control> for the coding, RegistersPerValue for the
// register count, and decode or encode with the functions below.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/Enums.h"
#include "base/Variant.h"

namespace plc {

enum class IoCoding : std::uint8_t {
  PlainWords,       // each value one register, 0..65535 as it stands
  FixedPointPairs,  // each value two registers: integer part, then ten-thousandths
  SignedWords,      // each register a signed 16-bit value (LongToSIgnedInt / SignedIntToLong)
  HexText,          // each register as its hexadecimal text (SeqLink's ioBCD)
};

// RtuLink: 2 pairs, 5 signed words (honoured although RtuLink's enumeration lacks it); every
// other value, scaled types included, plain words.
IoCoding RtuIoCoding(std::int32_t ioType);
// SeqLink: 2 pairs, 5 (ioBCD) hexadecimal text, every other value plain words.
IoCoding SeqIoCoding(std::int32_t ioType);
// UdpLink: 2 pairs, every other value plain words (it has no BCD conversion).
IoCoding UdpIoCoding(std::int32_t ioType);

// Registers a read requests per value: 2 for ioFloat, else 1.
std::int32_t RegistersPerValue(std::int32_t ioType);

// Fixed-point read: whole + fraction / 10000, both registers unsigned (12, 3456 -> 12.3456).
double FixedPointRead(std::uint16_t whole, std::uint16_t fraction);

struct FixedPointWords {
  std::int32_t whole;     // floor(value), -32768..65535; a negative one goes out as whole + 65536
  std::int32_t fraction;  // (value - whole) * 10000 to the nearest integer, halves to even
  bool operator==(const FixedPointWords&) const = default;
};
// Fixed-point write: 2.345 -> 2, 3450; -1.25 -> -2, 7500. A value whose integer part does not fit
// a 16-bit register (signed or unsigned), infinity or NaN is an overflow (6).
FixedPointWords FixedPointWrite(double value);
// The register form of whole (a negative one + 65536).
std::uint16_t RegisterWord(std::int32_t whole);

// Hexadecimal text of a word, upper case without leading zeros (65535 -> "FFFF", 0 -> "0").
std::string HexWordText(std::uint16_t word);

// The values of a reply's registers under a coding: plain words and signed words as Long,
// pairs as Double (a trailing unpaired register is dropped), hexadecimal text as String.
std::vector<Variant> DecodeRegisters(IoCoding coding, std::span<const std::uint16_t> registers);

}  // namespace plc
