// DfLink's background scan (Timer1) and write queue (Timer3) against the simulated DF1 PLC (its
// turnaround as a processor's), N7:0 and on as the row of values, on the manual clock.
#include <gtest/gtest.h>

#include "tests/df1/Df1Rig.h"
#include "tests/support/ScanChecks.h"

namespace plc {
namespace {

class DfScanRig final : public test::ScanSubject {
 public:
  // The line carries each answer 5 ms late: a tick falls due while a host read waits for its
  // link response (the reply itself is taken without yielding, as the driver takes it).
  explicit DfScanRig(sim::Df1SimSettings settings = {}) : r_(settings) {
    MemorySerialPort& port = *r_.bench.port;
    port.OnSent = [this, &port](const Bytes& chunk) {
      const std::int64_t now = r_.bench.loop.Now();
      for (std::uint8_t b : chunk)
        for (const sim::Df1Action& a : r_.plc.Feed(b, now)) port.InjectAt(a.atMicros + 5'000, a.bytes);
      r_.ArmDeadline(port);
    };
  }
  Control& Link() override { return r_.Link(); }
  EventLoop& Loop() override { return r_.bench.loop; }
  std::string Address(int k) const override { return "N7:" + std::to_string(k); }
  void SetValue(int k, std::int32_t value) override {
    ASSERT_TRUE(r_.plc.Table().SetWords(7, k, {static_cast<std::uint16_t>(value)}));
  }
  std::int32_t Value(int k) override { return r_.plc.Table().Word(7, k).value_or(-1); }
  void Answer(bool on) override { r_.plc.SetFault(on ? sim::Df1Fault::None : sim::Df1Fault::Silent); }
  std::string NoReplyText() const override { return "no reply from station 1 to the read of N7:0 x2 within 2 s"; }
  void Fault(sim::Df1Fault fault) { r_.plc.SetFault(fault); }
  void Unload() override { r_.bench.link.reset(); }

 private:
  test::Df1Rig r_;
};

TEST(DfLinkScan, PeriodsKeptAndValuesRead) {
  DfScanRig r;
  test::ExpectPeriodsKeptAndValuesRead(r);
}

TEST(DfLinkScan, UnloadInsideScanComplete) {
  DfScanRig r;
  test::ExpectUnloadInsideScanComplete(r);
}

TEST(DfLinkScan, UnloadInsideWriteQueComplete) {
  DfScanRig r;
  test::ExpectUnloadInsideWriteQueComplete(r);
}

TEST(DfLinkScan, SetScanRegGroupStopsAndResumes) {
  DfScanRig r;
  test::ExpectSetScanRegGroupStopsAndResumes(r);
}

TEST(DfLinkScan, HostReadServedFirst) {
  DfScanRig r;
  test::ExpectHostReadServedFirst(r);
}

TEST(DfLinkScan, BackToBackHostReadsNeverFreed) {
  DfScanRig r;
  test::ExpectBackToBackHostReadsNeverFreed(r);
}

TEST(DfLinkScan, AQueuedWriteLetsAHostsReadReturn) {
  DfScanRig r;
  test::ExpectAQueuedWriteLetsAHostsReadReturn(r);
}

TEST(DfLinkScan, ScanLeavesTheHostsCause) {
  DfScanRig r;
  test::ExpectScanLeavesTheHostsCause(r);
}

TEST(DfLinkScan, AHandlersReadIsNotTakenForTheScans) {
  DfScanRig r;
  test::ExpectAHandlersReadIsNotTakenForTheScans(r);
}

TEST(DfLinkScan, StuckGroupFreed) {
  DfScanRig r;
  test::ExpectStuckGroupFreed(r);
}

TEST(DfLinkScan, ANakOrAFailedCheckSaysSo) {
  DfScanRig r;
  for (const auto& faultAndText : {std::pair{sim::Df1Fault::DleNak, "station 1 answered the read of N7:0 with DLE NAK"},
                                   std::pair{sim::Df1Fault::Status,
                                             "station 1 refused the read of N7:0: STS 50h: addressing problem or memory "
                                             "protect rungs"}}) {
    const auto fault = faultAndText.first;  // the clang of this build cannot capture a structured binding
    const auto* why = faultAndText.second;
    test::ExpectScanFailureSaysWhy(r, [&](bool on) { r.Fault(on ? fault : sim::Df1Fault::None); }, why);
  }
}

// A queued write the processor refuses is reported with what it refused, not the classic text.
TEST(DfLinkScan, AQueuedWriteRefusedSaysWhy) {
  DfScanRig r;
  test::ScanBench b(r);
  b.Set("NumOfWriteRetries", Variant(std::int16_t{0}));
  b.Set("ScanWriteEnable", Variant(true));
  r.Fault(sim::Df1Fault::Status);
  b.Force(0, 5);
  b.Run(1500 * test::kMs);
  ASSERT_EQ(b.writes.size(), 1u);
  EXPECT_EQ(b.writes[0].error,
            "N7:0 = 5 not written after 1 try: station 1 refused the write to N7:0: STS 50h: addressing problem or "
            "memory protect rungs");
}

TEST(DfLinkScan, WriteQueueDrainsInOrderAndRetries) {
  DfScanRig r;
  test::ExpectWriteQueueDrainsInOrderAndRetries(r);
}

TEST(DfLinkScan, WriteQueueBounded) {
  DfScanRig r;
  test::ExpectWriteQueueBounded(r);
}

// Scan reads and queued writes are the scan's: the host's CommComplete is not raised for them.
TEST(DfLinkScan, ScanReadsRaiseNoCommComplete) {
  DfScanRig r;
  test::ScanBench b(r);
  std::vector<std::string> names;
  r.Link().SetEventSink([&names](const std::string& name, std::vector<Variant>&) { names.push_back(name); });
  b.Group(1, 0, 2, 500);
  b.StartScan(500);
  b.Set("ScanWriteEnable", Variant(true));
  b.Force(3, 7);
  b.Run(1600 * test::kMs);
  // Reads at 500 and 1500 ms; the tick at 1000 ms stood aside for the queued write.
  EXPECT_EQ(std::count(names.begin(), names.end(), "ScanComplete"), 2);
  EXPECT_EQ(std::count(names.begin(), names.end(), "WriteQueComplete"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "CommComplete"), 0);
}

// A queued write the station never answers is not closed by the host's read that goes out after
// it: that reply raises the host's CommComplete, and the write fails.
TEST(DfLinkScan, AnUnansweredQueuedWriteIsNotClosedByTheHostsReadAfterIt) {
  test::Df1Rig rig;
  rig.plc.Table().SetWords(7, 5, {55});
  DfLink& link = rig.Link();
  std::vector<std::vector<Variant>> completions, writes;
  link.SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    if (name == "CommComplete") completions.push_back(args);
    if (name == "WriteQueComplete") writes.push_back(args);
  });
  link.SetNumOfWriteRetries(0);
  Variant address("N7:0");
  std::int32_t value = 9;
  link.ForceData(address, value);
  rig.plc.InjectNext(sim::Df1Fault::Silent);
  Result sent = ResultOk;
  rig.bench.loop.AddTimer(rig.Now() + 100'000, [&] {
    std::string a = "N7:5";
    sent = link.ReadDevice(a, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>());
  });
  link.WriteQueData();
  rig.bench.loop.RunFor(1'000'000);
  ASSERT_EQ(sent, ResultFailed) << "the read went out";
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_FALSE(writes[0].at(2).ToBool()) << "the write was never acknowledged";
  ASSERT_EQ(completions.size(), 1u) << "the read's reply is the host's";
  EXPECT_EQ(completions[0].at(1).ToInt32(), 5);
  EXPECT_EQ(completions[0].at(0).Array().Get(1).ToDouble(), 55);
  EXPECT_EQ(rig.plc.Table().Word(7, 0), 0);
}

