// What a host gets from SeqLink against the station simulator, as strict as a real station: bits
// with the optional arguments left out and walked across words, set/reset refused where the
// station has none, single bits of words refused, ioFloat in whole pairs, values no data word
// holds refused, and the cause of every failure. On the in-memory line and the manual clock.
#include <gtest/gtest.h>

#include "base/Enums.h"
#include "base/IoDataType.h"
#include "directnet/ReadValues.h"
#include "frame/TagDatabase.h"
#include "tests/directnet/SeqLinkRig.h"

namespace plc {
namespace {

using test::SeqLinkRig;

// Point p of a bit area as the station holds it: eight to a header address.
int StationPoint(const SeqLinkRig& r, std::uint32_t base, int p) {
  return (r.station.Byte(1, base + static_cast<std::uint32_t>(p / 8)) >> (p % 8)) & 1;
}

Result ReadOmitted(SeqLinkRig& r, const char* address, Variant& value) {
  Variant a(address);
  return r.link->ReadPLC(a, value, Opt<Variant>(), Opt<std::int16_t>(), Opt<std::int32_t>());
}

TEST(SeqLinkValues, BitReadsWithTheOptionalArgumentsLeftOutGiveBitsNotWords) {
  SeqLinkRig r;
  r.station.SetByte(1, 0x4100, 0x85);  // X0, X2, X7
  r.station.SetByte(1, 0x4101, 0x02);  // X11
  const struct {
    const char* address;
    int bit;
  } rows[] = {{"X,7", 1}, {"X,6", 0}, {"X,2", 1}, {"X,10", 0}, {"X,11", 1}};
  for (const auto& row : rows) {
    Variant value;
    ASSERT_EQ(ReadOmitted(r, row.address, value), ResultOk) << row.address;
    EXPECT_EQ(value, Variant(std::int32_t{row.bit})) << row.address;
  }

  // ReadDevice with IOType and ioIdx left out: the completion delivers the bit.
  Variant a("X,7");
  ASSERT_EQ(r.link->ReadDevice(a, Opt<Variant>(), Opt<std::int16_t>(), Opt<std::int32_t>()), ResultOk);
  r.Run(10'000);
  EXPECT_EQ(r.Data(1), Variant(std::int32_t{1}));
  Variant b("X,11");
  Variant three(std::int16_t{3});
  ASSERT_EQ(r.link->ReadDevice(b, Opt<Variant>(three), Opt<std::int16_t>(), Opt<std::int32_t>()), ResultOk);
  r.Run(10'000);
  EXPECT_EQ(r.Data(1), Variant(std::int32_t{1}));  // X11
  EXPECT_EQ(r.Data(2), Variant(std::int32_t{0}));  // X12
  EXPECT_EQ(r.Data(3), Variant(std::int32_t{0}));  // X13
}

// A non-waiting read of a point delivers bits whatever ReadDevice did before; a word read after
// a ReadDevice of a point delivers its words (the completion used the ioType of the last
// ReadDevice, 18, or none at all).
TEST(SeqLinkValues, NonWaitingBitReadsGiveBitsAndWordReadsAfterThemWords) {
  SeqLinkRig r;
  r.station.SetByte(1, 0x4100, 0x85);  // X0, X2, X7: 133 as a byte
  r.station.SetByte(1, 0x4101, 0x02);  // X11
  r.station.SetWord(1, 0x0400, 4660);
  r.station.SetWord(1, 0x0401, 7);
  Variant x7("X,7"), unused;
  ASSERT_EQ(r.link->ReadPLCNW(x7, unused, Opt<Variant>(), Opt<std::int16_t>()), ResultOk);
  r.Run(10'000);
  EXPECT_EQ(r.Data(1), Variant(std::int32_t{1})) << "X7, not the byte";
  ASSERT_EQ(r.ReadNW("X,7", 3), ResultOk);
  r.Run(10'000);
  EXPECT_EQ(r.Data(1), Variant(std::int32_t{1}));  // X7
  EXPECT_EQ(r.Data(2), Variant(std::int32_t{0}));  // X10
  EXPECT_EQ(r.Data(3), Variant(std::int32_t{1}));  // X11

  ASSERT_EQ(r.link->ReadDevice(x7, Opt<Variant>(), Opt<std::int16_t>(), Opt<std::int32_t>()), ResultOk);
  r.Run(10'000);
  EXPECT_EQ(r.Data(1), Variant(std::int32_t{1}));
  ASSERT_EQ(r.ReadNW("V,2000", 2), ResultOk);
  r.Run(10'000);
  EXPECT_EQ(r.Data(1), Variant(std::int32_t{4660}));
  EXPECT_EQ(r.Data(2), Variant(std::int32_t{7}));

  // A ReadDevice of words with ioType 18 still walks the bits of the words read after it.
  Variant v2000("V,2000");
  std::int16_t bits = 18;
  std::int32_t bit = 2;
  ASSERT_EQ(r.link->ReadDevice(v2000, Opt<Variant>(Variant(std::int16_t{1})), Opt<std::int16_t>(bits),
                               Opt<std::int32_t>(bit)),
            ResultOk);
  r.Run(10'000);
  ASSERT_EQ(r.ReadNW("V,2000", 3), ResultOk);
  r.Run(10'000);
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(r.Data(k).ToInt32(), (4660 >> (k + 1)) & 1) << k;
}

// A bit read asks for the words its points need, 16 points a word, and never runs into the
// next area: the last C points (41FFh) are read as the second byte of the word at 41FEh.
TEST(SeqLinkValues, BitReadsAskTheWordsTheirPointsNeedAndReachTheEndOfTheirArea) {
  SeqLinkRig r;
  r.station.SetByte(1, 0x41FF, 0x81);  // C1770, C1777
  r.station.SetByte(1, 0x41F8, 0x02);  // C1701
  r.station.SetByte(1, 0x413F, 0x80);  // X777
  auto readHeader = [&] {
    for (const Bytes& chunk : r.sent)
      if (chunk.size() == 8 && chunk[0] == 0x01 && chunk[1] == 0x40) return chunk;
    return Bytes{};
  };
  const struct {
    const char* address;
    std::int16_t count;
    std::uint16_t header;
    std::uint8_t words;
    std::vector<int> points;
  } rows[] = {
      {"C,1777", 1, 0x41FE, 1, {1}},
      {"C,1770", 8, 0x41FE, 1, {1, 0, 0, 0, 0, 0, 0, 1}},
      {"C,1700", 8, 0x41F8, 1, {0, 1, 0, 0, 0, 0, 0, 0}},
      {"X,777", 1, 0x413E, 1, {1}},
      {"Y,0", 40, 0x4140, 3, std::vector<int>(40, 0)},
      {"Y,16", 12, 0x4141, 2, std::vector<int>(12, 0)},  // bits 6..17: 4141h to 4143h
  };
  for (const auto& row : rows) {
    r.sent.clear();
    Variant values(VariantArray(1, row.count));
    ASSERT_EQ(r.Read(row.address, values, row.count), ResultOk) << row.address << ": " << r.link->FailureCause();
    const Bytes header = readHeader();
    ASSERT_EQ(header.size(), 8u) << row.address;
    EXPECT_EQ(header[3] << 8 | header[4], row.header) << row.address;
    EXPECT_EQ(header[5], row.words) << row.address;
    for (int k = 0; k < row.count; ++k)
      EXPECT_EQ(values.Array().Get(k + 1).ToInt32(), row.points[static_cast<std::size_t>(k)]) << row.address << " " << k;
  }
  // Non-waiting too.
  ASSERT_EQ(r.ReadNW("C,1777", 1), ResultOk);
  r.Run(10'000);
  EXPECT_EQ(r.Data(1), Variant(std::int32_t{1}));

  // Points past the last of the area are another area's: refused, nothing sent.
  r.sent.clear();
  Variant two(VariantArray(1, 2));
  EXPECT_EQ(r.Read("C,1777", two, 2), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "2 points from C1777 run past C1777, the last C point");
  EXPECT_EQ(r.ReadNW("X,770", 9), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "9 points from X770 run past X777, the last X point");
  EXPECT_TRUE(r.sent.empty());
}

// T, CT, S and SP end where the largest DirectLOGIC's do; past them lies other memory: T400 is
// V400, CT400 V1400, S100 the timers' status bits. A read or write that names or runs past the
// last word was sent there and reported done.
TEST(SeqLinkValues, WordTypesStayInTheirArea) {
  SeqLinkRig r;
  r.station.SetWord(1, 0x00FF, 11);   // T377
  r.station.SetWord(1, 0x0100, 22);   // V400
  r.station.SetWord(1, 0x02FF, 33);   // CT377
  const sim::StationImage before = r.station.Image(1);
  Variant one;
  EXPECT_EQ(r.Read("T,400", one), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "address 'T,400' not understood: T400 is beyond T377, the last T word");
  EXPECT_EQ(r.ReadNW("CT,400"), ResultFailed);
  Variant two(VariantArray(1, 2));
  EXPECT_EQ(r.Read("T,377", two, 2), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "2 words from T377 run past T377, the last T word");
  EXPECT_EQ(r.ReadNW("SP,30", 9), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "9 words from SP30 run past SP37, the last SP word");
  EXPECT_EQ(r.Write("T,400", Variant(std::int32_t{5})), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "address 'T,400' not understood: T400 is beyond T377, the last T word");
  Variant pair(VariantArray(1, 2));
  pair.Array().Set(1, Variant(std::int32_t{1}));
  pair.Array().Set(2, Variant(std::int32_t{2}));
  EXPECT_EQ(r.Write("CT,377", pair, 2), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "2 words from CT377 run past CT377, the last CT word");
  EXPECT_TRUE(r.sent.empty());
  EXPECT_EQ(r.station.Image(1), before);
  ASSERT_EQ(r.Read("T,377", one), ResultOk) << r.link->FailureCause();
  EXPECT_EQ(one, Variant(std::int32_t{11}));
  Variant words(VariantArray(1, 2));
  ASSERT_EQ(r.Read("V,377", words, 2), ResultOk) << "V runs on: " << r.link->FailureCause();
  EXPECT_EQ(words.Array().Get(2), Variant(std::int32_t{22}));
}

// A header's 255 words hold 4080 points: a waiting read of every X point (512, 32 words) was
// refused as 'count 512 beyond this control's limit of 255 words'.
TEST(SeqLinkValues, AWaitingReadOfMorePointsThanAHeaderHasWordsIsSent) {
  SeqLinkRig r;
  r.station.SetByte(1, 0x4100, 0x01);  // X0
  r.station.SetByte(1, 0x4120, 0x02);  // X401
  r.station.SetByte(1, 0x413F, 0x80);  // X777
  Variant values(VariantArray(1, 512));
  ASSERT_EQ(r.Read("X,0", values, 512), ResultOk) << r.link->FailureCause();
  for (int k = 0; k < 512; ++k)
    EXPECT_EQ(values.Array().Get(k + 1).ToInt32(), StationPoint(r, 0x4100, k)) << "X" << std::oct << k;
  EXPECT_EQ(values.Array().Get(1 + 0401).ToInt32(), 1);
  EXPECT_EQ(values.Array().Get(512).ToInt32(), 1);
  Variant more(VariantArray(1, 256));
  EXPECT_EQ(r.Read("V,2000", more, 256), ResultFailed) << "words are still 255 a header";
  EXPECT_EQ(r.link->FailureCause(), "count 256 beyond this control's limit of 255 words");
}

// ReadData holds values 1 to 200: a non-waiting read of more is refused before anything is sent,
// where values 201 on were dropped and ReadData(201) raised an error after CommComplete.
TEST(SeqLinkValues, ANonWaitingReadOfMoreValuesThanReadDataHoldsIsRefused) {
  SeqLinkRig r;
  for (std::uint32_t k = 0; k < 201; ++k) r.station.SetWord(1, 0x0400 + k, static_cast<std::uint16_t>(k + 1));
  EXPECT_EQ(r.ReadNW("V,2000", 201), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "ReadSize 201 asks for 201 values, and ReadData holds 200 (1 to 200)");
  EXPECT_EQ(r.ReadNW("X,0", 255), ResultFailed);
  EXPECT_TRUE(r.sent.empty());
  EXPECT_TRUE(r.events.empty());
  ASSERT_EQ(r.ReadNW("V,2000", 200), ResultOk);
  r.Run(10'000);
  EXPECT_EQ(r.Data(200), Variant(std::int32_t{200}));
}

// ioType 18 on a word read walks the bits of the words read; an ioIdx past bit 15 would take
// them from a word this read never asked for (what an earlier read left), so it is refused.
TEST(SeqLinkValues, ABitIndexPastTheWordIsRefusedNotTakenFromAnEarlierRead) {
  SeqLinkRig r;
  r.station.SetWord(1, 0x0400, 0x0008);
  r.station.SetWord(1, 0x0401, 0xFFFF);
  Variant two(VariantArray(1, 2));
  ASSERT_EQ(r.Read("V,2000", two, 2), ResultOk);  // leaves FFFFh as the second word read
  r.station.SetWord(1, 0x0400, 0);
  r.sent.clear();
  Variant a("V,2000");
  for (std::int32_t idx : {16, 20, -1}) {
    Variant value(std::int32_t{-1});
    std::int16_t bits = dnet::kBitIoType;
    std::int32_t bit = idx;
    EXPECT_EQ(r.link->ReadPLC(a, value, Opt<Variant>(Variant(std::int16_t{1})), Opt<std::int16_t>(bits),
                              Opt<std::int32_t>(bit)),
              ResultFailed)
        << idx;
    EXPECT_EQ(value.ToInt32(), -1) << idx;
    EXPECT_EQ(r.link->FailureCause(), "ioIdx " + std::to_string(idx) + " names no bit of a 16-bit word (0 to 15)");
    EXPECT_EQ(r.link->ReadDevice(a, Opt<Variant>(Variant(std::int16_t{1})), Opt<std::int16_t>(bits),
                                 Opt<std::int32_t>(bit)),
              ResultFailed)
        << idx;
  }
  EXPECT_TRUE(r.sent.empty());
  // Bits 0 to 15 are read from the word itself.
  r.station.SetWord(1, 0x0400, 0x8000);
  Variant value;
  std::int16_t bits = dnet::kBitIoType;
  std::int32_t bit = 15;
  ASSERT_EQ(r.link->ReadPLC(a, value, Opt<Variant>(Variant(std::int16_t{1})), Opt<std::int16_t>(bits),
                            Opt<std::int32_t>(bit)),
            ResultOk);
  EXPECT_EQ(value, Variant(std::int32_t{1}));
}

TEST(SeqLinkValues, BitWalksCrossHeaderAddressesAndWords) {
  SeqLinkRig r;
  const std::uint8_t y[] = {0x21, 0xC2, 0x81, 0x02, 0x5A};  // Y0-Y47
  for (std::uint32_t k = 0; k < 5; ++k) r.station.SetByte(1, 0x4140 + k, y[k]);
  // Y16 is 4141h bit 6: a walk of 12 points takes Y16, Y17, Y20-Y27 (the rest of word 1, from
  // 4142h) and Y30, Y31 (4143h, the first byte of word 2).
  for (const auto& [address, first, count] : {std::tuple{"Y,16", 14, 12}, std::tuple{"Y,0", 0, 40}, std::tuple{"Y,5", 5, 20}}) {
    Variant values(VariantArray(1, count));
    ASSERT_EQ(r.Read(address, values, static_cast<std::int16_t>(count)), ResultOk) << address;
    for (int k = 0; k < count; ++k)
      EXPECT_EQ(values.Array().Get(k + 1).ToInt32(), StationPoint(r, 0x4140, first + k)) << address << " point " << k;
  }
}

TEST(SeqLinkValues, SetAndResetOfXYGXGYAreRefusedAndCWorks) {
  SeqLinkRig r;
  r.station.SetByte(1, 0x4140, 0x04);
  const sim::StationImage before = r.station.Image(1);
  for (const char* address : {"Y,5", "Y,2", "X,5", "GX,17", "GY,0"}) {
    for (bool bitCall : {true, false}) {
      const Result result = bitCall ? r.WriteBit(address, Variant(std::int32_t{1})) : r.Write(address, Variant(std::int32_t{1}));
      EXPECT_EQ(result, ResultFailed) << address;
      EXPECT_TRUE(r.sent.empty()) << address;
      EXPECT_NE(r.link->FailureCause().find("cannot be set or reset alone: the station sets and resets only C points"),
                std::string::npos)
          << r.link->FailureCause();
      EXPECT_EQ(r.link->ReadErrors(), Variant(r.link->FailureCause())) << "ReadErrors tells it too";
      EXPECT_FALSE(r.Busy());
    }
  }
  EXPECT_EQ(r.link->FailureCause(),
            "'GY,0' cannot be set or reset alone: the station sets and resets only C points, and GY0 shares header "
            "address 4080h with GY0 to GY7");
  EXPECT_EQ(r.station.Image(1), before);

  ASSERT_EQ(r.Write("C,12", Variant(std::int32_t{1})), ResultOk);
  EXPECT_EQ(r.station.Byte(1, 0x4181), 1 << 2);
  EXPECT_EQ(r.link->FailureCause(), "");
}

TEST(SeqLinkValues, ABitOfAWordIsRefusedAndATagIsLookedUpWhole) {
  SeqLinkRig r;
  Tags().Clear();
  r.station.SetWord(1, 0x0400, 4660);
  for (const char* address : {"V,2000b3", "V,2000b", "2000b3", "C,10b3"}) {
    EXPECT_EQ(r.Write(address, Variant(std::int32_t{1})), ResultFailed) << address;
    EXPECT_TRUE(r.sent.empty()) << address;
    EXPECT_EQ(r.link->ReadErrors(), Variant(r.link->FailureCause()));
  }
  EXPECT_EQ(r.station.Word(1, 0x0400), 4660);
  Variant a("V,2000b3"), one(std::int32_t{1});
  std::int16_t io = 0;
  EXPECT_EQ(r.link->WritePLC(a, one, Opt<std::int16_t>(), Opt<std::int16_t>(io), Opt<std::int32_t>()), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(),
            "'V,2000b3' names bit 3 of a word, which this line cannot write alone: the station has no bit write for "
            "words, and reading the word first could undo what the PLC changes in between; write the whole word");
  EXPECT_EQ(io, 1) << "a \"b\" marks the write as a bit write";

  // "C,10b": the "b" marks a set/reset, which a C point has.
  ASSERT_EQ(r.Write("C,10b", Variant(std::int32_t{1})), ResultOk);
  EXPECT_EQ(r.station.Byte(1, 0x4181) & 1, 1);
  // A tag name with a "b" in it is the tag's name.
  ASSERT_TRUE(Tags().AddTag(1, Variant("Tumbler"), Variant("V,2001")));
  ASSERT_EQ(r.Write("Tumbler", Variant(std::int32_t{77})), ResultOk);
  EXPECT_EQ(r.station.Word(1, 0x0401), 77);
  EXPECT_EQ(r.Write("Tumblers", Variant(std::int32_t{77})), ResultFailed);
  EXPECT_EQ(r.link->FailureCause().rfind("address 'Tumblers' not understood: no tag of that name", 0), 0u)
      << r.link->FailureCause();
  Tags().Clear();
}

// A "b" that is followed by neither a bit number nor the end is no mark: refused, where the
// address was left whole and "VB" read as other letters, so V2000 (and V5 for "Yb,5") was
// overwritten. A mistyped memory type is refused too.
TEST(SeqLinkValues, AWriteWhoseTypeIsNoMemoryTypeIsRefused) {
  SeqLinkRig r;
  r.station.SetWord(1, 0x0400, 4660);
  r.station.SetWord(1, 0x0005, 55);
  const sim::StationImage before = r.station.Image(1);
  for (const char* address : {"Vb,2000", "Yb,5", "vB,2000", "2;Vb,2000", "Vb3,2000"}) {
    EXPECT_EQ(r.Write(address, Variant(std::int32_t{1})), ResultFailed) << address;
    EXPECT_EQ(r.link->FailureCause().rfind(std::string("address '") + address + "' not understood: a \"", 0), 0u)
        << r.link->FailureCause();
  }
  EXPECT_EQ(r.link->FailureCause(),
            "address 'Vb3,2000' not understood: a \"b\" marks a bit at the end of an address (V,2000b3, C,10b), and "
            "'3,2000' follows it here");
  EXPECT_EQ(r.Write("YY,5", Variant(std::int32_t{1})), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(),
            "address 'YY,5' not understood: 'YY' is no memory type a write goes to (V, T, CT, S, SP, X, Y, C, GX or "
            "GY); other letters are read as V-memory, never written");
  EXPECT_TRUE(r.sent.empty());
  EXPECT_EQ(r.station.Image(1), before);
  EXPECT_FALSE(r.Busy());
  ASSERT_EQ(r.Write("V,2000", Variant(std::int32_t{7})), ResultOk) << "the line is free";
  EXPECT_EQ(r.station.Word(1, 0x0400), 7);
}

// A set or reset names one point: a run of C points asked of it (WriteSize above 1, values for
// each) went out as the first point alone and was reported written, the rest left as they were.
TEST(SeqLinkValues, ASetOrResetOfSeveralPointsIsRefused) {
  SeqLinkRig r;
  VariantArray ones(1, 3);
  for (int k = 1; k <= 3; ++k) ones.Set(k, Variant(std::int32_t{1}));
  EXPECT_EQ(r.Write("C,10", Variant(ones), 3), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(),
            "WriteSize 3 asks for 3 points from C10, and a set or reset writes one point: write them one at a time");
  EXPECT_EQ(r.link->ReadErrors(), Variant(r.link->FailureCause()));
  Variant a("C,10"), one(ones);
  EXPECT_EQ(r.link->WritePLCBit(a, one, Opt<std::int16_t>(std::int16_t{2}), Opt<std::int16_t>(), Opt<std::int32_t>()),
            ResultFailed);
  EXPECT_TRUE(r.sent.empty());
  EXPECT_EQ(r.station.Byte(1, 0x4181), 0);
  EXPECT_FALSE(r.Busy());
  ASSERT_EQ(r.Write("C,10", Variant(ones), 1), ResultOk) << "one point";
  EXPECT_EQ(r.station.Byte(1, 0x4181), 1);
}

// 1 or True sets, 0 or False resets, and nothing else is taken for either: True (-1) and "on"
// reset the point before.
TEST(SeqLinkValues, SetAndResetTakeOneOrTrueAndZeroOrFalse) {
  SeqLinkRig r;
  auto point = [&] { return r.station.Byte(1, 0x4181) & 1; };  // C10
  const struct {
    Variant value;
    int after;
  } taken[] = {{Variant(true), 1}, {Variant(false), 0}, {Variant(std::int32_t{1}), 1}, {Variant(0.0), 0},
               {Variant("1"), 1}};
  for (const auto& row : taken) {
    ASSERT_EQ(r.WriteBit("C,10", row.value), ResultOk) << row.value.ToString();
    EXPECT_EQ(point(), row.after) << row.value.ToString();
  }
  VariantArray first(1, 2);
  first.Set(1, Variant(true));
  ASSERT_EQ(r.Write("C,10", Variant(first)), ResultOk) << "WritePLC to a C point: element 1";
  EXPECT_EQ(point(), 1);

  r.sent.clear();
  for (const Variant& value : {Variant(std::int32_t{-1}), Variant(std::int32_t{5}), Variant("on"), Variant(0.5)}) {
    EXPECT_EQ(r.WriteBit("C,10", value), ResultFailed) << value.ToString();
    EXPECT_EQ(r.link->FailureCause(), "value " + value.ToString() +
                                          " is neither 1 (or True), which sets the point, nor 0 (or False), which "
                                          "resets it");
    EXPECT_EQ(r.Write("C,10b", value), ResultFailed) << value.ToString();
  }
  EXPECT_EQ(r.WriteBit("C,10", Variant()), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "no value to write: 1 (or True) sets the point, 0 (or False) resets it");
  EXPECT_TRUE(r.sent.empty());
  EXPECT_EQ(point(), 1);
}

TEST(SeqLinkValues, IoFloatTakesWholePairsOnly) {
  SeqLinkRig r;
  const std::uint16_t words[] = {12, 3456, 3, 103};
  for (std::uint32_t k = 0; k < 4; ++k) r.station.SetWord(1, 0x0400 + k, words[k]);
  Variant a("V,2000");
  Variant four(std::int16_t{4});
  std::int16_t io = ioFloat;
  ASSERT_EQ(r.link->ReadDevice(a, Opt<Variant>(four), Opt<std::int16_t>(io), Opt<std::int32_t>()), ResultOk);
  r.Run(10'000);
  EXPECT_DOUBLE_EQ(r.Data(2).ToDouble(), 3.0103);

  // Three words: one pair; the third word has no partner and makes no value.
  r.station.SetWord(1, 0x0403, 9999);
  Variant three(std::int16_t{3});
  ASSERT_EQ(r.link->ReadDevice(a, Opt<Variant>(three), Opt<std::int16_t>(io), Opt<std::int32_t>()), ResultOk);
  r.Run(10'000);
  EXPECT_DOUBLE_EQ(r.Data(1).ToDouble(), 12.3456);
  EXPECT_DOUBLE_EQ(r.Data(2).ToDouble(), 3.0103) << "left as it was, not 3 + a word never read";

  // One word is no value at all: refused before anything is sent, so no completion comes.
  r.sent.clear();
  r.events.clear();
  Variant one(std::int16_t{1});
  EXPECT_EQ(r.link->ReadDevice(a, Opt<Variant>(one), Opt<std::int16_t>(io), Opt<std::int32_t>()), ResultFailed);
  r.Run(10'000);
  EXPECT_TRUE(r.sent.empty());
  EXPECT_TRUE(r.events.empty());
  EXPECT_EQ(r.link->FailureCause(), "ReadSize 1 reads no ioFloat value (two words each)");
}

// A one-word read after a ReadDevice with ioFloat has no pair to make a value of: its CommComplete
// finds its word in ReadData, not the value of the pair read before it.
TEST(SeqLinkValues, AOneWordReadAfterAnIoFloatReadDeviceLeavesItsWord) {
  SeqLinkRig r;
  ASSERT_EQ(r.ReadFloatPairByReadDevice(), ResultOk);
  ASSERT_DOUBLE_EQ(r.Data(1).ToDouble(), 12.3456);
  std::vector<Variant> seen;
  r.link->SetEventSink([&](const std::string& name, std::vector<Variant>&) {
    if (name == "CommComplete") seen.push_back(r.Data(1));
  });
  Variant b("V,2001"), value;
  ASSERT_EQ(r.link->ReadPLC(b, value, Opt<Variant>(), Opt<std::int16_t>(), Opt<std::int32_t>()), ResultOk)
      << r.link->FailureCause();
  EXPECT_EQ(value.ToInt32(), 3456);
  Variant one(std::int16_t{1}), v2000("V,2000");
  ASSERT_EQ(r.link->ReadPLCNW(v2000, value, Opt<Variant>(one), Opt<std::int16_t>()), ResultOk) << r.link->FailureCause();
  r.Run(10'000);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].ToInt32(), 3456);
  EXPECT_EQ(seen[1].ToInt32(), 12);
}

// ReadSize as UdpLink reads it: Empty is 1 (written back), and ioFloat doubles the caller's
// variable to the words read.
TEST(SeqLinkValues, ReadSizeEmptyIsOneAndIoFloatDoublesIt) {
  SeqLinkRig r;
  r.station.SetWord(1, 0x0400, 12);
  r.station.SetWord(1, 0x0401, 3456);
  Variant a("V,2000"), value, size;
  std::int16_t word = ioWord;
  ASSERT_EQ(r.link->ReadPLC(a, value, Opt<Variant>(size), Opt<std::int16_t>(word), Opt<std::int32_t>()), ResultOk)
      << r.link->FailureCause();
  EXPECT_EQ(value, Variant(std::int32_t{12}));
  EXPECT_EQ(size, Variant(std::int32_t{1}));
  size = Variant(std::int16_t{1});
  std::int16_t io = ioFloat;
  ASSERT_EQ(r.link->ReadPLC(a, value, Opt<Variant>(size), Opt<std::int16_t>(io), Opt<std::int32_t>()), ResultOk);
  EXPECT_DOUBLE_EQ(value.ToDouble(), 12.3456);
  EXPECT_EQ(size, Variant(std::int32_t{2}));
  Variant many("many");
  EXPECT_EQ(r.link->ReadPLC(a, value, Opt<Variant>(many), Opt<std::int16_t>(), Opt<std::int32_t>()), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "ReadSize many is not a number");
}

TEST(SeqLinkValues, ValuesNoDataWordHoldsAreRefusedWithTheirText) {
  SeqLinkRig r;
  const struct {
    Variant value;
    const char* cause;
  } rows[] = {
      {Variant(std::int32_t{-1}), "value -1 is outside 0..65535, the values a data word holds"},
      {Variant(std::int32_t{70000}), "value 70000 is outside 0..65535, the values a data word holds"},
      {Variant(1.5), "value 1.5 is not a whole number (a data word holds 0..65535)"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(r.Write("V,2000", row.value), ResultFailed);
    EXPECT_EQ(r.link->FailureCause(), row.cause);
  }
  VariantArray two(1, 2);
  two.Set(1, Variant(std::int32_t{1}));
  two.Set(2, Variant(std::int32_t{-32768}));
  EXPECT_EQ(r.Write("V,2000", Variant(two), 2), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "value -32768 (element 2) is outside 0..65535, the values a data word holds");
  EXPECT_EQ(r.Write("V,2000", Variant(std::int32_t{5}), 3), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "WriteSize 3 asks for 3 values, and one value was given");
  EXPECT_TRUE(r.sent.empty());
}

// Each way a call can fail leaves its own cause; a call that succeeds leaves none.
// A read that fails as its values are handed over leaves the caller's array as it was: an
// Integer array took V2000's 5 before V2001's 40000 did not fit, and an array one short took
// the values it had room for, while ReadPLC returned 0.
TEST(SeqLinkValues, AReadWhoseValuesDoNotFitReadValueLeavesItAsItWas) {
  SeqLinkRig r;
  r.station.SetWord(1, 0x0400, 5);
  r.station.SetWord(1, 0x0401, 40000);
  r.station.SetWord(1, 0x0402, 7);
  Variant integers(VariantArray(1, 3, VarType::Int16));
  for (std::int32_t i = 1; i <= 3; ++i) integers.Array().Set(i, Variant(std::int16_t{-7}));
  EXPECT_EQ(r.Read("V,2000", integers, 3), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "element 2 of ReadValue cannot hold the value 40000 read (Overflow)");
  for (std::int32_t i = 1; i <= 3; ++i) EXPECT_EQ(integers.Array().Get(i).ToInt32(), -7) << "element " << i;
  Variant shortOne(VariantArray(1, 2));
  shortOne.Array().Set(1, Variant(-7.0));
  EXPECT_EQ(r.Read("V,2000", shortOne, 3), ResultFailed);
  EXPECT_EQ(shortOne.Array().Get(1), Variant(-7.0));
  EXPECT_TRUE(shortOne.Array().Get(2).IsEmpty());
  // Values that fit are handed over.
  r.station.SetWord(1, 0x0401, 32767);
  ASSERT_EQ(r.Read("V,2000", integers, 3), ResultOk) << r.link->FailureCause();
  EXPECT_EQ(integers.Array().Get(2).ToInt32(), 32767);
  EXPECT_EQ(integers.Array().Get(3).ToInt32(), 7);
}

// ioBCD gives each word's digits as text; an array of numbers takes them as the number they
// spell. A word with a nibble above 9 is no BCD number and is refused, also where its text would
// read as a number in exponent form (0x01E5 is "1E5", not 100000).
TEST(SeqLinkValues, BcdIntoNumbersTakesBcdWordsOnly) {
  SeqLinkRig r;
  r.station.SetWord(1, 0x0400, 0x1234);
  r.station.SetWord(1, 0x0401, 0x9999);
  r.station.SetWord(1, 0x0402, 0x0000);
  for (VarType type : {VarType::Double, VarType::Int32}) {
    Variant numbers(VariantArray(1, 3, type));
    ASSERT_EQ(r.Read("V,2000", numbers, 3, ioBCD), ResultOk) << r.link->FailureCause();
    EXPECT_EQ(numbers.Array().Get(1).ToDouble(), 1234);
    EXPECT_EQ(numbers.Array().Get(2).ToDouble(), 9999);
    EXPECT_EQ(numbers.Array().Get(3).ToDouble(), 0);
  }
  for (std::uint16_t word : {0x01E5, 0x02E0, 0x001E, 0x00AB}) {
    r.station.SetWord(1, 0x0401, word);
    for (VarType type : {VarType::Double, VarType::Int32}) {
      Variant numbers(VariantArray(1, 3, type));
      for (std::int32_t i = 1; i <= 3; ++i) numbers.Array().Set(i, Variant(std::int32_t{-7}));
      EXPECT_EQ(r.Read("V,2000", numbers, 3, ioBCD), ResultFailed) << std::hex << word;
      EXPECT_NE(r.link->FailureCause().find("element 2 of ReadValue"), std::string::npos) << r.link->FailureCause();
      for (std::int32_t i = 1; i <= 3; ++i) EXPECT_EQ(numbers.Array().Get(i).ToDouble(), -7) << std::hex << word;
    }
    // A variant or an array of texts takes the text as it is.
    Variant text;
    ASSERT_EQ(r.Read("V,2001", text, 1, ioBCD), ResultOk);
    EXPECT_EQ(text, Variant(HexWordText(word)));
    Variant texts(VariantArray(1, 3, VarType::String));
    ASSERT_EQ(r.Read("V,2000", texts, 3, ioBCD), ResultOk) << r.link->FailureCause();
    EXPECT_EQ(texts.Array().Get(2), Variant(HexWordText(word)));
  }
}

TEST(SeqLinkValues, EveryFailureSaysWhy) {
  SeqLinkRig r;
  auto readCause = [&](const char* address, std::int16_t size = 1) {
    Variant value;
    EXPECT_EQ(r.Read(address, value, size), ResultFailed) << address;
    r.Run(2'100'000);
    return r.link->FailureCause();
  };
  r.answer = false;
  EXPECT_EQ(readCause("V,2000"), "no answer to the enquiry from station 1 within 2 s");
  r.answer = true;
  r.station.fault = sim::StationFault::Nak;
  EXPECT_EQ(readCause("2;V,2000"), "station 2 answered the enquiry with NAK");
  r.station.fault = sim::StationFault::BadLrc;
  EXPECT_EQ(readCause("V,2000"), "the read reply of station 1 failed its LRC check");
  EXPECT_EQ(r.Write("V,2000", Variant(std::int32_t{1})), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "the write reply of station 1 failed its LRC check");
  r.Run(2'100'000);
  r.station.fault = sim::StationFault::NoEot;
  EXPECT_EQ(readCause("V,2000"), "no EOT from station 1 within 2 s after its reply was acknowledged");
  r.station.fault = sim::StationFault::None;
  EXPECT_EQ(readCause("V,100000"),
            "station 1 refused the request with NAK (an address, count or command it does not have)");
  EXPECT_EQ(readCause("V,1333272"),
            "address 'V,1333272' not understood: V1333272 is beyond V177777, the last V address a header carries");
  EXPECT_EQ(readCause("V,2000", 256), "count 256 beyond this control's limit of 255 words");
  Variant value;
  Variant a("V,2000"), n(std::int16_t{128});
  std::int16_t io = ioFloat;
  EXPECT_EQ(r.link->ReadPLC(a, value, Opt<Variant>(n), Opt<std::int16_t>(io), Opt<std::int32_t>()), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(),
            "count 256 beyond this control's limit of 255 words (ReadSize 128 ioFloat values, two words each)");
  r.link->SetPortOpen(false);
  EXPECT_EQ(readCause("V,2000"), "the port is closed (PortOpen is False)");
  EXPECT_EQ(r.ReadNW("V,2000"), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "the port is closed (PortOpen is False)");
  r.link->SetPortOpen(true);
  EXPECT_EQ(r.Read("V,2000", value), ResultOk);
  EXPECT_EQ(r.link->FailureCause(), "");
}

}  // namespace
}  // namespace plc
