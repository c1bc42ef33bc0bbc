// The DirectNET blocks byte for byte, the reply checks on short and corrupted replies, and the
// address road from host text to header address.
#include <gtest/gtest.h>

#include <cstdio>

#include "frame/TagDatabase.h"
#include "directnet/AddressRoad.h"
#include "directnet/Blocks.h"
#include "directnet/ReadValues.h"

namespace plc::dnet {
namespace {

TEST(DirectNetBlocks, ReadOfV2000AtStationOne) {
  EXPECT_EQ(*Enquiry(1), (Bytes{0x4B, 0x21, 0x05}));
  EXPECT_EQ(*ReadHeader(0x0400, 1), (Bytes{0x01, 0x40, 0x01, 0x04, 0x00, 0x01, 0x17, 0x44}));
  EXPECT_EQ(LRCchk(std::string("\x01\x40\x01\x04\x00\x01\x17", 7)), "\x44");
  EXPECT_EQ(LRCchk("\x01\x17"), std::string(1, '\0'));
  EXPECT_EQ(LRCchk(""), std::string(1, '\0'));
  EXPECT_FALSE(Enquiry(224));
  EXPECT_FALSE(Enquiry(-1));
  EXPECT_EQ((*Enquiry(223))[1], 0xFF);
}

TEST(DirectNetBlocks, WritesPackLowByteFirstAndCountEightPlusTwoN) {
  const std::int32_t values[] = {258, 1};
  const Bytes data = *PackWriteWords(values);
  EXPECT_EQ(data, (Bytes{0x02, 0x01, 0x01, 0x00}));
  const Bytes header = *WordWriteHeader(0x0400, data);
  ASSERT_EQ(header.size(), 8u + 2 * 2);
  EXPECT_EQ(header, (Bytes{0x01, 'F', 0x01, 0x04, 0x00, 0x02, 0x02, 0x01, 0x01, 0x00, 0x17,
                           static_cast<std::uint8_t>('F' ^ 0x01 ^ 0x04 ^ 0x00 ^ 0x02 ^ 0x02 ^ 0x01 ^ 0x01 ^ 0x00)}));
  EXPECT_EQ((*SetResetHeader(0xF008, true))[1], 'D');
  EXPECT_EQ((*SetResetHeader(0xF008, false))[1], 'E');
  EXPECT_EQ(SetResetHeader(0xF008, true)->size(), 7u);

  const std::int32_t outOfRange[] = {65536};
  const std::int32_t negative[] = {-1};
  EXPECT_FALSE(PackWriteWords(outOfRange));
  EXPECT_FALSE(PackWriteWords(negative));
  EXPECT_FALSE(WordWriteHeader(0, Bytes(2 * 256, 0))) << "256 words do not fit the count byte";
  EXPECT_TRUE(WordWriteHeader(0, Bytes(2 * 255, 0)));
  EXPECT_FALSE(ReadHeader(0, 0));
  EXPECT_FALSE(ReadHeader(0, 256));
  EXPECT_FALSE(ReadHeader(0x10000, 1));
}

TEST(DirectNetBlocks, ReadReplyAcceptedOnlyWithItsLrc) {
  Bytes reply{0x06, 0x02, 0x21, 0x40, 0x04, 0x00, 0x01, 0x34, 0x12, 0x03, 0x00};
  reply[10] = static_cast<std::uint8_t>(0x21 ^ 0x40 ^ 0x04 ^ 0x00 ^ 0x01 ^ 0x34 ^ 0x12);
  EXPECT_TRUE(CheckReadReply(reply, 2).Passed());
  std::array<std::int32_t, 4> words{};
  EXPECT_EQ(UnpackReadWords(reply, 2, words), 1u);
  EXPECT_EQ(words[0], 0x1234);

  Bytes badLrc = reply;
  badLrc[10] ^= 1;
  EXPECT_TRUE(CheckReadReply(badLrc, 2).acknowledged);
  EXPECT_FALSE(CheckReadReply(badLrc, 2).Passed());
  Bytes nak = reply;
  nak[0] = NAK;
  EXPECT_FALSE(CheckReadReply(nak, 2).acknowledged);
  // Short replies fail without reading past their end.
  for (std::size_t n = 0; n < reply.size(); ++n)
    EXPECT_FALSE(CheckReadReply(std::span(reply).first(n), 2).Passed()) << n;
  EXPECT_EQ(UnpackReadWords(std::span(reply).first(8), 2, words), 0u);
  // More words announced than the caller holds: only as many as fit are written.
  Bytes big(9 + 2 * 10, 0x11);
  std::array<std::int32_t, 3> few{};
  EXPECT_EQ(UnpackReadWords(big, 20, few), 3u);
}

TEST(DirectNetBlocks, EnquiryWriteAndEotReplies) {
  EXPECT_TRUE(CheckEnquiryReply(Bytes{'N', 0x21, ACK}, 0x21));
  EXPECT_FALSE(CheckEnquiryReply(Bytes{'N', 0x21, NAK}, 0x21));
  EXPECT_FALSE(CheckEnquiryReply(Bytes{'N', 0x21}, 0x21));
  EXPECT_FALSE(CheckEnquiryReply(Bytes{'N', 0x22, ACK}, 0x21)) << "another station's acknowledge";
  Bytes write{ACK, STX, 0x21, 'F', 0x04, 0x00, ETX, static_cast<std::uint8_t>(0x21 ^ 'F' ^ 0x04)};
  EXPECT_TRUE(CheckWriteReply(write));
  write[7] ^= 0x80;
  EXPECT_FALSE(CheckWriteReply(write));
  EXPECT_FALSE(CheckWriteReply(std::span(write).first(7)));
  EXPECT_TRUE(CheckEotReply(Bytes{EOT}));
  EXPECT_FALSE(CheckEotReply(Bytes{}));
  EXPECT_FALSE(CheckEotReply(Bytes{ACK}));
}

TEST(DirectNetAddressRoad, MemoryTypesMapToHeaderAddresses) {
  struct Row {
    const char* type;
    std::int32_t n;
    Access access;
    MemoryAddress want;
  } rows[] = {
      {"X", 7, Access::Read, {0x4100, true, 7}},   {"X", 8, Access::Read, {0x4101, true, 0}},
      {"Y", 15, Access::Read, {0x4141, true, 7}},  {"C", 8, Access::Read, {0x4181, true, 0}},
      {"C", 8, Access::Write, {0xF008, true, 0}},  {"GX", 9, Access::Read, {0x4001, true, 1}},
      {"GY", 17, Access::Write, {0x4082, true, 1}}, {"V", 1024, Access::Read, {0x0400, false, 0}},
      {"T", 3, Access::Read, {3, false, 0}},       {"CT", 5, Access::Read, {0x0205, false, 0}},
      {"S", 1, Access::Read, {0x4201, false, 0}},  {"SP", 2, Access::Read, {0x4282, false, 0}},
      {"", 10, Access::Read, {10, false, 0}},      {"Q", 10, Access::Write, {10, false, 0}},
      {"ct", 5, Access::Read, {0x0205, false, 0}},
  };
  for (const Row& r : rows) EXPECT_EQ(MapMemoryType(r.type, r.n, r.access), r.want) << r.type << r.n;
}

TEST(DirectNetAddressRoad, NumbersStringsAndTags) {
  TagDatabase tags;
  auto resolve = [&](const Variant& a, Access access = Access::Read, TagForm form = TagForm::TypedString) {
    return ResolveAddress(a, 1, access, form, tags);
  };
  auto viaString = resolve(Variant("1;V,2000"));
  auto viaNumber = resolve(Variant("2000"));
  ASSERT_TRUE(viaString && viaNumber);
  EXPECT_EQ(viaString->station, 1);
  EXPECT_EQ(viaString->memory, viaNumber->memory);
  EXPECT_EQ(viaString->memory.address, 0x0400);
  EXPECT_EQ(resolve(Variant(std::int32_t{2000}))->memory.address, 0x0400);
  EXPECT_EQ(resolve(Variant("7x;Y,17"))->station, 7) << "other characters before ';' are skipped";
  EXPECT_EQ(resolve(Variant("Y,17"))->memory, (MemoryAddress{0x4141, true, 7}));
  EXPECT_EQ(resolve(Variant("C,10"), Access::Write)->memory.address, 0xF008);
  EXPECT_EQ(resolve(Variant(" 2 ; ct , 5 "))->memory.address, 0x0205);
  EXPECT_EQ(resolve(Variant("2;1V,2000"))->memory.address, 0x0400) << "digits among the type letters are skipped";

  for (const char* bad : {"V2000", "1;2000", ";V,2000", "x;V,2000", "V,", "V,2008", ",2000", "1;V", "224;V,1",
                          "V,1x", "", "   ", "2000.5", "V,200000"})
    EXPECT_FALSE(resolve(Variant(bad))) << bad;
  EXPECT_FALSE(resolve(Variant(2.5)));
  EXPECT_FALSE(resolve(Variant(-8)));
  ASSERT_TRUE(tags.AddTag(1, Variant("Pump"), Variant("3;V,2001")));
  ASSERT_TRUE(tags.AddTag(2, Variant("Level"), Variant("4;2001")));
  EXPECT_EQ(resolve(Variant("Pump"))->station, 3);
  EXPECT_EQ(resolve(Variant("Pump"))->memory.address, 0x0401);
  EXPECT_FALSE(resolve(Variant("Level"))) << "a typed-string tag needs a memory type";
  auto frame = resolve(Variant("Level"), Access::Read, TagForm::FrameString);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->station, 4);
  EXPECT_EQ(frame->memory.address, 02001);
  EXPECT_FALSE(resolve(Variant("Missing")));
}

// Each refusal names the address as given and the part that was not understood.
TEST(DirectNetAddressRoad, RefusalsNameTheAddressAndThePart) {
  TagDatabase tags;
  ASSERT_TRUE(tags.AddTag(1, Variant("Level"), Variant("4;V,2009")));
  auto why = [&](const Variant& a, Access access = Access::Read) {
    const Resolution r = ResolveAddress(a, 1, access, TagForm::TypedString, tags);
    EXPECT_FALSE(r);
    return r.refusal;
  };
  EXPECT_EQ(why(Variant("V2000")),
            "address 'V2000' not understood: no tag of that name (an address is TYPE,number such as V,2000, or an "
            "octal V-memory number)");
  EXPECT_EQ(why(Variant("V,2008")), "address 'V,2008' not understood: '2008' is not an octal number (digits 0 to 7)");
  EXPECT_EQ(why(Variant("300;V,1")), "address '300;V,1' not understood: the station before ';' is beyond 223");
  EXPECT_EQ(why(Variant("1;2000")),
            "address '1;2000' not understood: a station and a number need a memory type between them, as in 1;V,2000");
  EXPECT_EQ(why(Variant(",7")), "address ',7' not understood: no memory type before ','");
  // A second ';' is no memory type: '2;3;V,2000' read station 2's V2000 and '1;X;Y,7' V7.
  EXPECT_EQ(why(Variant("2;3;V,2000")),
            "address '2;3;V,2000' not understood: more than one ';' (one station comes before the memory type, as in "
            "1;V,2000)");
  EXPECT_EQ(why(Variant("1;X;Y,7")),
            "address '1;X;Y,7' not understood: more than one ';' (one station comes before the memory type, as in "
            "1;V,2000)");
  EXPECT_EQ(why(Variant("V,x")), "address 'V,x' not understood: 'x' after ',' is not a number");
  EXPECT_EQ(why(Variant("")), "address '' not understood: no address given");
  EXPECT_EQ(why(Variant(-8)), "address '-8' not understood: a number address is a whole octal V-memory number, not -8");
  EXPECT_EQ(why(Variant("Level")),
            "address 'Level (tag of 4;V,2009)' not understood: '2009' is not an octal number (digits 0 to 7)");
}

// Every type reaches as far as its memory: a bit type to the end of its area (so X1000 is not
// taken for Y0, nor a far X for a set/reset address), T, CT, S and SP to the last word any
// DirectLOGIC has of them (T400 would be V400, S100 the timers' status bits), V to the last
// address a header carries. The refusal names the limit.
TEST(DirectNetAddressRoad, EveryTypeStopsAtItsLimit) {
  TagDatabase tags;
  struct Row {
    const char* type;
    const char* last;  // octal
    std::int32_t lastHeader;
  } rows[] = {{"X", "777", 0x413F},     {"Y", "777", 0x417F},     {"C", "1777", 0x41FF},   {"GX", "1777", 0x407F},
              {"GY", "1777", 0x40FF},   {"V", "177777", 0xFFFF},  {"T", "377", 0x00FF},    {"CT", "377", 0x02FF},
              {"S", "77", 0x423F},      {"SP", "37", 0x429F},     {"Q", "177777", 0xFFFF}};
  for (const Row& r : rows) {
    const std::string type = r.type;
    const std::int32_t last = static_cast<std::int32_t>(std::stol(r.last, nullptr, 8));
    EXPECT_EQ(LastNumber(type), last) << type;
    const Resolution at = ResolveAddress(Variant(type + "," + r.last), 1, Access::Read, TagForm::TypedString, tags);
    ASSERT_TRUE(at) << type << ": " << at.refusal;
    EXPECT_EQ(at->memory.address, r.lastHeader) << type;
    char next[16];
    std::snprintf(next, sizeof next, "%o", static_cast<unsigned>(last + 1));
    const Resolution past = ResolveAddress(Variant(type + "," + next), 1, Access::Read, TagForm::TypedString, tags);
    EXPECT_FALSE(past) << type << next;
    EXPECT_NE(past.refusal.find(type + next + " is beyond " + type + r.last), std::string::npos) << past.refusal;
  }
  EXPECT_EQ(ResolveAddress(Variant("T,400"), 1, Access::Write, TagForm::TypedString, tags).refusal,
            "address 'T,400' not understood: T400 is beyond T377, the last T word");
  EXPECT_EQ(ResolveAddress(Variant("2;s,100"), 1, Access::Read, TagForm::TypedString, tags).refusal,
            "address '2;s,100' not understood: S100 is beyond S77, the last S word");
  const Resolution cWrite = ResolveAddress(Variant("C,1777"), 1, Access::Write, TagForm::TypedString, tags);
  ASSERT_TRUE(cWrite);
  EXPECT_EQ(cWrite->memory, (MemoryAddress{0xF3FF, true, 0}));
  EXPECT_FALSE(ResolveAddress(Variant("C,2000"), 1, Access::Write, TagForm::TypedString, tags));
  // A number too long for 32 bits is beyond every limit, not a conversion error.
  EXPECT_EQ(ResolveAddress(Variant("V,77777777777"), 1, Access::Read, TagForm::TypedString, tags).refusal,
            "address 'V,77777777777' not understood: V77777777777 is beyond V177777, the last V address a header "
            "carries");
}

// The inputs the address fuzzer stopped on, kept in its corpus (tests/fuzz/corpus/directnet_address).
TEST(DirectNetAddressRoad, FuzzFindingsStayFixed) {
  TagDatabase tags;
  tags.AddTag(1, Variant("tag"), Variant("6666666X,1333272"));
  for (Access access : {Access::Read, Access::Write}) {
    for (TagForm form : {TagForm::TypedString, TagForm::FrameString}) {
      // Digits among the type letters are skipped: X1333272, far beyond X777; as a write it
      // would have reached F7D7h, among the set/reset addresses of C points.
      const Resolution direct = ResolveAddress(Variant("6666666X,1333272"), 1, access, form, tags);
      EXPECT_FALSE(direct);
      EXPECT_EQ(direct.refusal,
                "address '6666666X,1333272' not understood: X1333272 is beyond X777, the last X point");
      EXPECT_FALSE(ResolveAddress(Variant("tag"), 1, access, form, tags));
    }
  }
  EXPECT_EQ(ResolveAddress(Variant("V,1333272"), 1, Access::Read, TagForm::TypedString, tags).refusal,
            "address 'V,1333272' not understood: V1333272 is beyond V177777, the last V address a header carries");
  EXPECT_EQ(ResolveAddress(Variant("Q,1333272"), 1, Access::Read, TagForm::TypedString, tags).refusal,
            "address 'Q,1333272' not understood: Q1333272 is beyond Q177777, the last Q address a header carries");
}

// Other letters read as V-memory; a write to them goes nowhere, since a mistyped type ("YY,5")
// would put the value in V5.
TEST(DirectNetAddressRoad, OtherTypeLettersAreReadButNeverWritten) {
  TagDatabase tags;
  for (const char* address : {"YY,5", "Q,1333272", "q,5", "VB,2000", "2;Z,7"}) {
    const Resolution write = ResolveAddress(Variant(address), 1, Access::Write, TagForm::TypedString, tags);
    EXPECT_FALSE(write) << address;
    EXPECT_NE(write.refusal.find("is no memory type a write goes to (V, T, CT, S, SP, X, Y, C, GX or GY)"),
              std::string::npos)
        << write.refusal;
  }
  const Resolution read = ResolveAddress(Variant("YY,5"), 1, Access::Read, TagForm::TypedString, tags);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->memory, (MemoryAddress{5, false, 0}));
  for (const char* address : {"V,5", "v,5", "T,5", "CT,5", "S,5", "SP,5", "C,5", "5", " 2 ; V , 5"})
    EXPECT_TRUE(ResolveAddress(Variant(address), 1, Access::Write, TagForm::TypedString, tags)) << address;
}

