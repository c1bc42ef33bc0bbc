// DF1 frames byte for byte: the CRC, both check modes, DLE doubling, the PCCC payloads and
// their address fields, the transaction numbers, and what does not fit.
#include <gtest/gtest.h>

#include "df1/Crc.h"
#include "df1/Frame.h"
#include "df1/Requests.h"

namespace plc::df1 {
namespace {

const Bytes kReadN70 = {0x01, 0x00, 0x0F, 0x00, 0x01, 0x00, 0xA2, 0x02, 0x07, 0x89, 0x00, 0x00};
const Bytes kWrite16 = {0x01, 0x00, 0x0F, 0x00, 0x02, 0x00, 0xAA, 0x02, 0x07, 0x89, 0x00, 0x00, 0x10, 0x00};

ParsedAddress N7(int element) { return ParsedAddress{kCodeInteger, 7, element, kNoBit, 0}; }

TEST(Df1Crc, CheckValueAndNibbleTablesAgreeWithTheBitwiseDefinition) {
  const std::string digits = "123456789";
  EXPECT_EQ(Df1Crc16(Bytes(digits.begin(), digits.end())).crc, 0xBB3D);
  for (unsigned b = 0; b < 256; ++b) {
    std::uint16_t bitwise = static_cast<std::uint16_t>(b);
    for (int i = 0; i < 8; ++i) bitwise = (bitwise & 1) ? (bitwise >> 1) ^ 0xA001 : bitwise >> 1;
    ASSERT_EQ(Df1CrcByte(static_cast<std::uint8_t>(b), 0), bitwise) << b;
  }
}

TEST(Df1Frame, ReadOfN70InBothModes) {
  EXPECT_EQ(*StuffAndCheck(kReadN70, 1),
            Bytes({0x10, 0x02, 0x01, 0x00, 0x0F, 0x00, 0x01, 0x00, 0xA2, 0x02, 0x07, 0x89, 0x00, 0x00, 0x10, 0x03, 0xBB}));
  EXPECT_EQ(*StuffAndCheck(kReadN70, 2), Bytes({0x10, 0x02, 0x01, 0x00, 0x0F, 0x00, 0x01, 0x00, 0xA2, 0x02, 0x07, 0x89,
                                                0x00, 0x00, 0x10, 0x03, 0x62, 0xB0}));
  // Every mode but 1 is CRC.
  EXPECT_EQ(StuffAndCheck(kReadN70, 0), StuffAndCheck(kReadN70, 2));
}

TEST(Df1Frame, WriteOf16DoublesTheDataDleAndChecksItOnce) {
  const Bytes head = {0x10, 0x02, 0x01, 0x00, 0x0F, 0x00, 0x02, 0x00, 0xAA, 0x02, 0x07, 0x89, 0x00, 0x00, 0x10, 0x10, 0x00, 0x10, 0x03};
  Bytes bcc = head, crc = head;
  bcc.push_back(0xA2);
  crc.insert(crc.end(), {0xF1, 0x94});
  EXPECT_EQ(*StuffAndCheck(kWrite16, 1), bcc);
  EXPECT_EQ(*StuffAndCheck(kWrite16, 2), crc);
}

TEST(Df1Frame, BccOfAZeroSumIsZeroAndPayloadsBeyondTheCheckBufferAreRefused) {
  EXPECT_EQ(Bcc(Bytes{0x80, 0x80}), 0);
  EXPECT_EQ(StuffAndCheck(Bytes{0x80, 0x80}, 1)->back(), 0);
  EXPECT_TRUE(StuffAndCheck(Bytes(100, 0x10), 1).has_value());
  EXPECT_FALSE(StuffAndCheck(Bytes(101, 0), 1).has_value());
  EXPECT_TRUE(StuffAndCheck(Bytes(99, 0), 2).has_value());
  EXPECT_FALSE(StuffAndCheck(Bytes(100, 0), 2).has_value()) << "ETX takes a place of the 100";
}

TEST(Df1Requests, TypedReadAndWritePayloads) {
  EXPECT_EQ(*ReadPayload({1, 0, 1}, N7(0), 1, 1), kReadN70);
  EXPECT_EQ(*WritePayload({1, 0, 2}, N7(0), 1, std::vector<std::int32_t>{16}), kWrite16);
  // F8:0 x2: 8 bytes; T4:2 sub-element 0 is sent as element 2.
  EXPECT_EQ((*ReadPayload({1, 0, 1}, ParsedAddress{kCodeFloat, 8, 0, kNoBit, 0}, 2, 2))[7], 8);
  auto t = *ReadPayload({1, 0, 1}, ParsedAddress{4, 4, 2, kNoBit, 3}, 3, 1);
  EXPECT_EQ(Bytes(t.begin() + 7, t.end()), Bytes({0x06, 0x04, 0x86, 0x02, 0x00}));
}

TEST(Df1Requests, ThreeByteAddressFields) {
  EXPECT_EQ(*AddressField(254), Bytes{0xFE});
  EXPECT_EQ(*AddressField(255), Bytes({0xFF, 0xFF, 0x00}));
  EXPECT_EQ(*AddressField(300), Bytes({0xFF, 0x2C, 0x01}));
  EXPECT_FALSE(AddressField(65536));
  auto p = *ReadPayload({1, 0, 1}, ParsedAddress{kCodeInteger, 300, 255, kNoBit, 0}, 1, 1);
  EXPECT_EQ(Bytes(p.begin() + 8, p.end()), Bytes({0xFF, 0x2C, 0x01, 0x89, 0xFF, 0xFF, 0x00, 0x00}));
}

TEST(Df1Requests, Plc5WordRangeRead) {
  EXPECT_EQ(*ReadPayload({1, 0, 1}, N7(0), 1, kPlc5),
            Bytes({0x01, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x24, 0x4E, 0x37, 0x3A, 0x30, 0x00, 0x02}));
  // The table's letters, not the caller's: a bit file of an unknown letter reads as $B.
  EXPECT_EQ(Plc5SystemAddress(kCodeBit, 9, 12), Bytes({0x00, '$', 'B', '9', ':', '1', '2', 0x00}));
}

TEST(Df1Requests, WhatTheBytesCannotCarryIsRefused) {
  EXPECT_FALSE(ReadPayload({256, 0, 1}, N7(0), 1, 1)) << "Address above 255";
  EXPECT_FALSE(ReadPayload({1, -1, 1}, N7(0), 1, 1)) << "Node below 0";
  EXPECT_TRUE(ReadPayload({1, 0, 1}, N7(0), 127, 1));
  EXPECT_FALSE(ReadPayload({1, 0, 1}, N7(0), 128, 1)) << "byte count 256";
  EXPECT_TRUE(ReadPayload({1, 0, 1}, ParsedAddress{kCodeFloat, 8, 0, kNoBit, 0}, 63, 1));
  EXPECT_FALSE(ReadPayload({1, 0, 1}, ParsedAddress{kCodeFloat, 8, 0, kNoBit, 0}, 64, 1));
  EXPECT_FALSE(ReadPayload({1, 0, 1}, N7(0), 128, kPlc5));
  EXPECT_FALSE(WritePayload({1, 0, 1}, N7(0), 1, std::vector<std::int32_t>{65536}));
  EXPECT_EQ(ReadPayload({1, 0, 1}, N7(0), 128, 1).why, "byte count 256 outside the 1..255 a request carries");
}

TEST(Df1Requests, TransactionNumbersRun1To49AndRoundAgain) {
  std::vector<std::int32_t> seen;
  std::int32_t tns = 0;
  for (int i = 0; i < 51; ++i) seen.push_back(tns = NextTns(tns));
  EXPECT_EQ(seen.front(), 1);
  EXPECT_EQ(seen[48], 49);
  EXPECT_EQ(seen[49], 1);
  EXPECT_EQ(seen[50], 2);
}

TEST(Df1Requests, WriteValuesConvertNegativeNWordsInTheCallersArrayAndSplitFloatsLowFirst) {
  VariantArray n(1, 2, VarType::Double);
  n.Set(1, Variant(-1.0));
  n.Set(2, Variant(300.0));
  EXPECT_EQ(*WriteValues(n, kCodeInteger, 2), std::vector<std::int32_t>({65535, 300}));
  EXPECT_EQ(n.Get(1).ToDouble(), 65535.0) << "the host sees the conversion";

  VariantArray f(1, 1, VarType::Double);
  f.Set(1, Variant(1.5));
  EXPECT_EQ(*WriteValues(f, kCodeFloat, 1), std::vector<std::int32_t>({0x0000, 0x3FC0}));

  VariantArray bad(1, 2, VarType::Double);
  bad.Set(1, Variant(-40000.0));
  auto refused = WriteValues(bad, kCodeInteger, 1);
  ASSERT_FALSE(refused) << "outside -32768..65535, where -40000 would become 25536";
  EXPECT_EQ(refused.why, "value 1 of 1 (-40000) is outside -32768..65535, a 16-bit word");
  EXPECT_EQ(bad.Get(1).ToDouble(), -40000.0) << "the caller's array as it was";
  bad.Set(1, Variant(1.5));
  EXPECT_EQ(WriteValues(bad, kCodeInteger, 1).why, "value 1 of 1 (1.5) is not a whole number, which a word holds");
  bad.Set(1, Variant(1e39));
  EXPECT_FALSE(WriteValues(bad, kCodeFloat, 1)) << "beyond a single";
  bad.Set(1, Variant(-5.0));
  EXPECT_EQ(*WriteValues(bad, 4, 1), std::vector<std::int32_t>({65531})) << "a timer word takes a negative preset";
  EXPECT_EQ(bad.Get(1).ToDouble(), -5.0) << "only an N file's value changes in the caller's array";
  EXPECT_EQ(WriteValues(bad, kCodeInteger, 3).why, "the values array has no element 3");
}

TEST(Df1Requests, CountLimitsOfOneRequestAndTheSubElementOfAWrite) {
  EXPECT_EQ(MaxReadCount(N7(0)), 127);
  EXPECT_EQ(MaxReadCount(ParsedAddress{kCodeFloat, 8, 0, kNoBit, 0}), 63);
  EXPECT_EQ(MaxReadCount(ParsedAddress{kCodeTimer, 4, 1, kNoBit, 3}), 42) << "three elements a value";
  // Header 6, function and count 2, file 1, type 1, element 1, sub-element 1: 12 bytes.
  EXPECT_EQ(MaxWriteCount(N7(0), 1), 44);
  EXPECT_EQ(MaxWriteCount(N7(0), 2), 43);
  EXPECT_EQ(MaxWriteCount(ParsedAddress{kCodeInteger, 7, 300, kNoBit, 0}, 2), 42);
  const std::vector<std::int32_t> seven{7};
  auto pre = *WritePayload({1, 0, 1}, ParsedAddress{kCodeTimer, 4, 1, kNoBit, 2}, 1, seven);
  EXPECT_EQ(Bytes(pre.begin() + 6, pre.end()), Bytes({0xAA, 0x02, 0x04, 0x86, 0x01, 0x01, 0x07, 0x00}))
      << "T4:1.PRE: sub-element 1";
  EXPECT_EQ(ReadPayload({300, 0, 1}, N7(0), 1, 1).why, "Address 300 is no station number (0..255)");
}

}  // namespace
}  // namespace plc::df1
