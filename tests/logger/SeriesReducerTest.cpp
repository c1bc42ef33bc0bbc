// A long series brought down to a few samples per picture column: the extremes, every bad
// stretch, the first and last sample kept; nothing reduced without columns.
#include "logger/SeriesReducer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace plc::logger {
namespace {

TEST(SeriesReducer, AMillionSamplesKeepTheirExtremesAndBadStretchesInAFewPerColumn) {
  constexpr std::int64_t kSamples = 1'000'000;
  SeriesReducer reducer(0, kSamples - 1, 100);
  for (std::int64_t t = 0; t < kSamples; ++t) {
    HistoryPoint p{t, static_cast<double>(t % 1000), {}};
    if (t == 123'457) p.value = 5000.0;  // one spike
    if (t == 777'777) p.value = -5.0;    // one dip
    if (t >= 500'010 && t < 500'020) p = HistoryPoint{t, std::nullopt, "no reply within 2 s"};
    reducer.Add(std::move(p));
  }
  const std::vector<HistoryPoint> kept = reducer.Take();
  EXPECT_LE(kept.size(), 5u * 101u);
  EXPECT_TRUE(std::is_sorted(kept.begin(), kept.end(),
                             [](const HistoryPoint& a, const HistoryPoint& b) { return a.timeUs < b.timeUs; }));
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept.front().timeUs, 0);
  EXPECT_EQ(kept.back().timeUs, kSamples - 1);
  auto has = [&](std::int64_t t) {
    return std::any_of(kept.begin(), kept.end(), [&](const HistoryPoint& p) { return p.timeUs == t; });
  };
  EXPECT_TRUE(has(123'457)) << "the spike";
  EXPECT_TRUE(has(777'777)) << "the dip";
  EXPECT_TRUE(has(500'010)) << "the start of the bad stretch";
  const auto bad = std::find_if(kept.begin(), kept.end(), [](const HistoryPoint& p) { return !p.value; });
  ASSERT_NE(bad, kept.end());
  EXPECT_EQ(bad->error, "no reply within 2 s");
  // After the bad stretch the line goes on: a good sample follows within its column.
  EXPECT_TRUE(std::next(bad) != kept.end() && std::next(bad)->value);
}

TEST(SeriesReducer, WithoutColumnsEverySampleIsKept) {
  SeriesReducer reducer(0, 10, 0);
  for (std::int64_t t = 0; t < 50; ++t) reducer.Add(HistoryPoint{t, 1.0, {}});
  EXPECT_EQ(reducer.Take().size(), 50u);
}

}  // namespace
}  // namespace plc::logger
