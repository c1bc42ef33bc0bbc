// Tag values from scan reads: each iotype, scale and offset, the deadband, bad quality and the
// group's failure logged once per change, and the way back for writes.
#include "logger/TagValues.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace plc::logger {
namespace {

TagRow Tag(const std::string& name, TagIoType type, std::int32_t element, std::int32_t bit = -1) {
  TagRow t;
  t.name = name;
  t.control = "Press";
  t.address = "40001";
  t.ioType = type;
  t.scan = 1;
  t.element = element;
  t.bit = bit;
  return t;
}

std::vector<Variant> Words(std::initializer_list<std::int32_t> words) {
  std::vector<Variant> v;
  for (std::int32_t w : words) v.emplace_back(w);
  return v;
}

TEST(RawValue, EachIoType) {
  // 0x4148 0x0000 is 12.5f; 0x0012 0x3456 as a long is 0x00123456.
  const auto values = Words({0xFFFE, 0x4148, 0x0000, 0x1234, 0x0012, 0x3456, 12, 3456});
  struct Case {
    TagIoType type;
    std::int32_t element;
    std::int32_t bit;
    double want;
  };
  for (const Case& c : {Case{TagIoType::Word, 1, -1, 65534}, Case{TagIoType::Int, 1, -1, -2},
                        Case{TagIoType::Bcd, 4, -1, 1234}, Case{TagIoType::Bit, 1, 0, 0},
                        Case{TagIoType::Bit, 1, 15, 1}, Case{TagIoType::Long, 5, -1, 0x00123456},
                        Case{TagIoType::LongLowFirst, 5, -1, 0x34560012}, Case{TagIoType::Float, 2, -1, 12.5},
                        Case{TagIoType::Fixed, 7, -1, 12.3456}}) {
    std::string why;
    const auto got = RawValue(Tag("T", c.type, c.element, c.bit), values, why);
    ASSERT_TRUE(got.has_value()) << TagIoTypeName(c.type) << ": " << why;
    EXPECT_NEAR(*got, c.want, 1e-9) << TagIoTypeName(c.type);
  }
  std::string why;
  EXPECT_EQ(RawValue(Tag("T", TagIoType::FloatLowFirst, 1), Words({0x0000, 0x4148}), why), 12.5);
  EXPECT_FALSE(RawValue(Tag("T", TagIoType::Bcd, 1), values, why));
  EXPECT_EQ(why, "0xFFFE is not a BCD number");
  EXPECT_FALSE(RawValue(Tag("T", TagIoType::Long, 8), values, why));
  EXPECT_EQ(why, "the read returned 8 values; T needs value 9");
  EXPECT_FALSE(RawValue(Tag("T", TagIoType::Float, 1), Words({0x7FC0, 0}), why));  // NaN
  EXPECT_EQ(why, "the words of T are no finite float");
  // A DF1 element arrives as the number it is (a float file's single, a signed integer).
  EXPECT_EQ(RawValue(Tag("T", TagIoType::Word, 1), {Variant(12.75f)}, why), 12.75);
  EXPECT_EQ(RawValue(Tag("T", TagIoType::Int, 1), {Variant(std::int32_t{-7})}, why), -7);
}

// The types made of register words take each value as a word's 16 bits: a value no word holds
// (a float file's 12.5, a long file's 70000 given to an int tag) is no reading of that tag, not
// a rounded or cut one.
TEST(RawValue, AValueNoWordHoldsIsRefusedByTheTypesOfWords) {
  std::string why;
  EXPECT_FALSE(RawValue(Tag("T", TagIoType::Int, 1), {Variant(12.5f)}, why));
  EXPECT_EQ(why, "the read returned 12.5 for T, which is no 16-bit word (iotype int takes words)");
  EXPECT_FALSE(RawValue(Tag("T", TagIoType::Int, 1), {Variant(std::int32_t{70000})}, why));
  EXPECT_EQ(why, "the read returned 70000 for T, which is no 16-bit word (iotype int takes words)");
  EXPECT_FALSE(RawValue(Tag("T", TagIoType::Bit, 1, 0), {Variant(2.5)}, why));
  EXPECT_FALSE(RawValue(Tag("T", TagIoType::Long, 1), {Variant(std::int32_t{1}), Variant(std::int32_t{65536})}, why));
  EXPECT_EQ(why, "the read returned 65536 for T, which is no 16-bit word (iotype long takes words)");
  EXPECT_FALSE(RawValue(Tag("T", TagIoType::Fixed, 1), {Variant(12.0), Variant(0.5)}, why));
  // A word read as signed (a DF1 integer) is still its 16 bits; a word type takes any number.
  EXPECT_EQ(RawValue(Tag("T", TagIoType::Int, 1), {Variant(std::int32_t{-32768})}, why), -32768);
  EXPECT_EQ(RawValue(Tag("T", TagIoType::Bit, 1, 15), {Variant(std::int32_t{-1})}, why), 1);
  EXPECT_EQ(RawValue(Tag("T", TagIoType::Word, 1), {Variant(std::int32_t{70000})}, why), 70000);
}

TEST(TagValues, ScaledSamplesKeptByTheDeadband) {
  TagRow temp = Tag("Temp", TagIoType::Int, 1);
  temp.scale = 0.1;
  temp.offset = -5;
  temp.deadband = 0.5;
  TagRow count = Tag("Count", TagIoType::Word, 2);  // no deadband: every read
  TagValues values({temp, count});
  Batch b;
  for (std::int32_t raw : {250, 253, 256, 100}) values.Take({"press", 1, Words({raw, 7}), {}, raw}, b);
  std::vector<double> temps;
  for (const Sample& s : b.samples)
    if (s.tag == 0) temps.push_back(*s.value);
  EXPECT_EQ(temps, (std::vector<double>{20, 20.6, 5}));  // 20.3 is within 0.5 of 20
  EXPECT_EQ(std::count_if(b.samples.begin(), b.samples.end(), [](const Sample& s) { return s.tag == 1; }), 4);
  EXPECT_EQ(b.samples[1].timeUs, 250);
  EXPECT_TRUE(b.failures.empty());
  // Another control's group of the same index is not these tags'.
  Batch other;
  values.Take({"Oven", 1, Words({1, 2}), {}, 0}, other);
  EXPECT_TRUE(other.samples.empty());
}

TEST(TagValues, AFailingGroupIsLoggedOnceAndItsTagsGoBadOnce) {
  TagRow a = Tag("A", TagIoType::Word, 1), b2 = Tag("B", TagIoType::Bcd, 2);
  b2.deadband = 1000;
  TagValues values({a, b2});
  Batch first;
  values.Take({"Press", 1, Words({5, 0x0042}), {}, 1}, first);
  ASSERT_EQ(first.samples.size(), 2u);
  Batch out;
  for (int i = 0; i < 3; ++i) values.Take({"Press", 1, {}, "no reply within 2 s", 10 + i}, out);
  ASSERT_EQ(out.failures.size(), 1u) << "a silent line is logged once, not once per read";
  EXPECT_EQ(out.failures[0].kind, FailureKind::Failed);
  EXPECT_EQ(out.failures[0].scanGroup, 1);
  EXPECT_EQ(out.failures[0].text, "no reply within 2 s");
  ASSERT_EQ(out.samples.size(), 2u) << "each tag goes bad once";
  EXPECT_EQ(out.samples[0].quality, Quality::Bad);
  EXPECT_FALSE(out.samples[0].value);
  EXPECT_EQ(out.samples[0].error, "no reply within 2 s");

  Batch back;
  values.Take({"Press", 1, Words({5, 0x0042}), {}, 20}, back);
  ASSERT_EQ(back.failures.size(), 1u);
  EXPECT_EQ(back.failures[0].kind, FailureKind::Recovered);
  EXPECT_EQ(back.failures[0].text, "read again after 3 failed reads");
  ASSERT_EQ(back.samples.size(), 2u) << "good again, whatever the deadband";
  EXPECT_EQ(back.samples[1].value, 42);

  // A value that cannot be made: that tag alone goes bad, once, with its own record.
  Batch odd;
  values.Take({"Press", 1, Words({6, 0x00AB}), {}, 30}, odd);
  values.Take({"Press", 1, Words({7, 0x00AB}), {}, 31}, odd);
  ASSERT_EQ(odd.failures.size(), 1u);
  EXPECT_EQ(odd.failures[0].tag, 1);
  EXPECT_EQ(odd.failures[0].text, "0x00AB is not a BCD number");
  EXPECT_EQ(std::count_if(odd.samples.begin(), odd.samples.end(), [](const Sample& s) { return s.tag == 0; }), 2);
  EXPECT_EQ(std::count_if(odd.samples.begin(), odd.samples.end(), [](const Sample& s) { return s.tag == 1; }), 1);
}

// A line with three groups that goes silent: one record when it starts, one when every group
// reads again. One group that keeps failing alone does not hide the line going silent later.
TEST(TagValues, ALineIsLoggedOnceWhateverItsGroups) {
  TagRow a = Tag("A", TagIoType::Word, 1), b = Tag("B", TagIoType::Word, 1), c = Tag("C", TagIoType::Word, 1);
  b.scan = 2;
  c.scan = 3;
  TagValues values({a, b, c});
  Batch out;
  for (std::int32_t g = 1; g <= 3; ++g) values.Take({"Press", g, Words({1}), {}, g}, out);
  ASSERT_TRUE(out.failures.empty());
  for (int round = 0; round < 3; ++round)
    for (std::int32_t g = 1; g <= 3; ++g) values.Take({"Press", g, {}, "no reply within 2 s", 10 + g}, out);
  ASSERT_EQ(out.failures.size(), 1u) << "one record for the line";
  EXPECT_EQ(out.failures[0].scanGroup, 1);
  EXPECT_EQ(out.samples.size(), 6u) << "each tag still goes bad once";
  values.Take({"Press", 1, Words({1}), {}, 20}, out);
  values.Take({"Press", 2, Words({1}), {}, 21}, out);
  ASSERT_EQ(out.failures.size(), 1u) << "back only once every group is";
  values.Take({"Press", 3, Words({1}), {}, 22}, out);
  ASSERT_EQ(out.failures.size(), 2u);
  EXPECT_EQ(out.failures[1].kind, FailureKind::Recovered);
  EXPECT_EQ(out.failures[1].text, "read again after 9 failed reads");

  Batch later;
  values.Take({"Press", 2, {}, "address not in the PLC", 30}, later);
  values.Take({"Press", 1, Words({1}), {}, 31}, later);
  values.Take({"Press", 3, Words({1}), {}, 32}, later);
  values.Take({"Press", 2, {}, "address not in the PLC", 33}, later);
  ASSERT_EQ(later.failures.size(), 1u);
  EXPECT_EQ(later.failures[0].text, "address not in the PLC");
  values.Take({"Press", 1, {}, "no reply within 2 s", 34}, later);
  values.Take({"Press", 3, {}, "no reply within 2 s", 35}, later);
  values.Take({"Press", 2, {}, "no reply within 2 s", 36}, later);
  ASSERT_EQ(later.failures.size(), 2u) << "the line going silent is said once more";
  EXPECT_EQ(later.failures[1].kind, FailureKind::Failed);
  EXPECT_EQ(later.failures[1].text, "every group fails now: no reply within 2 s");
  EXPECT_EQ(later.failures[1].scanGroup, 3);
  // Another control's line is a line of its own.
  values.Take({"Oven", 1, {}, "no reply within 2 s", 40}, later);
  EXPECT_EQ(later.failures.size(), 3u);
}

// A float file's element arrives as the single it is, which may be an infinity or a NaN: that is
// no value to log as good (SQLite would store NULL, MQTT print null, and a deadband compared
// with a NaN would never keep a sample again).
TEST(TagValues, AValueThatIsNoNumberIsBadNotGood) {
  TagRow weight = Tag("Weight", TagIoType::Word, 1);
  weight.deadband = 0.01;
  TagValues values({weight});
  Batch out;
  const float nan = std::nanf("");
  values.Take({"Press", 1, {Variant(1.5f)}, {}, 1}, out);
  values.Take({"Press", 1, {Variant(nan)}, {}, 2}, out);
  values.Take({"Press", 1, {Variant(std::numeric_limits<float>::infinity())}, {}, 3}, out);
  values.Take({"Press", 1, {Variant(2.5f)}, {}, 4}, out);
  std::vector<const Sample*> weights;
  for (const Sample& s : out.samples)
    if (s.tag == 0) weights.push_back(&s);
  ASSERT_EQ(weights.size(), 3u);
  EXPECT_EQ(weights[0]->value, 1.5);
  EXPECT_EQ(weights[1]->quality, Quality::Bad);
  EXPECT_FALSE(weights[1]->value);
  EXPECT_EQ(weights[1]->error, "the read returned a value that is no number for Weight");
  EXPECT_EQ(weights[1]->timeUs, 2);
  EXPECT_EQ(weights[2]->quality, Quality::Good) << "good again after the bad stretch, whatever the deadband";
  EXPECT_EQ(weights[2]->value, 2.5);
  for (const Sample& s : out.samples) {
    if (s.quality == Quality::Good) {
      EXPECT_TRUE(std::isfinite(*s.value)) << s.tag;
    }
  }
}

TEST(TagValues, WritesAreOneRegisterOfAWritableTag) {
  TagRow sp = Tag("Setpoint", TagIoType::Int, 1);
  sp.scale = 0.1;
  sp.writable = true;
  TagRow speed = Tag("Speed", TagIoType::Bcd, 2);
  speed.writable = true;
  TagRow word = Tag("Word", TagIoType::Word, 3);
  word.writable = true;
  TagRow ro = Tag("Pressure", TagIoType::Word, 4);
  TagValues values({sp, speed, word, ro});
  std::string why;
  EXPECT_EQ(values.RawForWrite(0, 23.5, why), 235);
  EXPECT_EQ(values.RawForWrite(0, -1.5, why), 0xFFF1);  // -15 as its 16 bits
  EXPECT_EQ(values.RawForWrite(1, 1234, why), 0x1234);
  EXPECT_EQ(values.RawForWrite(2, 65535, why), 65535);
  EXPECT_FALSE(values.RawForWrite(0, 4000, why));
  EXPECT_NE(why.find("outside -32768..32767"), std::string::npos) << why;
  EXPECT_FALSE(values.RawForWrite(1, 10000, why));
  EXPECT_FALSE(values.RawForWrite(2, -1, why));
  EXPECT_FALSE(values.RawForWrite(3, 1, why));
  EXPECT_EQ(why, "Pressure is not writable");
  EXPECT_EQ(values.Find("setpoint"), 0);
  EXPECT_FALSE(values.Find("Nothing"));
}

// A value between two steps of the register is refused, not rounded to the step next to it:
// 23.55 on a tag in tenths, or 2.5 on a whole word, would be written as another value.
TEST(TagValues, AWriteBetweenTheRegistersStepsIsRefused) {
  TagRow sp = Tag("Setpoint", TagIoType::Int, 1);
  sp.scale = 0.1;
  sp.writable = true;
  TagRow word = Tag("Word", TagIoType::Word, 2);
  word.writable = true;
  TagRow speed = Tag("Speed", TagIoType::Bcd, 3);
  speed.writable = true;
  TagValues values({sp, word, speed});
  std::string why;
  EXPECT_FALSE(values.RawForWrite(0, 23.55, why));
  EXPECT_NE(why.find("23.55"), std::string::npos) << why;
  EXPECT_NE(why.find("Setpoint"), std::string::npos) << why;
  EXPECT_FALSE(values.RawForWrite(1, 2.5, why));
  EXPECT_FALSE(values.RawForWrite(1, 7.0001, why));
  EXPECT_FALSE(values.RawForWrite(2, 12.5, why));
  // Values that are a step exactly, as far as a double tells, are written as that step.
  EXPECT_EQ(values.RawForWrite(0, 23.4, why), 234) << why;
  EXPECT_EQ(values.RawForWrite(0, 0.3, why), 3) << why;
  EXPECT_EQ(values.RawForWrite(0, -0.7, why), 0xFFF9) << why;
  EXPECT_EQ(values.RawForWrite(1, 7, why), 7) << why;
}

}  // namespace
}  // namespace plc::logger
