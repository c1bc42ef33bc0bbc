// Pseudo-random input for every parser and length function (they must only return, which the
// sanitizer build watches), and random requests carried master -> slave -> master through
// streams where frames follow each other back to back.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "modbus/AsciiFrame.h"
#include "modbus/Frame.h"
#include "modbus/Replies.h"
#include "modbus/Requests.h"
#include "modbus/RtuFrame.h"
#include "modbus/SlaveRequests.h"

namespace plc::modbus {
namespace {

constexpr Framing Framings[] = {Framing::Rtu, Framing::Ascii};
constexpr std::uint8_t Functions[] = {1, 2, 3, 4, 5, 6, 15, 16};

class Random {
 public:
  explicit Random(std::uint32_t seed) : engine_(seed) {}
  int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Int(0, 255)); }
  template <class T, std::size_t N>
  T Pick(const T (&items)[N]) { return items[static_cast<std::size_t>(Int(0, N - 1))]; }

  Request AnyRequest() {
    std::uint8_t function = Pick(Functions);
    int unit = Int(0, 255), offset = Int(0, 65535);
    if (IsBitRead(function)) return ReadRequest(unit, function, offset, Int(1, 2000));
    if (IsRegisterRead(function)) {
      return Int(0, 3) == 0 ? ReadRequest(unit, function, offset, Int(1, 63), 4)
                            : ReadRequest(unit, function, offset, Int(1, 125));
    }
    if (IsSingleWrite(function)) return SingleWriteRequest(unit, function, offset, Int(0, 65535));
    std::vector<std::int32_t> values(static_cast<std::size_t>(Int(1, function == 15 ? 1968 : 123)));
    for (auto& v : values) v = function == 15 ? Int(0, 1) : Int(0, 65535);
    return MultipleWriteRequest(unit, function, offset, values);
  }

  Bytes Garbage() {
    static const char alphabet[] = ":0123456789ABCDEFabcdefG \r\n";
    Bytes out(static_cast<std::size_t>(Int(0, 300)));
    bool text = Int(0, 1) == 0;
    for (auto& b : out) b = text ? static_cast<std::uint8_t>(alphabet[Int(0, sizeof alphabet - 2)]) : Byte();
    if (text && !out.empty() && Int(0, 1) == 0) out[0] = ':';
    return out;
  }

  // A valid frame with one fault: a changed, inserted or removed unit, or a cut.
  Bytes Mutated(const Bytes& frame) {
    Bytes out = frame;
    if (out.empty()) return out;
    auto at = static_cast<std::size_t>(Int(0, static_cast<int>(out.size()) - 1));
    switch (Int(0, 3)) {
      case 0: out[at] = Byte(); break;
      case 1: out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), Byte()); break;
      case 2: out.erase(out.begin() + static_cast<std::ptrdiff_t>(at)); break;
      default: out.resize(at); break;
    }
    return out;
  }

 private:
  std::mt19937 engine_;
};

// Takes one frame from the front of stream, asking stillNeeded how many units to read next,
// as a receiver on a port does. Returns the frame, or nothing when the stream ran dry.
std::optional<Bytes> Collect(const Bytes& stream, std::size_t& pos,
                             const std::function<std::size_t(ByteView)>& stillNeeded) {
  Bytes frame;
  for (std::size_t needed = stillNeeded(frame); needed > 0; needed = stillNeeded(frame)) {
    if (pos + needed > stream.size()) return std::nullopt;
    frame.insert(frame.end(), stream.begin() + static_cast<std::ptrdiff_t>(pos),
                 stream.begin() + static_cast<std::ptrdiff_t>(pos + needed));
    pos += needed;
  }
  return frame;
}

void ExerciseEverything(const Bytes& input, const std::vector<Request>& requests) {
  for (Framing framing : Framings) {
    std::size_t request = RequestFrameLength(input, framing);
    EXPECT_GE(request, FrameLength(6, framing));
    EXPECT_LE(request, FrameLength(7 + 255, framing));
    RequestUnitsStillNeeded(input, framing);
    for (const Request& r : requests) {
      std::size_t reply = ReplyFrameLength(r, input, framing);
      EXPECT_LE(reply, std::max(FrameLength(3 + 255, framing), ExpectedLength(r, framing)));
      ReplyUnitsStillNeeded(r, input, framing);
    }
    KnownMessageBytes(input, framing);
    ParsedFrame parsed = ParseFrame(input, framing);
    std::optional<Adu> raw = Adu::FromBytes(input);
    for (const Adu* adu : {parsed ? &parsed.adu : nullptr, raw ? &*raw : nullptr}) {
      if (!adu) continue;
      ParseRequest(*adu);
      DecodeRegisters(*adu);
      DecodeLongs(*adu);
      DecodeBits(*adu);
      for (const RegisterPair& p : DecodeRegisterPairs(*adu)) FloatFromWords(p.high, p.low);
      for (const Request& r : requests) {
        CheckReply(r, *adu);
        EchoMatches(r, *adu);
      }
    }
  }
  std::string text(input.begin(), input.end());
  std::string lrc = MakeLRC(text);
  ASSERT_EQ(lrc.size(), 2u);
  EXPECT_TRUE(HexByte(static_cast<std::uint8_t>(lrc[0]), static_cast<std::uint8_t>(lrc[1])).has_value());
  HexValue(text);
}

