// The simulated DF1 PLC's own side of the protocol, which the control tests take on trust:
// it refuses a bad check with DLE NAK and answers missing files and elements with a status.
#include <gtest/gtest.h>

#include "df1/Frame.h"
#include "tools/plcsim/Df1SimPlc.h"

namespace plc {
namespace {

using df1::Bytes;

std::vector<sim::Df1Action> FeedAll(sim::Df1SimPlc& plc, const Bytes& wire) {
  std::vector<sim::Df1Action> out;
  for (std::uint8_t b : wire)
    for (auto& a : plc.Feed(b)) out.push_back(a);
  return out;
}

TEST(Df1Simulator, BadCheckIsRefusedWithDleNakAndMissingDataWithAStatus) {
  sim::Df1SimPlc plc(false);
  Bytes frame = *df1::StuffAndCheck(Bytes{1, 0, 0x0F, 0, 1, 0, 0xA2, 2, 7, 0x89, 0, 0}, 2);
  frame.back() ^= 0x01;
  auto nak = FeedAll(plc, frame);
  ASSERT_EQ(nak.size(), 1u);
  EXPECT_EQ(nak[0].bytes, Bytes({0x10, 0x15}));
  EXPECT_EQ(plc.RequestsSeen(), 0);

  for (Bytes request : {Bytes{1, 0, 0x0F, 0, 2, 0, 0xA2, 2, 20, 0x89, 0, 0},      // N20:0: no file 20
                        Bytes{1, 0, 0x0F, 0, 3, 0, 0xA2, 2, 7, 0x89, 0xFF, 0x2C, 0x01, 0}}) {  // N7:300
    auto answer = FeedAll(plc, *df1::StuffAndCheck(request, 2));
    ASSERT_EQ(answer.size(), 2u);
    EXPECT_EQ(answer[0].bytes, Bytes({0x10, 0x06}));
    EXPECT_EQ(answer[1].bytes[2 + 3], 0x50) << "STS of the reply";
  }
}

}  // namespace
}  // namespace plc
