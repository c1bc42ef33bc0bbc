#include "directnet/ReadValues.h"

#include <algorithm>

#include "base/Enums.h"
#include "base/IoDataType.h"
#include "base/RuntimeError.h"

namespace plc::dnet {

namespace {

std::int32_t Word(const ReadWordArray& words, std::int64_t index) {
  return index >= 1 && index <= kLastReadWord ? words[static_cast<std::size_t>(index)] : 0;
}

// The words are 0..65535 as the replies carry them.
std::uint16_t Register(const ReadWordArray& words, std::int64_t index) {
  return static_cast<std::uint16_t>(Word(words, index));
}

double FixedPoint(const ReadWordArray& words, std::int32_t k) {
  return FixedPointRead(Register(words, 2 * std::int64_t{k} - 1), Register(words, 2 * std::int64_t{k}));
}

// Calls put(k, value) for the values k = 1..n as the table of the reply's handling gives them.
// The kind is decided once for all of them: a reply carries hundreds, and each is made where
// it is stored, with no list of values built first.
template <typename Put>
void EachValue(const ReadWordArray& words, std::int32_t n, std::int32_t ioType, std::int32_t bitIndex, Put put) {
  if (ioType == ioFloat) {
    for (std::int32_t k = 1; k <= n; ++k) put(k, Variant(FixedPoint(words, k)));
  } else if (ioType == kBitIoType) {
    for (std::int32_t k = 1; k <= n; ++k) put(k, Variant(WalkBit(words, bitIndex, k)));
  } else if (ioType == ioBCD) {
    for (std::int32_t k = 1; k <= n; ++k) put(k, Variant(HexWordText(Register(words, k))));
  } else {
    for (std::int32_t k = 1; k <= n; ++k) put(k, Variant(Word(words, k)));
  }
}

// How many of the elements 1..n the array has.
std::int32_t ElementsFromOne(const VariantArray& values, std::int32_t n) {
  return values.Contains(1) ? std::min(n, values.Upper()) : 0;
}

}  // namespace

std::int32_t WalkBit(const ReadWordArray& words, std::int32_t firstBit, std::int32_t k) {
  const std::int64_t position = std::int64_t{firstBit} + k - 1;
  if (position < 0) return 0;
  const std::int64_t w = 1 + position / 16;
  const auto b = static_cast<int>(position % 16);
  return (Word(words, w) >> b) & 1;
}

std::string BitIndexRefusal(std::int32_t ioIdx) {
  if (ioIdx >= 0 && ioIdx <= 15) return {};
  return "ioIdx " + std::to_string(ioIdx) + " names no bit of a 16-bit word (0 to 15)";
}

void FillReadValues(const ReadWordArray& words, std::int32_t n, std::int32_t ioType, std::int32_t bitIndex,
                    VariantArray& values) {
  // Whole pairs only: an odd last word has no partner in the reply and is no value.
  const std::int32_t count = ioType == ioFloat ? n / 2 : n;
  std::span<Variant> slots = values.Range(1, ElementsFromOne(values, count));
  EachValue(words, static_cast<std::int32_t>(slots.size()), ioType, bitIndex,
            [&](std::int32_t k, Variant&& value) { slots[static_cast<std::size_t>(k - 1)] = std::move(value); });
}

bool StoreReadValue(const ReadWordArray& words, std::int32_t count, std::int32_t ioType, std::int32_t ioIdx,
                    Variant& ReadValue, std::string* refusal) {
  if (ioType == ioFloat && !ReadValue.IsArray()) {
    ReadValue = Variant(FixedPoint(words, 1));
    return true;
  }
  // One value even for a count below 1; ioFloat gives one per pair of words.
  const std::int32_t values = ioType == ioFloat ? count / 2 : std::max(count, 1);
  if (!ReadValue.IsArray()) {
    if (values == 1) {
      EachValue(words, 1, ioType, ioIdx, [&](std::int32_t, Variant&& value) { ReadValue = std::move(value); });
      return true;
    }
    ReadValue = Variant(VariantArray(1, values));
  }
  // A read that fails here leaves the caller's array as it was: the bounds are checked before
  // anything is stored.
  VariantArray& array = ReadValue.Array();
  if (ElementsFromOne(array, values) < values) return false;  // the array cannot take every value
  if (array.ElementType() == VarType::Empty || (array.ElementType() == VarType::Double && ioType != ioBCD)) {
    // An array of variants takes every value as it is, one of doubles every number: nothing can
    // fail past the bounds.
    std::span<Variant> slots = array.Range(1, values);
    const bool doubles = array.ElementType() == VarType::Double;
    EachValue(words, values, ioType, ioIdx, [&](std::int32_t k, Variant&& value) {
      slots[static_cast<std::size_t>(k - 1)] = doubles ? Variant(value.ToDouble()) : std::move(value);
    });
    return true;
  }
  // A typed array may refuse a value part way (40000 in an Integer, text in a number): its
  // values are converted aside and handed over only when every one fits.
  VariantArray staged = array;
  try {
    EachValue(words, values, ioType, ioIdx, [&](std::int32_t k, Variant&& value) {
      try {
        // A word with a nibble above 9 is no BCD number: its text may still read as one in
        // exponent form (0x01E5 as "1E5", 100000), which is no value the word holds.
        if (ioType == ioBCD && array.ElementType() != VarType::String &&
            value.ToString().find_first_not_of("0123456789") != std::string::npos)
          throw RuntimeError(err::TypeMismatch, "no BCD number: a digit above 9");
        staged.Set(k, value);
      } catch (const std::exception& e) {
        if (refusal)
          *refusal = "element " + std::to_string(k) + " of ReadValue cannot hold the value " + value.ToString() +
                     " read (" + e.what() + ")";
        throw;
      }
    });
  } catch (const std::exception&) {
    return false;
  }
  array = std::move(staged);
  return true;
}

}  // namespace plc::dnet
