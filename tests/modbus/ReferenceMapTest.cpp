// The reference-address tables as one table of cases.
#include "modbus/ReferenceMap.h"

#include <gtest/gtest.h>

#include "base/Enums.h"

namespace plc::modbus {
namespace {

struct Case {
  std::int32_t plcType;
  std::int32_t address;
  Access access;
  int function;  // 0: refused
  std::int32_t offset;
  std::int32_t startReference;
};

class ReferenceMapTable : public ::testing::TestWithParam<Case> {};

TEST_P(ReferenceMapTable, MapsOrRefuses) {
  const Case& c = GetParam();
  auto m = MapReference(c.plcType, c.address, c.access);
  if (c.function == 0) {
    EXPECT_FALSE(m.has_value()) << c.address;
    return;
  }
  ASSERT_TRUE(m.has_value()) << c.address;
  EXPECT_EQ(m->function, c.function) << c.address;
  EXPECT_EQ(m->offset, c.offset) << c.address;
  EXPECT_EQ(m->startReference, c.startReference) << c.address;
}

constexpr auto R = Access::Read;
constexpr auto S = Access::SingleWrite;
constexpr auto M = Access::MultipleWrite;
constexpr auto Std = rtu::EnStdModbus;
constexpr auto T2 = rtu::EnType2;

INSTANTIATE_TEST_SUITE_P(
    Standard, ReferenceMapTable,
    ::testing::Values(Case{Std, 1, R, 1, 0, 1}, Case{Std, 9, S, 5, 8, 9}, Case{Std, 9, M, 15, 8, 9},
                      Case{Std, 10008, R, 2, 7, 10008}, Case{Std, 10008, S, 0, 0, 0}, Case{Std, 10008, M, 0, 0, 0},
                      Case{Std, 20001, R, 0, 0, 0}, Case{Std, 30001, R, 4, 0, 30001}, Case{Std, 30001, S, 0, 0, 0},
                      Case{Std, 40001, R, 3, 0, 40001}, Case{Std, 40010, S, 6, 9, 40010},
                      Case{Std, 40010, M, 16, 9, 40010}, Case{Std, 50001, R, 0, 0, 0}, Case{Std, 99999, M, 0, 0, 0}));

INSTANTIATE_TEST_SUITE_P(
    Type2, ReferenceMapTable,
    ::testing::Values(Case{T2, 5, R, 0, 0, 0}, Case{T2, 5, S, 5, 4, 5}, Case{T2, 5, M, 15, 4, 5},
                      Case{T2, 1005, R, 1, 1005, 1005}, Case{T2, 1005, S, 5, 1005, 1005}, Case{T2, 1005, M, 0, 0, 0},
                      Case{T2, 2000, R, 0, 0, 0}, Case{T2, 3010, R, 3, 3010, 3010}, Case{T2, 3010, S, 6, 3010, 3010},
                      Case{T2, 3010, M, 16, 3010, 3010}, Case{T2, 4001, R, 0, 0, 0}, Case{T2, 4001, S, 0, 0, 0},
                      Case{T2, 5001, R, 3, 5001, 5001}, Case{T2, 5001, S, 0, 0, 0}, Case{T2, 5001, M, 16, 5001, 5001},
                      Case{T2, 6001, M, 0, 0, 0}, Case{T2, 7001, R, 3, 7001, 7001}, Case{T2, 7001, M, 16, 7001, 7001},
                      Case{T2, 8001, R, 0, 0, 0}));

INSTANTIATE_TEST_SUITE_P(Unmapped, ReferenceMapTable,
                         ::testing::Values(Case{rtu::EnType3, 40001, R, 0, 0, 0}, Case{rtu::EnType10, 1, S, 0, 0, 0},
                                           Case{0, 40001, R, 0, 0, 0}));

TEST(ReferenceMap, Type2PairKindsReadFourBytesAndWriteWordPairs) {
  for (std::int32_t a : {5001, 7001}) {
    EXPECT_EQ(MapReference(T2, a, R)->bytesPerValue, 4);
    EXPECT_TRUE(MapReference(T2, a, M)->wordPairs);
    EXPECT_EQ(MapReference(T2, a, M)->type2Kind, a / 1000);
  }
  EXPECT_EQ(MapReference(T2, 3001, R)->bytesPerValue, 2);
  EXPECT_FALSE(MapReference(T2, 3001, M)->wordPairs);
  EXPECT_EQ(MapReference(Std, 45001, R)->referenceKind, 4);
}

}  // namespace
}  // namespace plc::modbus
