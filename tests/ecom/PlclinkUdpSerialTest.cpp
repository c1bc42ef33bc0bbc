// plclink udplink in a serial mode, fresh processes against the DirectNET station simulator on
// a pseudo-terminal: addresses are header addresses as they stand, writes and reads go through,
// ioFloat pairs are written as given, a non-waiting poll reports its words, and every kind of
// failure gives its cause, plain and in JSON, with exit status 1.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/PlclinkCommand.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/DirectNetSimulator.h"

namespace plc {
namespace {

class PlclinkUdpSerial : public testing::Test {
 protected:
  test::RunResult Run(std::vector<std::string> args, const char* mode = "KSeq", bool port = true) {
    std::vector<std::string> all{"udplink", "--mode", mode, "--settings", "9600,n,8,1", "--address", "1"};
    if (port) {
      all.push_back("--port");
      all.push_back(line_.PathA());
    }
    all.insert(all.end(), args.begin(), args.end());
    return test::RunPlclink(all);
  }

  test::PtyLink line_;
  sim::DirectNetSimulator station_{{line_.PathB(), {1}}};
};

TEST_F(PlclinkUdpSerial, WriteReadPollAndASilentStationInFreshProcesses) {
  auto write = Run({"write", "1024", "7", "65535"});
  ASSERT_EQ(write.exitCode, 0) << write.out << write.err;
  EXPECT_EQ(station_.Word(1, 1024), 7);
  EXPECT_EQ(station_.Word(1, 1025), 65535);

  auto read = Run({"read", "1024", "2"}, "DIrectNet");
  EXPECT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(read.out, "7 65535\n");

  auto poll = Run({"poll", "1025", "1", "--times", "1", "--interval", "100"});
  EXPECT_EQ(poll.exitCode, 0) << poll.out << poll.err;
  EXPECT_NE(poll.out.find("65535"), std::string::npos) << poll.out;

  auto bit = Run({"call", "WritePLCBit", "61443", "1"});
  EXPECT_EQ(bit.exitCode, 0) << bit.out << bit.err;
  EXPECT_EQ(station_.Byte(1, 0x4180), 0x08);

  // One ioFloat value is two words, sent as the host gives them.
  auto pair = Run({"call", "WritePLC", "1088", "1:[12,3456]", "1", "2"});
  EXPECT_EQ(pair.exitCode, 0) << pair.out << pair.err;
  EXPECT_EQ(station_.Word(1, 1088), 12);
  EXPECT_EQ(station_.Word(1, 1089), 3456);

  auto typed = Run({"read", "V,2000"});
  EXPECT_EQ(typed.exitCode, 1) << "address strings are not read on this path";
}

TEST_F(PlclinkUdpSerial, EveryFailureSaysWhyPlainAndInJson) {
  using sim::StationFault;
  const struct {
    std::vector<std::string> args;
    StationFault fault;
    std::string cause;
    bool port = true;
  } kinds[] = {
      {{"read", "1024"}, StationFault::NoAnswer, "no answer to the enquiry from station 1 within 2 s"},
      {{"read", "1024"}, StationFault::Nak, "station 1 answered the enquiry with NAK"},
      {{"write", "1024", "5"}, StationFault::BadLrc, "the write reply of station 1 failed its LRC check"},
      {{"read", "1024"}, StationFault::NoEot, "no EOT from station 1 within 2 s after its reply was acknowledged"},
      {{"read", "V,2000"}, StationFault::None,
       "address 'V,2000' not understood: this path takes a header address in decimal (1024 is V2000), or a tag "
       "holding one; no station;TYPE,number strings"},
      {{"read", "70000"}, StationFault::None, "address '70000' not understood: 70000 is beyond 65535, the last header address"},
      {{"read", "40000", "1"}, StationFault::None,
       "station 1 refused the request with NAK (an address, count or command it does not have)"},
      {{"read", "1024", "256"}, StationFault::None, "count 256 beyond this control's limit of 255 words"},
      {{"write", "1024", "-1"}, StationFault::None,
       "value -1 (element 1) is outside 0..65535, the values a data word holds"},
      {{"call", "WritePLCBit", "1024", "1"}, StationFault::None,
       "a set or reset reaches only C points, header addresses F000h to F3FFh; 0400h is none (its header would name "
       "no bit)"},
      {{"call", "WritePLC", "1024b3", "1"}, StationFault::None, "'1024b3' names bit 3 of a word"},
      {{"call", "ReadPLC", "1024", "0"}, StationFault::None, "the port is closed (PortOpen is False)", false},
  };
  for (const auto& kind : kinds) {
    station_.SetFault(kind.fault);
    const long before = station_.Counts().enquiries;
    for (bool json : {false, true}) {
      std::vector<std::string> args = kind.args;
      if (json) args.insert(args.begin(), "--json");
      auto run = Run(args, "KSeq", kind.port);
      EXPECT_NE(run.err.find(kind.cause), std::string::npos) << kind.cause << "\n" << run.err;
      if (kind.args[0] != "call") {
        EXPECT_EQ(run.exitCode, 1) << kind.cause;
      }
      if (json) {
        ASSERT_FALSE(run.out.empty()) << kind.cause;
        const auto j = nlohmann::json::parse(run.out.substr(0, run.out.find('\n')));
        EXPECT_EQ(j["cause"].get<std::string>().rfind(kind.cause, 0), 0u) << j.dump();
      }
    }
    if (kind.fault == StationFault::None && kind.cause.find("NAK") == std::string::npos) {
      EXPECT_EQ(station_.Counts().enquiries, before) << "refused before anything was sent: " << kind.cause;
    }
  }
}

}  // namespace
}  // namespace plc
