#pragma once
// Turning the words of a read reply into the values a host gets: fixed-point pairs (ioFloat:
// whole part and ten-thousandths), single bits walked across the words, BCD as hexadecimal
// text, or the words themselves.
#include <array>
#include <cstdint>
#include <string>

#include "base/Variant.h"
#include "directnet/LinkState.h"

namespace plc::dnet {

using ReadWordArray = std::array<std::int32_t, kLastReadWord + 1>;

inline constexpr std::int16_t kBitIoType = 18;

// Bit k (from 1) of a walk that starts at bit firstBit of word 1: bit b of word w, b running
// to 15 and on to bit 0 of the next word. 0 once the walk leaves the 1000 words.
std::int32_t WalkBit(const ReadWordArray& words, std::int32_t firstBit, std::int32_t k);

// Why a bit walk over the words of a word read cannot start at bit ioIdx: a word has bits 0 to
// 15, and a walk from further on would take its bits from words the read did not ask for.
// Empty when it can.
std::string BitIndexRefusal(std::int32_t ioIdx);

// ReadValues(1..) after a non-waiting read of n words, by the ioType of the last ReadDevice
// (ioFloat: n / 2 values, an odd last word left out). Values that do not fit values' bounds are
// not stored.
void FillReadValues(const ReadWordArray& words, std::int32_t n, std::int32_t ioType, std::int32_t bitIndex,
                    VariantArray& values);

// ReadPLC's value: into ReadValue itself, or its elements from 1 when it is an array (a
// scalar given several values becomes an array 1..count). count is the words read (doubled for
// ioFloat). False, ReadValue as it was, when the caller's array cannot take every value; refusal
// then names the value its type cannot hold, and stays empty when the array is too small.
bool StoreReadValue(const ReadWordArray& words, std::int32_t count, std::int32_t ioType, std::int32_t ioIdx,
                    Variant& ReadValue, std::string* refusal = nullptr);

}  // namespace plc::dnet
