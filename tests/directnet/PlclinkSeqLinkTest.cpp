// The programs: plclink seqlink in fresh processes against the station simulator (read, write,
// poll and call each work with no earlier setup; bits, refusals and every kind of failure with
// its cause, plain and in JSON), and plcsim directnet serving a device path until it is told to
// stop, its arguments read strictly and what it received counted, every closing EOT of 200
// one-shot runs among it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>
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

test::RunResult Plcsim(std::vector<std::string> args) {
  args.insert(args.begin(), "directnet");
  return test::RunProgram({std::string(PLC_BINARY_DIR) + "/bin/plcsim", args, "build the plcsim target"},
                          std::chrono::seconds(10));
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
  EXPECT_EQ(station.Byte(1, 0x4181) & 1, 1);

  auto tag = Plclink(line.PathA(), {"read", "V2000"});
  EXPECT_EQ(tag.exitCode, 1) << "V2000 alone is a tag name, and no tag is loaded";
}

// X0-X7 at 4100h = 85h and X10-X17 at 4101h = 02h: each point on its own, with no --io-type,
// and eight outputs at once; a set of Y5 is refused with its text and changes nothing.
// poll prints the values of ReadData as read prints them, in the --format asked for.
TEST(PlclinkSeqLink, PollPrintsValuesInTheFormatReadDoes) {
  test::PtyLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  station.SetWord(1, 0x0400, 0x4148);  // 12.5 as an IEEE single, high word first
  station.SetWord(1, 0x0401, 0);
  EXPECT_EQ(Plclink(line.PathA(), {"read", "V,2000", "--format", "float"}).out, "12.5\n");
  auto floats = Plclink(line.PathA(), {"poll", "V,2000", "--format", "float", "--times", "1"});
  EXPECT_EQ(floats.exitCode, 0) << floats.err;
  ASSERT_EQ(floats.OutLines().size(), 2u) << floats.out;
  EXPECT_EQ(floats.OutLines()[1], "12.5");
  auto hex = Plclink(line.PathA(), {"poll", "V,2000", "2", "--format", "hex", "--times", "1"});
  ASSERT_EQ(hex.OutLines().size(), 2u) << hex.out;
  EXPECT_EQ(hex.OutLines()[1], "0x4148 0x0000");
}

TEST(PlclinkSeqLink, BitsOfTheStationAndARefusedOutputSet) {
  test::PtyLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  station.SetByte(1, 0x4100, 0x85);
  station.SetByte(1, 0x4101, 0x02);
  station.SetByte(1, 0x4140, 0b1010'0110);
  for (const auto& [address, bit] : {std::pair{"X,7", "1"}, {"X,6", "0"}, {"X,10", "0"}, {"X,11", "1"}}) {
    auto read = Plclink(line.PathA(), {"read", address});
    EXPECT_EQ(read.exitCode, 0) << read.err;
    EXPECT_EQ(read.out, std::string(bit) + "\n") << address;
  }
  auto eight = Plclink(line.PathA(), {"read", "Y,0", "8"});
  EXPECT_EQ(eight.exitCode, 0) << eight.err;
  EXPECT_EQ(eight.out, "0 1 1 0 0 1 0 1\n");

  // The last run's closing EOT may still be crossing the line after its process ended: count
  // from when the line has been quiet for a while.
  long bytes = station.Counts().bytes;
  for (int quiet = 0; quiet < 5; ++quiet) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    if (station.Counts().bytes != bytes) quiet = -1;
    bytes = station.Counts().bytes;
  }
  const sim::StationImage before = station.Image(1);
  for (bool json : {false, true}) {
    std::vector<std::string> args{"write", "Y,5", "1"};
    if (json) args.insert(args.begin(), "--json");
    auto set = Plclink(line.PathA(), args);
    EXPECT_EQ(set.exitCode, 1) << set.out << set.err;
    const std::string why =
        "'Y,5' cannot be set or reset alone: the station sets and resets only C points, and Y5 shares header "
        "address 4140h with Y0 to Y7";
    if (json) {
      const auto j = nlohmann::json::parse(set.out);
      EXPECT_EQ(j["cause"], why);
      EXPECT_EQ(j["errors"], why) << "ReadErrors tells it too";
    } else {
      EXPECT_EQ(set.err, "plclink: WritePLC failed with result 0: " + why + "\n");
    }
  }
  EXPECT_EQ(station.Image(1), before);
  EXPECT_EQ(station.Counts().bytes, bytes) << "nothing was sent";
}

