// What a PREFIX/TAG/set message names and carries.
#include "logger/SetMessages.h"

#include <gtest/gtest.h>

#include <string>

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

// The JSON reader stops at a NUL byte as at the text's end: "42", a NUL and anything at all was
// written to the PLC as 42. A payload is bytes, its length the broker's, and JSON holds no NUL.
TEST(SetMessages, APayloadWithANulByteIsNoNumber) {
  for (const std::string& bad : {std::string("42\0junk", 7), std::string("42\0", 3), std::string("{\"value\": 5}\0\xff", 14),
                                std::string("1\0" "000", 5)})
    EXPECT_FALSE(SetPayloadValue(bad)) << PrintableText(bad, 40);
}

// Text from the network on its way to a log line and a terminal: bounded, and no byte that a
// terminal would act on.
TEST(SetMessages, NetworkTextIsShownBoundedWithControlBytesVisible) {
  EXPECT_EQ(PrintableText("42", 40), "42");
  EXPECT_EQ(PrintableText("\x1b]0;owned\x07\r\n", 40), "\\x1B]0;owned\\x07\\x0D\\x0A");
  EXPECT_EQ(PrintableText("a\x7f\xc2\x9b" "b", 40), "a\\x7F\\xC2\\x9Bb") << "DEL and a C1 control in UTF-8";
  EXPECT_EQ(PrintableText("\xff\xc3", 40), "\\xFF\\xC3") << "bytes that are no character";
  EXPECT_EQ(PrintableText("22 °C", 40), "22 °C") << "UTF-8 kept";
  EXPECT_EQ(PrintableText(std::string(1000, 'x'), 40), std::string(40, 'x') + "...");
  EXPECT_EQ(PrintableText("abc°", 4), "abc...") << "never cut inside a character";
}

}  // namespace
}  // namespace plc::logger
