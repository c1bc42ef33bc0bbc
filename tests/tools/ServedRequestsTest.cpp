// What serve prints of a request and its answer, read from the bytes on the line: each of
// several requests that arrived together in turn, exceptions named, ASCII frames found behind
// noise, and bytes that are no request described instead of read past.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/Frame.h"
#include "tools/plclink/ServedRequests.h"

namespace plc::plclink {
namespace {

using modbus::Framing;

// One frame of unit 1, with its check, as the framing sends it.
std::vector<std::uint8_t> Frame(std::uint8_t function, std::vector<std::uint8_t> data, Framing framing = Framing::Rtu) {
  return modbus::BuildFrame(modbus::Adu{1, function, std::move(data)}, framing);
}

void Received(ServedRequests& s, const std::vector<std::uint8_t>& bytes) { s.Received(bytes.data(), bytes.size()); }
void Sent(ServedRequests& s, const std::vector<std::uint8_t>& bytes) { s.Sent(bytes.data(), bytes.size()); }

template <class... Parts>
std::vector<std::uint8_t> Joined(const Parts&... parts) {
  std::vector<std::uint8_t> all;
  (all.insert(all.end(), parts.begin(), parts.end()), ...);
  return all;
}

TEST(ServedRequests, RequestsThatArrivedTogetherAreTakenOneByOneWithTheirAnswers) {
  ServedRequests s(false);
  // Read 40001..40002, then write 7 8 to 40101..40102; the answers in the same order.
  Received(s, Joined(Frame(3, {0, 0, 0, 2}), Frame(16, {0, 100, 0, 2, 4, 0, 7, 0, 8})));
  Sent(s, Joined(Frame(3, {4, 0, 101, 0, 202}), Frame(16, {0, 100, 0, 2})));
  EXPECT_EQ(Describe(s.Take()), "unit 1 holding registers 40001..40002 read: 101 202");
  EXPECT_EQ(Describe(s.Take()), "unit 1 holding registers 40101..40102 written: 7 8");
  EXPECT_EQ(Describe(s.Take()), "request not served: no request bytes seen");
}

TEST(ServedRequests, ExceptionsCoilsAndAsciiBehindNoise) {
  ServedRequests rtu(false);
  // Input registers from offset 9990, 20 of them: answered with exception 2.
  Received(rtu, Frame(4, {0x27, 0x06, 0, 20}));
  Sent(rtu, Frame(0x84, {2}));
  EXPECT_EQ(Describe(rtu.Take()), "unit 1 input registers 39991..40010 refused: exception 2 (illegal data address)");
  // Coil 5 (offset 4) switched on, echoed; three coils read back.
  Received(rtu, Joined(Frame(5, {0, 4, 0xFF, 0}), Frame(1, {0, 2, 0, 3})));
  Sent(rtu, Joined(Frame(5, {0, 4, 0xFF, 0}), Frame(1, {1, 0b100})));
  EXPECT_EQ(Describe(rtu.Take()), "unit 1 coils 00005 written: 1");
  EXPECT_EQ(Describe(rtu.Take()), "unit 1 coils 00003..00005 read: 0 0 1");
  // A write whose byte count disagrees with its quantity, refused; the read after it is told
  // with its own answer, not with that refusal.
  Received(rtu, Joined(Frame(16, {0, 0, 0, 2, 2, 0, 1}), Frame(3, {0, 0, 0, 1})));
  Sent(rtu, Joined(Frame(0x90, {3}), Frame(3, {2, 0, 7})));
  EXPECT_EQ(Describe(rtu.Take()), "unit 1 holding registers 40001..40002 refused: exception 3 (illegal data value)");
  EXPECT_EQ(Describe(rtu.Take()), "unit 1 holding registers 40001 read: 7");

  ServedRequests ascii(true);
  const std::string noise = "\x01\x13junk";
  Received(ascii, Joined(noise, Frame(3, {0, 0, 0, 1}, Framing::Ascii)));
  Sent(ascii, Frame(3, {2, 0, 101}, Framing::Ascii));
  EXPECT_EQ(Describe(ascii.Take()), "unit 1 holding registers 40001 read: 101");
  // Noise without a whole frame, and a frame cut short: described, nothing read past the end.
  Received(ascii, Joined(noise, std::string(":0103")));
  EXPECT_FALSE(ascii.Take().problem.empty());
  ServedRequests cut(false);
  Received(cut, {0x01, 0x10, 0x00, 0x00, 0x00, 0x7B, 0xF6});
  EXPECT_FALSE(cut.Take().problem.empty());
}

// The slave skips noise and frames it cannot read and serves what follows: each event is told
// the request the slave served, in step with it however the bytes before it looked.
TEST(ServedRequests, KeepsInStepWithTheSlavePastNoiseAndShortFrames) {
  ServedRequests s(false);
  const std::vector<std::uint8_t> read = Frame(3, {0, 0, 0, 1});
  const std::vector<std::uint8_t> answer = Frame(3, {2, 0x04, 0xD2});
  // Noise before a read: one event for the noise, then the read with its answer.
  Received(s, Joined(std::vector<std::uint8_t>{0xFF, 0x00, 0xA5}, read));
  EXPECT_FALSE(s.Take().problem.empty());
  Sent(s, answer);
  EXPECT_EQ(Describe(s.Take()), "unit 1 holding registers 40001 read: 1234");
  // A four-byte request of a function the slave does not serve, then a read.
  Received(s, Joined(modbus::BuildFrame(modbus::Adu{1, 7, {}}, Framing::Rtu), read));
  EXPECT_FALSE(s.Take().problem.empty());
  Sent(s, answer);
  EXPECT_EQ(Describe(s.Take()), "unit 1 holding registers 40001 read: 1234");
  // A request for another unit goes unanswered; the next read is told with its own answer.
  Received(s, modbus::BuildFrame(modbus::Adu{2, 6, {0, 0, 0, 1}}, Framing::Rtu));
  EXPECT_EQ(Describe(s.Take()), "unit 2 holding registers 40001 write not answered");
  Received(s, Frame(3, {0, 0, 0, 2}));
  Sent(s, Frame(3, {4, 0x04, 0xD2, 0, 0}));
  EXPECT_EQ(Describe(s.Take()), "unit 1 holding registers 40001..40002 read: 1234 0");

  // ASCII: a frame without its line feed is cut off by the next colon, noise goes unreported.
  ServedRequests ascii(true);
  const std::vector<std::uint8_t> asciiRead = Frame(3, {0, 0, 0, 1}, Framing::Ascii);
  Received(ascii, std::vector<std::uint8_t>(asciiRead.begin(), asciiRead.end() - 1));
  Received(ascii, Joined(std::string("noise"), asciiRead));
  EXPECT_FALSE(ascii.Take().problem.empty());
  Sent(ascii, Frame(3, {2, 0x04, 0xD2}, Framing::Ascii));
  EXPECT_EQ(Describe(ascii.Take()), "unit 1 holding registers 40001 read: 1234");
}

// With PLCType EnType2 the slave takes a request's address as the element itself, its kind
// the address div 1000 (1 bits, 3 words, 5 32-bit integers, 7 floats, each of these two
// registers); serve tells the addresses and values the slave used, not the standard tables'.
TEST(ServedRequests, Type2RequestsAreToldAtTheAddressesAndInTheKindsTheSlaveUses) {
  ServedRequests s(false, true);
  Received(s, Frame(6, {0x0B, 0xB8, 0, 42}));
  Sent(s, Frame(6, {0x0B, 0xB8, 0, 42}));
  EXPECT_EQ(Describe(s.Take()), "unit 1 words 3000 written: 42");
  // Two 32-bit values from 5000: four registers.
  Received(s, Frame(16, {0x13, 0x88, 0, 4, 8, 0xFF, 0xFF, 0xFF, 0xFE, 0, 1, 0, 0}));
  Sent(s, Frame(16, {0x13, 0x88, 0, 4}));
  EXPECT_EQ(Describe(s.Take()), "unit 1 32-bit integers 5000..5001 written: -2 65536");
  Received(s, Frame(3, {0x13, 0x88, 0, 2}));
  Sent(s, Frame(3, {8, 0xFF, 0xFF, 0xFF, 0xFE, 0, 1, 0, 0}));
  EXPECT_EQ(Describe(s.Take()), "unit 1 32-bit integers 5000..5001 read: -2 65536");
  Received(s, Frame(3, {0x1B, 0x58, 0, 1}));
  Sent(s, Frame(3, {4, 0x3F, 0xC0, 0, 0}));
  EXPECT_EQ(Describe(s.Take()), "unit 1 floats 7000 read: 1.5");
  Received(s, Frame(5, {0x03, 0xE8, 0xFF, 0}));
  Sent(s, Frame(5, {0x03, 0xE8, 0xFF, 0}));
  EXPECT_EQ(Describe(s.Take()), "unit 1 bits 1000 written: 1");
  Received(s, Frame(3, {0xC3, 0x51, 0, 1}));
  Sent(s, Frame(0x83, {2}));
  EXPECT_EQ(Describe(s.Take()), "unit 1 words 50001 refused: exception 2 (illegal data address)");
}

}  // namespace
}  // namespace plc::plclink