struct FailureKind {
  const char* name;
  std::vector<std::string> args;
  sim::StationFault fault;
  std::string cause;
};

// Each kind of failure, plain (the cause on standard error, exit status 1) and in JSON.
void ExpectCauses(const std::vector<FailureKind>& kinds) {
  test::PtyLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  for (const FailureKind& kind : kinds) {
    station.SetFault(kind.fault);
    for (bool json : {false, true}) {
      std::vector<std::string> args = kind.args;
      if (json) args.insert(args.begin(), "--json");
      const bool port = args.back() != "--no-port";
      if (!port) args.pop_back();
      auto run = port ? Plclink(line.PathA(), args)
                      : test::RunProgram({std::string(PLC_BINARY_DIR) + "/bin/plclink",
                                          [&] {
                                            std::vector<std::string> all{"seqlink"};
                                            all.insert(all.end(), args.begin(), args.end());
                                            return all;
                                          }(),
                                          "build the plclink target"},
                                         std::chrono::seconds(20));
      const std::string what = std::string(kind.name) + (json ? " (json)" : "");
      EXPECT_NE(run.err.find(kind.cause), std::string::npos) << what << ": " << run.err;
      EXPECT_EQ(run.err.find("no cause"), std::string::npos) << what;
      if (json) {
        ASSERT_FALSE(run.out.empty()) << what;
        const auto j = nlohmann::json::parse(run.out.substr(0, run.out.find('\n')));
        EXPECT_EQ(j["cause"], kind.cause) << what;
      }
      if (port) {
        EXPECT_EQ(run.exitCode, 1) << what;
      }
    }
  }
}

TEST(PlclinkSeqLink, EveryStationFailureSaysWhy) {
  using sim::StationFault;
  ExpectCauses({
      {"silent", {"read", "V,2000"}, StationFault::NoAnswer, "no answer to the enquiry from station 1 within 2 s"},
      {"nak", {"read", "V,2000"}, StationFault::Nak, "station 1 answered the enquiry with NAK"},
      {"lrc", {"read", "V,2000"}, StationFault::BadLrc, "the read reply of station 1 failed its LRC check"},
      {"no eot", {"read", "V,2000"}, StationFault::NoEot,
       "no EOT from station 1 within 2 s after its reply was acknowledged"},
  });
}

// A non-waiting read that fails has no event: poll and call say what the control found.
TEST(PlclinkSeqLink, AFailedNonWaitingReadSaysWhyInPollAndCall) {
  using sim::StationFault;
  test::PtyLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  const std::pair<StationFault, std::string> kinds[] = {
      {StationFault::Nak, "station 1 answered the enquiry with NAK"},
      {StationFault::NoAnswer, "no answer to the enquiry from station 1 within 2 s"},
  };
  for (const auto& [fault, cause] : kinds) {
    station.SetFault(fault);
    auto poll = Plclink(line.PathA(), {"poll", "V,2000", "--times", "1"});
    EXPECT_EQ(poll.exitCode, 1);
    EXPECT_EQ(poll.err, "plclink: ReadPLCNW V,2000 failed: " + cause + "\n");
    auto json = Plclink(line.PathA(), {"--json", "poll", "V,2000", "--times", "1"});
    ASSERT_FALSE(json.out.empty()) << json.err;
    const auto j = nlohmann::json::parse(json.out.substr(0, json.out.find('\n')));
    EXPECT_EQ(j["lost"], "ReadPLCNW");
    EXPECT_EQ(j["cause"], cause);
    auto call = Plclink(line.PathA(), {"call", "ReadPLCNW", "V,2000", ""});
    EXPECT_EQ(call.exitCode, 1);
    EXPECT_EQ(call.err, "plclink: ReadPLCNW failed: " + cause + "\n");
  }
  station.SetFault(StationFault::None);
  auto call = Plclink(line.PathA(), {"call", "ReadPLCNW", "V,2000", ""});
  EXPECT_EQ(call.exitCode, 0) << call.err;
}

