#include <gtest/gtest.h>

#include <thread>

#include "frame/AddressString.h"
#include "frame/TagDatabase.h"

namespace plc {
namespace {

constexpr std::int16_t kUnitAddress = 7;

struct ParseCase {
  const char* text;
  bool ok;
  std::int16_t unit;
  std::int32_t reference;
  std::array<std::int16_t, 5> more;
};

// Fields start at sentinels so that a field the text does not carry shows as kept.
constexpr std::array<std::int16_t, 5> kKept{-9, -9, -9, -9, -9};

TEST(ParseAddressString, GrammarTable) {
  const ParseCase cases[] = {
      {"3;40001", true, 3, 40001, kKept},
      {"3; 40001", true, 3, 40001, kKept},
      {"  3;40001 ", true, 3, 40001, kKept},
      {"3x2;40001", true, 3, 40001, {2, -9, -9, -9, -9}},
      {"0;1;2;3;4;5;40001", true, 0, 40001, {1, 2, 3, 4, 5}},
      {"32767;1", true, 32767, 1, kKept},
      {"003;-5", true, 3, -5, kKept},
      {"40001", true, -1, 40001, kKept},  // no ";": the whole text is the address
      {" 40001 ", true, -1, 40001, kKept},
      {"3 ;40001", false, 3, 0, kKept},  // the space ends the unit, then an empty field
      {"3;", false, 3, 0, kKept},
      {"0;1;2;3;4;5;6;40001", false, 0, 0, {1, 2, 3, 4, 5}},  // one field too many
      {"70000;1", false, -1, 0, kKept},
      {"32768;1", false, -1, 0, kKept},
      {"3;4;", false, 3, 0, {4, -9, -9, -9, -9}},  // fields before the failure stay
      {"3;4 ;5", false, 3, 0, {4, -9, -9, -9, -9}},
      {"3;99999999999", false, 3, 0, kKept},  // not a 32-bit address
      {"3;40001x", false, 3, 0, kKept},
      {";40001", false, -1, 0, kKept},
      {"abc", false, -1, 0, kKept},
      {"", false, -1, 0, kKept},
      {"x;1", false, -1, 0, kKept},
  };
  for (const ParseCase& c : cases) {
    AddressFields f;
    f.more = kKept;
    EXPECT_EQ(ParseAddressString(c.text, f), c.ok) << '"' << c.text << '"';
    EXPECT_EQ(f.unit, c.unit) << '"' << c.text << '"';
    EXPECT_EQ(f.reference, c.reference) << '"' << c.text << '"';
    EXPECT_EQ(f.more, c.more) << '"' << c.text << '"';
  }
}

std::optional<std::pair<std::int16_t, std::int32_t>> Resolve(const std::string& address, TagDatabase& db) {
  auto f = ResolveAddress(address, kUnitAddress, db);
  if (!f) return std::nullopt;
  return std::make_pair(f->unit, f->reference);
}

TEST(ResolveAddress, NumbersAddressStringsAndTags) {
  TagDatabase db;
  using R = std::optional<std::pair<std::int16_t, std::int32_t>>;
  EXPECT_EQ(Resolve("40001", db), R({kUnitAddress, 40001}));
  EXPECT_EQ(Resolve(" 40001 ", db), R({kUnitAddress, 40001}));
  EXPECT_EQ(Resolve("3;40001", db), R({3, 40001}));
  EXPECT_EQ(Resolve("0;40001", db), R({0, 40001}));  // unit 0 is a unit, not the default
  EXPECT_EQ(Resolve("70000;1", db), std::nullopt);
  EXPECT_EQ(Resolve("Pump", db), std::nullopt);  // empty tables: no tag resolves
  EXPECT_EQ(Resolve("", db), std::nullopt);

  ASSERT_TRUE(db.AddTag(5, Variant("Pump"), Variant("2;40010")));
  ASSERT_TRUE(db.AddTag(6, Variant("Valve"), Variant(40020)));
  ASSERT_TRUE(db.AddTag(7, Variant("Broken"), Variant("2;")));
  ASSERT_TRUE(db.AddTag(8, Variant("Blank"), Variant()));
  ASSERT_TRUE(db.AddTag(9, Variant("99999999999"), Variant("1;1")));
  ASSERT_TRUE(db.TagIndexByName().Add("Far", 2500));

  EXPECT_EQ(Resolve("Pump", db), R({2, 40010}));
  EXPECT_EQ(Resolve("PUMP", db), R({2, 40010}));  // keys compare without regard to case
  EXPECT_EQ(Resolve("Valve", db), R({kUnitAddress, 40020}));
  EXPECT_EQ(Resolve("Broken", db), std::nullopt);
  EXPECT_EQ(Resolve("Blank", db), std::nullopt);
  EXPECT_EQ(Resolve("Far", db), std::nullopt);  // index beyond the table
  EXPECT_EQ(Resolve("99999999999", db), std::nullopt);  // a number too big, never a tag name
  EXPECT_EQ(Resolve("Pump;1", db), std::nullopt);
}

TEST(ResolveAddress, TagsNamedLikeSpecialRealsAreTags) {
  TagDatabase db;
  using R = std::optional<std::pair<std::int16_t, std::int32_t>>;
  ASSERT_TRUE(db.AddTag(1, Variant("Inf"), Variant("4;40001")));
  ASSERT_TRUE(db.AddTag(2, Variant("NaN"), Variant("5;40002")));
  ASSERT_TRUE(db.AddTag(3, Variant("Infinity"), Variant("6;40003")));
  EXPECT_EQ(Resolve("Inf", db), R({4, 40001}));
  EXPECT_EQ(Resolve("NaN", db), R({5, 40002}));
  EXPECT_EQ(Resolve("Infinity", db), R({6, 40003}));
}

TEST(TagLookups, EmptyTablesGiveRecordZeroWhichIsEmpty) {
  TagDatabase db;
  for (const Variant& arg : {Variant("Pump"), Variant(1), Variant(0), Variant(), Variant(true),
                             Variant(VariantArray(0, 2)), Variant(1e300)}) {
    EXPECT_TRUE(TagAddressFromName(arg, db).IsEmpty());
    EXPECT_TRUE(TagNameFromAddress(arg, db).IsEmpty());
  }
}

TEST(TagLookups, KeysPositionsAndTheFailedLookup) {
  TagDatabase db;
  ASSERT_TRUE(db.AddTag(12, Variant("Pump"), Variant("2;40010")));
  ASSERT_TRUE(db.AddTag(3, Variant("Valve"), Variant(40020)));
  ASSERT_TRUE(db.TagIndexByName().Add("Far", 2001));

  EXPECT_EQ(TagAddressFromName(Variant("Pump"), db), Variant("2;40010"));
  EXPECT_EQ(TagAddressFromName(Variant("valve"), db), Variant(40020));
  EXPECT_EQ(TagAddressFromName(Variant(1), db), Variant("2;40010"));  // position in the index
  EXPECT_EQ(TagAddressFromName(Variant(std::int16_t{2}), db), Variant(40020));
  EXPECT_EQ(TagAddressFromName(Variant(2.4), db), Variant(40020));
  EXPECT_TRUE(TagAddressFromName(Variant("Far"), db).IsEmpty());  // above 2000
  EXPECT_TRUE(TagAddressFromName(Variant(3), db).IsEmpty());      // position of "Far"
  EXPECT_TRUE(TagAddressFromName(Variant("Nothing"), db).IsEmpty());
  EXPECT_TRUE(TagAddressFromName(Variant(4), db).IsEmpty());

  EXPECT_EQ(TagNameFromAddress(Variant("2;40010"), db), Variant("Pump"));
  EXPECT_EQ(TagNameFromAddress(Variant("40020"), db), Variant("Valve"));
  EXPECT_EQ(TagNameFromAddress(Variant(2), db), Variant("Valve"));
  EXPECT_TRUE(TagNameFromAddress(Variant("3;40010"), db).IsEmpty());
}

TEST(TagLookups, AddTagRefusesWhatWouldBreakTheLookups) {
  TagDatabase db;
  EXPECT_FALSE(db.AddTag(0, Variant("Zero"), Variant("1;1")));  // record 0 answers failed lookups
  EXPECT_FALSE(db.AddTag(2001, Variant("High"), Variant("1;1")));
  EXPECT_FALSE(db.AddTag(-1, Variant("Low"), Variant("1;1")));
  EXPECT_FALSE(db.AddTag(1, Variant(""), Variant("1;1")));
  EXPECT_FALSE(db.AddTag(1, Variant(VariantArray(0, 1)), Variant("1;1")));
  ASSERT_TRUE(db.AddTag(1, Variant("Pump"), Variant("1;1")));
  EXPECT_FALSE(db.AddTag(2, Variant("pump"), Variant("1;2")));  // same name
  EXPECT_FALSE(db.AddTag(2, Variant("Other"), Variant("1;1")));  // same address
  EXPECT_EQ(db.TagIndexByName().Count(), 1u);
  EXPECT_EQ(db.TagIndexByAddress().Count(), 1u);
  EXPECT_TRUE(db.Record(2)->name.IsEmpty());
  EXPECT_TRUE(TagAddressFromName(Variant("Nothing"), db).IsEmpty());
}

TEST(TagLookups, EachThreadHasItsOwnDatabase) {
  Tags().Clear();
  ASSERT_TRUE(Tags().AddTag(4, Variant("Pump"), Variant("1;100")));
  EXPECT_EQ(TagAddressFromName(Variant("Pump")), Variant("1;100"));
  Variant seen = Variant("not run");
  std::thread other([&] { seen = TagAddressFromName(Variant("Pump")); });
  other.join();
  EXPECT_TRUE(seen.IsEmpty());
  Tags().Clear();
  EXPECT_TRUE(TagAddressFromName(Variant("Pump")).IsEmpty());
}

}  // namespace
}  // namespace plc
