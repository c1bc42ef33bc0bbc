// RtuLink as a slave in SlaveAscii answering the pymodbus ASCII master: single and multiple
// writes of registers and coils read back, a coil switched off again, and a request long
// enough to arrive in many pieces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/peers/SlaveOnLine.h"

namespace plc::test {
namespace {

RunResult RunAsciiMaster(SlaveOnLine& slave, const std::string& device, std::vector<std::string> steps) {
  std::vector<std::string> args{device, "--baud", "9600", "--timeout-ms", "1000"};
  args.insert(args.end(), steps.begin(), steps.end());
  return slave.Serve(AsciiClientCommand(args));
}

TEST(RtuLinkSlaveAsciiPeer, PymodbusWritesRegistersAndCoilsAndReadsThemBack) {
  PtyLink line;
  SlaveOnLine slave(line.PathB(), rtu::SlaveAscii, "9600,n,8,1");
  RunResult r = RunAsciiMaster(slave, line.PathA(),
                               {"w6:9:42", "w16:100:1,65535,32768,7", "w5:3:1", "w15:10:1,0,1,1,0,0,1,1,1,0",
                                "r3:9:1", "r3:100:4", "r1:3:1", "r1:10:10", "w5:3:0", "r1:3:1", "r3:104:1"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<std::string> lines = r.OutLines();
  ASSERT_EQ(lines.size(), 11u) << r.out;
  EXPECT_EQ(lines[0], "OK w6 9 42");
  EXPECT_EQ(lines[1], "OK w16 100 4");
  EXPECT_EQ(lines[2], "OK w5 3 1");
  EXPECT_EQ(lines[3], "OK w15 10 10");
  EXPECT_EQ(lines[4], "OK r3 9 42");
  EXPECT_EQ(lines[5], "OK r3 100 1 65535 32768 7");
  EXPECT_EQ(lines[6], "OK r1 3 1");
  EXPECT_EQ(lines[7], "OK r1 10 1 0 1 1 0 0 1 1 1 0");
  EXPECT_EQ(lines[8], "OK w5 3 0");
  EXPECT_EQ(lines[9], "OK r1 3 0");
  EXPECT_EQ(lines[10], "OK r3 104 0");  // the register after the block stays untouched
  EXPECT_EQ(slave.Image(40101), 1);
  EXPECT_EQ(slave.Image(4), 0);
  EXPECT_EQ(slave.functions, (std::vector<std::int32_t>{6, 16, 5, 15, 3, 3, 1, 1, 5, 1, 3}));
}

TEST(RtuLinkSlaveAsciiPeer, LongMultipleWriteAndItsReadBackAreServedWhole) {
  PtyLink line;
  SlaveOnLine slave(line.PathB(), rtu::SlaveAscii, "9600,n,8,1");
  // 40 registers: a request of 175 characters and a reply of 171.
  std::string values;
  std::string expected = "OK r3 2000";
  for (int k = 0; k < 40; ++k) {
    int v = (k * 1637 + 11) % 65536;
    values += (k ? "," : "") + std::to_string(v);
    expected += " " + std::to_string(v);
  }
  RunResult r = RunAsciiMaster(slave, line.PathA(), {"w16:2000:" + values, "r3:2000:40"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<std::string> lines = r.OutLines();
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[0], "OK w16 2000 40");
  EXPECT_EQ(lines[1], expected);
}

}  // namespace
}  // namespace plc::test
