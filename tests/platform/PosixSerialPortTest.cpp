// The termios port on pseudo-terminal pairs: the test plays the far end of a real tty line.
#include "platform/PosixSerialPort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "base/Enums.h"
#include "base/RuntimeError.h"
#include "platform/PollEventLoop.h"
#include "platform/SerialPortMap.h"
#include "tests/support/Pty.h"
#include "tests/support/ErrorOf.h"

namespace plc {
namespace {

using test::Pty;
using test::ScopedCommPort;
using namespace std::chrono_literals;

constexpr int kPort = 7;

using test::ErrorOf;

class PosixSerialPortOnPty : public ::testing::Test {
 protected:
  PosixSerialPortOnPty() {
    port.SetCommPort(kPort);
    port.OnComm = [this] { events.push_back(port.CommEvent()); };
  }
  bool WaitFor(const std::function<bool()>& done, std::int64_t millis = 5000) {
    return loop.WaitUntil(done, loop.Now() + millis * 1000);
  }
  int Count(int event) const { return static_cast<int>(std::count(events.begin(), events.end(), event)); }

  PollEventLoop loop{TheSystemClock()};
  ScopedCurrentLoop current{loop};
  Pty pty;
  ScopedCommPort mapping{kPort, pty.DevicePath()};
  PosixSerialPort port{loop};
  std::vector<int> events;
};

TEST(SerialPortMap, CodeMappingWinsOverEnvironmentWhichWinsOverDefault) {
  ::unsetenv("QVL_COM12");
  EXPECT_EQ(SerialPortMap::Current().PathFor(12), "/dev/ttyS11");
  ::setenv("QVL_COM12", "/dev/ttyUSB0", 1);
  EXPECT_EQ(SerialPortMap::Current().PathFor(12), "/dev/ttyUSB0");
  {
    ScopedCommPort mapped(12, "/dev/pts/99");
    EXPECT_EQ(SerialPortMap::Current().PathFor(12), "/dev/pts/99");
  }
  EXPECT_EQ(SerialPortMap::Current().PathFor(12), "/dev/ttyUSB0") << "the scope restored the mapping";
  ::unsetenv("QVL_COM12");
}

TEST_F(PosixSerialPortOnPty, OpensTheMappedDeviceAndSendsByteForByte) {
  port.SetPortOpen(true);
  EXPECT_EQ(port.DevicePath(), pty.DevicePath());
  EXPECT_TRUE(port.IsPseudoTerminal());
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  port.OutputBytes(all);
  EXPECT_EQ(pty.Read(all.size()), all);
  port.Output(Variant(std::string("abc\r\n", 5)));
  EXPECT_EQ(pty.ReadText(5), std::string("abc\r\n", 5)) << "no output processing on the line";
}

TEST_F(PosixSerialPortOnPty, EnvironmentVariableOpensAnUnmappedPort) {
  ::setenv("QVL_COM13", pty.DevicePath().c_str(), 1);
  port.SetCommPort(13);
  port.SetPortOpen(true);
  port.Output(Variant("env"));
  EXPECT_EQ(pty.ReadText(3), "env");
  ::unsetenv("QVL_COM13");
}

TEST_F(PosixSerialPortOnPty, SettingsReachTheLineAndPtyAcceptsParityAgainAndAgain) {
  port.SetSettings("19200,n,8,1");
  port.SetPortOpen(true);
  termios t = pty.DeviceTermios();
  EXPECT_EQ(cfgetospeed(&t), speed_t{B19200});
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t{CS8});
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO)) << "raw line";

  port.SetSettings("115200,n,8,2");
  t = pty.DeviceTermios();
  EXPECT_EQ(cfgetospeed(&t), speed_t{B115200});
  EXPECT_TRUE(t.c_cflag & CSTOPB);

  // A pty keeps no parity; asking for it again (which the kernel refuses) must still work.
  for (const char* text : {"9600,e,7,1", "9600,e,7,1", "9600,o,8,1", "9600,m,8,1", "9600,s,8,1", "9600,e,8,1"}) {
    SCOPED_TRACE(text);
    EXPECT_NO_THROW(port.SetSettings(text));
    EXPECT_EQ(port.Settings(), text);
    t = pty.DeviceTermios();
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_EQ(cfgetospeed(&t), speed_t{B9600});
  }
  EXPECT_NO_THROW(port.SetPortOpen(false));
  EXPECT_NO_THROW(port.SetPortOpen(true)) << "reopening with parity settings";
}

