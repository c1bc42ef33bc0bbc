#include "base/Conversions.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>

#include "base/RuntimeError.h"
#include "tests/support/ErrorOf.h"

namespace plc {
namespace {

using test::ErrorOf;

VariantArray Bytes(std::int32_t lower, std::initializer_list<int> values) {
  VariantArray a(lower, lower + static_cast<std::int32_t>(values.size()) - 1, VarType::Byte);
  std::int32_t i = lower;
  for (int v : values) a.Set(i++, Variant(static_cast<std::int32_t>(v)));
  return a;
}

struct WordsCase {
  float dec;
  std::int32_t high, low;
};

TEST(DecToLongFloat, ReadsTheSingleAsItsDecimalTextAndTruncates) {
  const WordsCase cases[] = {
      {0.1f, 15820, 52428},        // one tenth truncated; the nearest pattern would end in 52429
      {16777215.0f, 19327, 65535},  // 7-digit rounding would give 19328/2
      {0.3f, 16025, 39321},
      {1.0f, 16256, 0},
      {-2.5f, 49184, 0},
      {0.0f, 0, 0},
      {-0.0f, 0, 0},
      {16777216.0f, 19328, 0},
      {725259712.0f, 20012, 59991},  // integral: its exact digits are its shortest text
      {std::numeric_limits<float>::max(), 32639, 65535},
      {1e-40f, 0, 0},  // subnormal: not encodable, flushed
  };
  for (const WordsCase& c : cases) {
    std::int32_t high = -7, low = -7;
    EXPECT_EQ(DecToLongFloat(c.dec, high, low), 0);
    EXPECT_EQ(high, c.high) << c.dec;
    EXPECT_EQ(low, c.low) << c.dec;
  }
}

TEST(DecToLongFloat, NonFiniteIsAnOverflowAndStoresNothing) {
  for (float bad : {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                    std::numeric_limits<float>::quiet_NaN()}) {
    std::int32_t high = 11, low = 22;
    EXPECT_EQ(ErrorOf([&] { DecToLongFloat(bad, high, low); }), err::Overflow);
    EXPECT_EQ(high, 11);
    EXPECT_EQ(low, 22);
  }
}

TEST(LongFloatToDec, WordPairsToSingles) {
  EXPECT_EQ(LongFloatToDec(0, 0), 0.0f);
  EXPECT_EQ(LongFloatToDec(16256, 0), 1.0f);
  EXPECT_EQ(LongFloatToDec(49184, 0), -2.5f);
  EXPECT_EQ(LongFloatToDec(-16384, 0), -2.0f);  // sign-extended 16-bit high word
  EXPECT_EQ(LongFloatToDec(0x12340000 | 16256, static_cast<std::int32_t>(0xFFFF0000)), 1.0f);  // upper bits ignored
  EXPECT_EQ(LongFloatToDec(15820, 52428), 0.099999994f);
  // An exponent field of 0 still implies the leading one; the sum rounds as a single does:
  // 2^-127 + 2^-148 + 2^-150 keeps 2^-127 + 2^-148.
  EXPECT_EQ(LongFloatToDec(0, 5), std::ldexp(1.0f, -127) + std::ldexp(1.0f, -148));
  EXPECT_EQ(ErrorOf([] { LongFloatToDec(0x7F80, 0); }), err::Overflow);
  EXPECT_EQ(ErrorOf([] { LongFloatToDec(0xFFFF, 0xFFFF); }), err::Overflow);
}

// Deterministic sample of bit patterns: every normal one must read back as its IEEE value, and
// every one whose 7-digit decimal text round-trips must survive DecToLongFloat within one ulp
// (exactly, or its neighbour toward zero, since the decimal is truncated).
TEST(LongFloatToDec, SampledNormalSinglesMatchIeeeAndRoundTrip) {
  std::mt19937 rng(20240613);
  int roundTrips = 0;
  for (int n = 0; n < 300000; ++n) {
    const std::uint32_t bits = rng();
    const std::uint32_t field = (bits >> 23) & 0xFF;
    if (field == 0 || field == 255) continue;
    const float x = std::bit_cast<float>(bits);
    const std::int32_t high = static_cast<std::int32_t>(bits >> 16), low = static_cast<std::int32_t>(bits & 0xFFFF);
    ASSERT_EQ(LongFloatToDec(high, low), x) << std::hex << bits;

    char text[32];
    std::snprintf(text, sizeof text, "%.6e", static_cast<double>(x));
    if (std::strtof(text, nullptr) != x) continue;
    ++roundTrips;
    std::int32_t h = 0, l = 0;
    DecToLongFloat(x, h, l);
    const float y = LongFloatToDec(h, l);
    const float towardZero = std::nextafter(x, 0.0f);
    ASSERT_TRUE(y == x || y == towardZero) << text << " gave " << y;
    if constexpr (std::numeric_limits<long double>::digits >= 64) {
      // Independent reckoning of the truncation: the shortest text read at 64 bits, cut to 24.
      char shortest[32];
      *std::to_chars(shortest, shortest + sizeof shortest - 1, x).ptr = '\0';
      int e = 0;
      const long double f = std::frexp(std::fabs(std::strtold(shortest, nullptr)), &e);
      const long double truncated = std::ldexp(std::floor(std::ldexp(f, 24)), e - 24);
      ASSERT_EQ(std::fabs(y), static_cast<float>(truncated)) << shortest;
    }
  }
  EXPECT_GT(roundTrips, 1000);
}

TEST(ByteToLong, BigEndianBytesWhateverTheLowerBound) {
  double u = 0;
  EXPECT_EQ(ByteToLong(Bytes(0, {255, 255, 255, 254}), u), -2);
  EXPECT_EQ(u, 4294967294.0);
  EXPECT_EQ(ByteToLong(Bytes(0, {0x12, 0x34, 0x56, 0x78}), u), 305419896);
  EXPECT_EQ(u, 305419896.0);
  EXPECT_EQ(ByteToLong(Bytes(-3, {9, 9, 9, 0x80, 0, 0, 1, 9, 9}), u), std::numeric_limits<std::int32_t>::min() + 1);
  EXPECT_EQ(u, 2147483649.0);
}

TEST(ByteToLong, ArraysWithoutIndices0To3OrWithBadElementsFailAndStoreNothing) {
  VariantArray strange(0, 3);
  strange.Set(0, Variant(300));
  VariantArray text(0, 3);
  text.Set(2, Variant("x"));
  struct Case {
    VariantArray arr;
    int error;
  } cases[] = {
      {Bytes(1, {1, 2, 3, 4}), err::Subscript},
      {Bytes(5, {1, 2, 3}), err::Subscript},
      {Bytes(-3, {1, 2, 3, 4}), err::Subscript},
      {Bytes(0, {1, 2, 3}), err::Subscript},
      {VariantArray(), err::Subscript},
      {strange, err::Overflow},
      {text, err::TypeMismatch},
  };
  for (Case& c : cases) {
    double u = 42;
    EXPECT_EQ(ErrorOf([&] { ByteToLong(c.arr, u); }), c.error);
    EXPECT_EQ(u, 42);
  }
}

TEST(LongToByte, WordSwappedOrderAndItsDisagreementWithByteToLong) {
  VariantArray a(0, 3, VarType::Byte);
  LongToByte(305419896, a, 0);
  EXPECT_EQ(a, Bytes(0, {86, 120, 18, 52}));
  LongToByte(-2, a, 0);
  EXPECT_EQ(a, Bytes(0, {255, 254, 255, 255}));

  VariantArray odd(-3, 0);  // variants, negative bounds
  LongToByte(305419896, odd, -3);
  EXPECT_EQ(odd.Get(-3), Variant(std::uint8_t{86}));
  EXPECT_EQ(odd.Get(0), Variant(std::uint8_t{52}));

  double u = 0;
  LongToByte(0x12345678, a, 0);
  EXPECT_EQ(ByteToLong(a, u), 0x56781234);
}

TEST(LongToByte, MissingIndicesLeaveTheArrayUntouched) {
  VariantArray a = Bytes(5, {1, 2, 3});
  const VariantArray before = a;
  EXPECT_EQ(ErrorOf([&] { LongToByte(305419896, a, 5); }), err::Subscript);
  EXPECT_EQ(a, before);
  EXPECT_EQ(ErrorOf([&] { LongToByte(305419896, a, 4); }), err::Subscript);
  EXPECT_EQ(a, before);
}

TEST(LongToUInteger, HighWordFirstAndAtomicOnFailure) {
  VariantArray a(0, 2, VarType::Int32);
  LongToUInteger(-1, a, 1);
  EXPECT_EQ(a.Get(0), Variant(0));
  EXPECT_EQ(a.Get(1), Variant(65535));
  EXPECT_EQ(a.Get(2), Variant(65535));
  LongToUInteger(305419896, a, 0);
  EXPECT_EQ(a.Get(0), Variant(0x1234));
  EXPECT_EQ(a.Get(1), Variant(0x5678));

  VariantArray one(1, 1, VarType::Int32);
  EXPECT_EQ(ErrorOf([&] { LongToUInteger(7, one, 1); }), err::Subscript);
  EXPECT_EQ(one.Get(1), Variant(0));
  // A 16-bit array cannot hold 65535: nothing stored, not even the high word that would fit.
  VariantArray small(0, 1, VarType::Int16);
  EXPECT_EQ(ErrorOf([&] { LongToUInteger(0x0001FFFF, small, 0); }), err::Overflow);
  EXPECT_EQ(small.Get(0), Variant(std::int16_t{0}));
}

TEST(SignedConversions, TablesWithoutRangeChecks) {
  struct Case {
    Variant in;
    std::int32_t out;
  };
  const Case toLong[] = {{Variant(-1), 65535},          {Variant(-40000), 25536}, {Variant(0), 0},
                         {Variant(std::int16_t{32767}), 32767}, {Variant("-2"), 65534}, {Variant(true), 65535},
                         {Variant(1.5), 2},             {Variant(), 0}};
  for (const Case& c : toLong) {
    std::int32_t out = -99;
    SignedIntToLong(c.in, out);
    EXPECT_EQ(out, c.out) << c.in.ToString();
  }
  const Case toSigned[] = {{Variant(32768), -32768}, {Variant(32767), 32767}, {Variant(70000), 4464},
                           {Variant(65535), -1},     {Variant(-5), -5},       {Variant("40000"), -25536}};
  for (const Case& c : toSigned) {
    std::int32_t out = -99;
    LongToSIgnedInt(c.in, out);
    EXPECT_EQ(out, c.out) << c.in.ToString();
  }
}

TEST(SignedConversions, BadVariantsFailAndStoreNothing) {
  struct Case {
    Variant in;
    int error;
  } cases[] = {{Variant("abc"), err::TypeMismatch}, {Variant(VariantArray(0, 1)), err::TypeMismatch},
               {Variant(3e9), err::Overflow},       {Variant(-3e9), err::Overflow}};
  for (const Case& c : cases) {
    std::int32_t out = 77;
    EXPECT_EQ(ErrorOf([&] { SignedIntToLong(c.in, out); }), c.error);
    EXPECT_EQ(ErrorOf([&] { LongToSIgnedInt(c.in, out); }), c.error);
    EXPECT_EQ(out, 77);
  }
}

}  // namespace
}  // namespace plc
