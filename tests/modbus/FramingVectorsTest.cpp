// Every frame of the vector file tests/data/modbus-frames.tsv, produced by an independent
// implementation, is rebuilt byte for byte from its description and read back by the checks
// and decoders.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "modbus/AsciiFrame.h"
#include "modbus/Replies.h"
#include "modbus/Requests.h"
#include "modbus/RtuFrame.h"
#include "modbus/SlaveRequests.h"
#include "tests/modbus/FramingHelpers.h"

namespace plc::modbus {
namespace {

using testing::Chars;
using testing::Hex;
using testing::ToText;

struct Vector {
  std::string description;
  bool isRequest = false;
  std::uint8_t function = 0;
  std::map<std::string, std::string> fields;  // unit, offset, count, value, state
  std::vector<std::int32_t> values;
  Bytes rtu;
  std::string ascii;

  std::int32_t Field(const std::string& key) const { return std::stoi(fields.at(key)); }
};

std::uint8_t FunctionOf(const std::string& kind) {
  static const std::map<std::string, std::uint8_t> kinds = {
      {"read coils", fn::ReadCoils},
      {"read discrete inputs", fn::ReadDiscreteInputs},
      {"read holding registers", fn::ReadHoldingRegisters},
      {"read input registers", fn::ReadInputRegisters},
      {"write single coil", fn::WriteSingleCoil},
      {"write single register", fn::WriteSingleRegister},
      {"write multiple coils", fn::WriteMultipleCoils},
      {"write multiple registers", fn::WriteMultipleRegisters},
  };
  auto it = kinds.find(kind);
  return it == kinds.end() ? 0 : it->second;
}

Vector ParseLine(const std::string& line) {
  Vector v;
  std::vector<std::string> columns;
  std::stringstream in(line);
  std::string column;
  while (std::getline(in, column, '\t')) columns.push_back(column);
  if (columns.size() != 3) throw std::runtime_error("vector line without three columns: " + line);
  v.description = columns[0];
  v.rtu = Hex(columns[1]);
  v.ascii = columns[2];
  for (auto at = v.ascii.find("<CR><LF>"); at != std::string::npos; at = v.ascii.find("<CR><LF>")) {
    v.ascii.replace(at, 8, "\r\n");
  }
  std::stringstream words(v.description);
  std::string word, kind;
  words >> word;
  v.isRequest = word == "request";
  while (words >> word) {
    auto eq = word.find('=');
    if (eq != std::string::npos) {
      std::string key = word.substr(0, eq), value = word.substr(eq + 1);
      if (key == "values") {
        std::stringstream list(value);
        std::string item;
        while (std::getline(list, item, ',')) v.values.push_back(std::stoi(item));
      } else {
        v.fields[key] = value;
      }
    } else if (word == "on" || word == "off") {
      v.fields["state"] = word;
    } else {
      kind += (kind.empty() ? "" : " ") + word;
    }
  }
  v.function = FunctionOf(kind);
  if (v.function == 0) throw std::runtime_error("unknown frame kind: " + kind);
  return v;
}

std::vector<Vector> LoadVectors() {
  const std::string path = PLC_SOURCE_DIR "/tests/data/modbus-frames.tsv";
  std::ifstream file(path);
  if (!file) throw std::runtime_error("Modbus frame vectors missing: " + path);
  std::vector<Vector> out;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    out.push_back(ParseLine(line));
  }
  return out;
}

const std::vector<Vector>& Vectors() {
  static const std::vector<Vector> vectors = LoadVectors();
  return vectors;
}

// The request a vector describes; for a response, the request it answers.
Request RequestOf(const Vector& v) {
  std::int32_t unit = v.Field("unit");
  std::int32_t offset = v.fields.count("offset") ? v.Field("offset") : 0;
  switch (v.function) {
    case fn::WriteSingleCoil: return SingleWriteRequest(unit, v.function, offset, v.fields.at("state") == "on");
    case fn::WriteSingleRegister: return SingleWriteRequest(unit, v.function, offset, v.Field("value"));
    case fn::WriteMultipleCoils:
    case fn::WriteMultipleRegisters:
      if (v.isRequest) return MultipleWriteRequest(unit, v.function, offset, v.values);
      return MultipleWriteRequest(unit, v.function, offset, std::vector<std::int32_t>(v.Field("count"), 0));
    default: {
      auto count = v.isRequest ? v.Field("count") : static_cast<std::int32_t>(v.values.size());
      return ReadRequest(unit, v.function, offset, count);
    }
  }
}

// Feeds frame one unit at a time to stillNeeded: every proper prefix must ask for more, and
// never for more than the frame holds; the whole frame must ask for nothing.
template <class StillNeeded>
void ExpectCollectedWhole(const Bytes& frame, StillNeeded stillNeeded) {
  for (std::size_t n = 0; n < frame.size(); ++n) {
    ByteView prefix(frame.data(), n);
    std::size_t needed = stillNeeded(prefix);
    ASSERT_GT(needed, 0u) << "prefix of " << n << " units taken as whole";
    ASSERT_LE(n + needed, frame.size()) << "prefix of " << n << " units waits past the frame end";
  }
  EXPECT_EQ(stillNeeded(ByteView(frame)), 0u);
}

TEST(FramingVectors, EveryRequestEncodedCollectedAndParsed) {
  std::size_t requests = 0;
  for (const Vector& v : Vectors()) {
    if (!v.isRequest) continue;
    SCOPED_TRACE(v.description);
    ++requests;
    EncodedRequest rtu = EncodeRequest(RequestOf(v), Framing::Rtu);
    EncodedRequest ascii = EncodeRequest(RequestOf(v), Framing::Ascii);
    EXPECT_EQ(rtu.frame, v.rtu);
    EXPECT_EQ(ToText(ascii.frame), v.ascii);
    ASSERT_EQ(ParseAsciiFrame(std::string_view(v.ascii)).adu, rtu.adu);
    ExpectCollectedWhole(v.rtu, [](ByteView r) { return RequestUnitsStillNeeded(r, Framing::Rtu); });
    ExpectCollectedWhole(Chars(v.ascii), [](ByteView r) { return RequestUnitsStillNeeded(r, Framing::Ascii); });

    ParsedRequest parsed = ParseRequest(ParseRtuFrame(v.rtu).adu);
    ASSERT_TRUE(parsed) << RequestErrorText(parsed.error);
    const SlaveRequest& r = parsed.request;
    EXPECT_EQ(r.unit, v.Field("unit"));
    EXPECT_EQ(r.offset, v.Field("offset"));
    if (v.function == fn::WriteSingleCoil) {
      EXPECT_EQ(r.value, v.fields.at("state") == "on" ? 0xFF00 : 0);
    } else if (v.function == fn::WriteSingleRegister) {
      EXPECT_EQ(r.value, v.Field("value"));
    } else if (IsMultipleWrite(v.function)) {
      EXPECT_EQ(std::vector<std::int32_t>(r.values.begin(), r.values.end()), v.values);
    } else {
      EXPECT_EQ(r.count, v.Field("count"));
    }
  }
  EXPECT_GT(requests, 50u);
}

TEST(FramingVectors, EveryResponseBuiltCollectedAndDecoded) {
  std::size_t responses = 0;
  for (const Vector& v : Vectors()) {
    if (v.isRequest) continue;
    SCOPED_TRACE(v.description);
    ++responses;
    auto unit = static_cast<std::uint8_t>(v.Field("unit"));
    Request request = RequestOf(v);
    std::optional<Adu> built;
    if (IsRegisterRead(v.function)) {
      built = ReadRegistersReply(unit, v.function, std::vector<std::uint16_t>(v.values.begin(), v.values.end()));
    } else if (IsBitRead(v.function)) {
      built = ReadBitsReply(unit, v.function, std::vector<std::uint8_t>(v.values.begin(), v.values.end()));
    } else {
      auto second = static_cast<std::uint16_t>(v.fields.count("value") ? v.Field("value") : v.Field("count"));
      built = WriteEchoReply(unit, v.function, static_cast<std::uint16_t>(v.Field("offset")), second);
    }
    ASSERT_TRUE(built.has_value());
    EXPECT_EQ(BuildRtuFrame(*built), v.rtu);
    EXPECT_EQ(AsciiFrameText(*built), v.ascii);
    EXPECT_EQ(ExpectedLength(request, Framing::Rtu), v.rtu.size());
    EXPECT_EQ(ExpectedLength(request, Framing::Ascii), v.ascii.size());
    ExpectCollectedWhole(v.rtu, [&](ByteView r) { return ReplyUnitsStillNeeded(request, r, Framing::Rtu); });
    ExpectCollectedWhole(Chars(v.ascii),
                         [&](ByteView r) { return ReplyUnitsStillNeeded(request, r, Framing::Ascii); });

    Adu reply = ParseRtuFrame(v.rtu).adu;
    ASSERT_EQ(ParseAsciiFrame(std::string_view(v.ascii)).adu, reply);
    ASSERT_EQ(CheckReply(request, reply), ReplyError::None);
    if (IsRegisterRead(v.function)) {
      std::vector<std::uint16_t> registers = DecodeRegisters(reply);
      EXPECT_EQ(std::vector<std::int32_t>(registers.begin(), registers.end()), v.values);
    } else if (IsBitRead(v.function)) {
      std::vector<std::uint8_t> points = DecodeBits(reply);
      points.resize(v.values.size());
      EXPECT_EQ(std::vector<std::int32_t>(points.begin(), points.end()), v.values);
    } else {
      EXPECT_TRUE(EchoMatches(request, reply));
    }
  }
  EXPECT_GT(responses, 10u);
}

}  // namespace
}  // namespace plc::modbus
