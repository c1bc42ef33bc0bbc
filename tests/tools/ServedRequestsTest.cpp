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

}  // namespace
}  // namespace plc::plclink
