#pragma once
// PCCC request payloads (before framing): the SLC500/MicroLogix protected typed logical read
// and write with three address fields, and the PLC5 word-range read. Each builder refuses,
// with the reason, what its bytes cannot carry: a station outside 0..255, a byte count outside
// 1..255, a file or element number above 65535, a data word outside 0..65535.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/Variant.h"
#include "df1/Addressing.h"
#include "df1/Checked.h"

namespace plc::df1 {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kCommand = 0x0F;
inline constexpr std::uint8_t kReplyFlag = 0x40;
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

// The elements one value of a read takes: max(1, WordOffset), and at least the two words of a
// single when the values are read as singles from a file of one-word elements.
std::int32_t ElementsPerValue(const ParsedAddress& a, bool asFloat);
// The most values one read of the address carries: its byte count is one byte.
std::int32_t MaxReadCount(const ParsedAddress& a, bool asFloat = false);
// The most values one write to the address carries in the check mode: the byte count is one
// byte and the payload must fit the check buffer.
std::int32_t MaxWriteCount(const ParsedAddress& a, std::int32_t mode);

// A read of count elements of the address; plcType 3 the PLC5 word-range read, any other the
// typed logical read (from the element's first word: the reply is cut to the sub-element).
Checked<Bytes> ReadPayload(const RequestHead& head, const ParsedAddress& a, std::int32_t count, std::int32_t plcType);

// A typed logical write of the words to the address and its sub-element (an F file takes two
// words per value, low word first); its byte count is that of valueCount values.
Checked<Bytes> WritePayload(const RequestHead& head, const ParsedAddress& a, std::int32_t valueCount,
                            std::span<const std::int32_t> words);

// The values i = 1..count of the caller's array as words. A word takes a whole number in
// -32768..65535, a negative one as its two's complement (in the caller's array itself for an N
// file, so the host sees it, where the array's type holds it); an F-file value is a finite
// single, sent as two words, low first.
// Refused, with the value named, for anything else or an index the array lacks.
Checked<std::vector<std::int32_t>> WriteValues(VariantArray& values, std::int16_t fileTypeCode, std::int32_t count);

}  // namespace plc::df1