TEST(PlclinkSeqLink, EveryRefusalSaysWhy) {
  using sim::StationFault;
  ExpectCauses({
      {"address", {"read", "V,2008"}, StationFault::None,
       "address 'V,2008' not understood: '2008' is not an octal number (digits 0 to 7)"},
      {"no memory", {"read", "V,100000"}, StationFault::None,
       "station 1 refused the request with NAK (an address, count or command it does not have)"},
      {"count", {"read", "V,2000", "256"}, StationFault::None, "count 256 beyond this control's limit of 255 words"},
      {"value", {"write", "V,2000", "70000"}, StationFault::None,
       "value 70000 (element 1) is outside 0..65535, the values a data word holds"},
      {"port closed", {"call", "ReadPLC", "V,2000", "0", "--no-port"}, StationFault::None,
       "the port is closed (PortOpen is False)"},
  });
}

// poll reads points with ReadPLCNW: each one a bit, as read does (it printed the byte, 133);
// and the end of the C area is read through the word at 41FEh (the word at 41FFh ran into
// 4200h, which the station refuses).
TEST(PlclinkSeqLink, PollOfPointsAndTheLastCPoints) {
  test::PtyLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  station.SetWord(1, 0x4100, 133);     // X0, X2, X7
  station.SetByte(1, 0x41FF, 0x80);    // C1777
  station.SetByte(1, 0x41F8, 0x01);    // C1700
  auto one = Plclink(line.PathA(), {"poll", "X,7", "--times", "1"});
  EXPECT_EQ(one.exitCode, 0) << one.err;
  ASSERT_GE(one.OutLines().size(), 2u) << one.out;
  EXPECT_EQ(one.OutLines()[1], "1");
  auto three = Plclink(line.PathA(), {"poll", "X,7", "3", "--times", "1"});
  EXPECT_EQ(three.exitCode, 0) << three.err;
  ASSERT_GE(three.OutLines().size(), 2u) << three.out;
  EXPECT_EQ(three.OutLines()[1], "1 0 0");
  for (const auto& [args, out] : {std::pair{std::vector<std::string>{"read", "C,1777"}, "1\n"},
                                  {{"read", "C,1770", "8"}, "0 0 0 0 0 0 0 1\n"},
                                  {{"read", "C,1700", "8"}, "1 0 0 0 0 0 0 0\n"}}) {
    auto read = Plclink(line.PathA(), args);
    EXPECT_EQ(read.exitCode, 0) << args[1] << ": " << read.err;
    EXPECT_EQ(read.out, out) << args[1];
  }
  EXPECT_EQ(station.Counts().refused, 0) << "no request the station refused";
}

