// The Allen-Bradley address parser over the forms users of these processors type, the forms
// it refuses (each with a text naming the address and what is wrong), and what a write takes.
#include <gtest/gtest.h>

#include "df1/Addressing.h"

namespace plc::df1 {
namespace {

struct Row {
  const char* text;
  std::int16_t code;
  std::int32_t file, element, bit, wordOffset;
};

void ExpectParsed(const AddressParse& got, const Row& want) {
  ASSERT_TRUE(got) << want.text << ": " << got.error;
  EXPECT_EQ(got->FileTypeCode, want.code) << want.text;
  EXPECT_EQ(got->FileNumber, want.file) << want.text;
  EXPECT_EQ(got->ElementNumber, want.element) << want.text;
  EXPECT_EQ(got->BitNumber, want.bit) << want.text;
  EXPECT_EQ(got->WordOffset, want.wordOffset) << want.text;
}

TEST(Df1ReadAddress, TheFormsUsersType) {
  const Row rows[] = {
      {"N7:0", 7, 7, 0, 99, 0},          {"n7:0", 7, 7, 0, 99, 0},          {"N7:10/3", 7, 7, 10, 3, 0},
      {"B3/35", 3, 3, 2, 3, 0},          {"T4:2.2", 4, 4, 2, 99, 3},        {"I:1/3", 1, 1, 1, 3, 0},
      {"I1:0", 1, 1, 0, 99, 0},          {"O:0", 0, 0, 0, 99, 0},           {"F8:0", 8, 8, 0, 99, 0},
      {"S:3", 2, 2, 3, 99, 0},           {"ST10:1", 13, 10, 1, 99, 0},      {"CCO4:1", 12, 4, 1, 99, 0},
      {"  N7 : 12 ", 7, 7, 12, 99, 0},   {"N7:65535", 7, 7, 65535, 99, 0},  {"B3/1048575", 3, 3, 65535, 15, 0},
      // The mnemonics of timers, counters and controls: words as sub-elements, bits of word 0.
      {"T4:1.PRE", 4, 4, 1, 99, 2},      {"T4:1.ACC", 4, 4, 1, 99, 3},      {"t4:1.acc", 4, 4, 1, 99, 3},
      {"T4:1/EN", 4, 4, 1, 15, 0},       {"T4:1/TT", 4, 4, 1, 14, 0},       {"T4:1/DN", 4, 4, 1, 13, 0},
      {"T4:1.DN", 4, 4, 1, 13, 0},       {"C5:0/CU", 5, 5, 0, 15, 0},       {"C5:0/CD", 5, 5, 0, 14, 0},
      {"C5:0/DN", 5, 5, 0, 13, 0},       {"C5:0/OV", 5, 5, 0, 12, 0},       {"C5:0/UN", 5, 5, 0, 11, 0},
      {"C5:0.PRE", 5, 5, 0, 99, 2},      {"C5:0.ACC", 5, 5, 0, 99, 3},      {"R6:0.LEN", 6, 6, 0, 99, 2},
      {"R6:0.POS", 6, 6, 0, 99, 3},      {"R6:0/EN", 6, 6, 0, 15, 0},       {"R6:0/EU", 6, 6, 0, 14, 0},
      {"R6:0/DN", 6, 6, 0, 13, 0},       {"R6:0/EM", 6, 6, 0, 12, 0},       {"R6:0/ER", 6, 6, 0, 11, 0},
      {"R6:0/UL", 6, 6, 0, 10, 0},       {"R6:0/IN", 6, 6, 0, 9, 0},        {"R6:0/FD", 6, 6, 0, 8, 0},
      {"T4:1.ACC/3", 4, 4, 1, 3, 3},     {"T4:1.0/DN", 4, 4, 1, 13, 1},
  };
  for (const Row& r : rows) ExpectParsed(ParseReadAddress(r.text), r);
}

TEST(Df1ReadAddress, WhatItDoesNotFullyUnderstandIsRefusedWithTheAddressAndTheReason) {
  const std::pair<const char*, const char*> refused[] = {
      {"7:0", "no file type letters"},
      {"", "no file type letters"},
      {"X9:1", "'X', which is none of"},
      {"N7", "has no element"},
      {"N7:", "no element after ':'"},
      {"N:0", "no file number"},
      {"N\xEF\xBC\x97:0", "no file number"},  // a full-width 7
      {"N7:0/x", "the bit 'X', which is no bit number (0..15)"},
      {"N7:0/", "nothing after '/'"},
      {"N7:0/16", "the bit 16, beyond 15"},
      {"N7:0.1", "a sub-element, which N elements do not have"},
      {"T4:1.3", "the sub-element 3, beyond 2"},
      {"T4:2.", "nothing after '.'"},
      {"T4:1.FOO", "none of PRE, ACC, EN, TT, DN"},
      {"T4:1.PRE/DN", "bit DN of word 0 after a sub-element"},
      {"T4:1.DN/3", "names a bit twice"},
      {"N70000:0", "the file number 70000, beyond 65535"},
      {"N7:65536", "the element 65536, beyond 65535"},
      {"N7:99999999999999999999", "beyond 65535"},
      {"B3/1048576", "the bit 1048576, beyond 1048575"},
      {"S5:3", "names file 5, but S is always file 2"},
      {"N 7 : 1 2", "ends in '2'"},
      {"N7:0;", "ends in ';'"},
      {"F8:0/1", "a bit, which F values do not have"},
      {"T4/35", "counts a bit from the start of the file"},
      // Found where the earlier parser let a number past its field: bit 99 stood for "no bit"
      // and read the whole word, bit 100 a bit no word has, element 70000 a field of 16 bits.
      {"N7:0/99", "the bit 99, beyond 15"},
      {"N7:0/100", "the bit 100, beyond 15"},
      {"N7:70000", "the element 70000, beyond 65535"},
      {"N99999:0", "the file number 99999, beyond 65535"},
  };
  for (const auto& [text, reason] : refused) {
    AddressParse p = ParseReadAddress(text);
    ASSERT_FALSE(p) << text;
    EXPECT_EQ(p.error.rfind("address '" + std::string(text) + "' ", 0), 0u) << p.error;
    EXPECT_NE(p.error.find(reason), std::string::npos) << p.error;
  }
}

TEST(Df1WriteAddress, WordsAndSubElementsAreTakenBitsAreRefusedNamingTheWord) {
  ExpectParsed(ParseWriteAddress("N7:10"), {"N7:10", 7, 7, 10, 99, 0});
  ExpectParsed(ParseWriteAddress("T4:1.PRE"), {"T4:1.PRE", 4, 4, 1, 99, 2});
  ExpectParsed(ParseWriteAddress("T4:0.2"), {"T4:0.2", 4, 4, 0, 99, 3});
  const std::pair<const char*, const char*> bits[] = {
      {"N7:10/3", "give the word, N7:10)"},
      {"B3/35", "give the word, B3:2)"},
      {"T4:1/DN", "give the word, T4:1)"},
      {"T4:1.ACC/3", "give the word, T4:1.2)"},
  };
  for (const auto& [text, word] : bits) {
    AddressParse p = ParseWriteAddress(text);
    ASSERT_FALSE(p) << text;
    EXPECT_NE(p.error.find("names a bit; a write changes whole words"), std::string::npos) << p.error;
    EXPECT_NE(p.error.find(word), std::string::npos) << p.error;
  }
  EXPECT_FALSE(ParseWriteAddress("7:0")) << "no letters: which file type is meant is not known";
}

}  // namespace
}  // namespace plc::df1
