// SeqLink on a real tty line against the DirectNET station simulator on its own thread: whole
// transactions for every memory type, waiting and not, and the faults a station or the line can
// cause, each ending in bounded real time with the next transaction working.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "directnet/LinkState.h"
#include "directnet/SeqLink.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "tests/support/LineTiming.h"
#include "tests/support/OpenOnLine.h"
#include "tests/support/Pty.h"
#include "tests/support/VanishingStationLine.h"
#include "tools/plcsim/DirectNetSimulator.h"

namespace plc {
namespace {

constexpr int kCommPort = 21;

using Clock = std::chrono::steady_clock;

using test::SecondsSince;

class SeqLinkOnPty : public testing::Test {
 protected:
  SeqLinkOnPty() {
    dnet::SeqLinkState() = dnet::LinkState{};
    test::OpenOnLine(link_, host_, kCommPort);
    link_.SetEventSink([this](const std::string& name, std::vector<Variant>&) {
      if (name == "CommComplete") ++completions_;
    });
  }
  ~SeqLinkOnPty() override { link_.SetPortOpen(false); }

  Result Read(const char* address, Variant& value, std::int16_t size = 1, std::int16_t io = 0) {
    Variant a(address), n(size);
    return link_.ReadPLC(a, value, Opt<Variant>(n), Opt<std::int16_t>(io), Opt<std::int32_t>());
  }
  Result ReadNW(const char* address, std::int16_t size) {
    Variant a(address), unused, n(size);
    return link_.ReadPLCNW(a, unused, Opt<Variant>(n), Opt<std::int16_t>());
  }
  Result Write(const char* address, Variant value, std::int16_t size = 1) {
    Variant a(address);
    return link_.WritePLC(a, value, Opt<std::int16_t>(size), Opt<std::int16_t>(), Opt<std::int32_t>());
  }
  Result WriteBit(const char* address, std::int32_t value) {
    Variant a(address), v(value);
    return link_.WritePLCBit(a, v, Opt<std::int16_t>(), Opt<std::int16_t>(), Opt<std::int32_t>());
  }
  bool AwaitCompletion(int count) { return test::AwaitCount(completions_, count); }
  void ExpectTimedFailure(Result result, Clock::time_point t0) { test::ExpectTimedFailure(link_, result, t0); }