// A refusal quotes the host's text cut short: an address of thousands of characters (a pasted
// file, a runaway tag) gives a text a user can read.
TEST(DirectNetAddressRoad, RefusalsQuoteLongTextCutShort) {
  TagDatabase tags;
  const std::string digits(5000, '7');
  tags.AddTag(1, Variant("runaway"), Variant("V," + digits));
  for (const Variant& address : {Variant("V," + digits), Variant(std::string(5000, 'x')), Variant("runaway"),
                                 Variant("V,1" + std::string(4000, 'z'))}) {
    for (Access access : {Access::Read, Access::Write}) {
      const Resolution r = ResolveAddress(address, 1, access, TagForm::TypedString, tags);
      ASSERT_FALSE(r);
      EXPECT_LT(r.refusal.size(), 400u) << r.refusal;
      EXPECT_NE(r.refusal.find("..."), std::string::npos) << r.refusal;
    }
  }
  const Resolution letters = ResolveAddress(Variant(std::string(5000, 'Q') + ",7"), 1, Access::Write, TagForm::TypedString, tags);
  EXPECT_LT(letters.refusal.size(), 400u) << letters.refusal;
  EXPECT_EQ(ResolveAddress(Variant("V," + digits), 1, Access::Read, TagForm::TypedString, tags).refusal,
            "address 'V," + std::string(58, '7') + "...' not understood: V" + std::string(60, '7') +
                "... is beyond V177777, the last V address a header carries");
}

