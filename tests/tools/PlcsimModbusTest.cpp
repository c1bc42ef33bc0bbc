// The simulated Modbus slave: strict as a real one (its four tables, unit, broadcast, the
// exceptions), each fault it injects seen by plclink as the user sees it (result, ReadErrors,
// cause, plain and JSON, the time taken) with the next transaction working, and the plcsim
// command's arguments checked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>

#include "modbus/AsciiFrame.h"
#include "modbus/Frame.h"
#include "tests/platform/TempFolder.h"
#include "tests/support/PlclinkCommand.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/ModbusSimulator.h"

namespace plc::sim {
namespace {

using ::testing::HasSubstr;
using modbus::Adu;
using modbus::Bytes;
using modbus::Framing;

Bytes Frame(const Adu& adu, Framing f = Framing::Rtu) { return modbus::BuildFrame(adu, f); }

// The one reply message the slave sends for a request, or nullopt for silence.
std::optional<Adu> Ask(ModbusSimSlave& s, const Adu& request, Framing f = Framing::Rtu) {
  Bytes frame = Frame(request, f);
  std::vector<ModbusSimSend> sends = s.Feed(frame, 0);
  if (sends.empty()) return std::nullopt;
  EXPECT_EQ(sends.size(), 1u);
  modbus::ParsedFrame parsed = modbus::ParseFrame(sends[0].bytes, f);
  EXPECT_TRUE(parsed) << "the reply passes its check";
  return parsed.adu;
}

TEST(ModbusSimSlave, ServesItsFourTablesAndRefusesAsAStandardSlaveDoes) {
  ModbusSimSlave s(5, Framing::Rtu, 100);
  ASSERT_TRUE(s.Set(40001, 1234));
  ASSERT_TRUE(s.Set(30002, 7));
  ASSERT_TRUE(s.Set(10003, 1));
  EXPECT_FALSE(s.Set(40101, 1)) << "beyond the table";
  EXPECT_FALSE(s.Set(10001, 2)) << "an input is 0 or 1";
  EXPECT_FALSE(s.Set(20001, 0)) << "no 2xxxx table";

  EXPECT_EQ(Ask(s, {5, 3, {0, 0, 0, 2}}), (Adu{5, 3, {4, 0x04, 0xD2, 0, 0}}));
  EXPECT_EQ(Ask(s, {5, 4, {0, 1, 0, 1}}), (Adu{5, 4, {2, 0, 7}}));
  EXPECT_EQ(Ask(s, {5, 2, {0, 0, 0, 3}}), (Adu{5, 2, {1, 0b100}}));
  // Writes land in their own tables only.
  EXPECT_EQ(Ask(s, {5, 6, {0, 9, 0, 42}}), (Adu{5, 6, {0, 9, 0, 42}}));
  EXPECT_EQ(s.Get(40010), 42);
  EXPECT_EQ(s.Get(30010), 0);
  EXPECT_EQ(Ask(s, {5, 5, {0, 0, 0xFF, 0}}), (Adu{5, 5, {0, 0, 0xFF, 0}}));
  EXPECT_EQ(s.Get(1), 1);
  EXPECT_EQ(Ask(s, {5, 16, {0, 2, 0, 2, 4, 0, 1, 0, 2}}), (Adu{5, 16, {0, 2, 0, 2}}));
  EXPECT_EQ(s.Get(40004), 2);

  EXPECT_EQ(Ask(s, {6, 3, {0, 0, 0, 1}}), std::nullopt) << "another unit's request";
  EXPECT_EQ(Ask(s, {0, 6, {0, 0, 0, 9}}), std::nullopt) << "a broadcast write is not answered";
  EXPECT_EQ(s.Get(40001), 9) << "but carried out";
  EXPECT_EQ(Ask(s, {0, 3, {0, 0, 0, 1}}), std::nullopt);

  // A function the slave does not serve is refused with exception 1: in RTU once the line's
  // silence has ended the frame, in ASCII at its CR LF.
  EXPECT_TRUE(s.Feed(Frame({5, 7, {}}), 0).empty());
  std::vector<ModbusSimSend> refused = s.Feed({}, ModbusSimSlave::FrameSilenceMicros(SerialSettings{}));
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].bytes, Frame({5, 0x87, {1}}));
  ModbusSimSlave ascii(5, Framing::Ascii, 100);
  EXPECT_EQ(Ask(ascii, {5, 7, {}}, Framing::Ascii), (Adu{5, 0x87, {1}}));
  EXPECT_EQ(Ask(s, {5, 3, {0, 99, 0, 2}}), (Adu{5, 0x83, {2}})) << "registers 100 and 101: the second is beyond";
  EXPECT_EQ(Ask(s, {5, 3, {0, 0, 0, 126}}), (Adu{5, 0x83, {3}}));
  EXPECT_EQ(Ask(s, {5, 3, {0, 0, 0, 0}}), (Adu{5, 0x83, {3}}));
  EXPECT_EQ(Ask(s, {5, 5, {0, 0, 0x12, 0x34}}), (Adu{5, 0x85, {3}}));

