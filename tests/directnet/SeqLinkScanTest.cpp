// SeqLink's background scan: due groups go out through its own ReadPLCNW at the group's unit,
// ScanElapsed ends at index 320, and the scan-write flag every SeqLink shares keeps the scan
// off the line.
#include <gtest/gtest.h>

#include <stdexcept>

#include "frame/ScanEngine.h"
#include "tests/directnet/SeqLinkRig.h"
#include "tests/support/ScanChecks.h"

namespace plc {
namespace {

struct ScanRig : test::SeqLinkRig {
  ScanRig() {
    ScanTables().Clear();
    link->SetScanReadEnable(true);
  }
  ~ScanRig() { ScanTables().Clear(); }
  void Group(std::int32_t index, Variant address, std::int16_t unit = -1) {
    ScanGroup& g = ScanTables().Group(index);
    g = ScanGroup{unit, std::move(address), 0, 2, 1, True, 0, {}};
    ScanTables().ScanGroupCount = Variant(std::max(index, ScanTables().ScanGroupCount.ToInt32()));
  }
  void Tick() { link->Timer2().OnTick(); }
};

// A group's address is read as the control's ReadPLCNW reads it, at the group's unit where it
// names no station: a bare number is octal V-memory, a tag name its tag's address, and one that
// names its station keeps it. Each once made "unit;address", which sent nothing or (a second
// station glued in front) read the group's unit instead.
TEST(SeqLinkScan, AGroupAddressIsReadAsReadPlcnwReadsIt) {
  ScanRig r;
  r.station.SetWord(2, 0x0400, 55);  // station 2, V2000
  r.station.SetWord(1, 0x0400, 7);   // station 1, V2000
  r.station.SetWord(1, 0x0401, 8);   // station 1, V2001
  r.station.SetWord(2, 0x0401, 9);   // station 2, V2001
  Tags().Clear();
  ASSERT_TRUE(Tags().AddTag(1, Variant("Level"), Variant("2001")));
  ASSERT_TRUE(Tags().AddTag(2, Variant("Flow"), Variant("2;2001")));
  r.Group(1, Variant("V,2000"), 2);
  r.Group(2, Variant(std::int32_t{2000}));
  r.Group(3, Variant("2000"), 2);
  r.Group(4, Variant("Level"));
  r.Group(5, Variant("Flow"));
  r.Group(6, Variant("2;V,2000"));
  std::vector<std::pair<std::int32_t, std::string>> scans;
  r.link->SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    if (name != "ScanComplete") return;
    const std::string error = args.at(4).ToString();
    scans.emplace_back(error.empty() && args.at(3).ToInt32() >= 1 ? args.at(2).Array().Get(1).ToInt32() : -1, error);
  });
  r.Tick();
  r.Run(100'000);
  Tags().Clear();
  ASSERT_EQ(scans.size(), 6u);
  const std::vector<std::int32_t> expected = {55, 7, 55, 8, 9, 55};
  for (std::size_t i = 0; i < scans.size(); ++i) {
    EXPECT_EQ(scans[i].second, "") << "group " << i + 1;
    EXPECT_EQ(scans[i].first, expected[i]) << "group " << i + 1;
  }
  EXPECT_EQ(r.link->Scan().ScanElapsed().size(), 321u);
}

// A group of points is read as points: its ScanComplete carries a 0 or 1 for each, not the words
// that hold them.
TEST(SeqLinkScan, AGroupOfPointsCompletesWithItsPoints) {
  ScanRig r;
  r.station.SetByte(1, 0x4100, 0x85);  // X7 on
  r.station.SetByte(1, 0x4101, 0x02);  // X11 on
  std::vector<Variant> completion;
  r.link->SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    if (name == "ScanComplete") completion = args;
  });
  r.Group(1, Variant("X,7"));
  ScanTables().Group(1).count = 3;
  r.Tick();
  r.Run(10'000);
  ASSERT_EQ(completion.size(), 5u);
  EXPECT_EQ(completion[3], Variant(std::int16_t{3}));
  ASSERT_TRUE(completion[2].IsArray());
  std::vector<std::int32_t> points;
  for (std::int32_t k = 1; k <= 3; ++k) points.push_back(completion[2].Array().Get(k).ToInt32());
  EXPECT_EQ(points, (std::vector<std::int32_t>{1, 0, 1}));  // X7, X10, X11
}

