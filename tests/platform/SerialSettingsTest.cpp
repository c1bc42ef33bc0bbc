#include "platform/SerialSettings.h"

#include <gtest/gtest.h>

namespace plc {
namespace {

TEST(SerialSettings, ParsesWellFormedTexts) {
  struct Row {
    const char* text;
    int baud;
    char parity;
    int data;
    int stop;
    int bits;
  } rows[] = {
      {"9600,e,8,1", 9600, 'e', 8, 1, 11},
      {"19200,N,8,1", 19200, 'n', 8, 1, 10},
      {" 1200 , o , 7 , 2 ", 1200, 'o', 7, 2, 11},
      {"300,m,5,1", 300, 'm', 5, 1, 8},
      {"115200,s,6,2", 115200, 's', 6, 2, 10},
  };
  for (const Row& r : rows) {
    auto s = ParseSerialSettings(r.text);
    ASSERT_TRUE(s) << r.text;
    EXPECT_EQ(s->baud, r.baud);
    EXPECT_EQ(s->parity, r.parity);
    EXPECT_EQ(s->dataBits, r.data);
    EXPECT_EQ(s->stopBits, r.stop);
    EXPECT_EQ(s->BitsPerCharacter(), r.bits);
  }
  EXPECT_EQ(ParseSerialSettings("9600,E,8,1")->ToString(), "9600,e,8,1");
}

TEST(SerialSettings, RefusesMalformedTexts) {
  for (const char* bad : {"", "9600", "9600,e,8", "9600,e,8,1,1", "abc,e,8,1", "-9600,e,8,1", "0,n,8,1",
                          "9600,x,8,1", "9600,ee,8,1", "9600,e,9,1", "9600,e,4,1", "9600,e,8,3", "9600,e,8,1.5",
                          "9600,,8,1", "9600,e,8,"}) {
    EXPECT_FALSE(ParseSerialSettings(bad)) << bad;
  }
}

}  // namespace
}  // namespace plc
