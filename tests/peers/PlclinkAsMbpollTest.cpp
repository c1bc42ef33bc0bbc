// plclink doing what mbpoll's users do with it, against the libmodbus server and mbpoll:
// register words printed as integers, hex, IEEE-754 floats and 32-bit integers in either word
// order; poll keeping one request on the line while the slave answers late; serve starting
// from a preloaded image and printing each request.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "tests/platform/TempFolder.h"
#include "tests/support/PlclinkCommand.h"
#include "tests/support/Pty.h"

namespace plc::test {
namespace {

std::vector<std::string> Args(const std::string& device, std::vector<std::string> tail) {
  std::vector<std::string> args{"rtulink", "-p", device, "-b", "9600", "-P", "none", "-a", "1"};
  args.insert(args.end(), tail.begin(), tail.end());
  return args;
}

TEST(PlclinkAsMbpoll, FormatsRegisterWordsAsMbpollDoes) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));
  // 0x4148 0x0000 is 12.5 as an IEEE single, high word first; the other order beside it.
  RunResult w = RunPlclink(Args(line.PathB(), {"write", "40101", "0x4148", "0", "0", "0x4148"}));
  ASSERT_EQ(w.exitCode, 0) << w.err;
  struct Case {
    std::vector<std::string> tail;
    std::string out;
  };
  const Case cases[] = {
      {{"read", "40101", "--format", "float"}, "12.5\n"},
      {{"read", "40103", "--format", "float", "--word-order", "low"}, "12.5\n"},
      {{"read", "40101", "2", "--format", "hex"}, "0x4148 0x0000\n"},
      {{"read", "47001", "3", "--format", "float"}, "1.5 -2.25 1000.125\n"},
      {{"read", "45001", "3", "--format", "int32"}, "65538 -2 1234567\n"},
      {{"read", "45001", "1", "--format", "int32", "--word-order", "low"}, "131073\n"},
      {{"read", "40021", "3", "--format", "int"}, "-1 -100 -32768\n"},
      {{"read", "40021", "3", "--format", "uint"}, "65535 65436 32768\n"},
  };
  for (const Case& c : cases) {
    RunResult r = RunPlclink(Args(line.PathB(), c.tail));
    EXPECT_EQ(r.exitCode, 0) << ::testing::PrintToString(c.tail) << r.err;
    EXPECT_EQ(r.out, c.out) << ::testing::PrintToString(c.tail);
  }
  RunResult j = RunPlclink(Args(line.PathB(), {"--json", "read", "40101", "--format", "float"}));
  ASSERT_EQ(j.exitCode, 0) << j.err;
  nlohmann::json read = JsonLines(j).at(0);
  EXPECT_EQ(read["ok"], true);
  EXPECT_EQ(read["values"], (nlohmann::json{12.5}));
  // The completion event of a poll in the same format.
  RunResult p = RunPlclink(Args(line.PathB(), {"--json", "poll", "47001", "2", "--format", "float", "--times", "1"}));
  ASSERT_EQ(p.exitCode, 0) << p.err;
  nlohmann::json event = JsonLines(p).at(0);
  EXPECT_EQ(event["MData"], (nlohmann::json{1.5, -2.25}));
  EXPECT_EQ(event["quan"], 2);
}