TEST(PlclinkSeqLink, AddressesNoHeaderCarriesFailWithTheirTextAndSendNothing) {
  test::PtyLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  auto read = Plclink(line.PathA(), {"read", "V,1333272"});
  EXPECT_EQ(read.exitCode, 1);
  EXPECT_EQ(read.err,
            "plclink: ReadPLC failed with result 0: address 'V,1333272' not understood: V1333272 is beyond V177777, "
            "the last V address a header carries\n");
  auto write = Plclink(line.PathA(), {"write", "Q,1333272", "5"});
  EXPECT_EQ(write.exitCode, 1);
  EXPECT_NE(write.err.find("address 'Q,1333272' not understood: 'Q' is no memory type a write goes to"),
            std::string::npos)
      << write.err;
  auto far = Plclink(line.PathA(), {"write", "V,1333272", "5"});
  EXPECT_EQ(far.exitCode, 1);
  EXPECT_NE(far.err.find("address 'V,1333272' not understood: V1333272 is beyond V177777"), std::string::npos)
      << far.err;
  EXPECT_EQ(station.Counts().bytes, 0);
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

TEST(PlcsimDirectNet, ArgumentsAreReadStrictly) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string message;
  } rows[] = {
      {{"--port", "/dev/ptmx", "--set", "V2000=1"}, 2, "--set: 'V2000' is not a hexadecimal number"},
      {{"--port", "/dev/ptmx", "--station", "abc"}, 2, "--station: 'abc' is not a number"},
      {{"--port", "/dev/ptmx", "--station", "224"}, 2, "--station: '224' is outside 0..223"},
      {{"--port", "/dev/ptmx", "--set", "0400=0x00A5"}, 2, "--set 0400: '0x00A5' is not a number"},
      {{"--port", "/dev/ptmx", "--set", "0400=70000"}, 2, "--set 0400: '70000' is outside 0..65535"},
      {{"--port", "/dev/ptmx", "--set", "8000=1"}, 2, "--set: 8000 is no memory of the station"},
      {{"--port", "/dev/ptmx", "--fault", "bogus"}, 2,
       "--fault: 'bogus' is not one of none, no-answer, bad-lrc, nak, no-eot, slow"},
      {{"--port", "/dev/ptmx", "--settings", "fast"}, 2, "--settings: 'fast' is not like 9600,o,8,1"},
      {{"--station", "1"}, 2, "--port PATH is required"},
      {{"--port", "/dev/null"}, 1, "--port: /dev/null is not a serial line"},
      {{"--port", "/nonexistent/tty"}, 1, "--port: cannot open /nonexistent/tty"},
  };
  for (const auto& row : rows) {
    auto run = Plcsim(row.args);
    EXPECT_EQ(run.exitCode, row.status) << row.message << ": " << run.err;
    EXPECT_NE(run.err.find("plcsim directnet: " + row.message), std::string::npos) << run.err;
    EXPECT_FALSE(run.timedOut) << row.message;
  }
  auto help = Plcsim({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* word : {"no-answer", "bad-lrc", "nak", "no-eot", "slow", "X10 is 4101 bit 0", "F000-F3FF",
                           "0400 is V2000", "closing EOTs"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

// A one-shot run writes its closing EOT and exits at once: the station must get it every time.
TEST(PlcsimDirectNet, EveryClosingEotOfTwoHundredOneShotRunsArrives) {
  constexpr int kRuns = 200;
  test::PtyLink line;
  // Its report goes to standard error: joined to standard output to be read here.
  test::PeerProcess plcsim({"/bin/sh",
                            {"-c", "exec \"$0\" directnet --port \"$1\" --set 0400=4660 2>&1",
                             std::string(PLC_BINARY_DIR) + "/bin/plcsim", line.PathB()},
                            "build the plcsim target"});
  int good = 0;
  for (int run = 0; run < kRuns; ++run) {
    auto read = Plclink(line.PathA(), {"read", "V,2000"});
    if (read.exitCode == 0 && read.out == "4660\n") ++good;
  }
  EXPECT_EQ(good, kRuns);
  // The last EOT is on its way through the pair: give it the moment it needs before stopping.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(::kill(plcsim.Pid(), SIGTERM), 0);
  const std::string report = plcsim.WaitForLine("plcsim directnet: received", std::chrono::milliseconds(5000));
  EXPECT_NE(report.find(std::to_string(kRuns) + " enquiries"), std::string::npos) << report;
  EXPECT_NE(report.find(std::to_string(kRuns) + " ACKs, " + std::to_string(kRuns) + " closing EOTs, 0 stray"),
            std::string::npos)
      << report;
  const int status = plcsim.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace plc
