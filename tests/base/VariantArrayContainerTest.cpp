// VariantArray as a C++ programmer uses a container: a[i] by the array's own index with the
// bounds checked, iteration from the lower bound, size and emptiness.
#include <gtest/gtest.h>

#include <limits>
#include <numeric>
#include <vector>

#include "base/RuntimeError.h"
#include "base/Variant.h"

namespace plc {
namespace {

TEST(VariantArrayContainer, IndexesByItsOwnBoundsAndIteratesFromTheLowerOne) {
  VariantArray a(-2, 1, VarType::Int32);
  for (std::int32_t i = -2; i <= 1; ++i) a.Set(i, Variant(std::int32_t{10 * i}));
  EXPECT_EQ(a[-2].ToInt32(), -20);
  EXPECT_EQ(a[1].ToInt32(), 10);
  for (std::int32_t outside : {-3, 2, std::numeric_limits<std::int32_t>::min()}) {
    try {
      (void)a[outside];
      ADD_FAILURE() << outside << " is outside -2..1";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.Number(), err::Subscript) << outside;
    }
  }
  std::vector<std::int32_t> seen;
  for (const Variant& v : a) seen.push_back(v.ToInt32());
  EXPECT_EQ(seen, (std::vector<std::int32_t>{-20, -10, 0, 10}));
  EXPECT_EQ(a.size(), 4u);
  EXPECT_FALSE(a.empty());
  EXPECT_EQ(std::accumulate(a.begin(), a.end(), 0, [](int s, const Variant& v) { return s + v.ToInt32(); }), -20);

  VariantArray none;
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(none.begin(), none.end());
}

}  // namespace
}  // namespace plc