TEST(FramingFuzz, RandomInputOnlyReturns) {
  Random random(20240611);
  std::vector<Request> requests;
  for (int i = 0; i < 8; ++i) requests.push_back(random.AnyRequest());
  requests.push_back(ReadRequest(1, 3, 0, 0));
  requests.push_back(ReadRequest(1, 7, 0, 1));  // a request that awaits nothing
  for (int i = 0; i < 3000; ++i) {
    Bytes input;
    switch (i % 3) {
      case 0: input = random.Garbage(); break;
      case 1: input = random.Mutated(EncodeRequest(random.AnyRequest(), random.Pick(Framings)).frame); break;
      default: {
        auto reply = ReadRegistersReply(1, 3, std::vector<std::uint16_t>(static_cast<std::size_t>(random.Int(0, 20))));
        input = random.Mutated(BuildFrame(*reply, random.Pick(Framings)));
      }
    }
    ExerciseEverything(input, requests);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// Builds the slave's answer to a parsed request from arbitrary image values.
Adu AnswerOf(const SlaveRequest& request, const Request& asked, Random& random) {
  if (IsBitRead(request.function)) {
    std::vector<std::uint8_t> points(request.count);
    for (auto& p : points) p = static_cast<std::uint8_t>(random.Int(0, 1));
    return *ReadBitsReply(request.unit, request.function, points);
  }
  if (IsRegisterRead(request.function)) {
    std::vector<std::uint16_t> registers(std::size_t{request.count} * asked.bytesPerValue / 2);
    for (auto& r : registers) r = static_cast<std::uint16_t>(random.Int(0, 65535));
    return *ReadRegistersReply(request.unit, request.function, registers);
  }
  return WriteEchoReply(request);
}

TEST(FramingFuzz, RandomRequestsRoundTripThroughBackToBackStreams) {
  Random random(7);
  for (int i = 0; i < 1500; ++i) {
    Framing framing = random.Pick(Framings);
    Request asked = random.AnyRequest();
    EncodedRequest sent = EncodeRequest(asked, framing);
    ASSERT_TRUE(sent) << EncodeErrorText(sent.error);
    ASSERT_EQ(ParseFrame(sent.frame, framing).adu, sent.adu);

    // The slave takes exactly one request off a stream where another follows at once.
    Bytes stream = sent.frame;
    stream.insert(stream.end(), sent.frame.begin(), sent.frame.end());
    std::size_t pos = 0;
    auto frame = Collect(stream, pos, [&](ByteView r) { return RequestUnitsStillNeeded(r, framing); });
    ASSERT_TRUE(frame.has_value());
    ASSERT_EQ(*frame, sent.frame);
    ParsedRequest parsed = ParseRequest(ParseFrame(*frame, framing).adu);
    ASSERT_TRUE(parsed) << RequestErrorText(parsed.error);
    EXPECT_EQ(parsed.request.offset, asked.offset);
    if (IsMultipleWrite(asked.function)) {
      EXPECT_TRUE(std::equal(asked.values.begin(), asked.values.end(), parsed.request.values.begin(),
                             parsed.request.values.end()));
    }

    // The master takes exactly one reply, normal or exception, off a stream with noise after it.
    bool exception = random.Int(0, 4) == 0;
    Adu answer = exception ? ExceptionReply(parsed.request.unit, asked.function, ex::ServerDeviceFailure)
                           : AnswerOf(parsed.request, asked, random);
    Bytes replyFrame = BuildFrame(answer, framing);
    Bytes replyStream = replyFrame;
    for (int k = 0; k < 300; ++k) replyStream.push_back(random.Byte());
    pos = 0;
    auto reply = Collect(replyStream, pos, [&](ByteView r) { return ReplyUnitsStillNeeded(asked, r, framing); });
    ASSERT_TRUE(reply.has_value());
    ASSERT_EQ(*reply, replyFrame);
    if (!exception) {
      ASSERT_EQ(reply->size(), ExpectedLength(asked, framing));
    }
    ParsedFrame checked = ParseFrame(*reply, framing);
    ASSERT_TRUE(checked);
    EXPECT_EQ(CheckReply(asked, checked.adu), exception ? ReplyError::Exception : ReplyError::None);
    if (!exception && IsRegisterRead(asked.function)) {
      EXPECT_EQ(Bytes(ReplyData(checked.adu).begin(), ReplyData(checked.adu).end()),
                Bytes(answer.data.begin() + 1, answer.data.end()));
    }
    if (!exception && IsBitRead(asked.function)) {
      std::vector<std::uint8_t> points = DecodeBits(checked.adu);
      EXPECT_GE(points.size(), static_cast<std::size_t>(asked.count));
    }
    if (!exception && !IsRead(asked.function)) {
      EXPECT_TRUE(EchoMatches(asked, checked.adu));
    }
  }
}

}  // namespace
}  // namespace plc::modbus