  test::PtyLink line_;
  test::ScopedCommPort mapping_{kCommPort, line_.PathA()};
  sim::DirectNetSimulator station_{{line_.PathB(), {1, 5}}};
  StandaloneHost host_;
  SeqLink link_;
  int completions_ = 0;
};

TEST_F(SeqLinkOnPty, EveryMemoryTypeWaitingAndNotWaiting) {
  const struct {
    const char* address;
    std::uint32_t header;
  } words[] = {{"V,2000", 0x0400}, {"5;V,2000", 0x0400}, {"T,1", 1}, {"CT,5", 0x205}, {"S,3", 0x4203}, {"SP,4", 0x4284}};
  std::int32_t v = 40000;
  for (const auto& w : words) {
    ASSERT_EQ(Write(w.address, Variant(++v)), ResultOk) << w.address;
    Variant back;
    ASSERT_EQ(Read(w.address, back), ResultOk) << w.address;
    EXPECT_EQ(back.ToInt32(), v) << w.address;
  }
  EXPECT_EQ(station_.Word(5, 0x0400), 40002);
  EXPECT_EQ(station_.Word(1, 0x0400), 40001);

  const struct {
    const char* address;
    std::uint32_t header;
  } bits[] = {{"X,0", 0x4100}, {"Y,0", 0x4140}, {"C,0", 0x4180}, {"GX,0", 0x4000}, {"GY,0", 0x4080}};
  for (const auto& b : bits) {
    station_.SetWord(1, b.header, 0x0001);
    Variant bit;
    ASSERT_EQ(Read(b.address, bit), ResultOk) << b.address;
    EXPECT_EQ(bit.ToInt32(), 1) << b.address;
  }
  ASSERT_EQ(WriteBit("C,3", 1), ResultOk);
  EXPECT_EQ(station_.Word(1, 0x4180), 0x0009);

  const int before = completions_;
  ASSERT_EQ(ReadNW("V,2000", 1), ResultOk);
  ASSERT_TRUE(AwaitCompletion(before + 1));
  std::int16_t one = 1;
  EXPECT_EQ(link_.ReadData(one).ToInt32(), 40001);
}

TEST_F(SeqLinkOnPty, HundredWordsInOneRead) {
  VariantArray values(1, 100);
  for (int k = 1; k <= 100; ++k) values.Set(k, Variant(std::int32_t{k * 600}));
  ASSERT_EQ(Write("V,2000", Variant(values), 100), ResultOk);
  Variant back(VariantArray(1, 100));
  ASSERT_EQ(Read("V,2000", back, 100), ResultOk);
  EXPECT_EQ(back.Array().Get(100).ToInt32(), 60000);
  EXPECT_EQ(station_.Word(1, 0x0400 + 99), 60000);
}

TEST_F(SeqLinkOnPty, SilentStationThenReadErrorThenRecovery) {
  station_.SetFault(sim::StationFault::NoAnswer);
  for (int i = 0; i < 3; ++i) {
    Variant value;
    const auto t0 = Clock::now();
    ExpectTimedFailure(Read("V,2000", value), t0);
  }
  EventLoop& loop = EventLoop::Current();
  EXPECT_TRUE(loop.WaitUntil([&] { return link_.ReadErrors().ToString() == "Read error"; }, loop.Now() + 3'000'000));
  station_.SetFault(sim::StationFault::None);
  Variant value;
  EXPECT_EQ(Read("V,2000", value), ResultOk);
  EXPECT_EQ(link_.ReadErrors().ToString(), "");
}

TEST_F(SeqLinkOnPty, StationFaultsFailInTimeAndTheNextReadWorks) {
  for (auto fault : {sim::StationFault::BadLrc, sim::StationFault::Nak, sim::StationFault::NoEot}) {
    station_.SetWord(1, 0x0400, 123);
    station_.SetFault(fault);
    Variant value(std::int32_t{-7});
    const auto t0 = Clock::now();
    ExpectTimedFailure(Read("V,2000", value), t0);
    EXPECT_EQ(value.ToInt32(), -7);
    EXPECT_EQ(link_.ReadErrors().ToString(), "") << "one failure is not reported as a text";
    if (fault == sim::StationFault::BadLrc) {
      EXPECT_EQ(dnet::SeqLinkState().ReadWords[1], 123) << "words kept";
    }
    station_.SetFault(sim::StationFault::None);
    EXPECT_EQ(Read("V,2000", value), ResultOk);
    EXPECT_EQ(value.ToInt32(), 123);
  }
}

TEST_F(SeqLinkOnPty, RepliesOneSlowByteAtATime) {
  station_.SetFault(sim::StationFault::SlowBytes);
  station_.SetWord(1, 0x0400, 9);
  Variant value;
  const auto t0 = Clock::now();
  EXPECT_EQ(Read("V,2000", value), ResultOk);
  EXPECT_LT(SecondsSince(t0), 1.0);
  EXPECT_EQ(value.ToInt32(), 9);
  EXPECT_EQ(Write("V,2000", Variant(std::int32_t{10})), ResultOk);
}

TEST(SeqLinkLineGone, FarEndClosedMidTransactionAndPortClosed) {
  dnet::SeqLinkState() = dnet::LinkState{};
  test::Pty pty;
  test::ScopedCommPort mapping(kCommPort, pty.DevicePath());
  StandaloneHost host;
  SeqLink link;
  test::OpenOnLine(link, host, kCommPort);

  // The far end answers the enquiry and hangs up before the data.
  std::thread far([&] {
    test::PtyBytes enquiry = pty.Read(3, std::chrono::seconds(3));
    if (enquiry.size() == 3) pty.Write(test::PtyBytes{'N', 0x21, 0x06});
    pty.Read(8, std::chrono::seconds(3));
    pty.CloseFar();
  });
  Variant a("V,2000"), value, n(std::int16_t{1});
  const auto t0 = Clock::now();
  EXPECT_EQ(link.ReadPLC(a, value, Opt<Variant>(n), Opt<std::int16_t>(), Opt<std::int32_t>()), ResultFailed);
  const double took = SecondsSince(t0);
  far.join();
  EXPECT_GE(took, 0.9);
  EXPECT_LE(took, 2.5);

  // The port closed by the host: refused at once, no wait.
  link.SetPortOpen(false);
  const auto t1 = Clock::now();
  EXPECT_EQ(link.ReadPLC(a, value, Opt<Variant>(n), Opt<std::int16_t>(), Opt<std::int32_t>()), ResultFailed);
  Variant one(std::int32_t{1});
  EXPECT_EQ(link.WritePLC(a, one, Opt<std::int16_t>(), Opt<std::int16_t>(), Opt<std::int32_t>()), ResultFailed);
  EXPECT_LT(SecondsSince(t1), 0.5);
  EventLoop& loop = EventLoop::Current();
  EXPECT_TRUE(loop.WaitUntil([&] { return !link.CommBusy().ToBool(); }, loop.Now() + 4'500'000)) << "the watchdog";
}

}  // namespace
}  // namespace plc