// A group of more points than ReadData holds completes with every one of them: 300 points from
// X0 ended with 200 values and no error, X310 (point 201) and on left out.
TEST(SeqLinkScan, AGroupOfMorePointsThanReadDataHoldsCompletesWithEveryPoint) {
  ScanRig r;
  r.station.SetByte(1, 0x4100 + 200 / 8, 0x01);  // X310, point 201
  r.station.SetByte(1, 0x4100 + 299 / 8, 0x08);  // X453, point 300
  std::vector<Variant> completion;
  r.link->SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    if (name == "ScanComplete") completion = args;
  });
  r.Group(1, Variant("X,0"));
  ScanTables().Group(1).count = 300;
  r.Tick();
  r.Run(50'000);
  ASSERT_EQ(completion.size(), 5u);
  EXPECT_EQ(completion[4], Variant("")) << completion[4].ToString();
  EXPECT_EQ(completion[3], Variant(std::int16_t{300}));
  ASSERT_TRUE(completion[2].IsArray());
  ASSERT_EQ(completion[2].Array().Upper(), 300);
  EXPECT_EQ(completion[2].Array().Get(200).ToInt32(), 0);
  EXPECT_EQ(completion[2].Array().Get(201).ToInt32(), 1);
  EXPECT_EQ(completion[2].Array().Get(299).ToInt32(), 0);
  EXPECT_EQ(completion[2].Array().Get(300).ToInt32(), 1);
}

// The scan takes its group's words as they came: a host's ReadDevice with ioFloat, which makes
// the values of later host reads pairs, never keeps a one-word group off the line.
TEST(SeqLinkScan, AOneWordGroupIsReadAfterAnIoFloatReadDevice) {
  ScanRig r;
  ASSERT_EQ(r.ReadFloatPairByReadDevice(), ResultOk);
  ASSERT_DOUBLE_EQ(r.Data(1).ToDouble(), 12.3456);
  std::vector<Variant> completion;
  r.link->SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    if (name == "ScanComplete") completion = args;
  });
  r.sent.clear();
  r.Group(1, Variant("V,2000"));
  ScanTables().Group(1).count = 1;
  r.Tick();
  r.Run(10'000);
  ASSERT_EQ(r.sent.size(), 4u) << r.link->FailureCause();
  ASSERT_EQ(completion.size(), 5u);
  ASSERT_TRUE(completion[2].IsArray());
  EXPECT_EQ(completion[2].Array().Get(1).ToInt32(), 12);
  EXPECT_EQ(completion[3], Variant(std::int16_t{1}));
  EXPECT_EQ(r.Data(1).ToInt32(), 12) << "ReadData holds the group's word, not the pair read before";

  // A group of more words than ReadData holds is read whole for the scan too.
  r.station.SetWord(1, 0x0400 + 210, 77);
  completion.clear();
  r.sent.clear();
  ScanTables().Group(1).count = 211;
  r.Tick();
  r.Run(10'000);
  ASSERT_EQ(r.sent.size(), 4u) << r.link->FailureCause();
  ASSERT_EQ(completion.size(), 5u);
  EXPECT_EQ(completion[2].Array().Get(211).ToInt32(), 77);
}

// A group of words completes with its words after a host's ReadDevice asked for bits of words:
// the bits are what that ReadDevice and the host's later reads make of ReadData, not the group's.
TEST(SeqLinkScan, AGroupOfWordsKeepsItsWordsAfterABitReadDevice) {
  ScanRig r;
  r.station.SetWord(1, 0x0400, 0x1234);
  r.station.SetWord(1, 0x0401, 0x00FF);
  Variant a("V,2000"), one(std::int16_t{1});
  std::int16_t io = 18;
  std::int32_t bit = 3;
  ASSERT_EQ(r.link->ReadDevice(a, Opt<Variant>(one), Opt<std::int16_t>(io), Opt<std::int32_t>(bit)), ResultOk);
  r.Run(10'000);
  ASSERT_EQ(r.Data(1).ToInt32(), 0);  // bit 3 of 1234h
  std::vector<Variant> completion;
  r.link->SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    if (name == "ScanComplete") completion = args;
  });
  r.Group(1, Variant("V,2000"));
  r.Tick();
  r.Run(10'000);
  ASSERT_EQ(completion.size(), 5u) << r.link->FailureCause();
  ASSERT_TRUE(completion[2].IsArray());
  EXPECT_EQ(completion[2].Array().Get(1).ToInt32(), 0x1234);
  EXPECT_EQ(completion[2].Array().Get(2).ToInt32(), 0x00FF);
}

TEST(SeqLinkScan, GroupBeyondIndex320IsNeverSent) {
  ScanRig r;
  r.Group(321, Variant("V,2000"));
  r.Tick();
  EXPECT_TRUE(r.sent.empty());
  EXPECT_EQ(r.events, (std::vector<std::string>{"ScanComplete"})) << "said, not silently dropped";
}

TEST(SeqLinkScan, SharedScanWriteFlagHoldsEveryControlsScan) {
  ScanRig r;
  r.Group(1, Variant("V,2000"));
  auto other = r.Make();
  dnet::SeqLinkState().WriteQueueActive = true;  // a write call or a scan-write tick of any SeqLink
  r.Tick();
  EXPECT_TRUE(r.sent.empty());
  EXPECT_TRUE(other->Scan().ScanWriteActive());
  dnet::SeqLinkState().WriteQueueActive = false;
  r.Tick();
  EXPECT_FALSE(r.sent.empty());
}

// Two stations on one line, the second silent: a group's read that the watchdog gave up, and
// that a host's read to the first station followed on the line, names the silent one.
TEST(SeqLinkScan, AGroupOfASilentStationNamesItWhenAHostReadFollows) {
  ScanRig r;
  r.Group(1, Variant("V,2000"), 3);  // the simulated line serves stations 1 and 2
  std::vector<std::string> errors;
  r.link->SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    if (name == "ScanComplete") errors.push_back(args.at(4).ToString());
  });
  r.Tick();
  ASSERT_TRUE(r.Busy()) << "the group's read is out";
  ASSERT_EQ(r.ReadNW("1;V,2000"), ResultOk);  // waits for the line, then goes
  r.Run(5'000'000);  // the scan goes on reading the group beside it
  ASSERT_GE(errors.size(), 2u);
  for (const std::string& e : errors) {
    EXPECT_NE(e.find("station 3"), std::string::npos) << e;
    EXPECT_EQ(e.find("station 1"), std::string::npos) << e;
  }
  EXPECT_EQ(errors[0], "no answer to the enquiry from station 3 within 2 s");
}

