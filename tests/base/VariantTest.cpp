#include "base/Variant.h"

#include <gtest/gtest.h>

#include "base/RuntimeError.h"
#include "tests/support/ErrorOf.h"

namespace plc {
namespace {

using test::ErrorOf;

TEST(Variant, NarrowingRoundsHalfToEvenAndChecksRange) {
  struct Row {
    double in;
    int expected;
  } rows[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {32767.4, 32767}, {-32768.0, -32768}, {0.49999, 0}};
  for (const Row& r : rows) EXPECT_EQ(Variant(r.in).ToInt16(), r.expected) << r.in;
  EXPECT_EQ(ErrorOf([] { Variant(32767.5).ToInt16(); }), err::Overflow);
  EXPECT_EQ(ErrorOf([] { Variant(std::int32_t{40000}).ToInt16(); }), err::Overflow);
  EXPECT_EQ(ErrorOf([] { Variant(256.0).ToByte(); }), err::Overflow);
  EXPECT_EQ(ErrorOf([] { Variant(1e300).ToSingle(); }), err::Overflow);
}

TEST(Variant, TextConvertsWhenNumericElseTypeMismatch) {
  EXPECT_EQ(Variant(" 40001 ").ToInt32(), 40001);
  EXPECT_DOUBLE_EQ(Variant("-1.5e2").ToDouble(), -150.0);
  EXPECT_EQ(Variant("&HFFFF").ToInt32(), -1);
  EXPECT_EQ(Variant("&H10000").ToInt32(), 65536);
  EXPECT_EQ(ErrorOf([] { Variant("12abc").ToInt16(); }), err::TypeMismatch);
  EXPECT_EQ(ErrorOf([] { Variant("").ToDouble(); }), err::TypeMismatch);
  EXPECT_EQ(ErrorOf([] { Variant(VariantArray(0, 1)).ToDouble(); }), err::TypeMismatch);
  EXPECT_EQ(Variant().ToInt16(), 0);
  EXPECT_EQ(Variant().ToString(), "");
}

TEST(Variant, WordsThatNameNoNumberAreNoNumbers) {
  // A tag may be called Inf or NaN; as text it is no number, whatever a library parser takes.
  for (const char* text : {"inf", "Inf", "-inf", "NaN", "nan", "Infinity", "+-5", "-+5"}) {
    EXPECT_EQ(ErrorOf([&] { Variant(text).ToDouble(); }), err::TypeMismatch) << text;
  }
  EXPECT_DOUBLE_EQ(Variant("+.5").ToDouble(), 0.5);
  EXPECT_DOUBLE_EQ(Variant(" -.5 ").ToDouble(), -0.5);
}

TEST(Variant, BooleansAreMinusOneAndZeroAsNumbers) {
  EXPECT_EQ(Variant(true).ToInt16(), -1);
  EXPECT_EQ(Variant(false).ToInt32(), 0);
  EXPECT_TRUE(Variant("True").ToBool());
  EXPECT_FALSE(Variant(" false ").ToBool());
  EXPECT_TRUE(Variant(std::int16_t{5}).ToBool());
  EXPECT_EQ(Variant(true).ToString(), "True");
}

TEST(Variant, ArraysKeepHostBoundsAndValueSemantics) {
  VariantArray doubles(5, 7, VarType::Double);
  EXPECT_EQ(doubles.Lower(), 5);
  EXPECT_EQ(doubles.Upper(), 7);
  doubles.Set(6, Variant("2.5"));
  EXPECT_EQ(doubles.Get(6).Type(), VarType::Double);
  EXPECT_EQ(ErrorOf([&] { doubles.Set(4, Variant(1.0)); }), err::Subscript);
  EXPECT_EQ(ErrorOf([&] { doubles.Get(8); }), err::Subscript);
  EXPECT_EQ(ErrorOf([&] { doubles.Set(5, Variant("x")); }), err::TypeMismatch);

  Variant a(doubles);
  Variant b = a;
  b.Array().Set(5, Variant(9.0));
  EXPECT_DOUBLE_EQ(a.Array().Get(5).ToDouble(), 0.0);
  EXPECT_DOUBLE_EQ(b.Array().Get(5).ToDouble(), 9.0);

  VariantArray negative(-3, 0);
  EXPECT_EQ(negative.Size(), 4u);
  EXPECT_TRUE(negative.Get(-3).IsEmpty());
  VariantArray none;
  EXPECT_EQ(ErrorOf([&] { none.Get(0); }), err::Subscript);
}

TEST(Variant, SinglesPrintShortestForm) {
  EXPECT_EQ(Variant(0.1f).ToString(), "0.1");
  EXPECT_EQ(Variant(2.0).ToString(), "2");
  EXPECT_EQ(Variant(std::int32_t{-7}).ToString(), "-7");
}

TEST(Variant, AssignmentAcrossKindsKeepsOnlyTheNewValueAndAMovedFromOneIsEmpty) {
  Variant v("text");
  v = Variant(std::int16_t{5});
  EXPECT_EQ(v.Type(), VarType::Int16);
  EXPECT_EQ(v.ToString(), "5");
  Variant font(Font{"Arial", 10, true, false});
  v = font;
  EXPECT_EQ(v.ToFont().name, "Arial");
  v = Variant(2.5);
  EXPECT_THROW(v.ToFont(), RuntimeError);

  Variant text("abc");
  Variant taken(std::move(text));
  EXPECT_EQ(taken.ToString(), "abc");
  EXPECT_TRUE(text.IsEmpty());  // NOLINT(bugprone-use-after-move): the state after a move is the point
  EXPECT_EQ(text.ToString(), "");
  VariantArray a(1, 2);
  a.Set(1, Variant("x"));
  Variant arr(a);
  Variant other;
  other = std::move(arr);
  EXPECT_EQ(other.Array().Get(1).ToString(), "x");
  EXPECT_TRUE(arr.IsEmpty());  // NOLINT(bugprone-use-after-move)
}

}  // namespace
}  // namespace plc
