// plclink udplink in a serial mode, fresh processes against the DirectNET station simulator on
// a pseudo-terminal: addresses are header addresses as they stand, writes and reads go through,
// a non-waiting poll reports its words, and a silent station fails with status 1.
#include <gtest/gtest.h>

#include "tests/support/PlclinkCommand.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/DirectNetSimulator.h"

namespace plc {
namespace {

TEST(PlclinkUdpSerial, WriteReadPollAndASilentStationInFreshProcesses) {
  test::PtyLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  auto run = [&](std::vector<std::string> args, const char* mode = "KSeq") {
    std::vector<std::string> all{"udplink", "--mode", mode, "--port", line.PathA(), "--settings", "9600,n,8,1",
                                 "--address", "1"};
    all.insert(all.end(), args.begin(), args.end());
    return test::RunPlclink(all);
  };

  auto write = run({"write", "1024", "7", "65535"});
  ASSERT_EQ(write.exitCode, 0) << write.out << write.err;
  EXPECT_EQ(station.Word(1, 1024), 7);
  EXPECT_EQ(station.Word(1, 1025), 65535);

  auto read = run({"read", "1024", "2"}, "DIrectNet");
  EXPECT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(read.out, "7 65535\n");

  auto poll = run({"poll", "1025", "1", "--times", "1", "--interval", "100"});
  EXPECT_EQ(poll.exitCode, 0) << poll.out << poll.err;
  EXPECT_NE(poll.out.find("65535"), std::string::npos) << poll.out;

  auto bit = run({"call", "WritePLCBit", "61443", "1"});
  EXPECT_EQ(bit.exitCode, 0) << bit.out << bit.err;
  EXPECT_EQ(station.Word(1, 0x4180), 0x0008);

  auto typed = run({"read", "V,2000"});
  EXPECT_EQ(typed.exitCode, 1) << "address strings are not read on this path";

  station.SetFault(sim::StationFault::NoAnswer);
  auto silent = run({"read", "1024"});
  EXPECT_EQ(silent.exitCode, 1) << silent.out << silent.err;
  EXPECT_NE(silent.err.find("ReadPLC failed with result 0"), std::string::npos) << silent.err;
}

}  // namespace
}  // namespace plc
