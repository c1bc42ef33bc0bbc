// DfLink on a real serial line (linked pseudo-terminals) against the simulated DF1 PLC running
// on its own thread: the same rows as on the in-memory line, now through termios, the kernel's
// buffering and real time, plus a far end that hangs up in the middle of a reply.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "df1/DfLink.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "df1/Results.h"
#include "tests/platform/TempFolder.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/Df1Simulator.h"

namespace plc {
namespace {

using sim::Df1Fault;

constexpr std::int16_t kCommPort = 41;

std::int64_t NowMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// A DfLink on end A of a linked pair; the PLC, when wanted, on end B.
struct LineRig {
  explicit LineRig(bool bcc = false, bool withPlc = true) : LineRig(sim::Df1SimOptions{"", bcc, 19200}, withPlc) {}
  // The PLC with these options (its device is end B), the control at the same speed.
  explicit LineRig(sim::Df1SimOptions options, bool withPlc = true) : bcc(options.bcc) {
    df1::TheDf1State().Reset();
    options.devicePath = line.PathB();
    if (withPlc) plc = std::make_unique<sim::Df1Simulator>(options);
    link.SetHost(&host);
    link.Initialize();
    link.InitProperties();
    link.SetCommPort(kCommPort);
    link.SetSettings(std::to_string(options.baud) + ",n,8,1");
    link.SetMode(bcc ? df1::EnBCC : df1::EnCRC);
    link.SetEventSink([this](const std::string& name, std::vector<Variant>& args) {
      if (name == "CommComplete") events.push_back(args);
    });
    link.SetPortOpen(true);
  }
  ~LineRig() { link.SetPortOpen(false); }

  Result Read(const std::string& address, VariantArray& values, std::int16_t size) {
    std::string a = address;
    return link.ReadPLC(a, values, Opt<std::int16_t>(size));
  }
  Result Write(const std::string& address, double value) {
    std::string a = address;
    VariantArray v(1, 1, VarType::Double);
    v.Set(1, Variant(value));
    return link.WritePLC(a, v, Opt<std::int16_t>());
  }
  Result ReadNoWait(const std::string& address) {
    Variant a(address), unused;
    return link.ReadPLCNW(a, unused, Opt<std::int16_t>(), Opt<std::int16_t>());
  }
  bool AwaitEvent(std::size_t n) {
    EventLoop& loop = EventLoop::Current();
    return loop.WaitUntil([&] { return events.size() >= n; }, loop.Now() + 5'000'000);
  }