// The shared checks against the simulated station, each of its answers 5 ms after the block it
// answers, V2000 and on as the row of values.
class SeqScanRig final : public test::ScanSubject {
 public:
  SeqScanRig() {
    r_.port->OnSent = [this](const Bytes& chunk) {
      if (!answer_) return;
      for (const auto& reply : r_.station.Feed(chunk)) r_.port->InjectAt(r_.loop.Now() + 5'000, reply);
    };
  }
  Control& Link() override { return *r_.link; }
  EventLoop& Loop() override { return r_.loop; }
  std::string Address(int k) const override { return "V," + std::to_string(2000 + k); }  // k < 8: octal as written
  void SetValue(int k, std::int32_t value) override {
    r_.station.SetWord(1, 0x0400 + static_cast<std::uint32_t>(k), static_cast<std::uint16_t>(value));
  }
  std::int32_t Value(int k) override { return r_.station.Word(1, 0x0400 + static_cast<std::uint32_t>(k)); }
  void Answer(bool on) override { answer_ = on; }
  std::string NoReplyText() const override { return "no answer to the enquiry from station 1 within 2 s"; }
  void Fault(sim::StationFault fault) { r_.station.fault = fault; }
  void Unload() override { r_.link.reset(); }

 private:
  test::SeqLinkRig r_;
  bool answer_ = true;
};

TEST(SeqLinkScan, PeriodsKeptAndValuesRead) {
  SeqScanRig r;
  test::ExpectPeriodsKeptAndValuesRead(r);
}

TEST(SeqLinkScan, UnloadInsideScanComplete) {
  SeqScanRig r;
  test::ExpectUnloadInsideScanComplete(r);
}

TEST(SeqLinkScan, UnloadInsideWriteQueComplete) {
  SeqScanRig r;
  test::ExpectUnloadInsideWriteQueComplete(r);
  EXPECT_FALSE(dnet::SeqLinkState().WriteQueueActive) << "the queues of the other controls stay open";
}

TEST(SeqLinkScan, SetScanRegGroupStopsAndResumes) {
  SeqScanRig r;
  test::ExpectSetScanRegGroupStopsAndResumes(r);
}

TEST(SeqLinkScan, HostReadServedFirst) {
  SeqScanRig r;
  test::ExpectHostReadServedFirst(r);
}

TEST(SeqLinkScan, BackToBackHostReadsNeverFreed) {
  SeqScanRig r;
  test::ExpectBackToBackHostReadsNeverFreed(r);
}

TEST(SeqLinkScan, AQueuedWriteLetsAHostsReadReturn) {
  SeqScanRig r;
  test::ExpectAQueuedWriteLetsAHostsReadReturn(r);
}

// Two SeqLinks of one thread, each on its own in-memory line with its own station: they share
// the thread's line state. The first's station answers each block after firstDelay.
struct TwoSeqLinks {
  test::SeqLinkRig first;
  MemorySerialPort& firstPort = *first.port;
  std::unique_ptr<SeqLink> second = first.Make();
  MemorySerialPort& secondPort = *first.port;
  sim::DirectNetStation other{{1}};