TEST(DirectNetReadValues, FixedPointBitWalkAndBcd) {
  ReadWordArray words{};
  words[1] = 12;
  words[2] = 3456;
  VariantArray values(0, 200);
  FillReadValues(words, 2, 2, 0, values);
  EXPECT_DOUBLE_EQ(values.Get(1).ToDouble(), 12.3456);

  words[1] = 0xC000;  // bits 14, 15
  words[2] = 0xA5A5;
  words[3] = 0x0002;  // bit 1
  FillReadValues(words, 20, kBitIoType, 14, values);
  std::vector<int> bits;
  for (int k = 1; k <= 20; ++k) bits.push_back(values.Get(k).ToInt32());
  std::vector<int> want{1, 1};
  for (int b = 0; b < 16; ++b) want.push_back((0xA5A5 >> b) & 1);
  want.push_back(0);
  want.push_back(1);
  EXPECT_EQ(bits, want);

  // ioFloat of an odd count: whole pairs only; the last word is no value, and what was in the
  // next value's place stays as it was.
  words[1] = 12;
  words[2] = 3456;
  words[3] = 3;
  words[4] = 103;  // left over from an earlier read
  values.Set(2, Variant("before"));
  FillReadValues(words, 3, 2, 0, values);
  EXPECT_DOUBLE_EQ(values.Get(1).ToDouble(), 12.3456);
  EXPECT_EQ(values.Get(2), Variant("before"));

  words[1] = 0x1234;
  words[2] = 0xBEEF;
  FillReadValues(words, 2, 5, 0, values);
  EXPECT_EQ(values.Get(1), Variant("1234"));
  EXPECT_EQ(values.Get(2), Variant("BEEF"));
  // A reply longer than the buffer fills it up to its last index and no further.
  VariantArray small(0, 3);
  FillReadValues(words, 255, 0, 0, small);
  EXPECT_EQ(small.Get(1).ToInt32(), 0x1234);
}

