// plclink as a process on a real tty line against programs this project did not write: reads
// and writes of the libmodbus RTU server (checked with its DUMP), the frames on the line as
// --trace shows them, a failing read's status and text, poll's events, and `serve` answering
// mbpoll and ending cleanly on SIGTERM.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <regex>
#include <sstream>

#include "tests/support/PlclinkCommand.h"
#include "tests/support/Pty.h"

namespace plc::test {
namespace {

const std::vector<std::string> kLine = {"--settings", "9600,n,8,1", "--address", "1"};

std::vector<std::string> Args(const std::string& device, std::vector<std::string> tail) {
  std::vector<std::string> args{"rtulink", "--port", device};
  args.insert(args.end(), kLine.begin(), kLine.end());
  args.insert(args.end(), tail.begin(), tail.end());
  return args;
}

std::string DumpLine(PeerProcess& server, const std::string& table, int start, int count) {
  std::string prefix = table + " " + std::to_string(start) + ":";
  return server.Request("DUMP " + table + " " + std::to_string(start) + " " + std::to_string(count), prefix);
}

TEST(PlclinkPeer, ReadsAndWritesTheLibmodbusServer) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));

  RunResult r = RunPlclink(Args(line.PathB(), {"read", "40001", "3"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "101 202 303\n");

  r = RunPlclink(Args(line.PathB(), {"--json", "write", "40101", "4321", "7", "65535"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(JsonLines(r).at(0)["result"], -1);
  EXPECT_EQ(DumpLine(server, "hr", 100, 4), "hr 100: 4321 7 65535 0");

  r = RunPlclink(Args(line.PathB(), {"--json", "read", "40101", "2"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  nlohmann::json read = JsonLines(r).at(0);
  EXPECT_EQ(read["result"], -1);
  EXPECT_EQ(read["values"], (nlohmann::json{4321, 7}));
  EXPECT_TRUE(read["errors"].is_string());

  // Fixed-point pairs through --io-type by label.
  r = RunPlclink(Args(line.PathB(), {"--io-type", "ioFloat", "--json", "read", "40011", "2"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NEAR(JsonLines(r).at(0)["values"][0].get<double>(), 12.3456, 1e-9);
  EXPECT_NEAR(JsonLines(r).at(0)["values"][1].get<double>(), 7.5, 1e-9);
}

TEST(PlclinkPeer, TraceShowsTheFramesOnTheLine) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));
  RunResult r = RunPlclink(Args(line.PathB(), {"--trace", "read", "40001"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "101\n");
  std::istringstream err(r.err);
  std::vector<std::string> sent, received;
  // The time as the events give it: ISO 8601 with the zone.
  const std::regex trace(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}[+-]\d\d:\d\d (TX|RX) ((?:[0-9A-F]{2} ?)+)$)");
  for (std::string l; std::getline(err, l);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, trace)) << l;
    (m[1] == "TX" ? sent : received).push_back(m[2]);
  }
  EXPECT_EQ(sent, (std::vector<std::string>{"01 03 00 00 00 01 84 0A"}));
  std::string reply;
  for (const std::string& chunk : received) reply += (reply.empty() ? "" : " ") + chunk;
  EXPECT_EQ(reply, "01 03 02 00 65 78 6F");  // 101, with its CRC
}

TEST(PlclinkPeer, AFailingReadExitsWithOneAndSaysTheCodeAndTheErrorText) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));
  // 49003: the server answers with both CRC bytes inverted.
  RunResult r = RunPlclink(Args(line.PathB(), {"--json", "read", "49003"}));
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  nlohmann::json read = JsonLines(r).at(0);
  EXPECT_EQ(read["result"], 0);
  EXPECT_EQ(read["values"], nlohmann::json::array());
  ASSERT_FALSE(read["errors"].get<std::string>().empty());
  EXPECT_NE(r.err.find("ReadPLC failed with result 0: " + read["errors"].get<std::string>()), std::string::npos)
      << r.err;
}

TEST(PlclinkPeer, PollPrintsEveryCompletionAsItArrives) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));
  RunResult r = RunPlclink(Args(line.PathB(), {"--json", "poll", "40001", "2", "--interval", "50", "--times", "3"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<nlohmann::json> events = JsonLines(r);
  ASSERT_EQ(events.size(), 3u) << r.out;
  const std::regex iso(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}[+-]\d\d:\d\d$)");
  std::string previous;
  for (const nlohmann::json& e : events) {
    EXPECT_EQ(e["event"], "CommCompleteEx");
    EXPECT_EQ(e["MData"], (nlohmann::json{101, 202}));  // from its first element, quan of them
    EXPECT_EQ(e["MAdd"], 40001);
    EXPECT_EQ(e["quan"], 2);
    EXPECT_EQ(e["ErrorStr"], "");
    std::string time = e["time"];
    EXPECT_TRUE(std::regex_match(time, iso)) << time;
    EXPECT_GT(time, previous);
    previous = time;
  }
}

TEST(PlclinkPeer, ServeAnswersMbpollAndEndsCleanlyOnSigterm) {
  PtyLink line;
  PeerProcess slave(PlclinkCommand(Args(line.PathB(), {"serve"})));
  EXPECT_NE(slave.ReadyLine().find("unit 1"), std::string::npos) << slave.ReadyLine();
  const std::vector<std::string> mb = {"-m", "rtu", "-a", "1", "-b", "9600", "-P", "none", "-t", "4", "-r", "5"};
  std::vector<std::string> write = mb;
  write.insert(write.end(), {line.PathA(), "11", "22", "33"});
  RunResult w = RunProgram(MbpollCommand(write), std::chrono::seconds(20));
  ASSERT_EQ(w.exitCode, 0) << w.out << w.err;
  std::vector<std::string> read = mb;
  read.insert(read.end(), {"-c", "3", "-1", line.PathA()});
  RunResult r = RunProgram(MbpollCommand(read), std::chrono::seconds(20));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[5]: \t11\n[6]: \t22\n[7]: \t33"), std::string::npos) << r.out;

  // Each request was printed as it came, with its table, references and values.
  std::string first = slave.WaitForLine("20", std::chrono::seconds(5));
  std::string second = slave.WaitForLine("20", std::chrono::seconds(5));
  EXPECT_NE(first.find(" unit 1 holding registers 40005..40007 written: 11 22 33"), std::string::npos) << first;
  EXPECT_NE(second.find(" unit 1 holding registers 40005..40007 read: 11 22 33"), std::string::npos) << second;

  ::kill(slave.Pid(), SIGTERM);
  int status = slave.Stop();
  ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal instead of returning";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace plc::test
