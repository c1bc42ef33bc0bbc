// plclink demo's DfLink step: it passes against the simulated DF1 PLC with the frames shown,
// the injected bad check among them closed by three acknowledgements.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

#include "tests/support/PeerProcess.h"

namespace plc::test {
namespace {

TEST(PlclinkDemo, DfLinkPassesAgainstTheSimulatedDf1Plc) {
  RunResult r = RunProgram(PeerCommand{PLC_BINARY_DIR "/bin/plclink", {"demo"}, "build the plclink target"},
                           std::chrono::seconds(30));
  ASSERT_FALSE(r.timedOut) << r.out << r.err;
  EXPECT_NE(r.out.find("DfLink: PASS (6 steps)"), std::string::npos) << r.out;
  // The read of N7:0 x3 as it went out (its transaction number comes from the clock), and the
  // PLC's answer to that number with the doubled DLEs of 4112. A number of 16 (DLE) goes out
  // doubled.
  std::smatch read;
  ASSERT_TRUE(std::regex_search(r.out, read, std::regex("sent     10 02 01 00 0F 00 (10 10|[0-9A-F]{2}) 00 A2 06 07 89 00 00 10 03")))
      << r.out;
  EXPECT_TRUE(std::regex_search(
      r.out, std::regex("received 10 06\\n?.*10 02 00 01 4F 00 " + read[1].str() + " 00 0C 00 A7 FE 10 10 10 10 10 03")))
      << r.out;
  EXPECT_NE(r.out.find("sent     10 06 10 06 10 06"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace plc::test
