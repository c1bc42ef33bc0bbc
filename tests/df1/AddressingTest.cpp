// The Allen-Bradley address parsers over the table of forms hosts use, and where the read and
// write parsers part ways.
#include <gtest/gtest.h>

#include "df1/Addressing.h"

namespace plc::df1 {
namespace {

struct Row {
  const char* text;
  std::int16_t code;
  std::int32_t file, element, bit, wordOffset;
};

void ExpectParsed(const std::optional<ParsedAddress>& got, const Row& want) {
  ASSERT_TRUE(got.has_value()) << want.text;
  EXPECT_EQ(got->FileTypeCode, want.code) << want.text;
  EXPECT_EQ(got->FileNumber, want.file) << want.text;
  EXPECT_EQ(got->ElementNumber, want.element) << want.text;
  EXPECT_EQ(got->BitNumber, want.bit) << want.text;
  EXPECT_EQ(got->WordOffset, want.wordOffset) << want.text;
}

TEST(Df1ReadAddress, TheTableOfForms) {
  const Row rows[] = {
      {"N7:0", 7, 7, 0, 99, 0},     {"n7:0", 7, 7, 0, 99, 0},     {"N7:10/3", 7, 7, 10, 3, 0},
      {"B3/35", 3, 3, 2, 3, 0},     {"T4:2.2", 4, 4, 2, 99, 3},   {"I:1/3", 1, 1, 1, 3, 0},
      {"O:0", 0, 0, 0, 99, 0},      {"X9:1", 3, 9, 1, 99, 0},     {"F8:0", 8, 8, 0, 99, 0},
      {"S5:3", 2, 2, 3, 99, 0},     {"ST10:1", 13, 10, 1, 99, 0}, {"CCO4:1", 12, 4, 1, 99, 0},
      {"  N 7 : 1 2", 7, 7, 12, 99, 0}, {"T4:2.", 4, 4, 2, 99, 0},  {"T4:1.2/5", 4, 4, 1, 5, 3},
      {"N7:0/", 7, 7, 0, 99, 0},    {"N7:0/x", 7, 7, 0, 0, 0},
  };
  for (const Row& r : rows) ExpectParsed(ParseReadAddress(r.text), r);
}

TEST(Df1ReadAddress, RefusedForms) {
  for (const char* text : {"7:0", "", "   ", "N7", "N7:", "N", ":0", "N99999999999:0", "N7:99999999999"})
    EXPECT_FALSE(ParseReadAddress(text).has_value()) << '"' << text << '"';
}

TEST(Df1WriteAddress, DiffersFromTheReadParser) {
  ExpectParsed(ParseWriteAddress("B3/35"), {"B3/35", 3, 3, 35, 99, 0});
  ExpectParsed(ParseWriteAddress("7:0"), {"7:0", 3, 7, 0, 99, 0});
  ExpectParsed(ParseWriteAddress("T4:0.2"), {"T4:0.2", 4, 4, 0, 2, 0});
  ExpectParsed(ParseWriteAddress("N7:10/3"), {"N7:10/3", 7, 7, 10, 3, 0});
  for (const char* text : {"N7", "N7:", ""}) EXPECT_FALSE(ParseWriteAddress(text).has_value()) << text;
}

}  // namespace
}  // namespace plc::df1
