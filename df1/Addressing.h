#pragma once
// Allen-Bradley data-table addresses as users of these processors type them (N7:0, B3/35,
// T4:1.ACC, C5:0/DN, I:1/3) and the file-type table that maps their letters to PCCC file types.
//
// The parser takes an address only when it understands all of it: letters of a known file
// type, a file number, an element, and, where the file has them, a sub-element (a number or a
// mnemonic such as PRE) and a bit (a number or a mnemonic such as DN). Anything else, and any
// number that does not fit the field it goes into, is refused with a text that names the
// address and what was wrong.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plc::df1 {

struct FileType {
  std::string_view letters;  // as the table spells them, upper case
  std::uint8_t typeByte;     // PCCC file type
  int elementBytes;
};

// Codes 0..13: O, I, S, B, T, C, R, N, F, A, BCD, CC, CCO, ST.
inline constexpr std::int16_t kCodeOutput = 0;
inline constexpr std::int16_t kCodeInput = 1;
inline constexpr std::int16_t kCodeStatus = 2;
inline constexpr std::int16_t kCodeBit = 3;
inline constexpr std::int16_t kCodeTimer = 4;
inline constexpr std::int16_t kCodeCounter = 5;
inline constexpr std::int16_t kCodeControl = 6;
inline constexpr std::int16_t kCodeInteger = 7;
inline constexpr std::int16_t kCodeFloat = 8;
inline constexpr std::int16_t kCodeString = 13;
inline constexpr std::int32_t kNoBit = 99;

// What the request fields carry: file and element numbers up to 65535 (0xFF and a word), a
// bit of a 16-bit word.
inline constexpr std::int32_t kMaxFileNumber = 65535;
inline constexpr std::int32_t kMaxElementNumber = 65535;
inline constexpr std::int32_t kMaxBitNumber = 15;

// The entry of a code (a code outside the table reads as the bit file).
const FileType& FileTypeOf(std::int16_t code);
// The code of the letters, compared in upper case; empty when no file type has them.
std::optional<std::int16_t> FileTypeCodeOf(std::string_view letters);

struct ParsedAddress {
  std::int16_t FileTypeCode = kCodeBit;
  std::int32_t FileNumber = 0;
  std::int32_t ElementNumber = 0;
  std::int32_t BitNumber = kNoBit;
  std::int32_t WordOffset = 0;  // sub-element + 1; 0: none
};

// An address, or why it was refused ("address 'N7:' has no element after ':' ...").
struct AddressParse {
  std::optional<ParsedAddress> address;
  std::string error;
  explicit operator bool() const { return address.has_value(); }
  const ParsedAddress& operator*() const { return *address; }
  const ParsedAddress* operator->() const { return &*address; }
};

// A read address. The colon form FILE:ELEMENT[.SUB][/BIT]; without a colon, B3/35 is bit 35
// counted from the start of a file of one-word elements (B3:2/3). O, I and S are files 0, 1
// and 2 whether or not the number is given.
AddressParse ParseReadAddress(std::string_view text);

// A write address: the same forms, but a bit is refused (a write changes whole words).
AddressParse ParseWriteAddress(std::string_view text);

}  // namespace plc::df1
