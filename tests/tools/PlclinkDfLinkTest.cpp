// plclink DfLink in fresh processes against the simulated DF1 PLC on a linked line: each run
// is one process with no earlier setup, so a write must see its acknowledgement and a poll its
// replies before the process ends, and one run after another must not look like a repeat to a
// processor that drops repeats. Every failure prints what its result means and why.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <initializer_list>
#include <regex>

#include "tests/support/PlclinkCommand.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/Df1Simulator.h"

namespace plc {
namespace {

struct Line {
  test::PtyLink line;
  sim::Df1Simulator plc{sim::Df1SimOptions{line.PathB(), false, 19200}};
  std::vector<std::string> Args(std::vector<std::string> tail) const {
    std::vector<std::string> args = {"DfLink", "--port", line.PathA(), "--settings", "19200,n,8,1"};
    args.insert(args.end(), tail.begin(), tail.end());
    return args;
  }
};

TEST(PlclinkDfLink, WriteThenReadInSeparateProcesses) {
  Line l;
  test::RunResult w = test::RunPlclink(l.Args({"write", "N7:4", "16", "-5"}));
  ASSERT_EQ(w.exitCode, 0) << w.err;
  EXPECT_EQ(l.plc.Plc().Table().Word(7, 4), 16);
  EXPECT_EQ(l.plc.Plc().Table().Word(7, 5), 0xFFFB);
  test::RunResult r = test::RunPlclink(l.Args({"read", "N7:4", "2"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "16 -5\n");
  test::RunResult f = test::RunPlclink(l.Args({"write", "F8:1", "2.5"}));
  ASSERT_EQ(f.exitCode, 0) << f.err;
  EXPECT_EQ(test::RunPlclink(l.Args({"read", "F8:1"})).out, "2.5\n");
}

TEST(PlclinkDfLink, PollPrintsEachCompletionAndFailuresCarryTheirStatus) {
  Line l;
  l.plc.Plc().Table().SetWords(7, 0, {7, 8});
  test::RunResult p = test::RunPlclink(l.Args({"--json", "poll", "N7:0", "2", "--times", "2", "--interval", "200"}));
  ASSERT_EQ(p.exitCode, 0) << p.err;
  auto lines = test::JsonLines(p);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1]["event"], "CommComplete");
  EXPECT_EQ(lines[1]["MData"], (nlohmann::json{7, 8}));
  EXPECT_EQ(lines[1]["RespStatus"], -1);
  EXPECT_EQ(lines[1]["ok"], nullptr);  // an event carries no result of its own

  test::RunResult bad = test::RunPlclink(l.Args({"read", "N7:"}));
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("result 94"), std::string::npos) << bad.err;
  l.plc.Plc().InjectNext(sim::Df1Fault::BadCheck);
  test::RunResult check = test::RunPlclink(l.Args({"read", "N7:0"}));
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_NE(check.err.find("result 99: ERRORBCC"), std::string::npos) << check.err;
}

// A completion that reports a failure is a failed poll: printed with its status and why, and
// the exit status says so.
TEST(PlclinkDfLink, APollWhoseCompletionsReportFailuresExitsWith1) {
  Line l;
  test::RunResult p = test::RunPlclink(l.Args({"--json", "poll", "N30:0", "--times", "2", "--interval", "100"}));
  EXPECT_EQ(p.exitCode, 1) << p.out << p.err;
  auto lines = test::JsonLines(p);
  ASSERT_EQ(lines.size(), 2u) << p.out;
  for (const auto& line : lines) EXPECT_EQ(line["RespStatus"], 98) << line;
  EXPECT_NE(p.err.find("ReadPLCNW failed with result 98"), std::string::npos) << p.err;
  EXPECT_NE(p.err.find("STS 50h"), std::string::npos) << p.err;
  l.plc.Plc().Table().SetWords(7, 0, {7});
  test::RunResult good = test::RunPlclink(l.Args({"poll", "N7:0", "--times", "2", "--interval", "100"}));
  EXPECT_EQ(good.exitCode, 0) << good.out << good.err;
  EXPECT_TRUE(good.err.empty()) << good.err;
}

TEST(PlclinkDfLink, CallOfANonWaitingReadSeesItsCompletion) {
  Line l;
  l.plc.Plc().Table().SetWords(7, 1, {42});
  test::RunResult c = test::RunPlclink(l.Args({"call", "ReadPLCNW", "N7:1", "0", "1"}));
  ASSERT_EQ(c.exitCode, 0) << c.err;
  EXPECT_NE(c.out.find("CommComplete MData=[42"), std::string::npos) << c.out;
  EXPECT_NE(c.out.find("RespStatus=-1"), std::string::npos) << c.out;
}

TEST(PlclinkDfLink, FreshProcessesOneAfterAnotherAreNoRepeatsToAProcessorThatDropsThem) {
  Line l;
  l.plc.Plc().Table().SetWords(7, 0, {41});
  for (int i = 0; i < 2; ++i) {
    test::RunResult r = test::RunPlclink(l.Args({"read", "N7:0"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "41\n");
  }
  test::RunResult w1 = test::RunPlclink(l.Args({"write", "N7:1", "1234"}));
  test::RunResult w2 = test::RunPlclink(l.Args({"write", "N7:2", "5678"}));
  EXPECT_EQ(w1.exitCode, 0) << w1.err;
  EXPECT_EQ(w2.exitCode, 0) << w2.err;
  EXPECT_EQ(l.plc.Plc().Table().Word(7, 1), 1234);
  EXPECT_EQ(l.plc.Plc().Table().Word(7, 2), 5678);
  EXPECT_EQ(l.plc.Plc().Counts().answered, 4);
}

TEST(PlclinkDfLink, AWriteOrCallThatAProcessorNeverAnswersFailsInPlainAndJson) {
  Line l;
  l.plc.Plc().SetFault(sim::Df1Fault::Silent);
  test::RunResult plain = test::RunPlclink(l.Args({"write", "N7:0", "1"}));
  EXPECT_EQ(plain.exitCode, 1);
  EXPECT_NE(plain.err.find("WritePLC failed with result 92: no reply in time: the PLC never answered the WritePLC"),
            std::string::npos)
      << plain.err;
  test::RunResult json = test::RunPlclink(l.Args({"--json", "write", "N7:0", "1"}));
  EXPECT_EQ(json.exitCode, 1);
  auto lines = test::JsonLines(json);
  ASSERT_EQ(lines.size(), 1u) << json.out;
  EXPECT_EQ(lines[0]["ok"], false);
  EXPECT_EQ(lines[0]["result"], 92);
  EXPECT_NE(lines[0]["cause"].get<std::string>().find("never answered"), std::string::npos);
  test::RunResult call = test::RunPlclink(l.Args({"call", "WritePLC", "N7:0", "1:[1]", "1"}));
  EXPECT_EQ(call.exitCode, 1) << call.out;
  // call asks the control why once the line is free: its watchdog gave the write up.
  EXPECT_NE(call.err.find("WritePLC failed: no reply in time: station 1 sent no reply to the write to N7:0"),
            std::string::npos)
      << call.err;
}

TEST(PlclinkDfLink, EveryFailurePrintsWhatItsResultMeansAndWhy) {
  Line l;
  struct Case {
    std::vector<std::string> args;
    std::string printed;
  };
  const Case cases[] = {
      {{"read", "N7:"}, "ReadPLC failed with result 94: address or count refused: address 'N7:' has no element after ':'"},
      {{"read", "X9:1"}, "result 94: address or count refused: address 'X9:1' has the file type 'X', which is none of"},
      {{"read", "N7:0", "200"}, "result 94: address or count refused: count 200 is beyond this control's limit of 127"},
      {{"read", "Tank"}, "result 96: no such tag: no tag is named 'Tank'"},
      {{"read", "N30:0"}, "result 98: ERRORSTATUS (refused by the station: station 1 refused the read of N30:0: STS 50h"},
      {{"read", "CC4:0"}, "STS F0h: error code in the extended status, EXT STS 17h: type mismatch"},
      {{"write", "N7:10", "-40000"}, "result 0: not done: cannot write to N7:10: value 1 of 1 (-40000) is outside -32768..65535"},
      {{"write", "T4:1/DN", "1"}, "names a bit; a write changes whole words (give the word, T4:1)"},
  };
  for (const Case& c : cases) {
    test::RunResult r = test::RunPlclink(l.Args(c.args));
    EXPECT_EQ(r.exitCode, 1) << c.args[1];
    EXPECT_NE(r.err.find(c.printed), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("no cause"), std::string::npos) << r.err;
  }
  l.plc.Plc().InjectNext(sim::Df1Fault::DleNak);
  test::RunResult nak = test::RunPlclink(l.Args({"read", "N7:0"}));
  EXPECT_NE(nak.err.find("result 21: Error no ACK (DLE NAK from the station: station 1 answered the read of N7:0 with DLE NAK)"),
            std::string::npos)
      << nak.err;
}

TEST(PlclinkDfLink, TimerCounterAndControlMnemonicsReadAndWriteTheirOwnWords) {
  Line l;
  l.plc.Plc().Table().SetWords(4, 3, {0xE000, 100, 42});  // T4:1: EN TT DN, PRE, ACC
  EXPECT_EQ(test::RunPlclink(l.Args({"read", "T4:1.ACC"})).out, "42\n");
  EXPECT_EQ(test::RunPlclink(l.Args({"read", "T4:1.PRE"})).out, "100\n");
  EXPECT_EQ(test::RunPlclink(l.Args({"read", "T4:1/DN"})).out, "1\n");
  l.plc.Plc().Table().SetWords(4, 3, {0xC000});
  EXPECT_EQ(test::RunPlclink(l.Args({"read", "T4:1/DN"})).out, "0\n");
  test::RunResult w = test::RunPlclink(l.Args({"write", "T4:1.PRE", "7"}));
  EXPECT_EQ(w.exitCode, 0) << w.err;
  EXPECT_EQ(l.plc.Plc().Table().Word(4, 3), 0xC000) << "the control word stays";
  EXPECT_EQ(l.plc.Plc().Table().Word(4, 4), 7);
  EXPECT_EQ(l.plc.Plc().Table().Word(4, 5), 42);
  l.plc.Plc().Table().SetWords(6, 0, {0, 12, 3});  // R6:0: control, LEN, POS
  EXPECT_EQ(test::RunPlclink(l.Args({"read", "R6:0.LEN"})).out, "12\n");
  EXPECT_EQ(test::RunPlclink(l.Args({"write", "C5:2.ACC", "-3"})).exitCode, 0);
  EXPECT_EQ(l.plc.Plc().Table().Word(5, 8), 0xFFFD);
}

// A read of F8:1 with each format fails with nothing printed and says to leave the format out,
// naming the value the control gave where one is given.
void ExpectReadOfF81Refused(Line& l, std::initializer_list<const char*> formats, const char* value = nullptr) {
  for (const char* format : formats) {
    test::RunResult r = test::RunPlclink(l.Args({"read", "F8:1", "1", "--format", format}));
    EXPECT_EQ(r.exitCode, 1) << format << ": " << r.out;
    EXPECT_EQ(r.out, "") << format;
    if (value) {
      EXPECT_NE(r.err.find(value), std::string::npos) << r.err;
    }
    EXPECT_NE(r.err.find("leave out --format"), std::string::npos) << r.err;
  }
}

// --format prints the bits of register words. A float file's values are no words: their low
// 16 bits are a value the PLC does not hold, so they are refused, read or polled alike.
TEST(PlclinkDfLink, AFormatOnValuesThatAreNoWordsIsRefusedNotPrintedAsOtherNumbers) {
  Line l;
  ASSERT_EQ(test::RunPlclink(l.Args({"write", "F8:1", "3.25", "1.5"})).exitCode, 0);
  ExpectReadOfF81Refused(l, {"float", "hex", "int"}, "3.25");
  test::RunResult p = test::RunPlclink(l.Args({"poll", "F8:1", "1", "--format", "float", "--times", "1"}));
  EXPECT_EQ(p.out.find("e-40"), std::string::npos) << p.out;
  EXPECT_NE(p.err.find("3.25"), std::string::npos) << p.err;
  EXPECT_EQ(p.exitCode, 1) << p.out << p.err;
  l.plc.Plc().Table().SetWords(7, 0, {0x4048, 0xF5C3});
  test::RunResult words = test::RunPlclink(l.Args({"read", "N7:0", "1", "--format", "float"}));
  EXPECT_EQ(words.exitCode, 0) << words.err;
  EXPECT_EQ(words.out, "3.14\n");
}

// A float file's value is no word even when it is whole: 1.0 is 3F80 0000 in the PLC, so
// printing it as the word 0x0001 (or joining 1.0 and 2.0 into a float of 0001 0002) shows
// bits the PLC does not hold.
TEST(PlclinkDfLink, AFormatOnWholeFloatFileValuesIsRefusedToo) {
  Line l;
  ASSERT_EQ(test::RunPlclink(l.Args({"write", "F8:1", "1", "2"})).exitCode, 0);
  ExpectReadOfF81Refused(l, {"float", "hex", "uint"});
  test::RunResult p = test::RunPlclink(l.Args({"poll", "F8:1", "1", "--format", "hex", "--times", "1"}));
  EXPECT_EQ(p.out.find("0x0001"), std::string::npos) << p.out;
  EXPECT_NE(p.err.find("leave out --format"), std::string::npos) << p.err;
  EXPECT_EQ(p.exitCode, 1) << p.out << p.err;
  EXPECT_EQ(test::RunPlclink(l.Args({"read", "F8:1", "2"})).out, "1 2\n");
}

// A call whose argument the method cannot take says which call, what it takes and how to
// give it; 'Type mismatch (error 13)' alone left a technician guessing which of three.
TEST(PlclinkDfLink, ACallWithAnArgumentTheMethodCannotTakeSaysWhatItTakes) {
  Line l;
  test::RunResult w = test::RunPlclink(l.Args({"call", "WritePLC", "N7:0", "5"}));
  EXPECT_EQ(w.exitCode, 1) << w.err;
  EXPECT_NE(w.err.find("WritePLC(pstr As String, ABValue As Array"), std::string::npos) << w.err;
  EXPECT_NE(w.err.find("N7:0 5"), std::string::npos) << w.err;
  EXPECT_NE(w.err.find("1:[1,2]"), std::string::npos) << w.err;
  EXPECT_NE(w.err.find("Type mismatch (error 13)"), std::string::npos) << w.err;
  EXPECT_EQ(l.plc.Plc().Table().Word(7, 0), 0);
  test::RunResult r = test::RunPlclink(l.Args({"call", "ReadData", "99999"}));
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("ReadData(idx As Integer) cannot take 99999"), std::string::npos) << r.err;
  test::RunResult good = test::RunPlclink(l.Args({"call", "WritePLC", "N7:0", "1:[5]"}));
  EXPECT_EQ(good.exitCode, 0) << good.err;
  EXPECT_EQ(l.plc.Plc().Table().Word(7, 0), 5);
}

TEST(PlcsimDf1, TwoHundredOneShotReadsEachCloseWithADleAckThatArrives) {
  test::PtyLink line;
  // It ends by itself once 200 replies are acknowledged; one never acknowledged would keep it
  // asking with DLE ENQ and then count as given up.
  test::PeerProcess plcsim({std::string(PLC_BINARY_DIR) + "/bin/plcsim", {"df1", "--port", line.PathB(), "--times", "200"},
                            "build the plcsim target"});
  EXPECT_NE(plcsim.ReadyLine().find("(CRC)"), std::string::npos);
  const std::vector<std::string> args = {"DfLink", "--port", line.PathA(), "--settings", "19200,n,8,1", "read", "N7:0"};
  int failed = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 200; ++i) {
    test::RunResult r = test::RunPlclink(args);
    if (r.exitCode != 0 || r.out != "0\n") {
      ++failed;
      ADD_FAILURE() << "run " << i << ": " << r.err;
    }
  }
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(failed, 0);
  EXPECT_LT(took, std::chrono::seconds(60));
  const std::string report = plcsim.WaitForLine("plcsim df1: received", std::chrono::milliseconds(10'000));
  // A run that happened to start with its predecessor's transaction number was dropped as a
  // repeat once and went again: every request answered, every reply closed.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(report, m,
                                std::regex("received (\\d+) requests \\((\\d+) duplicates, 0 bad checks, 0 broken frames\\), "
                                           "(\\d+) closing DLE ACKs.*answered (\\d+),.* gave up 0")))
      << report;
  EXPECT_EQ(std::stoi(m[1]), 200 + std::stoi(m[2])) << report;
  EXPECT_EQ(std::stoi(m[3]), 200) << report;
  EXPECT_EQ(std::stoi(m[4]), 200) << report;
  const int status = plcsim.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(PlcsimDf1, ArgumentsAreTakenWholeOrRefusedNamingThem) {
  test::PtyLink line;
  const std::string plcsim = std::string(PLC_BINARY_DIR) + "/bin/plcsim";
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"df1", "--port", line.PathB(), "--baud", "abc"}, "plcsim df1: --baud: 'abc' is not a number"},
      {{"df1", "--port", line.PathB(), "--baud", "1234"}, "plcsim df1: --baud: '1234' is not a line speed"},
      {{"df1", "--port", line.PathB(), "--times", "-3"}, "plcsim df1: --times: '-3' is outside 1..1000000000"},
      {{"df1", "--port", line.PathB(), "--fault", "bogus"}, "plcsim df1: --fault: 'bogus' is not one of none, silent"},
      {{"df1", "--port", line.PathB(), "--turnaround"}, "plcsim df1: --turnaround needs a value"},
      {{"df1"}, "plcsim df1: --port PATH is required"},
  };
  for (const auto& [args, message] : refused) {
    test::RunResult r = test::RunProgram({plcsim, args, "build the plcsim target"}, std::chrono::seconds(5));
    EXPECT_FALSE(r.timedOut) << args.back();
    EXPECT_EQ(r.exitCode, 2) << args.back();
    EXPECT_EQ(r.err.rfind(message, 0), 0u) << r.err;
  }
  // A device that cannot be served on is no usage error: exit 1, as for the other protocols.
  const std::pair<std::vector<std::string>, std::string> unusable[] = {
      {{"df1", "--port", "/dev/null"}, "plcsim df1: --port: cannot serve '/dev/null': /dev/null is not a serial line"},
      {{"df1", "--port", "/nonexistent/tty"}, "plcsim df1: --port: cannot serve '/nonexistent/tty': cannot open"},
  };
  for (const auto& [args, message] : unusable) {
    test::RunResult r = test::RunProgram({plcsim, args, "build the plcsim target"}, std::chrono::seconds(5));
    EXPECT_EQ(r.exitCode, 1) << args.back();
    EXPECT_EQ(r.err.rfind(message, 0), 0u) << r.err;
  }
  test::RunResult help = test::RunProgram({plcsim, {"df1", "--help"}, "build the plcsim target"}, std::chrono::seconds(5));
  EXPECT_EQ(help.exitCode, 0);
  for (const char* part : {"ack-lost", "overdue", "silent", "N7    integers, 256 elements of 1 word", "T4:1.ACC",
                           "B3/35", "--pace", "--turnaround"})
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
}

}  // namespace
}  // namespace plc
