// Pseudo-random input for every parser and length function (they must only return, which the
// sanitizer build watches), and random requests carried master -> slave -> master through
// streams where something follows each frame at once.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "modbus/AsciiFrame.h"
#include "modbus/Frame.h"
#include "modbus/Replies.h"
#include "modbus/Requests.h"
#include "modbus/SlaveRequests.h"

namespace plc::modbus {
namespace {

std::mt19937& Engine() {
  thread_local std::mt19937 engine(20240611);
  return engine;
}
int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(Engine()); }
std::uint8_t Byte() { return static_cast<std::uint8_t>(Int(0, 255)); }
Framing AnyFraming() { return Int(0, 1) ? Framing::Ascii : Framing::Rtu; }

Request AnyRequest() {
  const std::uint8_t functions[] = {1, 2, 3, 4, 5, 6, 15, 16};
  std::uint8_t function = functions[Int(0, 7)];
  int unit = Int(0, 255), offset = Int(0, 65535);
  if (IsBitRead(function)) return ReadRequest(unit, function, offset, Int(1, 2000));
  if (IsRegisterRead(function)) {
    return Int(0, 3) ? ReadRequest(unit, function, offset, Int(1, 125)) : ReadRequest(unit, function, offset, Int(1, 63), 4);
  }
  if (IsSingleWrite(function)) return SingleWriteRequest(unit, function, offset, Int(0, 65535));
  std::vector<std::int32_t> values(static_cast<std::size_t>(Int(1, function == 15 ? 1968 : 123)));
  for (auto& v : values) v = function == 15 ? Int(0, 1) : Int(0, 65535);
  return MultipleWriteRequest(unit, function, offset, values);
}

// Random bytes, random frame-like text, or a good frame with one unit changed, added or lost.
Bytes AnyInput() {
  static const char alphabet[] = ":0123456789ABCDEFabcdefG \r\n";
  Bytes out = EncodeRequest(AnyRequest(), AnyFraming()).frame;
  auto at = static_cast<std::ptrdiff_t>(Int(0, static_cast<int>(out.size()) - 1));
  switch (Int(0, 4)) {
    case 0: out.assign(static_cast<std::size_t>(Int(0, 300)), 0); for (auto& b : out) b = Byte(); break;
    case 1: out.assign(static_cast<std::size_t>(Int(0, 300)), ':'); for (auto& b : out) b = alphabet[Int(1, 26)]; break;
    case 2: out[static_cast<std::size_t>(at)] = Byte(); break;
    case 3: out.insert(out.begin() + at, Byte()); break;
    default: out.resize(static_cast<std::size_t>(at)); break;
  }
  return out;
}

TEST(FramingFuzz, RandomInputOnlyReturns) {
  std::vector<Request> requests = {AnyRequest(), AnyRequest(), AnyRequest(), AnyRequest(), ReadRequest(1, 7, 0, 1)};
  for (int i = 0; i < 3000; ++i) {
    Bytes input = AnyInput();
    for (Framing framing : {Framing::Rtu, Framing::Ascii}) {
      EXPECT_LE(RequestFrameLength(input, framing), FrameLength(7 + 255, framing));
      for (const Request& r : requests) {
        EXPECT_LE(ReplyFrameLength(r, input, framing), std::max(FrameLength(3 + 255, framing), ExpectedLength(r, framing)));
      }
      ParsedFrame parsed = ParseFrame(input, framing);
      std::optional<Adu> raw = Adu::FromBytes(input);
      for (const Adu* adu : {parsed ? &parsed.adu : nullptr, raw ? &*raw : nullptr}) {
        if (!adu) continue;
        ParseRequest(*adu);
        DecodeRegisters(*adu);
        DecodeBits(*adu);
        for (const RegisterPair& p : DecodeRegisterPairs(*adu)) FloatFromWords(p.high, p.low);
        for (const Request& r : requests) CheckReply(r, *adu), EchoMatches(r, *adu);
      }
    }
    std::string lrc = MakeLRC(std::string(input.begin(), input.end()));
    ASSERT_TRUE(lrc.size() == 2 && HexByte(lrc[0], lrc[1]));
  }
}

// Takes one frame off the front of stream, reading as many units as stillNeeded asks each time,
// as a receiver on a port does. Nothing when the stream runs dry first.
std::optional<Bytes> Collect(const Bytes& stream, const std::function<std::size_t(ByteView)>& stillNeeded) {
  Bytes frame;
  for (std::size_t n = stillNeeded(frame); n > 0; n = stillNeeded(frame)) {
    if (frame.size() + n > stream.size()) return std::nullopt;
    frame.insert(frame.end(), stream.begin() + static_cast<std::ptrdiff_t>(frame.size()),
                 stream.begin() + static_cast<std::ptrdiff_t>(frame.size() + n));
  }
  return frame;
}

TEST(FramingFuzz, RandomRequestsRoundTrip) {
  for (int i = 0; i < 1500; ++i) {
    Framing framing = AnyFraming();
    Request asked = AnyRequest();
    EncodedRequest sent = EncodeRequest(asked, framing);
    ASSERT_TRUE(sent);
    Bytes stream = sent.frame;
    stream.insert(stream.end(), sent.frame.begin(), sent.frame.end());  // the next request at once
    auto request = Collect(stream, [&](ByteView r) { return RequestUnitsStillNeeded(r, framing); });
    ASSERT_EQ(request, sent.frame);
    ParsedRequest parsed = ParseRequest(ParseFrame(*request, framing).adu);
    ASSERT_TRUE(parsed) << RequestErrorText(parsed.error);
    ASSERT_EQ(parsed.request.offset, asked.offset);
    if (IsMultipleWrite(asked.function)) {
      ASSERT_EQ(std::vector<std::int32_t>(parsed.request.values.begin(), parsed.request.values.end()), asked.values);
    }

    const SlaveRequest& r = parsed.request;
    bool exception = Int(0, 4) == 0;
    std::vector<std::uint16_t> image(std::size_t{r.count} * asked.bytesPerValue / 2);
    for (auto& v : image) v = static_cast<std::uint16_t>(IsBitRead(r.function) ? Int(0, 1) : Int(0, 65535));
    std::vector<std::uint8_t> points(image.begin(), image.end());
    Adu answer = exception                  ? ExceptionReply(r.unit, r.function, ex::ServerDeviceFailure)
                 : IsBitRead(r.function)      ? *ReadBitsReply(r.unit, r.function, points)
                 : IsRegisterRead(r.function) ? *ReadRegistersReply(r.unit, r.function, image)
                                              : WriteEchoReply(r);
    Bytes replyFrame = BuildFrame(answer, framing);
    stream = replyFrame;
    for (int k = 0; k < 300; ++k) stream.push_back(Byte());  // noise after the reply
    auto reply = Collect(stream, [&](ByteView b) { return ReplyUnitsStillNeeded(asked, b, framing); });
    ASSERT_EQ(reply, replyFrame);
    ParsedFrame checked = ParseFrame(*reply, framing);
    ASSERT_EQ(CheckReply(asked, checked.adu), exception ? ReplyError::Exception : ReplyError::None);
    if (exception) continue;
    ASSERT_EQ(reply->size(), ExpectedLength(asked, framing));
    if (IsRegisterRead(r.function)) {
      ASSERT_EQ(DecodeRegisters(checked.adu), image);
    } else if (IsBitRead(r.function)) {
      std::vector<std::uint8_t> decoded = DecodeBits(checked.adu);
      ASSERT_GE(decoded.size(), points.size());
      decoded.resize(points.size());
      ASSERT_EQ(decoded, points);
    } else {
      ASSERT_TRUE(EchoMatches(asked, checked.adu));
    }
  }
}

}  // namespace
}  // namespace plc::modbus
