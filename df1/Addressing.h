#pragma once
// Allen-Bradley data-table addresses (N7:0, B3/35, T4:2.2, I:1/3) and the file-type table
// that maps their letters to PCCC file types.
#include <cstdint>
#include <optional>
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
inline constexpr std::int16_t kCodeInteger = 7;
inline constexpr std::int16_t kCodeFloat = 8;
inline constexpr std::int32_t kNoBit = 99;

// The entry of a code (a code outside the table reads as the bit file).
const FileType& FileTypeOf(std::int16_t code);
// The code of the letters, compared in upper case; letters not in the table give the bit file.
std::int16_t FileTypeCodeOf(std::string_view letters);

struct ParsedAddress {
  std::int16_t FileTypeCode = kCodeBit;
  std::int32_t FileNumber = 0;
  std::int32_t ElementNumber = 0;
  std::int32_t BitNumber = kNoBit;
  std::int32_t WordOffset = 0;  // sub-element + 1 (reads only); 0: none
};

// A read address; empty when refused (the read then returns 94). Refused: no file-type
// letters, digits that run out before the element (N7), an address that ends right after its
// colon (N7:), a number beyond 32 bits.
std::optional<ParsedAddress> ParseReadAddress(std::string_view text);

// A write address; empty when it cannot be parsed (the write then returns 0, nothing sent).
// Letters may be missing (the bit file), there is no bit-number form without a colon (B3/35 is
// element 35) and no sub-element: whatever follows the element is a bit number, which a write
// does not use.
std::optional<ParsedAddress> ParseWriteAddress(std::string_view text);

}  // namespace plc::df1
