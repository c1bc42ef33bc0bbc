// UdpLink's background scan and write queue, as SeqLink's: on the serial path against the
// simulated DirectNET station (its answers 5 ms late, header addresses 1024 and on, which is
// V2000, as the row of values), and in ECOM mode against a simulated module on loopback
// through the loaded libhei_pas.so. The loop runs on the manual clock; an ECOM request takes its
// real time inside the call.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <utility>

#include "ecom/EcomLinkState.h"
#include "ecom/UdpLink.h"
#include "tests/support/EcomModules.h"
#include "tests/support/LinkTestBench.h"
#include "tests/support/ScanChecks.h"
#include "tools/plcsim/DirectNetStation.h"
#include "tools/plcsim/EcomModuleSim.h"

namespace plc {
namespace {

class UdpSerialScanRig final : public test::ScanSubject {
 public:
  UdpSerialScanRig() {
    ecom::EcomLink().Reset();
    b_.New();
    b_.link->SetCommMode(udp::KSeq);
    b_.link->SetPortOpen(true);
    b_.port->OnSent = [this](const Bytes& chunk) {
      if (!answer_) return;
      for (const auto& reply : station_.Feed(chunk)) b_.port->InjectAt(b_.loop.Now() + 5'000, reply);
    };
  }
  ~UdpSerialScanRig() override {
    b_.link.reset();
    ecom::EcomLink().Reset();
  }
  Control& Link() override { return *b_.link; }
  EventLoop& Loop() override { return b_.loop; }
  std::string Address(int k) const override { return std::to_string(1024 + k); }
  Variant GroupAddress(int k) const override { return Variant(std::int32_t{1024 + k}); }
  void SetValue(int k, std::int32_t value) override {
    station_.SetWord(1, 0x0400 + static_cast<std::uint32_t>(k), static_cast<std::uint16_t>(value));
  }
  std::int32_t Value(int k) override { return station_.Word(1, 0x0400 + static_cast<std::uint32_t>(k)); }
  void Answer(bool on) override { answer_ = on; }
  std::string NoReplyText() const override { return "no answer to the enquiry from station 1 within 2 s"; }
  void Fault(sim::StationFault fault) { station_.fault = fault; }
  void Unload() override { b_.link.reset(); }

 private:
  test::LinkTestBench<UdpLink> b_;
  sim::DirectNetStation station_{{1}};
  bool answer_ = true;
};

TEST(UdpLinkSerialScan, PeriodsKeptAndValuesRead) {
  UdpSerialScanRig r;
  test::ExpectPeriodsKeptAndValuesRead(r);
}

TEST(UdpLinkSerialScan, UnloadInsideScanComplete) {
  UdpSerialScanRig r;
  test::ExpectUnloadInsideScanComplete(r);
}

TEST(UdpLinkSerialScan, UnloadInsideWriteQueComplete) {
  UdpSerialScanRig r;
  test::ExpectUnloadInsideWriteQueComplete(r);
  EXPECT_FALSE(ecom::EcomLink().Line.WriteQueueActive) << "the queues of the other controls stay open";
}

TEST(UdpLinkSerialScan, SetScanRegGroupStopsAndResumes) {
  UdpSerialScanRig r;
  test::ExpectSetScanRegGroupStopsAndResumes(r);
}

TEST(UdpLinkSerialScan, HostReadServedFirst) {
  UdpSerialScanRig r;
  test::ExpectHostReadServedFirst(r);
}

TEST(UdpLinkSerialScan, BackToBackHostReadsNeverFreed) {
  UdpSerialScanRig r;
  test::ExpectBackToBackHostReadsNeverFreed(r);
}

TEST(UdpLinkSerialScan, AQueuedWriteLetsAHostsReadReturn) {
  UdpSerialScanRig r;
  test::ExpectAQueuedWriteLetsAHostsReadReturn(r);
}

TEST(UdpLinkSerialScan, GroupsBeyond320ReportedAtTheirPeriod) {
  UdpSerialScanRig r;
  test::ExpectGroupsBeyond320ReportedAtTheirPeriod(r);
}

TEST(UdpLinkSerialScan, ScanLeavesTheHostsCause) {
  UdpSerialScanRig r;
  test::ExpectScanLeavesTheHostsCause(r);
}

TEST(UdpLinkSerialScan, AHandlersReadIsNotTakenForTheScans) {
  UdpSerialScanRig r;
  test::ExpectAHandlersReadIsNotTakenForTheScans(r);
}

TEST(UdpLinkSerialScan, StuckGroupFreed) {
  UdpSerialScanRig r;
  test::ExpectStuckGroupFreed(r);
}

TEST(UdpLinkSerialScan, ANakOrAFailedLrcSaysSo) {
  UdpSerialScanRig r;
  for (const auto& faultAndText : {std::pair{sim::StationFault::Nak, "station 1 answered the enquiry with NAK"},
                                   std::pair{sim::StationFault::BadLrc, "the read reply of station 1 failed its LRC check"}}) {
    const auto fault = faultAndText.first;  // the clang of this build cannot capture a structured binding
    const auto* why = faultAndText.second;
    test::ExpectScanFailureSaysWhy(r, [&](bool on) { r.Fault(on ? fault : sim::StationFault::None); }, why);
  }
}

TEST(UdpLinkSerialScan, WriteQueueDrainsInOrderAndRetries) {
  UdpSerialScanRig r;
  test::ExpectWriteQueueDrainsInOrderAndRetries(r);
}

TEST(UdpLinkSerialScan, WriteQueueBounded) {
  UdpSerialScanRig r;
  test::ExpectWriteQueueBounded(r);
}

TEST(UdpLinkSerialScan, AGroupOfAnotherStationIsNotSent) {
  UdpSerialScanRig r;
  test::ScanBench b(r);
  b.Group(1, 0, 2, 500);
  ScanTables().Group(1).unit = 2;
  b.StartScan(500);
  b.Run(600 * test::kMs);
  ASSERT_EQ(b.scans.size(), 1u);
  EXPECT_EQ(b.scans[0].error,
            "the read of 1024 (2 values) was not sent: the serial path reads station 1 only, not unit 2");
}

class UdpEcomScanRig final : public test::ScanSubject {
 public:
  UdpEcomScanRig() {
    ecom::EcomLink().Reset();
    test::ServeEcomModules(sim_, "500");
    b_.New();
    b_.link->SetDeviceTimeOut(20);
    b_.link->SetPortOpen(true);
    EXPECT_TRUE(b_.link->EcomOpen()) << b_.link->CurrentErrors();
  }
  ~UdpEcomScanRig() override {
    b_.link.reset();
    ecom::EcomLink().Reset();
    unsetenv("HEI_PAS_MODULES");
  }
  Control& Link() override { return *b_.link; }
  EventLoop& Loop() override { return b_.loop; }
  std::string Address(int k) const override { return "V," + std::to_string(2000 + k); }
  void SetValue(int k, std::int32_t value) override {
    sim_.SetWord(1, static_cast<std::uint16_t>(1024 + k), static_cast<std::uint16_t>(value));
  }
  std::int32_t Value(int k) override { return sim_.Word(1, static_cast<std::uint16_t>(1024 + k)); }
  void Answer(bool on) override { sim_.SetFault(1, on ? sim::EcomFault::None : sim::EcomFault::Silent); }
  void SetInputByte(std::uint16_t address, std::uint8_t value) { sim_.SetByte(1, 0x32, address, value); }
  // Not used: a read of this path ends within its call (see ASilentModuleFailsTheTicksReads).
  std::string NoReplyText() const override { return {}; }
  void Unload() override { b_.link.reset(); }