TEST_F(PosixSerialPortOnPty, HandshakingSetsFlowControlFlags) {
  port.SetPortOpen(true);
  struct Case {
    int mode;
    bool soft, hard;
  };
  for (Case c : {Case{1, true, false}, Case{2, false, true}, Case{3, true, true}, Case{0, false, false}}) {
    SCOPED_TRACE(c.mode);
    port.SetHandshaking(c.mode);
    termios t = pty.DeviceTermios();
    EXPECT_EQ((t.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF), c.soft);
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.hard);
  }
}

TEST_F(PosixSerialPortOnPty, BadSettingsAreRefusedAndTheOldOnesStay) {
  port.SetSettings("19200,n,8,1");
  for (bool open : {false, true}) {
    if (open) port.SetPortOpen(true);
    for (const char* text : {"14400,n,8,1", "9600,x,8,1", "9600,n,9,1", "9600,n,8", "fast,n,8,1", "9600,n,8,3"}) {
      SCOPED_TRACE(text);
      EXPECT_EQ(ErrorOf([&] { port.SetSettings(text); }), err::InvalidPropertyValue);
      EXPECT_EQ(port.Settings(), "19200,n,8,1");
    }
  }
  termios t = pty.DeviceTermios();
  EXPECT_EQ(cfgetospeed(&t), speed_t{B19200});
}

TEST_F(PosixSerialPortOnPty, CommPortCannotChangeWhileOpen) {
  port.SetPortOpen(true);
  EXPECT_EQ(ErrorOf([&] { port.SetCommPort(3); }), err::PortOpenNotValid);
  port.Output(Variant("still"));
  EXPECT_EQ(pty.ReadText(5), "still");
}

TEST_F(PosixSerialPortOnPty, MissingOrNonSerialDeviceLeavesThePortClosed) {
  ScopedCommPort missing(kPort, "/dev/no-such-serial-device");
  try {
    port.SetPortOpen(true);
    FAIL() << "opened a missing device";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::PortInvalid);
    EXPECT_NE(std::string(e.what()).find("/dev/no-such-serial-device"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(port.PortOpen());
  {
    ScopedCommPort notTty(kPort, "/dev/null");
    EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }), err::PortInvalid);
    EXPECT_FALSE(port.PortOpen());
  }
  ScopedCommPort back(kPort, pty.DevicePath());
  port.SetPortOpen(true);
  EXPECT_TRUE(port.PortOpen());
}

TEST_F(PosixSerialPortOnPty, SecondPortOnTheSameDeviceIsBusyUntilTheFirstCloses) {
  port.SetPortOpen(true);
  PosixSerialPort second(loop);
  second.SetCommPort(kPort);
  EXPECT_EQ(ErrorOf([&] { second.SetPortOpen(true); }), err::PortAlreadyOpen);
  EXPECT_FALSE(second.PortOpen());
  port.SetPortOpen(false);
  second.SetPortOpen(true);
  second.Output(Variant("2nd"));
  EXPECT_EQ(pty.ReadText(3), "2nd");
}

TEST_F(PosixSerialPortOnPty, ReceiveNotificationOnceThresholdCharactersWait) {
  port.SetPortOpen(true);
  port.SetRThreshold(5);
  pty.Write("abc");
  ASSERT_TRUE(WaitFor([&] { return port.InBufferCount() == 3; }));
  EXPECT_EQ(Count(comm::EvReceive), 0);
  pty.Write("de");
  ASSERT_TRUE(WaitFor([&] { return Count(comm::EvReceive) > 0; }));
  EXPECT_EQ(port.CommEvent(), comm::EvReceive);
  EXPECT_EQ(port.Input().ToString(), "abcde");

  port.SetRThreshold(0);
  pty.Write("xyz");
  ASSERT_TRUE(WaitFor([&] { return port.InBufferCount() == 3; }));
  EXPECT_EQ(Count(comm::EvReceive), 1) << "threshold 0 raises none";
}

