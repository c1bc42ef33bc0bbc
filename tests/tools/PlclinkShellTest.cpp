// plclink CONTROL shell: its line splitter, and several commands on one control in one process
// against the simulated slave, the port kept open between them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/PlclinkCommand.h"
#include "tests/support/Pty.h"
#include "tools/plclink/CommandLine.h"
#include "tools/plclink/Shell.h"
#include "tools/plclink/ShellLine.h"
#include "tools/plcsim/ModbusSimulator.h"

namespace plc::plclink {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(ShellLine, SplitsWordsAsAShellDoes) {
  EXPECT_THAT(SplitShellLine("  read 40001   2 ").words, ElementsAre("read", "40001", "2"));
  EXPECT_THAT(SplitShellLine("read '3;40001' \"a b\" c\\ d").words, ElementsAre("read", "3;40001", "a b", "c d"));
  EXPECT_THAT(SplitShellLine("read \"\" ''").words, ElementsAre("read", "", ""));
  EXPECT_THAT(SplitShellLine("read \"say \\\"hi\\\" \\\\ \\n\"").words, ElementsAre("read", "say \"hi\" \\ \\n"));
  EXPECT_THAT(SplitShellLine("write 40001 5 # a comment").words, ElementsAre("write", "40001", "5"));
  EXPECT_THAT(SplitShellLine("read a#b").words, ElementsAre("read", "a#b")) << "# inside a word is no comment";
  EXPECT_THAT(SplitShellLine("# only a comment").words, ElementsAre());
  EXPECT_THAT(SplitShellLine("call X\r").words, ElementsAre("call", "X")) << "a CRLF line";
  EXPECT_EQ(SplitShellLine("read 'open").error, "a ' is not closed");
  EXPECT_EQ(SplitShellLine("read \"open").error, "a \" is not closed");
  EXPECT_EQ(SplitShellLine("read \\").error, "the line ends in a backslash");
  EXPECT_EQ(SplitShellLine(std::string("read \0x", 7)).error, "the line holds a NUL byte");
  EXPECT_EQ(SplitShellLine(std::string("read \"\0b\"", 9)).error, "the line holds a NUL byte") << "inside quotes too";
  EXPECT_TRUE(SplitShellLine("read 'open").words.empty());
}

TEST(ShellLine, LinesThatWouldSetUpTheControlAgainAreRefused) {
  Options shell = ParseCommandLine({"rtulink", "--port", "/dev/null", "--json", "shell"});
  EXPECT_EQ(ShellLineOptions(shell, {"read", "40001"}).json, true) << "the shell's --json holds for its lines";
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"--port", "2", "read", "40001"}, {"--settings", "9600,e,8,1", "get", "Settings"},
        {"--bag", "x.ini", "get", "Address"}, {"shell"}}) {
    EXPECT_THROW(ShellLineOptions(shell, words), UsageError) << words[0];
  }
}

TEST(PlclinkShell, CommandsRunOneALineOnOneOpenControlAndTheWorstStatusIsReturned) {
  test::PtyLink line;
  sim::ModbusSimulator slave(sim::ModbusSimOptions{line.PathA(), 1, modbus::Framing::Rtu, "9600,n,8,1", 9999});
  {
    std::lock_guard<std::mutex> hold(slave.Slave().Lock());
    slave.Slave().Set(40001, 77);
  }
  const std::string script =
      "read 40001 2\n"
      "write 40002 5   # a comment\n"
      "read 40001 2 --json\n"
      "\n"
      "get Address\n"
      "set Address 3\n"
      "read 40001\n"            // unit 3 does not answer: a failure, and the line is freed
      "set Address 1\n"
      "read 40001 --format hex\n"
      "read \"unclosed\n"
      "read --help\n"
      "exit\n"
      "read 40001\n";          // after exit: not run
  test::RunResult r = test::RunProgram(
      test::PeerCommand{"/bin/sh", {"-c", "printf '%s' \"$0\" | \"$1\" rtulink --port \"$2\" shell", script, PLC_PLCLINK,
                                    line.PathB()}, "a POSIX shell"},
      std::chrono::seconds(30));
  EXPECT_EQ(r.exitCode, 2) << "an unclosed quote is the worst line";
  std::vector<std::string> out = r.OutLines();
  ASSERT_GE(out.size(), 7u) << r.out;
  EXPECT_EQ(out[0], "77 0");
  EXPECT_EQ(out[1], "{\"result\":-1,\"ok\":true,\"values\":[77,5],\"errors\":\"\"}");
  EXPECT_EQ(out[2], "1");
  EXPECT_EQ(out[3], "3");
  EXPECT_EQ(out[4], "1");
  EXPECT_EQ(out[5], "0x004D");
  EXPECT_THAT(out[6], HasSubstr("usage: plclink rtulink [options] read ADDRESS"));
  EXPECT_THAT(r.err, HasSubstr("plclink: ReadPLC failed with result 0: no reply from unit 3 within 2 s\n"));
  EXPECT_THAT(r.err, HasSubstr("plclink: a \" is not closed\n"));
  EXPECT_EQ(r.err.find("busy (966)"), std::string::npos) << r.err;
  std::lock_guard<std::mutex> hold(slave.Slave().Lock());
  EXPECT_EQ(slave.Slave().RequestsServed(), 4) << "the two reads, the write and the read in hex";
}

}  // namespace
}  // namespace plc::plclink
