// plclink poll against a slave on a tty line that loses a reply: the lost read is printed, its
// reply arriving late is not taken for the next read's, and poll exits 1.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "tests/support/PlclinkCommand.h"
#include "tests/support/Pty.h"

namespace plc::test {
namespace {

using namespace std::chrono_literals;

const PtyBytes kReply111 = {0x01, 0x03, 0x02, 0x00, 0x6F, 0xF8, 0x68};
const PtyBytes kReply222 = {0x01, 0x03, 0x02, 0x00, 0xDE, 0x38, 0x1C};

TEST(PlclinkPoll, ALostReplyIsPrintedItsLateReplyIsDroppedAndPollFails) {
  Pty pty;
  // The slave: the first reply comes 2.5 s late, after poll gave up on it; the second at once.
  auto slave = std::async(std::launch::async, [&pty] {
    PtyBytes first = pty.Read(8, 5s);
    std::this_thread::sleep_for(2500ms);
    pty.Write(kReply111);
    PtyBytes second = pty.Read(8, 5s);
    pty.Write(kReply222);
    return first.size() == 8 && second.size() == 8;
  });
  auto start = std::chrono::steady_clock::now();
  RunResult r = RunPlclink({"rtulink", "--port", pty.DevicePath(), "--settings", "9600,n,8,1", "--json", "poll",
                            "40001", "--interval", "3000", "--times", "2"});
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(slave.get());
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  std::vector<nlohmann::json> lines = JsonLines(r);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[0]["lost"], "ReadPLCNW");
  EXPECT_EQ(lines[0]["address"], "40001");
  EXPECT_EQ(lines[1]["event"], "CommCompleteEx");
  EXPECT_EQ(lines[1]["MData"], (nlohmann::json{222}));
  EXPECT_NE(r.err.find("ReadPLCNW 40001 failed: no reply from unit 1 within 2 s"), std::string::npos) << r.err;
  EXPECT_GE(took, 2900ms);
  EXPECT_LT(took, 6s);
}

// After a lost read the next one waits in its call for the line to fall silent (about 1 s);
// its 2 s for the reply start when it went out, not when poll called: a reply 1.4 s after the
// request is the read's values, not a second lost read.
TEST(PlclinkPoll, TheReplyTimeStartsWhenTheRequestWentOutNotWhenItsCallBegan) {
  Pty pty;
  auto slave = std::async(std::launch::async, [&pty] {
    PtyBytes first = pty.Read(8, 5s);  // left unanswered
    PtyBytes second = pty.Read(8, 6s);
    std::this_thread::sleep_for(1400ms);
    pty.Write(kReply222);
    return first.size() == 8 && second.size() == 8;
  });
  RunResult r = RunPlclink({"rtulink", "--port", pty.DevicePath(), "--settings", "9600,n,8,1", "--json", "poll",
                            "40001", "--interval", "100", "--times", "2"});
  EXPECT_TRUE(slave.get());
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  std::vector<nlohmann::json> lines = JsonLines(r);
  ASSERT_EQ(lines.size(), 2u) << r.out << r.err;
  EXPECT_EQ(lines[0]["lost"], "ReadPLCNW");
  EXPECT_EQ(lines[1]["event"], "CommCompleteEx") << r.out;
  EXPECT_EQ(lines[1]["MData"], (nlohmann::json{222})) << r.out;
}

TEST(PlclinkPoll, UnansweredPollsEndWithStatus1AndEachIsPrinted) {
  Pty pty;
  RunResult r = RunPlclink({"rtulink", "--port", pty.DevicePath(), "--settings", "9600,n,8,1", "poll", "40001",
                            "--interval", "100", "--times", "2"});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  std::vector<std::string> lines = r.OutLines();
  ASSERT_EQ(lines.size(), 2u) << r.out;
  // Each says why it failed, as the control knows it.
  for (const std::string& line : lines) EXPECT_NE(line.find("ReadPLCNW 40001: failed"), std::string::npos) << line;
  EXPECT_NE(r.err.find("ReadPLCNW 40001 failed: no reply from unit 1 within 2 s"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace plc::test