namespace plc {
namespace {

// The device goes away while the port is open (an adapter unplugged) and comes back under the
// same path: each call meanwhile fails with its result and a text, never a raised error, and
// the port takes the device back without being closed and opened by the host.
TEST(SeqLinkVanishedDevice, FailsWithATextAndRecoversWhenTheDeviceReturns) {
  dnet::SeqLinkState() = dnet::LinkState{};
  test::VanishingStationLine line({1});
  line.WithStation([](sim::DirectNetStation& s) { return s.SetWord(1, 0x0400, 55); });
  test::ScopedCommPort mapping(kCommPort, line.Path());
  StandaloneHost host;
  SeqLink link;
  test::OpenOnLine(link, host, kCommPort);
  auto read = [&](Variant& value) {
    Variant a("V,2000"), n(std::int16_t{1});
    return link.ReadPLC(a, value, Opt<Variant>(n), Opt<std::int16_t>(), Opt<std::int32_t>());
  };
  Variant value;
  ASSERT_EQ(read(value), ResultOk);
  EXPECT_EQ(value.ToInt32(), 55);

  line.Vanish();
  for (bool beforeTheLoopSawIt : {true, false}) {
    if (!beforeTheLoopSawIt) EventLoop::Current().RunFor(300'000);
    const auto t0 = Clock::now();
    Result result = ResultOk;
    ASSERT_NO_THROW(result = read(value));
    EXPECT_EQ(result, ResultFailed);
    EXPECT_LE(SecondsSince(t0), 2.5);
    EXPECT_FALSE(link.FailureCause().empty());
    Variant a("V,2000"), one(std::int32_t{1});
    ASSERT_NO_THROW(result = link.WritePLC(a, one, Opt<std::int16_t>(), Opt<std::int16_t>(), Opt<std::int32_t>()));
    EXPECT_EQ(result, ResultFailed);
    EXPECT_NE(link.FailureCause().find("Input/output error"), std::string::npos) << link.FailureCause();
  }

  line.Return();
  EventLoop& loop = EventLoop::Current();
  Result again = ResultFailed;
  const auto t1 = Clock::now();
  while (again != ResultOk && SecondsSince(t1) < 5) {
    loop.RunFor(300'000);
    again = read(value);
  }
  EXPECT_EQ(again, ResultOk) << link.FailureCause();
  EXPECT_EQ(value.ToInt32(), 55);
  EXPECT_TRUE(link.PortOpen());
}

}  // namespace
}  // namespace plc