  Bytes broken = Frame({5, 3, {0, 0, 0, 1}});
  broken.back() ^= 1;
  EXPECT_TRUE(s.Feed(broken, 0).empty());
  EXPECT_EQ(s.BrokenFrames(), 1);
  EXPECT_TRUE(Ask(s, {5, 3, {0, 0, 0, 1}}).has_value()) << "the next request is served";
}

TEST(ModbusSimSlave, AsciiFramingAndEachFaultShapeTheReply) {
  ModbusSimSlave a(1, Framing::Ascii);
  a.Set(40001, 0x2A);
  EXPECT_EQ(Ask(a, {1, 3, {0, 0, 0, 1}}, Framing::Ascii), (Adu{1, 3, {2, 0, 0x2A}}));

  ModbusSimSlave s(1, Framing::Rtu);
  Bytes request = Frame({1, 3, {0, 0, 0, 1}});
  Bytes good = Frame({1, 3, {2, 0, 0}});
  s.InjectNext(ModbusFault::Silent);
  EXPECT_TRUE(s.Feed(request, 0).empty());
  s.InjectNext(ModbusFault::BadCheck);
  auto sends = s.Feed(request, 0);
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_FALSE(modbus::ParseFrame(sends[0].bytes, Framing::Rtu));
  s.InjectNext(ModbusFault::Late);
  sends = s.Feed(request, 0);
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_GE(sends[0].delayMs, 2100);
  EXPECT_EQ(sends[0].bytes, good);
  s.InjectNext(ModbusFault::Split);
  sends = s.Feed(request, 0);
  ASSERT_EQ(sends.size(), 3u);
  Bytes joined;
  for (const auto& piece : sends) joined.insert(joined.end(), piece.bytes.begin(), piece.bytes.end());
  EXPECT_EQ(joined, good);
  EXPECT_GT(sends[1].delayMs, 0);
  s.InjectNext(ModbusFault::Noise);
  sends = s.Feed(request, 0);
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_EQ(Bytes(sends[0].bytes.end() - static_cast<std::ptrdiff_t>(good.size()), sends[0].bytes.end()), good);
  EXPECT_GT(sends[0].bytes.size(), good.size());
  // A failing slave writes nothing it refuses.
  s.SetFault(ModbusFault::Exception);
  EXPECT_EQ(Ask(s, {1, 6, {0, 0, 0, 5}}), (Adu{1, 0x86, {4}}));
  EXPECT_EQ(s.Get(40001), 0);
}

