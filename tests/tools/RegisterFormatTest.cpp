// Register words as --format prints them: a pair as the IEEE-754 single its 32 bits are, the
// smallest magnitudes and a negative zero included, in either word order.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tools/plclink/RegisterFormat.h"

namespace plc::plclink {
namespace {

std::vector<Variant> Words(std::initializer_list<std::int32_t> words) {
  std::vector<Variant> v;
  for (std::int32_t w : words) v.emplace_back(w);
  return v;
}

TEST(RegisterFormat, FloatPairsAreTheSinglesTheirBitsAre) {
  const auto values = FormatWords(Words({0x4148, 0x0000, 0x8000, 0x0000, 0x0000, 0x0001, 0x0040, 0x0000, 0x807F,
                                         0xFFFF, 0x7F80, 0x0000}),
                                  RegisterFormat::Float, WordOrder::HighFirst);
  ASSERT_EQ(values.size(), 6u);
  EXPECT_EQ(values[0].ToDouble(), 12.5);
  // -0.0: what a PLC's arithmetic leaves often enough; not -5.9e-39.
  EXPECT_EQ(values[1].ToDouble(), 0.0);
  EXPECT_TRUE(std::signbit(values[1].ToDouble()));
  EXPECT_EQ(values[2].ToDouble(), std::numeric_limits<float>::denorm_min());
  EXPECT_EQ(values[3].ToDouble(), std::ldexp(1.0, -127));
  EXPECT_EQ(values[4].ToDouble(), -static_cast<double>(std::nextafter(std::numeric_limits<float>::min(), 0.0f)));
  EXPECT_TRUE(values[5].IsEmpty()) << "an infinity has no number to print";
  const auto low = FormatWords(Words({0x0000, 0x8000}), RegisterFormat::Float, WordOrder::LowFirst);
  ASSERT_EQ(low.size(), 1u);
  EXPECT_TRUE(std::signbit(low[0].ToDouble()));
  EXPECT_EQ(low[0].ToString(), "-0");
}

}  // namespace
}  // namespace plc::plclink