  explicit TwoSeqLinks(std::int64_t firstDelay) {
    firstPort.OnSent = [this, firstDelay](const Bytes& chunk) {
      for (const auto& reply : first.station.Feed(chunk)) firstPort.InjectAt(first.loop.Now() + firstDelay, reply);
    };
    secondPort.OnSent = [this](const Bytes& chunk) {
      for (const auto& reply : other.Feed(chunk)) secondPort.InjectAt(first.loop.Now() + 5'000, reply);
    };
    second->Initialize();
    second->InitProperties();
    second->SetPortOpen(true);
  }
};

// Two SeqLinks of one thread, each on its own line, share the line state: the second's write
// tick that falls inside the first's waiting read would wait for that read's call as well. It
// writes as the call returns, and the first's reads keep their pace.
TEST(SeqLinkScan, AnotherControlsQueuedWriteLetsAHostsReadReturn) {
  TwoSeqLinks two(5'000);
  test::SeqLinkRig& first = two.first;
  SeqLink* second = two.second.get();
  sim::DirectNetStation& other = two.other;
  std::vector<bool> written;
  second->SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    if (name == "WriteQueComplete") written.push_back(args.at(2).ToBool());
  });
  second->SetScanWriteIOTimerInterval(55);
  second->SetScanWriteEnable(true);
  first.station.SetWord(1, 0x0400, 333);
  first.Run(60'000);
  Variant address("V,2000");
  std::int32_t value = 11;
  second->ForceData(address, value);
  std::int64_t longest = 0;
  int failed = 0;
  for (int i = 0; i < 40; ++i) {
    const std::int64_t start = first.loop.Now();
    Variant v;
    if (first.Read(Variant("V,2000"), v) != ResultOk || v.ToInt32() != 333) ++failed;
    longest = std::max(longest, first.loop.Now() - start);
  }
  EXPECT_EQ(failed, 0) << first.link->FailureCause();
  EXPECT_LT(longest, 400'000) << "a read waited for the other control's queued write";
  EXPECT_EQ(written, std::vector<bool>{true});
  EXPECT_EQ(other.Word(1, 0x0400), 11);
}

// The second SeqLink's write tick falls inside the first one's queued write; its drain, and the
// handler of its WriteQueComplete that throws, wait for a later call: thrown inside the first
// one's write, the exception was taken for that write's failure though the PLC had it.
TEST(SeqLinkScan, AnotherControlsThrowingHandlerDoesNotFailAQueuedWrite) {
  TwoSeqLinks two(100'000);
  test::SeqLinkRig& first = two.first;
  SeqLink* second = two.second.get();
  sim::DirectNetStation& other = two.other;
  std::vector<bool> firstWrites;
  first.link->SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    if (name == "WriteQueComplete") firstWrites.push_back(args.at(2).ToBool());
  });
  second->SetEventSink([](const std::string& name, std::vector<Variant>&) {
    if (name == "WriteQueComplete") throw std::runtime_error("the host's handler failed");
  });
  first.link->SetNumOfWriteRetries(0);
  first.link->SetScanWriteIOTimerInterval(100);
  first.link->SetScanWriteEnable(true);
  second->SetScanWriteIOTimerInterval(55);
  second->SetScanWriteEnable(true);
  Variant address("V,2000");
  std::int32_t mine = 11, its = 22;
  first.link->ForceData(address, mine);
  // Queued once the first control's write is under way (its tick at 100 ms, each answer 100 ms
  // after its block).
  first.loop.AddTimer(first.loop.Now() + 150'000, [&] { second->ForceData(address, its); });
  int thrown = 0;
  const std::int64_t end = first.loop.Now() + 3'000'000;
  while (first.loop.Now() < end) {
    try {
      first.Run(end - first.loop.Now());
    } catch (const std::runtime_error&) {
      ++thrown;
    }
  }
  EXPECT_EQ(first.station.Word(1, 0x0400), 11);
  EXPECT_EQ(firstWrites, std::vector<bool>{true}) << "the first control's write was written";
  EXPECT_EQ(other.Word(1, 0x0400), 22);
  EXPECT_EQ(thrown, 1);
}

TEST(SeqLinkScan, GroupsBeyond320ReportedAtTheirPeriod) {
  SeqScanRig r;
  test::ExpectGroupsBeyond320ReportedAtTheirPeriod(r);
}

TEST(SeqLinkScan, ScanLeavesTheHostsCause) {
  SeqScanRig r;
  test::ExpectScanLeavesTheHostsCause(r);
}

TEST(SeqLinkScan, AHandlersReadIsNotTakenForTheScans) {
  SeqScanRig r;
  test::ExpectAHandlersReadIsNotTakenForTheScans(r);
}

TEST(SeqLinkScan, StuckGroupFreed) {
  SeqScanRig r;
  test::ExpectStuckGroupFreed(r);
}

TEST(SeqLinkScan, ANakOrAFailedLrcSaysSo) {
  SeqScanRig r;
  for (const auto& faultAndText : {std::pair{sim::StationFault::Nak, "station 1 answered the enquiry with NAK"},
                                   std::pair{sim::StationFault::BadLrc, "the read reply of station 1 failed its LRC check"}}) {
    const auto fault = faultAndText.first;  // the clang of this build cannot capture a structured binding
    const auto* why = faultAndText.second;
    test::ExpectScanFailureSaysWhy(r, [&](bool on) { r.Fault(on ? fault : sim::StationFault::None); }, why);
  }
}

// A queued write drained while a host's write waits for its answer goes out after it, and each
// ends with its own outcome: both were written, and both say so.
TEST(SeqLinkScan, AHostWriteEndsWithItsOwnOutcomePastAQueuedWrite) {
  SeqScanRig r;
  test::ScanBench b(r);
  b.Force(1, 22);
  b.StartScanWrites(250);
  std::optional<std::int32_t> result;
  std::string cause;
  r.Loop().AddTimer(b.Now() + 245 * test::kMs, [&] {
    Variant address(r.Address(0)), value(std::int32_t{11}), size(std::int16_t{1});
    result = r.Link().Invoke("WritePLC", ArgList{&address, &value, &size}).ToInt32();
    cause = r.Link().FailureCause();
  });
  b.Run(1500 * test::kMs);
  ASSERT_EQ(b.writes.size(), 1u);
  EXPECT_TRUE(b.writes[0].success) << b.writes[0].error;
  EXPECT_EQ(r.Value(1), 22);
  EXPECT_EQ(r.Value(0), 11);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, ResultOk) << cause;
}

TEST(SeqLinkScan, WriteQueueDrainsInOrderAndRetries) {
  SeqScanRig r;
  test::ExpectWriteQueueDrainsInOrderAndRetries(r);
}

TEST(SeqLinkScan, WriteQueueBounded) {
  SeqScanRig r;
  test::ExpectWriteQueueBounded(r);
}

TEST(SeqLinkScan, PortClosedMidScan) {
  SeqScanRig r;
  test::ExpectPortClosedMidScan(r);
}

TEST(SeqLinkScan, NoDrainAfterScanWriteStopped) {
  SeqScanRig r;
  test::ExpectNoDrainAfterScanWriteStopped(r);
}

TEST(SeqLinkScan, NoDrainOnceStoppedInsideAHostCall) {
  SeqScanRig r;
  test::ExpectNoDrainOnceStoppedInsideAHostCall(r);
}

TEST(SeqLinkScan, AQueuedWriteKeepsItsStation) {
  SeqScanRig r;
  test::ExpectAQueuedWriteKeepsItsStation(r);
}

TEST(SeqLinkScan, TheScanStoppedInsideATickReadsNoMore) {
  SeqScanRig r;
  test::ExpectTheScanStoppedInsideATickReadsNoMore(r);
}

TEST(SeqLinkScan, AReadOutWhenTheScanStopsEnds) {
  SeqScanRig r;
  test::ExpectAReadOutWhenTheScanStopsEnds(r);
}

}  // namespace
}  // namespace plc