TEST(ModbusSimSlave, ARequestThatStopsForLongerThanTheLineAllowsIsDropped) {
  SerialSettings line9600{9600, 'n', 8, 1};
  EXPECT_EQ(ModbusSimSlave::RequestTimeLimitMicros(line9600, Framing::Rtu), 320'139);  // 259.5 characters of 1041 us, and 50 ms
  EXPECT_LT(ModbusSimSlave::RequestTimeLimitMicros(SerialSettings{115200, 'n', 8, 1}, Framing::Rtu), 80'000);
  EXPECT_EQ(ModbusSimSlave::RequestTimeLimitMicros(line9600, Framing::Ascii), 1'000'000);
  const Bytes request = Frame({1, 3, {0, 0, 0, 1}});
  const Bytes head(request.begin(), request.begin() + 3);
  const Bytes rest(request.begin() + 3, request.end());
  for (std::int64_t gap : {20'000, 400'000}) {
    ModbusSimSlave s(1, Framing::Rtu, 100);
    s.SetRequestTimeLimit(ModbusSimSlave::RequestTimeLimitMicros(line9600, Framing::Rtu));
    EXPECT_TRUE(s.Feed(head, 1'000'000).empty());
    std::vector<ModbusSimSend> sends = s.Feed(rest, 1'000'000 + gap);
    EXPECT_EQ(sends.size(), gap < 320'000 ? 1u : 0u) << gap;
    EXPECT_EQ(s.BrokenFrames(), gap < 320'000 ? 0 : 1) << gap;
    // The next whole request is served either way.
    EXPECT_EQ(s.Feed(request, 2'000'000).size(), 1u) << gap;
  }
}

// ASCII allows a second between one character and the next: the longest write (511
// characters) at 2400 baud takes 2.1 s and is served; a second's silence inside one drops it.
TEST(ModbusSimSlave, AnAsciiRequestIsTimedBetweenCharactersNotWhole) {
  Bytes data{0, 0, 0, 123, 246};
  for (int k = 0; k < 2 * 123; ++k) data.push_back(static_cast<std::uint8_t>(k));
  const Bytes request = Frame({1, 16, data}, Framing::Ascii);
  ASSERT_EQ(request.size(), 511u);
  for (std::int64_t pause : {0, 1'200'000}) {
    ModbusSimSlave s(1, Framing::Ascii, 200);
    s.SetRequestTimeLimit(ModbusSimSlave::RequestTimeLimitMicros(SerialSettings{2400, 'n', 8, 1}, Framing::Ascii));
    std::vector<ModbusSimSend> sends;
    std::int64_t now = 1'000'000;
    for (std::size_t at = 0; at < request.size(); at += 24, now += 100'000) {  // 24 characters in 0.1 s
      if (at == 240) now += pause;
      const auto end = std::min(request.size(), at + 24);
      for (ModbusSimSend& piece : s.Feed(Bytes(request.begin() + static_cast<std::ptrdiff_t>(at),
                                               request.begin() + static_cast<std::ptrdiff_t>(end)),
                                         now))
        sends.push_back(std::move(piece));
    }
    EXPECT_EQ(sends.size(), pause == 0 ? 1u : 0u) << pause;
    EXPECT_EQ(s.Get(40123), pause == 0 ? std::optional<std::int32_t>(0xF4F5) : std::optional<std::int32_t>(0)) << pause;
  }
}

// A device ends a frame at the line's silence (in ASCII at its CR LF), so a well-formed request
// of a function it does not serve, of whatever length, is refused with exception 1; another
// unit's, a broadcast, or one that fails its check is not answered; a served request still is.
TEST(ModbusSimOnALine, AFunctionItDoesNotServeIsRefusedWithException1WhateverItsLength) {
  const std::vector<Adu> unserved = {
      {1, 7, {}},                                  // read exception status, 4 bytes
      {1, 17, {}},                                 // report server ID
      {1, 43, {0x0E, 1, 0}},                       // read device identification, 7 bytes
      {1, 22, {0, 4, 0xFF, 0, 0, 0x12}},           // mask write register, 10 bytes
      {1, 23, {0, 0, 0, 1, 0, 0, 0, 1, 2, 0, 9}},  // read/write registers, 15 bytes
      {1, 8, {0, 0, 0x12, 0x34}},                  // diagnostics
  };
  for (Framing f : {Framing::Rtu, Framing::Ascii}) {
    test::Pty pty;
    ModbusSimulator sim{ModbusSimOptions{pty.DevicePath(), 1, f, "9600,n,8,1", 100}};
    auto reply = [&](const Adu& request) -> std::optional<Adu> {
      pty.Write(Frame(request, f));
      test::PtyBytes got = pty.ReadUntilQuiet(std::chrono::milliseconds(150));
      if (got.empty()) return std::nullopt;
      modbus::ParsedFrame parsed = modbus::ParseFrame(got, f);
      EXPECT_TRUE(parsed) << "the reply passes its check";
      return parsed.adu;
    };
    for (const Adu& request : unserved) {
      EXPECT_EQ(reply(request), (Adu{1, static_cast<std::uint8_t>(request.function | 0x80), {1}}))
          << "function " << int{request.function} << (f == Framing::Ascii ? " ASCII" : " RTU");
      Adu other = request;
      other.unit = 2;
      EXPECT_EQ(reply(other), std::nullopt) << "another unit's, function " << int{request.function};
      other.unit = 0;
      EXPECT_EQ(reply(other), std::nullopt) << "a broadcast, function " << int{request.function};
    }
    Bytes broken = Frame({1, 23, {0, 0, 0, 1, 0, 0, 0, 1, 2, 0, 9}}, f);
    broken[broken.size() - 3] ^= 1;
    pty.Write(broken);
    EXPECT_TRUE(pty.ReadUntilQuiet(std::chrono::milliseconds(150)).empty()) << "a frame that fails its check";
    EXPECT_EQ(reply({1, 3, {0, 0, 0, 1}}), (Adu{1, 3, {2, 0, 0}})) << "and the next request is served";
  }
}

// plclink against the simulator on a thread of this test, each fault as the user meets it.
class PlclinkAgainstModbusSim : public ::testing::Test {
 protected:
  test::PtyLink line;
  ModbusSimulator sim{ModbusSimOptions{line.PathA(), 1, Framing::Rtu, "9600,n,8,1", 9999}};

  void SetUp() override {
    std::lock_guard<std::mutex> hold(sim.Slave().Lock());
    sim.Slave().Set(40001, 101);
    sim.Slave().Set(40002, 202);
  }
  void Inject(ModbusFault fault) {
    std::lock_guard<std::mutex> hold(sim.Slave().Lock());
    sim.Slave().InjectNext(fault);
  }
  test::RunResult Plclink(std::vector<std::string> args) {
    args.insert(args.begin(), {"rtulink", "--port", line.PathB()});
    return test::RunPlclink(std::move(args));
  }
  void ExpectNextReadWorks() {
    test::RunResult r = Plclink({"read", "40001", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "101 202\n");
  }
};

TEST_F(PlclinkAgainstModbusSim, EveryFaultIsReportedWithItsCausePlainAndJson) {
  struct Case {
    ModbusFault fault;
    std::string errors;  // ReadErrors
    std::string cause;
    double minSeconds, maxSeconds;
  } cases[] = {
      {ModbusFault::Silent, "", "no reply from unit 1 within 2 s", 1.0, 3.5},
      {ModbusFault::BadCheck, "CRC error", "the reply from unit 1 failed its CRC check", 0, 1.5},
      {ModbusFault::Exception, "Exception 4 (slave device failure)",
       "unit 1 refused the request: Exception 4 (slave device failure)", 0, 1.5},
      {ModbusFault::Late, "", "no reply from unit 1 within 2 s", 1.0, 3.5},
  };
  for (const Case& c : cases) {
    for (bool json : {false, true}) {
      Inject(c.fault);
      auto start = std::chrono::steady_clock::now();
      test::RunResult r = json ? Plclink({"--json", "read", "40001", "2"}) : Plclink({"read", "40001", "2"});
      double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      EXPECT_EQ(r.exitCode, 1) << c.cause;
      EXPECT_GE(took, c.minSeconds) << c.cause;
      EXPECT_LE(took, c.maxSeconds) << c.cause;
      if (json) {
        auto lines = test::JsonLines(r);
        ASSERT_EQ(lines.size(), 1u) << r.out;
        EXPECT_EQ(lines[0]["ok"], false);
        EXPECT_EQ(lines[0]["errors"], c.errors);
        EXPECT_EQ(lines[0]["cause"], c.cause);
      } else {
        EXPECT_EQ(r.out, "");
        std::string why = c.errors.empty() || c.cause.find(c.errors) != std::string::npos ? c.cause
                                                                                           : c.errors + " (" + c.cause + ")";
        EXPECT_EQ(r.err, "plclink: ReadPLC failed with result 0: " + why + "\n");
      }
      if (c.fault == ModbusFault::Late) std::this_thread::sleep_for(std::chrono::milliseconds(700));
      ExpectNextReadWorks();
    }
  }
  // Split and noisy replies are still taken.
  for (ModbusFault f : {ModbusFault::Split, ModbusFault::Noise}) {
    Inject(f);
    ExpectNextReadWorks();
  }
}

TEST_F(PlclinkAgainstModbusSim, ALateReplyIsNeverTakenAsTheNextReadsInAShell) {
  // The first read's reply comes 2.5 s late; the next reads, at once after its time-out, are of
  // other registers: each must show its own values or fail, never the late 101.
  for (const std::string mode : {"read 40001\n", "poll 40001 --times 1\n"}) {
    Inject(ModbusFault::Late);
    const std::string script = mode + "read 40002\nread 40001 2\n";
    test::RunResult r = test::RunProgram(
        test::PeerCommand{"/bin/sh", {"-c", "printf '%s' \"$0\" | \"$1\" rtulink --port \"$2\" shell", script,
                                      PLC_PLCLINK, line.PathB()}, "a POSIX shell"},
        std::chrono::seconds(30));
    std::vector<std::string> out = r.OutLines();
    std::vector<std::string> tail(out.end() - std::min<std::ptrdiff_t>(2, std::ssize(out)), out.end());
    EXPECT_THAT(tail, ::testing::ElementsAre("202", "101 202")) << mode << r.out << r.err;
    EXPECT_THAT(r.out + r.err, ::testing::HasSubstr("no reply")) << mode;
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // the late reply of a last read
  }
}

TEST_F(PlclinkAgainstModbusSim, CallsReportTheirOwnOutcomeOnTheCommandLineAndInAShell) {
  // Non-waiting reads end with CommCompleteEx: the call succeeds and prints the values.
  for (std::vector<std::string> call : {std::vector<std::string>{"call", "ReadDevice", "40001"},
                                        std::vector<std::string>{"call", "ReadPLCNW", "40001", "1:[0]", "1"},
                                        std::vector<std::string>{"--json", "call", "ReadPLCNW", "40001", "1:[0]", "1"}}) {
    test::RunResult r = Plclink(call);
    EXPECT_EQ(r.exitCode, 0) << call[1] << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("101")) << call[1];
    EXPECT_EQ(r.err, "") << call[1];
  }
  // A waiting read that timed out keeps its own cause and does not wait on.
  auto start = std::chrono::steady_clock::now();
  test::RunResult r = Plclink({"--address", "9", "call", "ReadPLC", "40001", "1:[0]", "1"});
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "plclink: ReadPLC failed: no reply from unit 9 within 2 s\n");
  EXPECT_LE(took, 3.5);
  // A refused call exits 1.
  r = Plclink({"call", "ReadPLC", "400001", "1:[0]", "1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.err, HasSubstr("ReadPLC failed: reference 400001"));

  // In a shell: the first line opens the port and waits for the completion; a call after a
  // failed read carries no cause of that read.
  const std::string script =
      "call ReadPLCNW 40002 1:[0] 1\n"
      "set Address 3\n"
      "read 40001\n"
      "set Address 1\n"
      "call ReadErrors\n";
  r = test::RunProgram(
      test::PeerCommand{"/bin/sh", {"-c", "printf '%s' \"$0\" | \"$1\" rtulink --port \"$2\" shell", script,
                                    PLC_PLCLINK, line.PathB()}, "a POSIX shell"},
      std::chrono::seconds(30));
  EXPECT_EQ(r.exitCode, 1) << "the read of unit 3";
  std::vector<std::string> out = r.OutLines();
  ASSERT_GE(out.size(), 1u) << r.out << r.err;
  EXPECT_THAT(out[0], HasSubstr("CommCompleteEx"));
  EXPECT_THAT(out[0], HasSubstr("202"));
  EXPECT_THAT(r.err, HasSubstr("ReadPLC failed with result 0: no reply from unit 3 within 2 s"));
  EXPECT_THAT(r.err, ::testing::Not(HasSubstr("ReadErrors failed"))) << r.err;
  EXPECT_THAT(r.err, ::testing::Not(HasSubstr("ReadPLCNW failed"))) << r.err;
}

TEST_F(PlclinkAgainstModbusSim, ACallInAShellOnADocumentsPortWaitsForItsCompletionToo) {
  // The port comes from the document (no --port): the read opens it, and the non-waiting read
  // that follows must end before the next line, as it does on a --port shell, or its reply
  // lands in the next line's transaction.
  plc::testing::TempFolder folder;
  const std::string path = folder.File("plant.ini");
  std::ofstream(path) << "[RtuLink1]\nCommPort=7\nSettings=\"9600,n,8,1\"\n";
  const std::string script = "read 40001\ncall ReadPLCNW 40002 1:[0] 1\npoll 40001 --times 1\n";
  test::RunResult r = test::RunProgram(
      test::PeerCommand{"/bin/sh",
                        {"-c", "printf '%s' \"$0\" | QVL_COM7=\"$2\" \"$1\" rtulink --bag \"$3\" shell", script,
                         PLC_PLCLINK, line.PathB(), path},
                        "a POSIX shell"},
      std::chrono::seconds(30));
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  std::vector<std::string> out = r.OutLines();
  ASSERT_GE(out.size(), 3u) << r.out << r.err;
  EXPECT_EQ(out[0], "101");
  EXPECT_THAT(out[1], HasSubstr("CommCompleteEx MData=[202] MAdd=40002")) << r.out;
  EXPECT_THAT(out.back(), HasSubstr("CommCompleteEx MData=[101] MAdd=40001")) << r.out;
}

// write REF 1 1 ... with count values.
std::vector<std::string> WriteOnes(const std::string& reference, std::size_t count) {
  std::vector<std::string> args{"write", reference};
  args.insert(args.end(), count, "1");
  return args;
}

TEST_F(PlclinkAgainstModbusSim, RefusalsNameWhatWasWrongAndSendNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string cause;
  } cases[] = {
      {{"read", ""}, "address '' not understood: it is empty"},
      {{"read", "400001"}, "reference 400001 names no Modbus table"},
      {{"read", "40000"}, "reference 40000 names no Modbus table"},
      {{"read", "\xEF\xBC\x94\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC\x91"}, "full-width digits are not digits here"},
      {{"read", std::string(10000, '4')}, "the number does not fit 32 bits"},
      {{"write", "40020", "-1"}, "value -1 does not fit a register"},
      {{"write", "40022", "1.5"}, "value 1.5 is not a whole number"},
      {{"read", "49999", "2"}, "unit 1 refused the request: Exception 2 (illegal data address)"},
      // Counts beyond one request: the control refuses them, as every control does (exit 1).
      {{"read", "40001", "126"}, "count 126 beyond this control's limit of 125 registers per read"},
      {{"read", "00001", "2001"}, "count 2001 beyond this control's limit of 2000 bits per read"},
      {{"--io-type", "ioFloat", "read", "40001", "63"}, "count 126 beyond this control's limit of 125 registers"},
      {{"poll", "30001", "63", "--format", "float", "--times", "1"}, "count 126 beyond this control's limit"},
      {WriteOnes("40001", 124), "count 124 beyond this control's limit of 123 registers per write"},
      {WriteOnes("00001", 1969), "count 1969 beyond this control's limit of 1968 bits per write"},
  };
  for (const Case& c : cases) {
    for (bool json : {false, true}) {
      std::vector<std::string> args = c.args;
      if (json) args.insert(args.begin(), "--json");
      test::RunResult r = Plclink(args);
      EXPECT_EQ(r.exitCode, 1) << c.cause << r.err;
      if (json) {
        auto lines = test::JsonLines(r);
        ASSERT_EQ(lines.size(), 1u) << r.out;
        EXPECT_THAT(lines[0]["cause"].get<std::string>(), HasSubstr(c.cause));
      } else {
        EXPECT_THAT(r.err, HasSubstr(c.cause));
        EXPECT_EQ(r.err.find("no error text"), std::string::npos);
      }
    }
  }
  std::lock_guard<std::mutex> hold(sim.Slave().Lock());
  EXPECT_EQ(sim.Slave().Get(40020), 0);
  EXPECT_EQ(sim.Slave().Get(40022), 0);
  EXPECT_EQ(sim.Slave().RequestsServed(), 2) << "only the read of 49999 reached the slave, once plain, once JSON";
}

TEST_F(PlclinkAgainstModbusSim, EveryProtocolOpensItsDeviceOneWayAndPrintsItsVersion) {
  const std::string plcsim = std::string(PLC_BINARY_DIR) + "/bin/plcsim";
  auto run = [&](std::vector<std::string> args) {
    return test::RunProgram(test::PeerCommand{plcsim, args, "build the plcsim target"}, std::chrono::seconds(5));
  };
  const test::RunResult version = run({"--version"});
  ASSERT_EQ(version.exitCode, 0);
  for (const std::string protocol : {"modbus", "directnet", "df1", "ecom"}) {
    test::RunResult r = run({protocol, "--version"});
    EXPECT_EQ(r.exitCode, 0) << protocol << r.err;
    EXPECT_EQ(r.out, version.out) << protocol;
    if (protocol == "ecom") continue;  // serves on UDP
    // A device that cannot be used: exit 1 with what is wrong, for every protocol.
    r = run({protocol, "--port", "/dev/null"});
    EXPECT_EQ(r.exitCode, 1) << protocol << r.err;
    EXPECT_THAT(r.err, HasSubstr("/dev/null is not a serial line")) << protocol;
    // The simulator of this fixture holds PathA: a second one is refused, not run beside it.
    r = run({protocol, "--port", line.PathA()});
    EXPECT_EQ(r.exitCode, 1) << protocol << r.err;
    EXPECT_THAT(r.err, HasSubstr(line.PathA() + " is in use by another program")) << protocol;
  }
  // A speed no serial line can be set to is refused, not replaced by another.
  for (const std::string protocol : {"modbus", "directnet"}) {
    test::RunResult r = run({protocol, "--port", line.PathB(), "--settings", "12345,n,8,1"});
    EXPECT_EQ(r.exitCode, 1) << protocol << r.err;
    EXPECT_THAT(r.err, HasSubstr("speed 12345 is not one a serial line can be set to")) << protocol;
  }
}

TEST(PlcsimModbusCommand, ArgumentsAreCheckedAndHelpListsFaultsAndAddresses) {
  const std::string plcsim = std::string(PLC_BINARY_DIR) + "/bin/plcsim";
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), "modbus");
    return test::RunProgram(test::PeerCommand{plcsim, args, "build the plcsim target"}, std::chrono::seconds(10));
  };
  test::RunResult help = run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* word : {"silent", "badcrc", "exception", "late", "split", "noise", "4xxxx", "0xxxx", "socat"})
    EXPECT_THAT(help.out, HasSubstr(word));
  struct Case {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"--port", "/dev/null", "--set", "40001=70000"}, "--set 40001: '70000' is outside 0..65535"},
      {{"--port", "/dev/null", "--set", "V2000=1"}, "--set V2000: 'V2000' is not a number"},
      {{"--port", "/dev/null", "--unit", "abc"}, "--unit: 'abc' is not a number"},
      {{"--port", "/dev/null", "--fault", "bogus"}, "--fault: 'bogus' is not one of silent, badcrc"},
      {{"--port", "/dev/null", "--times", "-3"}, "--times: '-3' is outside 1.."},
      {{"--port", "/dev/null", "--set", "10001=2"}, "--set 10001: no such point"},
      {{"--unit", "1"}, "--port PATH is required"},
      {{"--port", ""}, "--port: an empty path names no device"},
  };
  for (const Case& c : cases) {
    test::RunResult r = run(c.args);
    EXPECT_EQ(r.exitCode, 2) << c.says;
    EXPECT_THAT(r.err, HasSubstr("plcsim modbus: " + c.says));
  }
  test::RunResult r = run({"--port", "/dev/null"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.err, HasSubstr("/dev/null is not a serial line"));
}

}  // namespace
}  // namespace plc::sim
