#pragma once
// The public conversion methods of the controls, as pure functions.
//
// Parameters follow the controls' interface: every parameter is by reference; inputs are const
// references (so the protocol engines may pass temporaries), outputs plain references that the
// control forwards from its own by-reference members. Arrays are VariantArray with the host's
// bounds, variant parameters Variant.
//
// Failures raise RuntimeError: an array without the needed indices is a subscript error (9),
// a value that does not fit its target an overflow (6), a non-numeric value a type mismatch
// (13). Each function checks and converts everything before it stores anything, so a failed
// call leaves every output as it was.
//
// Word orders (bit 0 the least significant bit):
//   LongFloatToDec, DecToLongFloat: dlong1 = high word of the IEEE single (sign, exponent, top
//     7 mantissa bits), dlong2 = low 16 mantissa bits.
//   ByteToLong: elements 0, 1, 2, 3 are bits 31..24, 23..16, 15..8, 7..0.
//   LongToByte: elements s, s+1, s+2, s+3 receive bits 15..8, 7..0, 31..24, 23..16.
//   LongToUInteger: elements s, s+1 receive bits 31..16, 15..0.
// ByteToLong and LongToByte disagree on purpose: hosts rely on both orders as they are.
//
// SeqLink and UdpLink expose LongFloatToDec but always return 0 from it; their members return
// 0.0f themselves and do not call the function below.
#include <cstdint>

#include "base/Variant.h"

namespace plc {

// Two register words to a single. Bits above 15 of either word are ignored, so a sign-extended
// 16-bit dlong1 works too. The leading one is implied also for an exponent field of 0 (no
// subnormal reading); an exponent field of 255 is an overflow. For every normal single the
// result is exactly the IEEE-754 value of the pattern dlong1:dlong2.
float LongFloatToDec(const std::int32_t& dlong1, const std::int32_t& dlong2);

// A single to two register words, reading the single as the decimal number it prints as (its
// shortest round-trip text as std::to_chars gives it, so 0.1f is one tenth and 16777215 stays
// 16777215) and truncating that number's binary expansion to 24 significant bits: 0.1 gives
// 15820/52428. Magnitudes below the smallest
// normal single give 0/0. Infinity and NaN are an overflow. Always returns 0.
std::int16_t DecToLongFloat(const float& Dec, std::int32_t& dlong1, std::int32_t& dlong2);

// Elements 0..3 of ByteArr (whatever its lower bound) to a 32-bit value: the signed value is
// the result, the unsigned one (0..4294967295) goes to UnsignedLong.
std::int32_t ByteToLong(const VariantArray& ByteArr, double& UnsignedLong);

// LongVar to four bytes at StartByteIndex..StartByteIndex+3 of ByteArr.
void LongToByte(const std::int32_t& LongVar, VariantArray& ByteArr, const std::int16_t& StartByteIndex);

// LongVar to two unsigned words at StartByteIndex and StartByteIndex+1 of UIntegerArr.
void LongToUInteger(const std::int32_t& LongVar, VariantArray& UIntegerArr, const std::int16_t& StartByteIndex);

// A signed 16-bit value to its register form: SgnIntr + 65536 when negative. No range check
// beyond what Lng1 holds (-40000 gives 25536).
void SignedIntToLong(const Variant& SgnIntr, std::int32_t& Lng1);

// A register value to its signed 16-bit form: Lng1 - 65536 when above 32767. No range check
// beyond what SgnIntr holds (70000 gives 4464).
void LongToSIgnedInt(const Variant& Lng1, std::int32_t& SgnIntr);

}  // namespace plc
