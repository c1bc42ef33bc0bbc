// The slave's side of the framing: request lengths as bytes arrive, requests as values, and
// the replies it answers with.
#include <gtest/gtest.h>

#include <vector>

#include "modbus/AsciiFrame.h"
#include "modbus/Frame.h"
#include "modbus/RtuFrame.h"
#include "modbus/SlaveRequests.h"
#include "tests/modbus/FramingHelpers.h"

namespace plc::modbus {
namespace {

using testing::Chars;
using testing::Hex;
using testing::ToText;

TEST(FramingSlave, RequestLengthAsBytesArrive) {
  struct Row { const char* name; Bytes received; std::size_t rtu; };
  const Row rows[] = {
      {"nothing yet", {}, 8},
      {"read", Hex("01 03"), 8},
      {"unknown function", Hex("01 07"), 8},
      {"16 before its byte count", Hex("01 10 00 00 00 0A"), 9},
      {"16 of 10 registers", Hex("01 10 00 00 00 0A 14"), 29},
      {"15 of 9 coils: packed bits", Hex("01 0F 00 08 00 09 02"), 11},
      {"15 of 2040 coils", Hex("01 0F 00 00 07 F8 FF"), 264},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RequestFrameLength(row.received, Framing::Rtu), row.rtu) << row.name;
    std::string ascii = ":";
    for (std::uint8_t b : row.received) ascii += HexField(b, 2);
    EXPECT_EQ(RequestFrameLength(Chars(ascii), Framing::Ascii), 2 * row.rtu + 1) << row.name;
  }
  // A short frame in ASCII ends at its CR LF instead of waiting for 17 characters.
  EXPECT_EQ(RequestUnitsStillNeeded(Chars(":0107F8\r\n"), Framing::Ascii), 0u);
  EXPECT_EQ(RequestUnitsStillNeeded(Chars(":0103"), Framing::Ascii), 12u);
}

TEST(FramingSlave, WriteAnsweredByItsEcho) {
  // 01 06 00 09 00 2A: stores 42 at offset 9 and is answered by the same frame.
  const Bytes frame = Hex("01 06 00 09 00 2A D8 17");
  ParsedRequest parsed = ParseRequest(ParseRtuFrame(frame).adu);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed.request.offset, 9);
  EXPECT_EQ(parsed.request.value, 42);
  EXPECT_EQ(BuildRtuFrame(WriteEchoReply(parsed.request)), frame);

  // Function 15 is answered with its count, whatever the byte count of its packed bits.
  ParsedRequest coils = ParseRequest(Adu{1, 15, Hex("00 08 00 09 02 8D 01")});
  ASSERT_TRUE(coils);
  EXPECT_EQ(WriteEchoReply(coils.request), (Adu{1, 15, Hex("00 08 00 09")}));
}

TEST(FramingSlave, ReadReplies) {
  const std::uint16_t registers[] = {42};
  EXPECT_EQ(BuildRtuFrame(*ReadRegistersReply(1, 3, registers)), Hex("01 03 02 00 2A 39 9B"));

  const std::uint8_t eight[] = {1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(ReadBitsReply(1, 1, eight)->data, Hex("01 01"));
  const std::uint8_t nine[] = {1, 0, 0, 0, 0, 0, 0, 1, 1};
  EXPECT_EQ(ReadBitsReply(1, 2, nine)->data, Hex("02 81 01"));

  EXPECT_TRUE(ReadRegistersReply(1, 3, std::vector<std::uint16_t>(MaxReplyRegisters)).has_value());
  EXPECT_FALSE(ReadRegistersReply(1, 3, std::vector<std::uint16_t>(MaxReplyRegisters + 1)).has_value());
  EXPECT_TRUE(ReadBitsReply(1, 1, std::vector<std::uint8_t>(MaxReplyBits)).has_value());
  EXPECT_FALSE(ReadBitsReply(1, 1, std::vector<std::uint8_t>(MaxReplyBits + 1)).has_value());

  EXPECT_EQ(BuildRtuFrame(ExceptionReply(1, 3, ex::IllegalDataAddress)), Hex("01 83 02 C0 F1"));
  EXPECT_EQ(AsciiFrameText(ExceptionReply(1, 3, ex::IllegalDataAddress)), ":0183027A\r\n");
}

TEST(FramingSlave, MalformedRequests) {
  struct Row { const char* name; Adu adu; RequestError error; std::uint8_t exception; };
  const Row rows[] = {
      {"function 7", {1, 7, {}}, RequestError::UnknownFunction, ex::IllegalFunction},
      {"exception code as function", {1, 0x83, Hex("00 00 00 01")}, RequestError::UnknownFunction, 1},
      {"read with 3 data bytes", {1, 3, Hex("00 00 01")}, RequestError::BadLength, 3},
      {"16 without byte count", {1, 16, Hex("00 00 00 01")}, RequestError::BadLength, 3},
      {"16 byte count is not 2n", {1, 16, Hex("00 00 00 02 03 00 01 00")}, RequestError::ByteCountMismatch, 3},
      {"16 data shorter than count", {1, 16, Hex("00 00 00 02 04 00 01 00")}, RequestError::ByteCountMismatch, 3},
      {"15 with 16-bit values", {1, 15, Hex("00 00 00 02 04 00 01 00 01")}, RequestError::ByteCountMismatch, 3},
      {"15 byte count 255 for 2 coils", {1, 15, Hex("00 00 00 02 FF 01")}, RequestError::ByteCountMismatch, 3},
  };
  for (const Row& row : rows) {
    ParsedRequest parsed = ParseRequest(row.adu);
    EXPECT_EQ(parsed.error, row.error) << row.name;
    EXPECT_EQ(ExceptionCodeFor(parsed.error), row.exception) << row.name;
    EXPECT_EQ(parsed.request.function, row.adu.function) << row.name;
  }
}

}  // namespace
}  // namespace plc::modbus