TEST(PlclinkAsMbpoll, PollNeverHasTwoRequestsOnTheLine) {
  PtyLink line;
  // 49001 (offset 9000): the server answers 300 ms late, six times the poll interval.
  PeerProcess server(RtuServerCommand({line.PathA(), "--late-ms", "300"}));
  RunResult r = RunPlclink(Args(line.PathB(), {"--trace", "--json", "poll", "49001", "1", "--interval", "50", "--times", "3"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<nlohmann::json> events = JsonLines(r);
  ASSERT_EQ(events.size(), 3u) << r.out;
  for (const nlohmann::json& e : events) EXPECT_EQ(e["MData"], (nlohmann::json{9000})) << e;
  // On the line: a request, its answer, the next request, never two requests in a row.
  std::istringstream err(r.err);
  std::string order;
  for (std::string l; std::getline(err, l);) {
    if (l.find(" TX ") != std::string::npos) order += 'T';
    else if (l.find(" RX ") != std::string::npos && (order.empty() || order.back() != 'R')) order += 'R';
  }
  EXPECT_EQ(order, "TRTRTR") << r.err;
}

TEST(PlclinkAsMbpoll, ServeStartsFromItsPreloadedImageAndPrintsEachRequest) {
  plc::testing::TempFolder folder;
  std::string image = folder.File("image.txt");
  std::ofstream(image) << "# holding registers from 40020, and coil 3\n40020 500 501 65535\n00003 1\n";
  PtyLink line;
  PeerProcess slave(PlclinkCommand(
      Args(line.PathB(), {"serve", "--load", image, "--set", "40001=11", "--set", "40021=7", "--times", "3"})));
  EXPECT_NE(slave.ReadyLine().find("5 values preloaded"), std::string::npos) << slave.ReadyLine();
  const std::vector<std::string> mb = {"-m", "rtu", "-a", "1", "-b", "9600", "-P", "none", "-1"};
  auto Mbpoll = [&](std::vector<std::string> args) {
    std::vector<std::string> all = mb;
    all.insert(all.end(), args.begin(), args.end());
    all.push_back(line.PathA());
    return RunProgram(MbpollCommand(all), std::chrono::seconds(20));
  };
  RunResult r = Mbpoll({"-t", "4", "-r", "19", "-c", "4"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[19]: \t0\n[20]: \t500\n[21]: \t7\n[22]: \t65535"), std::string::npos) << r.out;
  r = Mbpoll({"-t", "0", "-r", "1", "-c", "3"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[1]: \t0\n[2]: \t0\n[3]: \t1"), std::string::npos) << r.out;
  r = Mbpoll({"-t", "4", "-r", "1"});
  EXPECT_NE(r.out.find("[1]: \t11"), std::string::npos) << r.out;

  EXPECT_NE(slave.WaitForLine("20", std::chrono::seconds(5)).find(" unit 1 holding registers 40019..40022 read: 0 500 7 65535"),
            std::string::npos);
  EXPECT_NE(slave.WaitForLine("20", std::chrono::seconds(5)).find(" unit 1 coils 00001..00003 read: 0 0 1"),
            std::string::npos);
  EXPECT_NE(slave.WaitForLine("20", std::chrono::seconds(5)).find(" unit 1 holding registers 40001 read: 11"),
            std::string::npos);
  int status = slave.Stop();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The Modbus maxima and the exception reply come from the slave engine (RtuLink's slave
// mode); serve shows both as a master sees them.
TEST(PlclinkAsMbpoll, ServeAnswers125RegistersAndAnExceptionBeyondTheImage) {
  PtyLink line;
  PeerProcess slave(PlclinkCommand(Args(line.PathB(), {"serve", "--set", "40001=1", "--set", "40125=125", "--times", "2"})));
  const std::vector<std::string> mb = {"-m", "rtu", "-a", "1", "-b", "9600", "-P", "none", "-1", "-t", "4"};
  std::vector<std::string> all = mb;
  all.insert(all.end(), {"-r", "1", "-c", "125", line.PathA()});
  RunResult r = RunProgram(MbpollCommand(all), std::chrono::seconds(20));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[1]: \t1\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[125]: \t125\n"), std::string::npos) << r.out;
  // References 49991..50010 run past the image's last element (50000).
  all = mb;
  all.insert(all.end(), {"-r", "9991", "-c", "20", line.PathA()});
  r = RunProgram(MbpollCommand(all), std::chrono::seconds(20));
  EXPECT_NE((r.out + r.err).find("Illegal data address"), std::string::npos) << r.out << r.err;

  EXPECT_NE(slave.WaitForLine("20", std::chrono::seconds(5)).find("holding registers 40001..40125 read: 1 0"),
            std::string::npos);
  EXPECT_NE(slave.WaitForLine("20", std::chrono::seconds(5))
                .find("holding registers 49991..50010 refused: exception 2 (illegal data address)"),
            std::string::npos);
}

}  // namespace
}  // namespace plc::test
