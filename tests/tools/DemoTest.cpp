// plclink demo as a user runs it: every control that has a simulator passes, with what went on
// the wire shown, and the controls without one are named as skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "tests/support/PeerProcess.h"

namespace plc::test {
namespace {

bool HasLine(const RunResult& r, const std::string& line) {
  auto lines = r.OutLines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(PlclinkDemo, ControlsWithASimulatorPassAndTheOthersAreSkipped) {
  RunResult r = RunProgram(PeerCommand{PLC_BINARY_DIR "/bin/plclink", {"demo"}, "build the plclink target"},
                           std::chrono::seconds(30));
  ASSERT_FALSE(r.timedOut) << r.out << r.err;
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r, "RtuLink: PASS (7 steps)")) << r.out;
  EXPECT_EQ(r.out.find("MISMATCH"), std::string::npos) << r.out;
  // The read of 40001..40005 at unit 1 as it went out, and the simulated PLC's answer.
  EXPECT_TRUE(HasLine(r, "           sent     01 03 00 00 00 05 85 C9")) << r.out;
  EXPECT_TRUE(HasLine(r, "           received 01 03 0A 00 0C 01 59 12 34 9C 40 FF FF E5 FD")) << r.out;
  EXPECT_NE(r.out.find("MData(345 4660 40000) MAdd=40002 quan=3"), std::string::npos) << r.out;
  // SeqLink: the four blocks of a read of V2000 x4 at station 1, and the station's replies.
  EXPECT_TRUE(HasLine(r, "SeqLink: PASS (7 steps)")) << r.out;
  EXPECT_TRUE(HasLine(r, "           sent     01 40 01 04 00 04 17 41")) << r.out;
  EXPECT_TRUE(HasLine(r, "           received 06 02 21 40 04 00 04 0C 00 59 01 34 12 40 9C 03 CF")) << r.out;
  // UdpLink: seven ECOM steps, then four in KSeq mode, where 1024 is the header address itself.
  EXPECT_TRUE(HasLine(r, "UdpLink: PASS (11 steps)")) << r.out;
  EXPECT_TRUE(HasLine(r, "           sent     01 44 01 F0 08 17 BD")) << r.out;
}

}  // namespace
}  // namespace plc::test
