#include "directnet/ReadValues.h"

#include <vector>

#include "core/Enums.h"
#include "core/IoDataType.h"

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

// The values as the table of the reply's handling gives them, value k at [k - 1].
std::vector<Variant> Values(const ReadWordArray& words, std::int32_t n, std::int32_t ioType, std::int32_t bitIndex) {
  std::vector<Variant> out;
  if (n < 1) return out;
  if (ioType == ioFloat) {
    // Whole pairs only: an odd last word has no partner in the reply and is no value.
    for (std::int32_t k = 1; k <= n / 2; ++k) out.emplace_back(FixedPoint(words, k));
  } else if (ioType == kBitIoType) {
    for (std::int32_t k = 1; k <= n; ++k) out.emplace_back(WalkBit(words, bitIndex, k));
  } else if (ioType == ioBCD) {
    for (std::int32_t k = 1; k <= n; ++k) out.emplace_back(HexWordText(Register(words, k)));
  } else {
    for (std::int32_t k = 1; k <= n; ++k) out.emplace_back(Word(words, k));
  }
  return out;
}

}  // namespace

std::int32_t WalkBit(const ReadWordArray& words, std::int32_t firstBit, std::int32_t k) {
  const std::int64_t position = std::int64_t{firstBit} + k - 1;
  if (position < 0) return 0;
  const std::int64_t w = 1 + position / 16;
  const auto b = static_cast<int>(position % 16);
  return (Word(words, w) >> b) & 1;
}

void FillReadValues(const ReadWordArray& words, std::int32_t n, std::int32_t ioType, std::int32_t bitIndex,
                    VariantArray& values) {
  std::vector<Variant> computed = Values(words, n, ioType, bitIndex);
  for (std::size_t i = 0; i < computed.size(); ++i) {
    const auto index = static_cast<std::int32_t>(i + 1);
    if (!values.Contains(index)) break;
    values.At(index) = std::move(computed[i]);
  }
}

bool StoreReadValue(const ReadWordArray& words, std::int32_t count, std::int32_t ioType, std::int32_t ioIdx,
                    Variant& ReadValue) {
  std::vector<Variant> out;
  if (ioType == kBitIoType && count < 2) {
    out.emplace_back(WalkBit(words, ioIdx, 1));
  } else if (ioType == kBitIoType) {
    for (std::int32_t k = 1; k <= count; ++k) out.emplace_back(WalkBit(words, ioIdx, k));
  } else if (ioType == ioFloat) {
    if (!ReadValue.IsArray()) {
      ReadValue = Variant(FixedPoint(words, 1));
      return true;
    }
    for (std::int32_t k = 1; k <= count / 2; ++k) out.emplace_back(FixedPoint(words, k));
  } else if (count < 2) {
    out.emplace_back(Word(words, 1));
  } else {
    for (std::int32_t k = 1; k <= count; ++k) out.emplace_back(Word(words, k));
  }
  if (ioType == ioBCD) {
    for (Variant& v : out) v = Variant(HexWordText(static_cast<std::uint16_t>(v.ToInt32())));
  }

  if (!ReadValue.IsArray()) {
    if (out.size() == 1) {
      ReadValue = std::move(out.front());
      return true;
    }
    ReadValue = Variant(VariantArray(1, static_cast<std::int32_t>(out.size())));
  }
  VariantArray& array = ReadValue.Array();
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto index = static_cast<std::int32_t>(i + 1);
    if (!array.Contains(index)) return false;
    try {
      array.Set(index, out[i]);
    } catch (const std::exception&) {
      return false;  // a typed array that cannot hold the value (text in an array of numbers)
    }
  }
  return true;
}

}  // namespace plc::dnet
