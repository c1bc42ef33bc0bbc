#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/IoDataType.h"
#include "base/OctalText.h"
#include "base/RuntimeError.h"
#include "tests/support/ErrorOf.h"

namespace plc {
namespace {

using test::ErrorOf;

struct OctCase {
  const char* text;
  std::int32_t value;  // when error is 0
  int error;
};

TEST(CnvOctToDec, SeqLinkTrimsAndReadsStrictOctal) {
  const OctCase cases[] = {
      {"17", 15, 0},          {"40400", 16640, 0},     {"2000", 1024, 0},
      {"  17  ", 15, 0},      {"17 ", 15, 0},          {"0", 0, 0},
      {"00000000000017", 15, 0}, {"17777777777", 2147483647, 0},
      {"20000000000", 0, err::Overflow},
      {"8", 0, err::TypeMismatch},  {"19", 0, err::TypeMismatch}, {"", 0, err::TypeMismatch},
      {"   ", 0, err::TypeMismatch}, {"1 7", 0, err::TypeMismatch}, {"-1", 0, err::TypeMismatch},
      {"\t17", 0, err::TypeMismatch}, {"&O17", 0, err::TypeMismatch},
  };
  for (const OctCase& c : cases) {
    std::int32_t got = -1;
    EXPECT_EQ(ErrorOf([&] { got = seq::CnvOctToDec(c.text); }), c.error) << '"' << c.text << '"';
    if (c.error == 0) {
      EXPECT_EQ(got, c.value) << '"' << c.text << '"';
    }
  }
}

TEST(CnvOctToDec, UdpLinkReadsDigitByDigitWithoutTrimming) {
  const OctCase cases[] = {
      {"17", 15, 0},   {"19", 17, 0},  {"17 ", 120, 0},  {" 17", 15, 0},   {"2000", 1024, 0},
      {"", 0, 0},      {"abc", 0, 0},  {"1a", 8, 0},      {"-1", 1, 0},
      {"9999999999", 9 * 153391689, 0},  // ten nines: the largest value there is
      {"12345678901", 0, err::Overflow}, {"           ", 0, err::Overflow},
  };
  for (const OctCase& c : cases) {
    std::int32_t got = -1;
    EXPECT_EQ(ErrorOf([&] { got = udp::CnvOctToDec(c.text); }), c.error) << '"' << c.text << '"';
    if (c.error == 0) {
      EXPECT_EQ(got, c.value) << '"' << c.text << '"';
    }
  }
}

TEST(IoDataType, CodingOfEveryValuePerControl) {
  struct Case {
    std::int32_t ioType;
    IoCoding rtu, seq, udp;
    std::int32_t registers;
  };
  using C = IoCoding;
  const Case cases[] = {
      {ioWord, C::PlainWords, C::PlainWords, C::PlainWords, 1},
      {ioDWord, C::PlainWords, C::PlainWords, C::PlainWords, 1},
      {ioFloat, C::FixedPointPairs, C::FixedPointPairs, C::FixedPointPairs, 2},
      {ioDFloat, C::PlainWords, C::PlainWords, C::PlainWords, 1},
      {ioString, C::PlainWords, C::PlainWords, C::PlainWords, 1},
      {ioBCD, C::SignedWords, C::HexText, C::PlainWords, 1},
      {ioScaledWord, C::PlainWords, C::PlainWords, C::PlainWords, 1},
      {ioScaledDWord, C::PlainWords, C::PlainWords, C::PlainWords, 1},
      {ioScaledFloat, C::PlainWords, C::PlainWords, C::PlainWords, 1},
      {ioScaledDFloat, C::PlainWords, C::PlainWords, C::PlainWords, 1},
      {ioScaledString, C::PlainWords, C::PlainWords, C::PlainWords, 1},
      {18, C::PlainWords, C::PlainWords, C::PlainWords, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RtuIoCoding(c.ioType), c.rtu) << c.ioType;
    EXPECT_EQ(SeqIoCoding(c.ioType), c.seq) << c.ioType;
    EXPECT_EQ(UdpIoCoding(c.ioType), c.udp) << c.ioType;
    EXPECT_EQ(RegistersPerValue(c.ioType), c.registers) << c.ioType;
  }
}

TEST(IoDataType, FixedPointWriteRoundsHalvesToEvenAndReadsBack) {
  struct Case {
    double value;
    FixedPointWords words;
  };
  const Case cases[] = {
      {2.345, {2, 3450}},  {-1.25, {-2, 7500}},  {12.3456, {12, 3456}},
      {1.03125, {1, 312}},  // 312.5 goes to the even neighbour
      {1.09375, {1, 938}},  // 937.5 likewise
      {0.0, {0, 0}},        {65535.5, {65535, 5000}}, {-32768.0, {-32768, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(FixedPointWrite(c.value), c.words) << c.value;

  const FixedPointWords w = FixedPointWrite(-1.25);
  EXPECT_EQ(FixedPointRead(RegisterWord(w.whole), RegisterWord(w.fraction)), 65534.75);
  EXPECT_DOUBLE_EQ(FixedPointRead(12, 3456), 12.3456);

  for (double bad : {65536.0, -32768.5, std::numeric_limits<double>::quiet_NaN(),
                     std::numeric_limits<double>::infinity()})
    EXPECT_EQ(ErrorOf([&] { FixedPointWrite(bad); }), err::Overflow) << bad;
}

TEST(IoDataType, DecodeRegistersPerCoding) {
  const std::uint16_t regs[] = {12, 3456, 65535};
  std::vector<Variant> plain = DecodeRegisters(IoCoding::PlainWords, regs);
  EXPECT_EQ(plain, (std::vector<Variant>{Variant(12), Variant(3456), Variant(65535)}));
  std::vector<Variant> signedWords = DecodeRegisters(IoCoding::SignedWords, regs);
  EXPECT_EQ(signedWords, (std::vector<Variant>{Variant(12), Variant(3456), Variant(-1)}));
  std::vector<Variant> pairs = DecodeRegisters(IoCoding::FixedPointPairs, regs);  // odd register dropped
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_DOUBLE_EQ(pairs[0].ToDouble(), 12.3456);
  std::vector<Variant> hex = DecodeRegisters(IoCoding::HexText, regs);
  EXPECT_EQ(hex, (std::vector<Variant>{Variant("C"), Variant("D80"), Variant("FFFF")}));
  EXPECT_EQ(HexWordText(0), "0");
  EXPECT_TRUE(DecodeRegisters(IoCoding::FixedPointPairs, std::span<const std::uint16_t>()).empty());
}

}  // namespace
}  // namespace plc
