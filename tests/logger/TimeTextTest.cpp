// Times as logs write them and as a person gives them back.
#include "logger/TimeText.h"

#include <gtest/gtest.h>

namespace plc::logger {
namespace {

TEST(TimeText, APersonsTimeIsReadAsUtc) {
  EXPECT_EQ(ParseIsoTimeUtc("1970-01-01"), 0);
  EXPECT_EQ(ParseIsoTimeUtc("2023-11-14T22:13:20.123456Z"), 1'700'000'000'123'456);
  EXPECT_EQ(ParseIsoTimeUtc("2023-11-14 22:13:20.5"), 1'700'000'000'500'000);
  EXPECT_EQ(ParseIsoTimeUtc("2023-11-14T22:13"), 1'699'999'980'000'000);
  EXPECT_EQ(ParseIsoTimeUtc("2024-02-29"), ParseIsoTimeUtc("2024-03-01").value() - 86'400'000'000);
  for (std::int64_t t : {std::int64_t{0}, std::int64_t{951'782'400'000'001}, std::int64_t{253'402'300'799'999'999}})
    EXPECT_EQ(ParseIsoTimeUtc(IsoTimeUtc(t)), t) << IsoTimeUtc(t);
  for (const char* bad : {"", "2023", "2023-1-14", "2023-11-14T", "2023-11-14T24:00", "2023-02-29", "2023-11-31",
                          "1969-12-31", "2023-11-14T22:13:20.", "2023-11-14T22:13:20.1234567", "2023-11-14Z",
                          "2023-11-14T22:13:20ZZ", "２０２３-11-14"})
    EXPECT_FALSE(ParseIsoTimeUtc(bad)) << bad;
}

}  // namespace
}  // namespace plc::logger
