#pragma once
// PCCC request payloads (before framing): the SLC500/MicroLogix protected typed logical read
// and write with three address fields, and the PLC5 word-range read. Each builder refuses,
// with an empty result, what its bytes cannot carry: a station outside 0..255, a byte count
// outside 1..255, a file or element number above 65535, a data word outside 0..65535.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/Variant.h"
#include "df1/Addressing.h"

namespace plc::df1 {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kCommand = 0x0F;
inline constexpr std::uint8_t kTypedRead = 0xA2;
inline constexpr std::uint8_t kTypedWrite = 0xAA;
inline constexpr std::uint8_t kWordRangeRead = 0x01;
inline constexpr std::int32_t kPlc5 = 3;

// The transaction numbers run 1..49 and round again.
inline constexpr std::int32_t kLastTns = 49;
std::int32_t NextTns(std::int32_t tns);

struct RequestHead {
  std::int32_t dst;  // Address
  std::int32_t src;  // Node
  std::int32_t tns;
};

// A file or element number: one byte below 255, else 0xFF and the number low byte first.
// Empty above 65535 or below 0.
std::optional<Bytes> AddressField(std::int32_t number);

// The PLC5 system address text of a file: 0x00 "$" letters file ":" element 0x00.
Bytes Plc5SystemAddress(std::int16_t fileTypeCode, std::int32_t fileNumber, std::int32_t elementNumber);

// A read of count elements of the address; plcType 3 the PLC5 word-range read, any other the
// typed logical read.
std::optional<Bytes> ReadPayload(const RequestHead& head, const ParsedAddress& a, std::int32_t count,
                                 std::int32_t plcType);

// A typed logical write of the words (an F file takes two per value, low word first); its
// byte count is that of whole elements, valueCount of them.
std::optional<Bytes> WritePayload(const RequestHead& head, const ParsedAddress& a, std::int32_t valueCount,
                                  std::span<const std::int32_t> words);

// The values i = 1..count of the caller's array as words: an N-file value below 0 becomes
// v + 65536 in the caller's array itself (the host sees it), an F-file value two words (low
// first), any other value one word. Empty, and the array as far as converted, when a value
// cannot be sent (outside 0..65535 once converted, not a number, or an index the array lacks).
std::optional<std::vector<std::int32_t>> WriteValues(VariantArray& values, std::int16_t fileTypeCode,
                                                     std::int32_t count);

}  // namespace plc::df1