TEST_F(PosixSerialPortOnPty, DiscardingInputAndBinaryInput) {
  port.SetPortOpen(true);
  pty.Write("junk");
  ASSERT_TRUE(WaitFor([&] { return port.InBufferCount() == 4; }));
  port.SetInBufferCount(0);
  EXPECT_EQ(port.InBufferCount(), 0);
  EXPECT_EQ(port.Input().ToString(), "");

  port.SetInputMode(InputModeKind::Binary);
  pty.Write(test::PtyBytes{0x00, 0x80, 0xff});
  ASSERT_TRUE(WaitFor([&] { return port.InBufferCount() == 3; }));
  Variant v = port.Input();
  ASSERT_TRUE(v.IsArray());
  ASSERT_EQ(v.Array().Size(), 3u);
  EXPECT_EQ(v.Array().Get(0).ToByte(), 0x00);
  EXPECT_EQ(v.Array().Get(2).ToByte(), 0xff);
}

TEST_F(PosixSerialPortOnPty, TraceSeesWhatGoesOutAndComesIn) {
  std::vector<std::pair<TraceDirection, std::string>> seen;
  port.SetTrace([&](TraceDirection d, const std::uint8_t* p, std::size_t n, std::int64_t) { seen.emplace_back(d, std::string(p, p + n)); });
  port.SetPortOpen(true);
  port.Output(Variant("ping"));
  pty.Write("pong");
  ASSERT_TRUE(WaitFor([&] { return port.InBufferCount() == 4; }));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_pair(TraceDirection::Sent, std::string("ping")));
  EXPECT_EQ(seen[1], std::make_pair(TraceDirection::Received, std::string("pong")));
}

TEST_F(PosixSerialPortOnPty, SendNotificationAfterTheCharacterTimeOfTheOutput) {
  port.SetSettings("9600,n,8,1");  // 10 bits a character: 100 characters take about 104 ms
  port.SetPortOpen(true);
  port.SetSThreshold(1);
  std::int64_t start = loop.Now();
  port.Output(Variant(std::string(100, 'u')));
  EXPECT_GT(port.OutBufferCount(), 0);
  ASSERT_TRUE(WaitFor([&] { return Count(comm::EvSend) == 1; }));
  EXPECT_GE(loop.Now() - start, 100 * 1'000'000 / 960 - 2000);
  EXPECT_EQ(port.OutBufferCount(), 0);

  port.Output(Variant(std::string(100, 'v')));
  port.SetOutBufferCount(0);
  EXPECT_EQ(port.OutBufferCount(), 0);
  ASSERT_TRUE(WaitFor([&] { return Count(comm::EvSend) == 2; })) << "discarding counts as drained";
}

TEST_F(PosixSerialPortOnPty, PtyHasNoModemLinesAndToleratesSettingThem) {
  port.SetPortOpen(true);
  EXPECT_FALSE(port.HasModemLines());
  EXPECT_NO_THROW(port.SetDTREnable(true));
  EXPECT_NO_THROW(port.SetRTSEnable(true));
  EXPECT_FALSE(port.CDHolding());
}

