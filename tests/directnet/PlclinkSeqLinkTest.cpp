// The programs: plclink seqlink in fresh processes against the station simulator (read, write,
// poll and call each work with no earlier setup, a tag-like address fails with status 1), and
// plcsim directnet serving a device path until it is told to stop.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <string>

#include "tests/support/PeerProcess.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/DirectNetSimulator.h"

namespace plc {
namespace {

test::RunResult Plclink(const std::string& port, std::vector<std::string> args) {
  std::vector<std::string> all{"seqlink", "--port", port, "--settings", "9600,n,8,1", "--address", "1"};
  all.insert(all.end(), args.begin(), args.end());
  return test::RunProgram({std::string(PLC_BINARY_DIR) + "/bin/plclink", all, "build the plclink target"},
                          std::chrono::seconds(20));
}

TEST(PlclinkSeqLink, ReadWritePollAndCallInFreshProcesses) {
  test::PtyLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  station.SetWord(1, 0x0400, 12);
  station.SetWord(1, 0x0401, 3456);

  auto read = Plclink(line.PathA(), {"read", "V,2000", "2"});
  EXPECT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(read.out, "12 3456\n");

  auto write = Plclink(line.PathA(), {"write", "1;V,2000", "7", "8", "9"});
  EXPECT_EQ(write.exitCode, 0) << write.err;
  EXPECT_EQ(station.Word(1, 0x0402), 9);

  auto octal = Plclink(line.PathA(), {"read", "2000", "3"});
  EXPECT_EQ(octal.out, "7 8 9\n");

  auto poll = Plclink(line.PathA(), {"poll", "V,2001", "2", "--times", "2", "--interval", "100"});
  EXPECT_EQ(poll.exitCode, 0) << poll.err;
  auto lines = poll.OutLines();
  ASSERT_EQ(lines.size(), 4u) << poll.out;
  EXPECT_NE(lines[0].find("CommComplete"), std::string::npos);
  EXPECT_EQ(lines[1], "8 9");

  auto call = Plclink(line.PathA(), {"call", "WritePLCBit", "C,10", "1"});
  EXPECT_EQ(call.exitCode, 0) << call.err;
  EXPECT_EQ(station.Word(1, 0x4181) & 1, 1);

  auto tag = Plclink(line.PathA(), {"read", "V2000"});
  EXPECT_EQ(tag.exitCode, 1) << "V2000 alone is a tag name, and no tag is loaded";
}

TEST(PlcsimDirectNet, ServesADevicePathUntilTerminated) {
  test::PtyLink line;
  test::PeerProcess plcsim({std::string(PLC_BINARY_DIR) + "/bin/plcsim",
                            {"directnet", "--port", line.PathB(), "--station", "2", "--set", "0400=77"},
                            "build the plcsim target"});
  EXPECT_NE(plcsim.ReadyLine().find("station(s) 2"), std::string::npos);
  auto read = Plclink(line.PathA(), {"read", "2;V,2000"});
  EXPECT_EQ(read.out, "77\n") << read.err;
  auto write = Plclink(line.PathA(), {"write", "2;CT,5", "65535"});
  EXPECT_EQ(write.exitCode, 0) << write.err;
  auto back = Plclink(line.PathA(), {"read", "2;CT,5"});
  EXPECT_EQ(back.out, "65535\n") << back.err;
  auto other = Plclink(line.PathA(), {"read", "3;V,2000"});
  EXPECT_EQ(other.exitCode, 1) << "station 3 is not served";
  const int status = plcsim.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace plc