// A write's CommComplete names the host's last read call; a scan read between is not one.
TEST(DfLinkScan, AWritesCommCompleteNamesTheHostsLastReadNotTheScans) {
  DfScanRig r;
  test::ScanBench b(r);
  b.Group(1, 0, 2, 500);
  std::vector<std::vector<Variant>> completions;
  std::vector<std::string> scans;
  r.Link().SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    if (name == "CommComplete") completions.push_back(args);
    else scans.push_back(name);
  });
  DfLink& link = dynamic_cast<DfLink&>(r.Link());
  std::string read = "N7:5";
  ASSERT_EQ(link.ReadDevice(read, Opt<std::int16_t>(std::int16_t{3}), Opt<std::int16_t>()), ResultFailed);
  b.StartScan(500);
  b.Run(700 * test::kMs);
  b.Set("ScanReadEnable", Variant(false));
  ASSERT_EQ(std::count(scans.begin(), scans.end(), "ScanComplete"), 1) << "a scan read ran between";
  std::string write = "N7:1";
  VariantArray values(1, 1, VarType::Double);
  values.Set(1, Variant(9.0));
  ASSERT_EQ(link.WritePLC(write, values, Opt<std::int16_t>(std::int16_t{1})), ResultOk);
  b.Run(200 * test::kMs);
  ASSERT_EQ(completions.size(), 2u);
  EXPECT_EQ(completions[1].at(4).ToInt16(), ResultOk);
  EXPECT_EQ(completions[1].at(1).ToInt32(), 5) << "MStartAdd of the host's ReadDevice";
  EXPECT_EQ(completions[1].at(2).ToInt16(), 3) << "Mquan of the host's ReadDevice";
}

TEST(DfLinkScan, PortClosedMidScan) {
  DfScanRig r;
  test::ExpectPortClosedMidScan(r);
}

TEST(DfLinkScan, TheScanStoppedInsideATickReadsNoMore) {
  DfScanRig r;
  test::ExpectTheScanStoppedInsideATickReadsNoMore(r);
}

TEST(DfLinkScan, AReadOutWhenTheScanStopsEnds) {
  DfScanRig r;
  test::ExpectAReadOutWhenTheScanStopsEnds(r);
}

TEST(DfLinkScan, NoDrainAfterScanWriteStopped) {
  DfScanRig r;
  test::ExpectNoDrainAfterScanWriteStopped(r);
}

TEST(DfLinkScan, NoDrainOnceStoppedInsideAHostCall) {
  DfScanRig r;
  test::ExpectNoDrainOnceStoppedInsideAHostCall(r);
}

TEST(DfLinkScan, AQueuedWriteKeepsItsStation) {
  sim::Df1SimSettings bridged;
  bridged.station = 1;  // the one station behind a bridge: another station's write is refused
  DfScanRig r(bridged);
  test::ExpectAQueuedWriteKeepsItsStation(r);
}

}  // namespace
}  // namespace plc
