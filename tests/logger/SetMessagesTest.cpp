// What a PREFIX/TAG/set message names and carries.
#include "logger/SetMessages.h"

#include <gtest/gtest.h>

namespace plc::logger {
namespace {

TEST(SetMessages, TheTopicNamesOneTag) {
  EXPECT_EQ(TagOfSetTopic("plant", "plant/Press.Setpoint/set"), "Press.Setpoint");
  EXPECT_FALSE(TagOfSetTopic("plant", "plant/set"));
  EXPECT_FALSE(TagOfSetTopic("plant", "plant//set"));
  EXPECT_FALSE(TagOfSetTopic("plant", "plant/a/b/set"));
  EXPECT_FALSE(TagOfSetTopic("plant", "plants/a/set"));
  EXPECT_FALSE(TagOfSetTopic("plant", "plant/a/sets"));
  EXPECT_EQ(TagOfSetTopic("site/hall", "site/hall/Oven.Fan/set"), "Oven.Fan");
}

TEST(SetMessages, ThePayloadCarriesANumber) {
  EXPECT_EQ(SetPayloadValue("42"), 42);
  EXPECT_EQ(SetPayloadValue(" 23.5 "), 23.5);
  EXPECT_EQ(SetPayloadValue("{\"value\": -1.5}"), -1.5);
  EXPECT_EQ(SetPayloadValue("true"), 1);
  EXPECT_EQ(SetPayloadValue("{\"value\": false, \"unit\": \"x\"}"), 0);
  for (const char* bad : {"", "oops", "\"42\"", "{\"v\": 1}", "[1]", "null", "{\"value\": \"7\"}", "1e999"})
    EXPECT_FALSE(SetPayloadValue(bad)) << bad;
}

}  // namespace
}  // namespace plc::logger