 private:
  sim::EcomModuleSim sim_{std::vector<sim::EcomModuleConfig>{{1, "PRESS", 0}}};
  test::LinkTestBench<UdpLink> b_;
};

TEST(UdpLinkEcomScan, UnloadInsideScanComplete) {
  UdpEcomScanRig r;
  test::ExpectUnloadInsideScanComplete(r);
}

TEST(UdpLinkEcomScan, UnloadInsideWriteQueComplete) {
  UdpEcomScanRig r;
  test::ExpectUnloadInsideWriteQueComplete(r);
}

TEST(UdpLinkEcomScan, PeriodsKeptAndValuesRead) {
  UdpEcomScanRig r;
  test::ExpectPeriodsKeptAndValuesRead(r);
}

// An ECOM read ends within its call: a silent module fails each group of the tick with the
// transport's text, and the next tick after it answers again reads them.
TEST(UdpLinkEcomScan, ASilentModuleFailsTheTicksReads) {
  UdpEcomScanRig r;
  test::ScanBench b(r);
  r.SetValue(0, 5);
  b.Group(1, 0, 1, 500);
  b.Group(2, 1, 1, 500);
  r.Answer(false);
  b.StartScan(500);
  b.Run(500 * test::kMs);
  ASSERT_EQ(b.scans.size(), 2u);
  EXPECT_EQ(b.scans[0].index, 1);
  EXPECT_EQ(b.scans[1].index, 2);
  EXPECT_NE(b.scans[0].error.find("(no answer from module 1 at 127.0.0.1:"), std::string::npos) << b.scans[0].error;
  EXPECT_EQ(r.Link().FailureCause(), "") << "the host's cause, not the scan's";
  r.Answer(true);
  b.Run(500 * test::kMs);
  ASSERT_EQ(b.scans.size(), 4u);
  EXPECT_EQ(b.scans[2].values, std::vector<std::int32_t>{5});
  EXPECT_TRUE(b.scans[3].error.empty()) << b.scans[3].error;
}

// A group of points is read as points: its ScanComplete carries a 0 or 1 for each, not the
// bytes that hold them.
TEST(UdpLinkEcomScan, AGroupOfPointsCompletesWithItsPoints) {
  UdpEcomScanRig r;
  test::ScanBench b(r);
  r.SetInputByte(0x101, 0x85);  // X7 on
  r.SetInputByte(0x102, 0x02);  // X11 on
  b.GroupAt(1, Variant("X,7"), 3, 500);
  b.StartScan(500);
  b.Run(500 * test::kMs);
  ASSERT_EQ(b.scans.size(), 1u);
  EXPECT_TRUE(b.scans[0].error.empty()) << b.scans[0].error;
  EXPECT_EQ(b.scans[0].values, (std::vector<std::int32_t>{1, 0, 1}));  // X7, X10, X11
}

// A group's address is read as ReadPLC reads it, at the group's unit: an octal number is
// V-memory, a tag name its tag's address, and one naming its module keeps it.
TEST(UdpLinkEcomScan, AGroupAddressReadsAsReadPlcReadsIt) {
  UdpEcomScanRig r;
  test::ScanBench b(r);
  r.SetValue(0, 7);
  r.SetValue(1, 8);
  Tags().Clear();
  ASSERT_TRUE(Tags().AddTag(1, Variant("Level"), Variant("V,2001")));
  b.GroupAt(1, Variant("2000"), 2, 500);
  b.GroupAt(2, Variant(std::int32_t{2000}), 1, 500);
  b.GroupAt(3, Variant("Level"), 1, 500);
  b.GroupAt(4, Variant("1;V,2001"), 1, 500);
  b.StartScan(500);
  b.Run(500 * test::kMs);
  Tags().Clear();
  ASSERT_EQ(b.scans.size(), 4u);
  const std::vector<std::vector<std::int32_t>> expected = {{7, 8}, {7}, {8}, {8}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(b.scans[i].error.empty()) << "group " << i + 1 << ": " << b.scans[i].error;
    EXPECT_EQ(b.scans[i].values, expected[i]) << "group " << i + 1;
  }
}

// The scan's ECOM read raises CommComplete within its call, and a host that chains a read from
// that handler reads again there: the group still completes with its own values, not the
// handler's.
TEST(UdpLinkEcomScan, AReadChainedFromCommCompleteLeavesTheGroupsValues) {
  UdpEcomScanRig r;
  test::ScanBench b(r);
  r.SetValue(0, 10);
  r.SetValue(1, 11);
  r.SetValue(5, 555);
  r.SetValue(6, 666);
  b.Group(1, 0, 2, 500);
  std::vector<std::vector<std::int32_t>> groupValues;
  std::vector<std::string> errors;
  bool tried = false;
  int chained = 0;
  r.Link().SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    if (name == "ScanComplete") {
      std::vector<std::int32_t> values;
      for (const Variant& v : args.at(2).Array()) values.push_back(v.ToInt32());
      groupValues.push_back(values);
      errors.push_back(args.at(4).ToString());
    } else if (name == "CommComplete" && !std::exchange(tried, true)) {
      Variant address(r.Address(5));
      Variant value(VariantArray(1, 1));
      Variant size(std::int16_t{2});
      if (r.Link().Invoke("ReadPLCNW", ArgList{&address, &value, &size}).ToInt32() == ResultOk) ++chained;
    }
  });
  b.StartScan(500);
  b.Run(500 * test::kMs);
  ASSERT_EQ(chained, 1) << "the handler's read went out";
  ASSERT_EQ(groupValues.size(), 1u);
  EXPECT_TRUE(errors[0].empty()) << errors[0];
  EXPECT_EQ(groupValues[0], (std::vector<std::int32_t>{10, 11}));
}

// Queued writes in order; one the module never answers is dropped after its three tries (each
// ends within its call, so at three scan-write ticks) and the next one is written.
TEST(UdpLinkEcomScan, WriteQueueInOrderAndDroppedAfterItsTries) {
  UdpEcomScanRig r;
  test::ScanBench b(r);
  b.Set("ScanWriteEnable", Variant(true));
  b.Force(0, 11);
  b.Force(1, 22);
  b.Run(300 * test::kMs);
  ASSERT_EQ(b.writes.size(), 2u);
  EXPECT_TRUE(b.writes[0].success && b.writes[1].success) << b.writes[0].error << b.writes[1].error;
  EXPECT_EQ(r.Value(0), 11);
  EXPECT_EQ(r.Value(1), 22);
  r.Answer(false);
  b.Force(2, 33);
  b.Run(550 * test::kMs);  // two ticks, two tries
  EXPECT_EQ(b.writes.size(), 2u);
  b.Run(250 * test::kMs);
  ASSERT_EQ(b.writes.size(), 3u);
  EXPECT_FALSE(b.writes[2].success);
  EXPECT_NE(b.writes[2].error.find("V,2002 = 33 not written after 3 tries: "), std::string::npos) << b.writes[2].error;
  r.Answer(true);
  b.Force(2, 34);
  b.Run(300 * test::kMs);
  ASSERT_EQ(b.writes.size(), 4u);
  EXPECT_EQ(r.Value(2), 34);
}

TEST(UdpLinkSerialScan, PortClosedMidScan) {
  UdpSerialScanRig r;
  test::ExpectPortClosedMidScan(r);
}

TEST(UdpLinkSerialScan, TheScanStoppedInsideATickReadsNoMore) {
  UdpSerialScanRig r;
  test::ExpectTheScanStoppedInsideATickReadsNoMore(r);
}

TEST(UdpLinkSerialScan, AReadOutWhenTheScanStopsEnds) {
  UdpSerialScanRig r;
  test::ExpectAReadOutWhenTheScanStopsEnds(r);
}

TEST(UdpLinkEcomScan, TheScanStoppedInsideATickReadsNoMore) {
  UdpEcomScanRig r;
  test::ExpectTheScanStoppedInsideATickReadsNoMore(r);
}

TEST(UdpLinkSerialScan, NoDrainAfterScanWriteStopped) {
  UdpSerialScanRig r;
  test::ExpectNoDrainAfterScanWriteStopped(r);
}

TEST(UdpLinkSerialScan, NoDrainOnceStoppedInsideAHostCall) {
  UdpSerialScanRig r;
  test::ExpectNoDrainOnceStoppedInsideAHostCall(r);
}

TEST(UdpLinkSerialScan, AQueuedWriteKeepsItsStation) {
  UdpSerialScanRig r;
  test::ExpectAQueuedWriteKeepsItsStation(r);
}

TEST(UdpLinkEcomScan, AQueuedWriteKeepsItsStation) {
  UdpEcomScanRig r;
  test::ExpectAQueuedWriteKeepsItsStation(r);
}

}  // namespace
}  // namespace plc