  bool bcc;
  test::PtyLink line;
  test::ScopedCommPort mapped{kCommPort, line.PathA()};
  std::unique_ptr<sim::Df1Simulator> plc;
  StandaloneHost host;
  DfLink link;
  std::vector<std::vector<Variant>> events;
};

TEST(DfLinkLine, ReadsAndWritesOfNFBAndTData) {
  for (bool bcc : {false, true}) {
    LineRig rig(bcc);
    ASSERT_EQ(rig.Write("N7:0", -300), ResultOk);
    ASSERT_TRUE(rig.AwaitEvent(1));
    ASSERT_EQ(rig.Write("F8:1", 3.25), ResultOk);
    ASSERT_TRUE(rig.AwaitEvent(2));
    ASSERT_EQ(rig.Write("B3:4", 16), ResultOk);
    ASSERT_TRUE(rig.AwaitEvent(3));
    ASSERT_EQ(rig.Write("T4:0.ACC", 4112), ResultOk) << "0x1010: two doubled DLEs";
    ASSERT_TRUE(rig.AwaitEvent(4));
    VariantArray v(1, 1, VarType::Double);
    ASSERT_EQ(rig.Read("N7:0", v, 1), ResultOk);
    EXPECT_EQ(v.Get(1).ToDouble(), -300);
    ASSERT_EQ(rig.Read("F8:1", v, 1), ResultOk);
    EXPECT_EQ(v.Get(1).ToDouble(), 3.25);
    ASSERT_EQ(rig.Read("B3/68", v, 1), ResultOk) << "bit 4 of word 4";
    EXPECT_EQ(v.Get(1).ToDouble(), 1);
    ASSERT_EQ(rig.Read("T4:0.2", v, 1), ResultOk);
    EXPECT_EQ(v.Get(1).ToDouble(), 4112);
    ASSERT_EQ(rig.Read("T4:0", v, 1), ResultOk);
    EXPECT_EQ(v.Get(1).ToDouble(), 0) << "the write went to the accumulator alone";
  }
}

struct LineFault {
  Df1Fault fault;
  Result status;
  const char* text;
  std::int64_t maxMicros;
  int acks = 3;  // the closing three, and one for each DLE ENQ answered
};

TEST(DfLinkLine, LinkFailuresCloseWithThreeAcknowledgementsAndTheNextReadWorks) {
  const LineFault rows[] = {
      {Df1Fault::BareAck, ResultLinkTimeout, "Error no ACK", 1'400'000},
      {Df1Fault::DleNak, ResultDleNak, "Error no ACK", 700'000},
      // The station's DLE ENQ is answered and the wait for DLE ACK goes on to its limit.
      {Df1Fault::DleEnq, ResultDleEnq, "Error no ACK", 1'400'000, 4},
      {Df1Fault::OtherByte, 0x41, "Error no ACK", 700'000},
      {Df1Fault::BadCheck, ResultCheckError, "ERRORBCC", 700'000},
      {Df1Fault::Status, ResultStatusError, "ERRORSTATUS", 700'000},
      {Df1Fault::Late, ResultLinkTimeout, "ERRORTIMEOUT", 1'600'000},
      {Df1Fault::AckInReply, ResultDleAck, "", 700'000},
      {Df1Fault::CloseMidReply, ResultLinkTimeout, "ERRORWaitForPLCReply", 1'400'000},
  };
  LineRig rig;
  rig.plc->Plc().Table().SetWords(7, 9, {99});
  for (const LineFault& row : rows) {
    SCOPED_TRACE(::testing::Message() << "fault " << static_cast<int>(row.fault));
    rig.events.clear();
    EventLoop::Current().RunFor(50'000);  // the PLC has read the last acknowledgement
    const int acks = rig.plc->Plc().AcksSeen();
    rig.plc->Plc().InjectNext(row.fault);
    const std::int64_t start = NowMicros();
    ASSERT_EQ(rig.ReadNoWait("N7:9"), ResultFailed);
    ASSERT_TRUE(rig.AwaitEvent(1));
    EXPECT_LE(NowMicros() - start, row.maxMicros);
    EXPECT_GE(NowMicros() - start, 220'000) << "two pauses of 0.11 s";
    EXPECT_EQ(rig.events[0][4].ToInt16(), row.status);
    EXPECT_EQ(rig.events[0][3].ToString(), row.text);
    EXPECT_FALSE(rig.link.CommBusy().ToBool());
    // The PLC reads the closing acknowledgements off the line.
    EventLoop::Current().RunFor(50'000);
    EXPECT_EQ(rig.plc->Plc().AcksSeen() - acks, row.acks);
    VariantArray v(1, 1, VarType::Double);
    ASSERT_EQ(rig.Read("N7:9", v, 1), ResultOk);
    EXPECT_EQ(v.Get(1).ToDouble(), 99);
  }
}

TEST(DfLinkLine, ADleEnqWhileTheNextReadWaitsIsAnsweredAndTheReadGoesOn) {
  // The PLC misses the closing DLE ACK of a reply and, one reply at a time, holds the next
  // read's reply back until its DLE ENQ is answered.
  sim::Df1SimOptions options{"", false, 19200};
  options.ackTimeoutMs = 300;
  LineRig rig(options);
  rig.plc->Plc().Table().SetWords(7, 0, {5, 6});
  VariantArray v(1, 1, VarType::Double);
  rig.plc->Plc().InjectNext(Df1Fault::AckLost);
  ASSERT_EQ(rig.Read("N7:0", v, 1), ResultOk);
  const std::int64_t start = NowMicros();
  ASSERT_EQ(rig.Read("N7:1", v, 1), ResultOk) << rig.link.FailureCause();
  EXPECT_EQ(v.Get(1).ToDouble(), 6);
  EXPECT_GE(NowMicros() - start, 250'000) << "the reply came once the DLE ENQ was answered";
  EXPECT_LE(NowMicros() - start, 700'000);
  EventLoop::Current().RunFor(50'000);
  sim::Df1SimCounts c = rig.plc->Plc().Counts();
  EXPECT_EQ(c.enqsSent, 1);
  EXPECT_EQ(c.repliesGivenUp, 0);
  EXPECT_EQ(c.closingAcks, 2) << sim::CountsText(c);
  EXPECT_EQ(c.lostAcks, 1);
  EXPECT_EQ(rig.Read("N7:0", v, 1), ResultOk) << "the next transaction";
  EXPECT_EQ(v.Get(1).ToDouble(), 5);
}

TEST(DfLinkLine, ARepliesSplitIntoSingleBytesAndACheckByteOf0x10) {
  for (bool bcc : {false, true}) {
    LineRig rig(bcc);
    rig.plc->Plc().Table().SetWords(7, 0, {11, 22, 33});
    VariantArray v(1, 3, VarType::Double);
    rig.plc->Plc().InjectNext(Df1Fault::Split);
    ASSERT_EQ(rig.Read("N7:0", v, 3), ResultOk);
    EXPECT_EQ(v.Get(3).ToDouble(), 33);
    rig.plc->Plc().InjectNext(Df1Fault::CheckByte10);
    ASSERT_EQ(rig.Read("N7:0", v, 3), ResultOk);
    const int forced = rig.plc->Plc().ForcedValue();
    EXPECT_EQ(v.Get(1).ToDouble(), forced > 32767 ? forced - 65536 : forced);
  }
}

TEST(DfLinkLine, AFarEndThatHangsUpMidReply) {
  LineRig rig(false, false);
  test::Pty farEnd;  // not the linked pair: this end can really hang up
  rig.link.SetPortOpen(false);
  test::ScopedCommPort direct(kCommPort, farEnd.DevicePath());
  rig.link.SetPortOpen(true);
  // The far end runs on a thread of its own: the control holds this one while it reads.
  std::size_t requestBytes = 0;
  std::thread peer([&] {
    requestBytes = farEnd.Read(18).size();
    farEnd.Write(test::PtyBytes{0x10, 0x06, 0x10, 0x02, 0x00, 0x01});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    farEnd.CloseFar();
  });
  const std::int64_t start = NowMicros();
  ASSERT_EQ(rig.ReadNoWait("N7:0"), ResultFailed);
  const bool event = rig.AwaitEvent(1);
  peer.join();
  EXPECT_EQ(requestBytes, 18u);
  ASSERT_TRUE(event);
  EXPECT_LE(NowMicros() - start, 1'400'000);
  EXPECT_EQ(rig.events[0][4].ToInt16(), ResultLinkTimeout);
  EXPECT_EQ(rig.events[0][3].ToString(), "ERRORWaitForPLCReply");
  EXPECT_FALSE(rig.link.CommBusy().ToBool());
  // The line is gone: the next read cannot succeed, but it ends in bounded time.
  VariantArray v(1, 1, VarType::Double);
  const std::int64_t next = NowMicros();
  EXPECT_NE(rig.Read("N7:0", v, 1), ResultOk);
  EXPECT_LE(NowMicros() - next, 2'000'000);
}

TEST(DfLinkLine, A127WordReadFitsTheLimitsOfASlowLine) {
  // At 2400 baud the reply alone (266 bytes) takes 1.1 s, beyond 0.71 s: each limit grows by
  // the line time of the bytes it still expects. At 9600 the same read stays within 0.71 s plus
  // that line time.
  for (int baud : {2400, 9600}) {
    SCOPED_TRACE(baud);
    sim::Df1SimOptions options{"", false, baud};
    options.pace = true;
    LineRig rig(options);
    std::vector<std::uint16_t> words(127);
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<std::uint16_t>(1000 + i);
    rig.plc->Plc().Table().SetWords(7, 0, words);
    VariantArray v(1, 127, VarType::Double);
    const std::int64_t start = NowMicros();
    ASSERT_EQ(rig.Read("N7:0", v, 127), ResultOk) << rig.link.FailureCause();
    const double took = static_cast<double>(NowMicros() - start) / 1e6;
    EXPECT_EQ(v.Get(1).ToDouble(), 1000);
    EXPECT_EQ(v.Get(127).ToDouble(), 1126);
    const double lineTime = (18 + 2 + 266) * 10.0 / baud;
    if (baud == 2400) {
      EXPECT_GT(took, 0.71) << "the reply itself outlasts the classic limit";
    }
    EXPECT_LT(took, 0.71 + lineTime);
    EXPECT_EQ(rig.link.FailureCause(), "");
  }
}

TEST(DfLinkLine, ADeviceThatVanishesWhileOpenFailsEachCallWithATextAndRecoversWhenItReturns) {
  testing::TempFolder folder;
  const std::string device = folder.File("ttyDF1");
  auto first = std::make_unique<test::PtyLink>();
  auto plc = std::make_unique<sim::Df1Simulator>(sim::Df1SimOptions{first->PathB(), false, 19200});
  std::filesystem::create_symlink(first->PathA(), device);
  test::ScopedCommPort mapped(kCommPort, device);
  df1::TheDf1State().Reset();
  StandaloneHost host;
  DfLink link;
  link.SetHost(&host);
  link.Initialize();
  link.InitProperties();
  link.SetCommPort(kCommPort);
  link.SetSettings("19200,n,8,1");
  link.SetPortOpen(true);
  plc->Plc().Table().SetWords(7, 0, {31});
  std::string n70 = "N7:0";
  VariantArray v(1, 1, VarType::Double);
  ASSERT_EQ(link.ReadPLC(n70, v, Opt<std::int16_t>()), ResultOk);

  // The adapter is pulled: its far side goes, the device node with it.
  plc.reset();
  first.reset();
  std::filesystem::remove(device);
  const std::int64_t start = NowMicros();
  EXPECT_EQ(link.ReadPLC(n70, v, Opt<std::int16_t>()), ResultFailed);
  EXPECT_NE(link.FailureCause().find("not done: the port refused the request"), std::string::npos) << link.FailureCause();
  Variant a("N7:0"), unused;
  EXPECT_EQ(link.ReadPLCNW(a, unused, Opt<std::int16_t>(), Opt<std::int16_t>()), df1::ResultNotSent);
  EXPECT_NE(link.FailureCause().find("not sent: the port refused the request"), std::string::npos) << link.FailureCause();
  VariantArray one(1, 1, VarType::Double);
  one.Set(1, Variant(5.0));
  EXPECT_EQ(link.WritePLC(n70, one, Opt<std::int16_t>()), ResultFailed);
  EXPECT_FALSE(link.FailureCause().empty());
  EXPECT_LT(NowMicros() - start, 1'000'000) << "no call waits for a dead line";
  EXPECT_FALSE(link.CommBusy().ToBool());

  // It comes back (a new device at the same path): closing and opening the port is enough.
  test::PtyLink second;
  sim::Df1Simulator again(sim::Df1SimOptions{second.PathB(), false, 19200});
  again.Plc().Table().SetWords(7, 0, {32});
  std::filesystem::create_symlink(second.PathA(), device);
  EXPECT_NO_THROW(link.SetPortOpen(false));
  link.SetPortOpen(true);
  ASSERT_EQ(link.ReadPLC(n70, v, Opt<std::int16_t>()), ResultOk) << link.FailureCause();
  EXPECT_EQ(v.Get(1).ToDouble(), 32);
  link.SetPortOpen(false);
}

}  // namespace
}  // namespace plc