TEST(DirectNetReadValues, WaitingReadStoresIntoScalarsAndArrays) {
  ReadWordArray words{};
  words[1] = 0x0081;
  words[2] = 7;
  Variant scalar;
  EXPECT_TRUE(StoreReadValue(words, 1, kBitIoType, 7, scalar));
  EXPECT_EQ(scalar.ToInt32(), 1);
  EXPECT_TRUE(StoreReadValue(words, 1, 0, 0, scalar));
  EXPECT_EQ(scalar.ToInt32(), 0x81);
  words[1] = 12;
  words[2] = 3456;
  EXPECT_TRUE(StoreReadValue(words, 2, 2, 0, scalar));
  EXPECT_DOUBLE_EQ(scalar.ToDouble(), 12.3456);
  Variant array(VariantArray(1, 1));
  EXPECT_TRUE(StoreReadValue(words, 2, 2, 0, array));
  EXPECT_DOUBLE_EQ(array.Array().Get(1).ToDouble(), 12.3456);
  Variant tooSmall(VariantArray(1, 1));
  EXPECT_FALSE(StoreReadValue(words, 2, 0, 0, tooSmall));
  EXPECT_TRUE(tooSmall.Array().Get(1).IsEmpty()) << "a read that fails stores nothing";
}

TEST(DirectNetReadValues, WaitingReadMakesArraysOfScalarsAndConvertsIntoTypedArrays) {
  ReadWordArray words{};
  words[1] = 0x0012;
  words[2] = 0xBEEF;
  words[3] = 9;
  Variant scalar(std::int16_t{5});
  EXPECT_TRUE(StoreReadValue(words, 3, 0, 0, scalar));
  ASSERT_TRUE(scalar.IsArray());
  EXPECT_EQ(scalar.Array().Lower(), 1);
  EXPECT_EQ(scalar.Array().Upper(), 3);
  EXPECT_EQ(scalar.Array().Get(2).ToInt32(), 0xBEEF);

  Variant doubles(VariantArray(0, 4, VarType::Double));
  EXPECT_TRUE(StoreReadValue(words, 3, 0, 0, doubles));
  EXPECT_EQ(doubles.Array().Get(3), Variant(9.0));
  EXPECT_EQ(doubles.Array().Get(4), Variant(0.0)) << "beyond the values read nothing changes";
  // BCD text cannot go into numbers: the call fails, the first value's element keeps its own.
  words[1] = 0x00AB;
  EXPECT_FALSE(StoreReadValue(words, 2, 5, 0, doubles));
  EXPECT_EQ(doubles.Array().Get(1), Variant(18.0));

  // An array without element 1 takes nothing.
  Variant fromTwo(VariantArray(2, 5));
  EXPECT_FALSE(StoreReadValue(words, 2, 0, 0, fromTwo));
  EXPECT_TRUE(fromTwo.Array().Get(2).IsEmpty());
}

}  // namespace
}  // namespace plc::dnet
