// plclink's command line as a technician meets it, without a line: each command's own help,
// the version, mbpoll's short options and the line options beside --settings, usage errors in
// plain words (status 2), and transfers larger than one Modbus request refused before any
// port is opened.
#include <gtest/gtest.h>

#include "tests/support/PlclinkCommand.h"

namespace plc::test {
namespace {

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST(PlclinkCli, EachCommandHasItsOwnHelpAndTheProgramItsVersion) {
  RunResult read = RunPlclink({"rtulink", "read", "--help"});
  ASSERT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(FirstLine(read.out), "usage: plclink rtulink [options] read ADDRESS [COUNT] [--format F] [--word-order high|low]");
  EXPECT_NE(read.out.find("125 registers or 2000 bits"), std::string::npos) << read.out;
  // Each control's own limits, address forms, defaults and environment; none says Modbus
  // but RtuLink.
  struct Limits {
    const char* control;
    const char* limit;
    const char* address;
  } limits[] = {{"rtulink", "RtuLink limits: 12", "40001..49999 holding registers"},
                {"seqlink", "SeqLink limits: 255 words", "TYPE,OCTAL (V,2000"},
                {"DfLink", "DfLink limits: 127 words", "N7:0"},
                {"udplink", "ECOM mode 1001 bytes", "ID;TYPE,OCTAL"}};
  for (const Limits& l : limits) {
    for (const char* command : {"read", "write", "poll"}) {
      RunResult h = RunPlclink({l.control, command, "--help"});
      EXPECT_EQ(h.exitCode, 0);
      EXPECT_NE(h.out.find(l.limit), std::string::npos) << l.control << " " << command << "\n" << h.out;
      EXPECT_NE(h.out.find(l.address), std::string::npos) << l.control << " " << command;
      EXPECT_NE(h.out.find("Defaults ("), std::string::npos) << l.control;
      for (const char* env : {"QVL_COM<n>", "QVL_PLUGIN_PATH"}) EXPECT_NE(h.out.find(env), std::string::npos) << env;
      if (std::string(l.control) != "rtulink") {
        EXPECT_EQ(h.out.find("Modbus"), std::string::npos) << l.control;
      }
    }
  }
  EXPECT_NE(RunPlclink({"udplink", "read", "--help"}).out.find("HEI_PAS_MODULES"), std::string::npos);
  EXPECT_NE(RunPlclink({"--help"}).out.find("HEI_PAS_LIBRARY"), std::string::npos);
  RunResult poll = RunPlclink({"rtulink", "-p", "/dev/ttyUSB0", "poll", "40001", "-h"});
  ASSERT_EQ(poll.exitCode, 0) << poll.err;
  EXPECT_NE(poll.out.find("--interval MS"), std::string::npos) << poll.out;
  EXPECT_EQ(poll.out.find("--set REF=VALUE"), std::string::npos) << "serve's options are not poll's";
  RunResult serve = RunPlclink({"serve", "--help"});
  EXPECT_NE(serve.out.find("--set REF=VALUE"), std::string::npos) << serve.out;
  RunResult whole = RunPlclink({"--help"});
  EXPECT_NE(whole.out.find("-b, --baud SPEED"), std::string::npos) << whole.out;

  for (const char* flag : {"--version", "-V"}) {
    RunResult v = RunPlclink({flag});
    EXPECT_EQ(v.exitCode, 0) << flag;
    EXPECT_EQ(v.out, "plclink 1.0.0\n") << flag;
  }
}

TEST(PlclinkCli, ShortOptionsAndLineOptionsSetTheProperties) {
  struct Case {
    std::vector<std::string> args;
    std::string value;
  };
  const Case cases[] = {
      {{"rtulink", "-b", "19200", "-P", "even", "-d", "7", "-s", "2", "get", "Settings"}, "19200,e,7,2"},
      // Separate options apply over --settings, whichever comes first.
      {{"rtulink", "--parity", "o", "--settings", "4800,n,8,1", "get", "Settings"}, "4800,o,8,1"},
      {{"rtulink", "-b38400", "get", "Settings"}, "38400,n,8,1"},
      {{"rtulink", "--baud=2400", "get", "Settings"}, "2400,n,8,1"},
      {{"rtulink", "-a", "17", "get", "Address"}, "17"},
      {{"seqlink", "-a", "223", "get", "Address"}, "223"},
      {{"udplink", "-a", "255", "get", "Address"}, "255"},
      {{"rtulink", "-p", "4", "get", "CommPort"}, "4"},
      {{"rtulink", "-m", "Ascii", "get", "ModBusMode"}, "2"},
  };
  for (const Case& c : cases) {
    RunResult r = RunPlclink(c.args);
    std::string shown = ::testing::PrintToString(c.args);
    EXPECT_EQ(r.exitCode, 0) << shown << "\n" << r.err;
    EXPECT_EQ(r.out, c.value + "\n") << shown;
  }
}

TEST(PlclinkCli, UsageErrorsSayWhatIsWrongInPlainWordsAndNothingIsSent) {
  // The port named does not exist: a command that got as far as opening it would exit 1.
  const std::string noPort = "/dev/plclink-no-such-tty";
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"rtulink", "read", "40001", "ten"}, "read: COUNT 'ten' is not a whole number"},
      {{"rtulink", "read", "40001", "3", "x", "y"}, "unexpected arguments 'x' 'y'"},
      {{"rtulink", "members", "x"}, "members takes no operands; unexpected 'x'"},
      {{"rtulink", "shell", "x", "y"}, "shell takes no operands; unexpected arguments 'x' 'y'"},
      {{"rtulink", "serve", "x"}, "serve takes [--set REF=VALUE]... [--load FILE] [--times N]; unexpected 'x'"},
      {{"rtulink", "-p", noPort, "write", "40001", "12", "abc"}, "write: 'abc' is not a number"},
      {{"rtulink", "poll", "40001", "--interval", "soon"}, "--interval wants milliseconds from 1 to 86400000, not 'soon'"},
      {{"rtulink", "--baud", "fast", "members"}, "--baud wants a line speed such as 9600, not 'fast'"},
      {{"rtulink", "-P", "x", "members"}, "--parity wants one of none, even, odd, mark, space"},
      {{"rtulink", "--stop-bits", "3", "members"}, "--stop-bits wants one of 1, 1.5, 2, not '3'"},
      {{"rtulink", "-x", "members"}, "unknown option '-x'"},
      {{"rtulink", "--port"}, "--port needs a value"},
      {{"seqlink", "-a", "224", "get", "Address"}, "--address wants a station from 0 to 223, not '224'"},
      {{"udplink", "-a", "256", "get", "Address"}, "--address wants a station or ECOM ID from 0 to 255, not '256'"},
      {{"DfLink", "-a", "-1", "get", "Address"}, "--address wants a unit from 0 to 255, not '-1'"},
      {{"rtulink", "--json=yes", "members"}, "--json takes no value"},
      {{"rtulink", "--interval", "5", "read", "40001"}, "--interval is an option of poll, not of read"},
      {{"rtulink", "read", "40001", "--format", "bcd"}, "--format wants one of int, uint, hex, float, int32, not 'bcd'"},
      {{"rtulink", "-p", noPort, "read", "40001", "20000", "--format", "float"},
       "read: COUNT 20000 values of two registers each are 40000 registers, more than 32767"},
      {{"rtulink", "-p", noPort, "poll", "40001", "16384", "--format", "int32"}, "are 32768 registers, more than 32767"},
      {{"rtulink", "--io-type", "ioFloat", "read", "40001", "--format", "float"}, "leave out --io-type"},
      {{"rtulink", "serve", "--set", "30001=5"}, "RtuLink has no member that sets its input registers"},
      {{"rtulink", "serve", "--set", "40001=70000"}, "--set 40001 wants a whole number from 0 to 65535, not '70000'"},
      // A folder opens as a stream and reads as nothing: no image at all.
      {{"rtulink", "-p", noPort, "serve", "--load", "/"}, "--load: cannot read /: it is a directory"},
      // A slave takes the reply for a request: the read would fail as unanswered, the write
      // be carried out and reported as not acknowledged.
      {{"rtulink", "-p", noPort, "--mode", "SlaveRtu", "read", "40001"}, "read: ModBusMode SlaveRtu makes the control a slave"},
      {{"rtulink", "-p", noPort, "-m", "4", "write", "40001", "5"}, "write: ModBusMode SlaveAscii makes the control a slave"},
      {{"rtulink", "-p", noPort, "-m", "SlaveRtu", "poll", "40001"}, "run as a master (--mode Rtu or Ascii)"},
  };
  for (const Case& c : cases) {
    RunResult r = RunPlclink(c.args);
    std::string shown = ::testing::PrintToString(c.args);
    EXPECT_EQ(r.exitCode, 2) << shown << "\n" << r.err;
    EXPECT_EQ(FirstLine(r.err).rfind("plclink: ", 0), 0u) << shown << "\n" << r.err;
    EXPECT_NE(FirstLine(r.err).find(c.message), std::string::npos) << shown << "\n" << r.err;
    EXPECT_EQ(r.out, "") << shown;
  }
  // Counts are the control's to refuse (see PlcsimModbusTest): at and beyond the limit the port
  // is opened (and fails here).
  RunResult r = RunPlclink({"rtulink", "-p", noPort, "read", "40001", "126"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  r = RunPlclink({"rtulink", "-p", noPort, "read", "40001", "125"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  // ioDWord reads one register a value, as the control sends it.
  r = RunPlclink({"rtulink", "-p", noPort, "--io-type", "ioDWord", "read", "40001", "125"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
}

TEST(PlclinkCli, MembersListsTheFormOnlyOnesAfterTheOthers) {
  RunResult r = RunPlclink({"rtulink", "members"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::size_t heading = r.out.find("form-only");
  ASSERT_NE(heading, std::string::npos) << r.out;
  EXPECT_LT(r.out.find("method ReadPLC("), heading);
  EXPECT_LT(r.out.find("event CommCompleteEx("), heading);
  EXPECT_GT(r.out.find("event MouseDown("), heading);
  EXPECT_GT(r.out.find("method Refresh("), heading);

  r = RunPlclink({"rtulink", "--json", "members"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::map<std::string, bool> formOnly;
  for (const nlohmann::json& m : JsonLines(r)) formOnly[m["member"].get<std::string>()] = m["formOnly"].get<bool>();
  EXPECT_TRUE(formOnly.at("MouseMove"));
  EXPECT_TRUE(formOnly.at("Refresh"));
  EXPECT_FALSE(formOnly.at("ReadPLCNW"));
  EXPECT_FALSE(formOnly.at("Settings"));
}

}  // namespace
}  // namespace plc::test
