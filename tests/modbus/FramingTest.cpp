// Checksums, frame checks and the master's request and reply rules, by tables of known frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/AsciiFrame.h"
#include "modbus/Crc16.h"
#include "modbus/Frame.h"
#include "modbus/Replies.h"
#include "modbus/Requests.h"
#include "modbus/RtuFrame.h"
#include "tests/modbus/FramingHelpers.h"

namespace plc::modbus {
namespace {

using testing::Chars;
using testing::Hex;
using testing::ToText;

TEST(FramingChecksums, KnownCrcAndLrc) {
  EXPECT_EQ(ComputeCrc16(Hex("01 03 00 00 00 01")), (CrcBytes{0x84, 0x0A}));
  EXPECT_EQ(Crc16(Bytes{}), 0xFFFF);
  EXPECT_EQ(ComputeCrc16(Hex("01 83 02")), (CrcBytes{0xC0, 0xF1}));
  EXPECT_EQ(MakeLRC(":010300000001"), "FB");
  EXPECT_EQ(ComputeLrc(Hex("01 03 00 00 00 01")), 0xFB);
}

// The table forms against the polynomial bit by bit, over lengths odd and even and every byte
// value, so a lookup that takes a byte from the wrong half shows.
TEST(FramingChecksums, CrcMatchesTheBitwiseDefinition) {
  auto bitwise = [](const Bytes& bytes) {
    unsigned crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
      crc ^= b;
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return static_cast<std::uint16_t>(crc);
  };
  Bytes bytes;
  std::uint32_t seed = 12345;
  for (int length = 0; length <= 300; ++length) {
    EXPECT_EQ(Crc16(bytes), bitwise(bytes)) << "length " << length;
    seed = seed * 1103515245 + 12345;
    bytes.push_back(static_cast<std::uint8_t>(length < 256 ? length : seed >> 16));
  }
}

// MakeLRC keeps its arithmetic on any text: pieces of two characters from the second on, a
// lone last character alone, letters above '@' as code - 55, others as code - 48.
TEST(FramingChecksums, MakeLrcOnOddAndNonHexText) {
  struct Row { std::string msg, lrc; };
  const Row rows[] = {
      {"", "00"},               // nothing to sum
      {":", "00"},
      {":010", "FF"},           // "01" + "0"
      {":0103A", "F2"},         // 1 + 3 + "A" = 14
      {":0a", "D6"},            // lower-case 'a' counts 97 - 55 = 42
      {":!!", "FF"},            // (33 - 48) * 17 = -255
      {"X0103", "FC"},          // the first character is skipped whatever it is
  };
  for (const Row& row : rows) EXPECT_EQ(MakeLRC(row.msg), row.lrc) << row.msg;
  std::string longText = ":" + std::string(1 << 20, 'F');  // 2^19 pieces of 255: no overflow
  EXPECT_EQ(MakeLRC(longText), "00");
  EXPECT_EQ(MakeLRC(":\xFF\x80"), "37");  // codes above 127 count as themselves, not negative
}

TEST(FramingRtu, FrameChecks) {
  struct Row { const char* name; Bytes frame; FrameError error; };
  const Row rows[] = {
      {"empty", {}, FrameError::TooShort},
      {"three bytes", Hex("01 03 02"), FrameError::TooShort},
      {"CRC bytes swapped", Hex("01 03 02 00 2A 9B 39"), FrameError::Checksum},
      {"one data bit flipped", Hex("01 03 02 00 2B 39 9B"), FrameError::Checksum},
      {"last byte lost", Hex("01 03 02 00 2A 39"), FrameError::Checksum},
      {"one byte too many", Hex("01 03 02 00 2A 39 9B 55"), FrameError::Checksum},
      {"noise before", Hex("FF 01 03 02 00 2A 39 9B"), FrameError::Checksum},
  };
  for (const Row& row : rows) EXPECT_EQ(ParseRtuFrame(row.frame).error, row.error) << row.name;

  // A frame followed by 00 passes the CRC again (the CRC of a message and its low CRC byte is
  // the high CRC byte): only the length checks catch it.
  ParsedFrame longer = ParseRtuFrame(Hex("01 03 02 00 2A 39 9B 00"));
  ASSERT_TRUE(longer);
  EXPECT_EQ(CheckReply(ReadRequest(1, 3, 0, 1), longer.adu), ReplyError::ByteCountMismatch);
  EXPECT_EQ(ReplyUnitsStillNeeded(ReadRequest(1, 3, 0, 1), Hex("01 03 02 00 2A 39"), Framing::Rtu), 1u);
}

// Lower-case hexadecimal is refused: the digits of this protocol are upper case, and a frame
// in lower case must not pass on a lucky LRC.
TEST(FramingAscii, FrameChecks) {
  struct Row { const char* name; std::string frame; FrameError error; };
  const Row rows[] = {
      {"lower-case digits", ":0103089f02994a2aec0cbc92\r\n", FrameError::BadHex},
      {"lower-case LRC", ":01060009002Ac6\r\n", FrameError::BadHex},
      {"letter beyond F", ":0103000G0001FB\r\n", FrameError::BadHex},
      {"wrong LRC", ":010300000001FC\r\n", FrameError::Checksum},
      {"no colon", "0010300000001FB\r\n", FrameError::NoColon},
      {"no line end", ":010300000001FB\r\r", FrameError::NoLineEnd},
      {"odd digits", ":01030000001FB\r\n", FrameError::OddLength},
      {"too short", ":01FF\r\n", FrameError::TooShort},
      {"empty", "", FrameError::TooShort},
  };
  for (const Row& row : rows) EXPECT_EQ(ParseAsciiFrame(std::string_view(row.frame)).error, row.error) << row.name;
}

TEST(FramingRequests, ReplyLengthOfEveryRequest) {
  struct Row { Request request; std::size_t rtu; };
  const Row rows[] = {
      {ReadRequest(1, fn::ReadCoils, 0, 1), 6},
      {ReadRequest(1, fn::ReadCoils, 0, 8), 6},
      {ReadRequest(1, fn::ReadDiscreteInputs, 7, 9), 7},
      {ReadRequest(1, fn::ReadCoils, 0, 16), 7},
      {ReadRequest(1, fn::ReadCoils, 0, 2000), 255},
      {ReadRequest(1, fn::ReadHoldingRegisters, 0, 1), 7},
      {ReadRequest(1, fn::ReadInputRegisters, 0, 125), 255},
      {ReadRequest(1, fn::ReadHoldingRegisters, 0, 3, 4), 17},  // 32-bit values: 4 x count + 5
      {SingleWriteRequest(1, fn::WriteSingleCoil, 0, 1), 8},
      {SingleWriteRequest(1, fn::WriteSingleRegister, 0, 1), 8},
      {MultipleWriteRequest(1, fn::WriteMultipleRegisters, 0, {1, 2, 3}), 8},
      {MultipleWriteRequest(1, fn::WriteMultipleCoils, 0, {1, 0, 1}), 8},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ExpectedLength(row.request, Framing::Rtu), row.rtu) << int(row.request.function);
    EXPECT_EQ(ExpectedLength(row.request, Framing::Ascii), 2 * row.rtu + 1) << int(row.request.function);
  }
  EXPECT_EQ(ExpectedLength(ReadRequest(1, 7, 0, 1), Framing::Rtu), 0u);
}

TEST(FramingRequests, WriteBodies) {
  // Ten registers: byte count 20, hexadecimal "14" in ASCII.
  std::vector<std::int32_t> ten(10, 0x0102);
  EncodedRequest rtu = EncodeRequest(MultipleWriteRequest(1, fn::WriteMultipleRegisters, 9, ten), Framing::Rtu);
  EXPECT_EQ(rtu.frame.size(), 9u + 20u);
  EXPECT_EQ(rtu.frame[6], 20);
  EncodedRequest ascii = EncodeRequest(MultipleWriteRequest(1, fn::WriteMultipleRegisters, 9, ten), Framing::Ascii);
  EXPECT_EQ(ToText(ascii.frame).substr(0, 15), ":01100009000A14");
  EXPECT_EQ(EncodeRequest(MultipleWriteRequest(1, fn::WriteMultipleRegisters, 9, {1, 2, 3}), Framing::Rtu).adu.data,
            Hex("00 09 00 03 06 00 01 00 02 00 03"));
  EXPECT_EQ(EncodeRequest(SingleWriteRequest(1, fn::WriteSingleCoil, 0, -1), Framing::Rtu).adu.data,
            Hex("00 00 FF 00"));
  // Seventeen coils: three bytes, nonzero is on, the unused high bits of the last byte clear.
  std::vector<std::int32_t> coils(17, 0);
  coils[0] = coils[8] = coils[16] = 1;
  coils[15] = 5;
  EXPECT_EQ(EncodeRequest(MultipleWriteRequest(1, fn::WriteMultipleCoils, 0, coils), Framing::Rtu).adu.data,
            Hex("00 00 00 11 03 01 81 01"));
}

// RTU refuses a field that does not fit its bytes; ASCII carries the low bits of it.
TEST(FramingRequests, FieldsThatCannotBeFramed) {
  struct Row { const char* name; Request request; EncodeError rtu; std::string asciiStart; };
  const Row rows[] = {
      {"unit 256", ReadRequest(256, 3, 0, 1), EncodeError::UnitOutOfRange, ":000300000001"},
      {"unit -1", ReadRequest(-1, 3, 0, 1), EncodeError::UnitOutOfRange, ":FF0300000001"},
      {"offset -1", ReadRequest(1, 3, -1, 1), EncodeError::OffsetOutOfRange, ":0103FFFF0001"},
      {"offset 65536", ReadRequest(1, 3, 65536, 1), EncodeError::OffsetOutOfRange, ":010300000001"},
      {"count 65536", ReadRequest(1, 3, 0, 65536), EncodeError::CountOutOfRange, ":010300000000"},
      {"value 70000", SingleWriteRequest(1, 6, 0, 70000), EncodeError::ValueOutOfRange, ":010600001170"},
      {"value -2", SingleWriteRequest(1, 6, 0, -2), EncodeError::ValueOutOfRange, ":01060000FFFE"},
      {"register -1 in a list", MultipleWriteRequest(1, 16, 0, {1, -1}), EncodeError::ValueOutOfRange,
       ":011000000002"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EncodedRequest rtu = EncodeRequest(row.request, Framing::Rtu);
    EXPECT_EQ(rtu.error, row.rtu);
    EXPECT_TRUE(rtu.frame.empty());
    EncodedRequest ascii = EncodeRequest(row.request, Framing::Ascii);
    ASSERT_TRUE(ascii);
    std::string text = ToText(ascii.frame);
    EXPECT_EQ(text.substr(0, 13), row.asciiStart);
    EXPECT_TRUE(ParseAsciiFrame(ascii.frame)) << text;  // the LRC covers what went out
  }
  std::vector<std::int32_t> many(128, 1);
  EXPECT_EQ(EncodeRequest(MultipleWriteRequest(1, 16, 0, many), Framing::Rtu).error, EncodeError::CountOutOfRange);
  many.pop_back();
  EXPECT_TRUE(EncodeRequest(MultipleWriteRequest(1, 16, 0, many), Framing::Rtu));
  std::vector<std::int32_t> hundreds(200, 1);
  EncodedRequest ascii = EncodeRequest(MultipleWriteRequest(1, 16, 0, hundreds), Framing::Ascii);
  EXPECT_EQ(ToText(ascii.frame).substr(9, 6), "00C890");  // count 200, byte count 400 mod 256
  EXPECT_EQ(EncodeRequest(MultipleWriteRequest(1, 15, 0, std::vector<std::int32_t>(2041, 1)), Framing::Rtu).error,
            EncodeError::CountOutOfRange);

  EXPECT_EQ(EncodeRequest(ReadRequest(1, 7, 0, 1), Framing::Rtu).error, EncodeError::NotARequest);
  EXPECT_EQ(EncodeRequest(MultipleWriteRequest(1, 16, 0, {}), Framing::Ascii).error, EncodeError::NotARequest);
  EXPECT_EQ(EncodeRequest(MultipleWriteRequest(1, 5, 0, {1, 2}), Framing::Rtu).error, EncodeError::NotARequest);
}

TEST(FramingReplies, ChecksAgainstTheRequest) {
  const Request read = ReadRequest(1, fn::ReadHoldingRegisters, 0, 2);
  const Request write = SingleWriteRequest(1, fn::WriteSingleRegister, 9, 42);
  struct Row { const char* name; Request request; Bytes message; ReplyError error; };
  const Row rows[] = {
      {"good read", read, Hex("01 03 04 00 01 00 02"), ReplyError::None},
      {"other unit", read, Hex("02 03 04 00 01 00 02"), ReplyError::WrongUnit},
      {"other function", read, Hex("01 04 04 00 01 00 02"), ReplyError::WrongFunction},
      {"exception", read, Hex("01 83 02"), ReplyError::Exception},
      {"exception with extra byte", read, Hex("01 83 02 00"), ReplyError::BadLength},
      {"byte count above data", read, Hex("01 03 06 00 01 00 02"), ReplyError::ByteCountMismatch},
      {"fewer registers than asked", read, Hex("01 03 02 00 01"), ReplyError::CountMismatch},
      {"bits: two bytes for 8 points", ReadRequest(1, 1, 0, 8), Hex("01 01 02 FF 00"), ReplyError::CountMismatch},
      {"32-bit values", ReadRequest(1, 3, 0, 1, 4), Hex("01 03 04 00 00 00 01"), ReplyError::None},
      {"good echo", write, Hex("01 06 00 09 00 2A"), ReplyError::None},
      {"short echo", write, Hex("01 06 00 09 00"), ReplyError::BadLength},
      {"echo of another value", write, Hex("01 06 00 09 00 2B"), ReplyError::EchoMismatch},
  };
  for (const Row& row : rows) {
    Adu reply = *Adu::FromBytes(row.message);
    EXPECT_EQ(CheckReply(row.request, reply), row.error) << row.name;
  }
  EXPECT_EQ(Adu::FromBytes(Hex("01 83 02"))->ExceptionCode(), ex::IllegalDataAddress);
  EXPECT_TRUE(EchoMatches(write, *Adu::FromBytes(Hex("01 06 00 09 00 2A"))));
  EXPECT_FALSE(EchoMatches(write, *Adu::FromBytes(Hex("01 06 00 0A 00 2A"))));
  EXPECT_FALSE(EchoMatches(write, *Adu::FromBytes(Hex("01 06 00 09 00 2B"))));
}

// The receiver learns the reply's length from the bytes as they come: an exception reply ends
// after 5 bytes, a read reply after its byte count, anything else after the awaited length.
TEST(FramingReplies, UnitsStillNeededAsBytesArrive) {
  const Request read = ReadRequest(1, fn::ReadHoldingRegisters, 0, 10);  // awaits 25 bytes
  struct Row { const char* name; Bytes received; std::size_t needed; };
  const Row rows[] = {
      {"nothing yet", {}, 5},
      {"exception function", Hex("01 83"), 3},
      {"exception complete", Hex("01 83 02 C0 F1"), 0},
      {"function, no count", Hex("01 03"), 3},
      {"count says 20", Hex("01 03 14"), 22},
      {"count disagrees: 2", Hex("01 03 02 00"), 3},
      {"other function", Hex("01 04"), 23},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ReplyUnitsStillNeeded(read, row.received, Framing::Rtu), row.needed) << row.name;
  }
  const Request write = SingleWriteRequest(1, 6, 0, 1);
  EXPECT_EQ(ReplyUnitsStillNeeded(write, Hex("01 06"), Framing::Rtu), 6u);
  EXPECT_EQ(ReplyUnitsStillNeeded(write, Hex("01 86"), Framing::Rtu), 3u);

  EXPECT_EQ(ReplyUnitsStillNeeded(read, Chars(":0183"), Framing::Ascii), 6u);
  EXPECT_EQ(ReplyUnitsStillNeeded(read, Chars(":010314"), Framing::Ascii), 51u - 7u);
  EXPECT_EQ(ReplyUnitsStillNeeded(read, Chars(":0103\r\n"), Framing::Ascii), 0u);  // CR LF ends it
  EXPECT_EQ(ReplyUnitsStillNeeded(read, Chars(":01x3"), Framing::Ascii), 6u);  // garbage: shortest reply
  EXPECT_EQ(SkipToColon(Chars(std::string_view("\x00\xFF:01", 5))), 2u);
}

TEST(FramingReplies, DecodingStaysInsideTheReply) {
  // The byte count names more than the reply holds: only what is there is read.
  EXPECT_EQ(DecodeRegisters(Adu{1, 3, Hex("08 00 01 00 02 00")}), (std::vector<std::uint16_t>{1, 2}));
  // The byte count names less: the bytes beyond it are not values.
  EXPECT_EQ(DecodeRegisters(Adu{1, 3, Hex("02 00 01 00 02")}), (std::vector<std::uint16_t>{1}));
  EXPECT_TRUE(DecodeRegisters(Adu{1, 3, {}}).empty());
  EXPECT_TRUE(DecodeBits(Adu{1, 1, {}}).empty());
  EXPECT_EQ(DecodeBits(Adu{1, 1, Hex("01 49")}), (std::vector<std::uint8_t>{1, 0, 0, 1, 0, 0, 1, 0}));
  EXPECT_EQ(DecodeLongs(Adu{1, 3, Hex("08 FF FF FF FE 12 34 56 78")}), (std::vector<std::int32_t>{-2, 0x12345678}));
  EXPECT_EQ(DecodeLongs(Adu{1, 3, Hex("06 00 00 00 01 00 02")}), (std::vector<std::int32_t>{1}));
  EXPECT_EQ(DecodeRegisterPairs(Adu{1, 3, Hex("04 3F 80 00 00")}), (std::vector<RegisterPair>{{0x3F80, 0}}));
}

TEST(FramingReplies, FloatsFromRegisterPairs) {
  EXPECT_EQ(FloatFromWords(0, 0), 0.0f);
  EXPECT_EQ(FloatFromWords(16256, 0), 1.0f);
  EXPECT_EQ(FloatFromWords(49184, 0), -2.5f);
  EXPECT_EQ(FloatFromWords(15820, 52429), 0.1f);
  ASSERT_TRUE(FloatFromWords(0, 5).has_value());
  EXPECT_GT(*FloatFromWords(0, 5), 0.0f);                     // leading one implied
  EXPECT_LT(*FloatFromWords(0x8000, 0), 0.0f);                // not minus zero
  EXPECT_FALSE(FloatFromWords(0x7F80, 0).has_value());        // exponent field 255
}

}  // namespace
}  // namespace plc::modbus
