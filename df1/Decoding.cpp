#include "df1/Decoding.h"

#include <algorithm>
#include <bit>

#include "base/Conversions.h"
#include "base/RuntimeError.h"

namespace plc::df1 {

namespace {

// A column of a row, 0 outside 1..130.
std::int32_t Word(const ReplyRow& row, std::int64_t column) {
  if (column < 1 || column > kReplyWords) return 0;
  return row[static_cast<std::size_t>(column)];
}

}  // namespace

float FloatOfWords(std::int32_t low, std::int32_t high) {
  try {
    return LongFloatToDec(high & 0xFFFF, low & 0xFFFF);
  } catch (const RuntimeError&) {
    // The pattern of an infinity or a NaN, which the conversion refuses: the PLC holds it.
    const auto bits = (static_cast<std::uint32_t>(high & 0xFFFF) << 16) | static_cast<std::uint32_t>(low & 0xFFFF);
    return std::bit_cast<float>(bits);
  }
}

std::int32_t BitOf(std::int32_t value, std::int32_t bit) {
  if (bit < 0) return 0;
  // A bit beyond the 32 of the value repeats its sign, as an arithmetic shift does.
  return (value >> std::min(bit, 31)) & 1;
}

namespace {

// Calls put(i, value) for the values i = 1..count of a row: singles of the word pairs 2i-1
// (low), 2i (high), or the words at offset + i - 1. The kind is decided once for all of them:
// a reply carries up to a hundred and more.
template <typename Put>
void EachValue(const ReplyRow& row, std::int32_t count, bool asFloat, std::int32_t offset, Put put) {
  if (asFloat) {
    for (std::int32_t i = 1; i <= count; ++i)
      put(i, Variant(FloatOfWords(Word(row, 2 * std::int64_t{i} - 1), Word(row, 2 * std::int64_t{i}))));
  } else {
    for (std::int32_t i = 1; i <= count; ++i) put(i, Variant(Word(row, std::int64_t{offset} + i - 1)));
  }
}

// Whether word k of a reply (counted from 0) is a signed number: every word of an N file, and
// a counter's preset and accumulator, which count below 0. A read starts at its element's
// first word, so k % 3 is the word of a counter's element; its control word holds bits.
bool SignedWord(const ParsedAddress& a, std::size_t k) {
  if (a.FileTypeCode == kCodeInteger) return true;
  return FileTypeOf(a.FileTypeCode).typeByte == FileTypeOf(kCodeCounter).typeByte && k % 3 != 0;
}

}  // namespace

void StoreReply(Df1State& s, const Transaction& t, int tns, const std::vector<std::uint16_t>& words) {
  if (tns < 0 || tns >= kReplyRows) return;
  auto& row = s.ReplyTable[static_cast<std::size_t>(tns)];
  const ParsedAddress& a = t.address;
  const std::size_t n = std::min<std::size_t>(words.size(), kReplyWords);
  for (std::size_t k = 0; k < n; ++k) {
    std::int32_t w = words[k];
    row[k + 1] = SignedWord(a, k) && w > 32767 ? w - 65536 : w;
  }
  if (words.empty()) {
    s.DataBuffer.Set(1, Variant(std::int32_t{0}));
    return;
  }
  const std::int32_t offset = std::max(1, a.WordOffset);
  const std::int32_t count = std::min<std::int32_t>(t.count, kDataBufferSize);
  std::span<Variant> data = s.DataBuffer.Range(1, count);
  EachValue(row, count, a.FileTypeCode == kCodeFloat, offset, [&](std::int32_t i, Variant&& value) {
    Variant& slot = data[static_cast<std::size_t>(i - 1)];
    slot = a.BitNumber == kNoBit ? std::move(value) : Variant(BitOf(value.ToInt32(), a.BitNumber));
  });
}

void DecodeInto(Variant& readValue, const ReplyRow& row, const Transaction& t, std::int32_t count) {
  const std::int32_t offset = std::max(1, t.address.WordOffset);
  // Each value of a bit address is that bit of its word, as DataBuffer holds it: reduced before
  // it is stored, so that a caller's Integer or Byte takes it whatever the rest of the word
  // holds (T4:0/DN of 0xE000).
  auto bit = [&t](Variant&& value) {
    return t.address.BitNumber == kNoBit ? std::move(value) : Variant(BitOf(value.ToInt32(), t.address.BitNumber));
  };
  if (readValue.IsArray()) {
    // A read that fails here leaves the caller's array as it was: the bounds are checked before
    // anything is stored, and an array whose type may refuse a value part way (40000 in an
    // Integer, a NaN in a Long) takes its values converted aside, handed over only when every one
    // fits. Variants and doubles take every word and single: ReadPLC's array goes uncopied.
    VariantArray& array = readValue.Array();
    if (count >= 1 && (!array.Contains(1) || !array.Contains(count))) throw RuntimeError(err::Subscript);
    const bool typed = !array.TakesEveryNumber();
    VariantArray staged = typed ? array : VariantArray();
    VariantArray& out = typed ? staged : array;
    EachValue(row, count, t.floatFlag, offset, [&](std::int32_t i, Variant&& read) {
      Variant value = bit(std::move(read));
      try {
        out.Set(i, value);
      } catch (const RuntimeError& e) {
        // The index is there but its type cannot take the value: say which value.
        throw RuntimeError(e.Number(), "element " + std::to_string(i) + " of ReadValue cannot hold the value " +
                                           value.ToString() + " read (" + e.what() + ")");
      }
    });
    if (typed) array = std::move(staged);
    return;
  }
  EachValue(row, 1, t.floatFlag, offset, [&](std::int32_t, Variant&& value) { readValue = bit(std::move(value)); });
}

}  // namespace plc::df1