TEST_F(PosixSerialPortOnPty, FarEndClosingNeitherCrashesNorSpinsTheLoop) {
  port.SetRThreshold(1);
  port.SetPortOpen(true);
  pty.Write("last");
  ASSERT_TRUE(WaitFor([&] { return port.InBufferCount() == 4; }));
  pty.CloseFar();
  ASSERT_TRUE(WaitFor([&] { return port.HungUp(); }));
  EXPECT_EQ(port.Input().ToString(), "last") << "data received before the hang-up is kept";

  // An idle loop over a hung-up port sleeps: a spinning one would burn the whole second.
  std::clock_t cpu = std::clock();
  bool ticked = false;
  loop.AddTimer(loop.Now() + 300'000, [&] { ticked = true; });
  ASSERT_TRUE(WaitFor([&] { return ticked; }, 2000)) << "the loop stays responsive";
  loop.RunFor(700'000);
  EXPECT_LT(static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC, 0.4);

  try {
    port.Output(Variant("after"));
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::WriteFailed);
  }
  EXPECT_NO_THROW(port.SetPortOpen(false));
  EXPECT_FALSE(port.PortOpen());
}

TEST_F(PosixSerialPortOnPty, WriteToAFarEndThatNeverReadsGivesUpInBoundedTime) {
  port.SetSettings("4000000,n,8,1");
  port.SetPortOpen(true);
  Bytes flood(256 * 1024, 'f');
  std::int64_t start = loop.Now();
  EXPECT_EQ(ErrorOf([&] { port.OutputBytes(flood); }), err::WriteFailed);
  EXPECT_LT(loop.Now() - start, 10'000'000);
  pty.ReadUntilQuiet(50ms);
  port.Output(Variant("ok"));
  EXPECT_EQ(pty.ReadText(2), "ok") << "the port is usable once the far end reads again";
}

// A far end that sent XOFF holds the output until its XON: the write gives up in bounded time
// and says what holds it, where 'the line took 0 of 8 bytes' left a technician looking at
// the cable.
TEST_F(PosixSerialPortOnPty, AWriteHeldByXoffSaysSoAndGoesOutAfterXon) {
  port.SetHandshaking(1);
  port.SetPortOpen(true);
  pty.Write(test::PtyBytes{0x13});
  loop.RunFor(50'000);
  try {
    port.OutputBytes(Bytes(8, 'x'));
    ADD_FAILURE() << "a write the far end stopped was reported sent";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::WriteFailed);
    EXPECT_NE(std::string(e.what()).find("XOFF"), std::string::npos) << e.what();
  }
  pty.Write(test::PtyBytes{0x11});
  loop.RunFor(50'000);
  port.Output(Variant("ok"));
  EXPECT_EQ(pty.ReadText(2), "ok");
}

// A one-shot program writes its closing acknowledgement and closes at once: the far end must
// still get every byte, however soon the close follows the write.
TEST_F(PosixSerialPortOnPty, ClosingRightAfterAWriteDropsNothing) {
  constexpr int kRuns = 300;
  for (int run = 0; run < kRuns; ++run) {
    port.SetPortOpen(true);
    port.OutputBytes(Bytes{0x10, static_cast<std::uint8_t>(run)});
    port.SetPortOpen(false);
  }
  test::PtyBytes got = pty.Read(2 * kRuns);
  ASSERT_EQ(got.size(), 2u * kRuns) << "bytes written before a close were discarded";
  for (std::size_t run = 0; run < kRuns; ++run) {
    EXPECT_EQ(got[2 * run], 0x10);
    EXPECT_EQ(got[2 * run + 1], static_cast<std::uint8_t>(run)) << "run " << run;
  }
}

TEST_F(PosixSerialPortOnPty, CloseReturnsAtOnceWhenTheFarEndNeverReadsOrHasGone) {
  port.SetPortOpen(true);
  port.OutputBytes(Bytes(4096, 'q'));
  auto start = std::chrono::steady_clock::now();
  port.SetPortOpen(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 250ms) << "a pseudo-terminal holds nothing to wait for";
  EXPECT_EQ(pty.Read(4096).size(), 4096u) << "what nobody had read yet is still there after the close";

  port.SetPortOpen(true);
  port.OutputBytes(Bytes{1, 2, 3});
  pty.CloseFar();
  start = std::chrono::steady_clock::now();
  EXPECT_NO_THROW(port.SetPortOpen(false));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 250ms) << "nothing can leave towards a far end that is gone";
}

TEST(PtyLink, TwoPortsTalkBothWaysThroughTheLinkedDevices) {
  PollEventLoop loop{TheSystemClock()};
  test::PtyLink link;
  ScopedCommPort a(21, link.PathA());
  ScopedCommPort b(22, link.PathB());
  PosixSerialPort left(loop), right(loop);
  left.SetCommPort(21);
  right.SetCommPort(22);
  left.SetPortOpen(true);
  right.SetPortOpen(true);
  left.Output(Variant("to the right"));
  right.Output(Variant("to the left"));
  EXPECT_TRUE(loop.WaitUntil([&] { return right.InBufferCount() == 12 && left.InBufferCount() == 11; }, loop.Now() + 5'000'000));
  EXPECT_EQ(right.Input().ToString(), "to the right");
  EXPECT_EQ(left.Input().ToString(), "to the left");
}

}  // namespace
}  // namespace plc
