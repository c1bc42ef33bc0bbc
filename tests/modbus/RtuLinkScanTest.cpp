// RtuLink's background scan and write queue against the project's Modbus slave (an RtuLink in
// SlaveRtu, as `plclink rtulink serve` runs it), each end of the line 5 ms from the other, on
// the manual clock. The watchdog is off, as after Show: the scan frees a stuck line itself.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <stdexcept>

#include "frame/DatabaseFiles.h"
#include "modbus/RtuLink.h"
#include "tests/platform/TempFolder.h"
#include "tests/support/LinkTestBench.h"
#include "tests/support/ScanChecks.h"

namespace plc {
namespace {

constexpr std::int64_t kLatency = 5'000;

class RtuScanRig final : public test::ScanSubject {
 public:
  RtuScanRig() {
    b_.New();
    b_.link->SetPortOpen(true);
    auto port = std::make_unique<MemorySerialPort>(b_.loop);
    slavePort_ = port.get();
    slave_ = std::make_unique<RtuLink>(std::move(port));
    slave_->SetHost(&b_.host);
    slave_->Initialize();
    slave_->InitProperties();
    slave_->SetModBusMode(rtu::SlaveRtu);
    slave_->SetPortOpen(true);
    b_.port->OnSent = [this](const Bytes& chunk) {
      if (answer_) slavePort_->InjectAt(b_.loop.Now() + kLatency, chunk);
    };
    slavePort_->OnSent = [this](const Bytes& chunk) {
      Bytes reply = chunk;
      if ((garble_ || garbleNext_ > 0) && !reply.empty()) reply.back() ^= 0x55;
      if (garbleNext_ > 0) --garbleNext_;
      b_.port->InjectAt(b_.loop.Now() + kLatency, reply);
    };
  }

  Control& Link() override { return *b_.link; }
  EventLoop& Loop() override { return b_.loop; }
  std::string Address(int k) const override { return std::to_string(40001 + k); }
  Variant GroupAddress(int k) const override { return Variant(std::int32_t{40001 + k}); }
  // Written as a master writes it: the slave has no other door to its image.
  void SetValue(int k, std::int32_t value) override {
    VariantArray values(1, 1);
    values.Set(1, Variant(value));
    std::string address = Address(k);
    ASSERT_EQ(b_.link->WritePLC(address, values, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>()), ResultOk);
  }
  std::int32_t Value(int k) override { return slave_->RegisterImage().at(static_cast<std::size_t>(40001 + k)); }
  void Answer(bool on) override { answer_ = on; }
  const char* ForceMember() const override { return "ForceModData"; }
  std::string NoReplyText() const override { return "no reply from unit 1 within 2 s"; }
  // The slave's replies arrive with their last byte altered.
  void Garble(bool on) { garble_ = on; }
  // Only the next n replies arrive altered.
  void GarbleNext(int n) { garbleNext_ = n; }
  void Unload() override { b_.link.reset(); }

 private:
  test::LinkTestBench<RtuLink> b_;
  MemorySerialPort* slavePort_ = nullptr;
  std::unique_ptr<RtuLink> slave_;
  bool answer_ = true;
  bool garble_ = false;
  int garbleNext_ = 0;
};

TEST(RtuLinkScan, PeriodsKeptAndValuesRead) {
  RtuScanRig r;
  test::ExpectPeriodsKeptAndValuesRead(r);
}

TEST(RtuLinkScan, UnloadInsideScanComplete) {
  RtuScanRig r;
  test::ExpectUnloadInsideScanComplete(r);
}

TEST(RtuLinkScan, UnloadInsideWriteQueComplete) {
  RtuScanRig r;
  test::ExpectUnloadInsideWriteQueComplete(r);
}

TEST(RtuLinkScan, SetScanRegGroupStopsAndResumes) {
  RtuScanRig r;
  test::ExpectSetScanRegGroupStopsAndResumes(r);
}

TEST(RtuLinkScan, HostReadServedFirst) {
  RtuScanRig r;
  test::ExpectHostReadServedFirst(r);
}

TEST(RtuLinkScan, BackToBackHostReadsNeverFreed) {
  RtuScanRig r;
  test::ExpectBackToBackHostReadsNeverFreed(r);
}

TEST(RtuLinkScan, AQueuedWriteLetsAHostsReadReturn) {
  RtuScanRig r;
  test::ExpectAQueuedWriteLetsAHostsReadReturn(r);
}

// The queued write that a read's end drains raises WriteQueComplete there; a handler that throws
// is heard by the host as the read's call, as from any tick, and the reads go on.
TEST(RtuLinkScan, AThrowingWriteHandlerAtAReadsEndReachesTheHost) {
  RtuScanRig r;
  test::ScanBench b(r);
  r.SetValue(3, 333);
  b.OnWrite = [](const test::WriteEvent&) { throw std::runtime_error("the host's handler failed"); };
  b.StartScanWrites(55);
  b.Run(60 * test::kMs);
  b.Force(0, 11);
  std::string heard;
  for (int i = 0; i < 40 && heard.empty(); ++i) {
    try {
      b.HostRead(3);
    } catch (const std::runtime_error& e) {
      heard = e.what();
    }
  }
  EXPECT_EQ(heard, "the host's handler failed");
  EXPECT_EQ(r.Value(0), 11);
  EXPECT_EQ(b.HostRead(3), 333);
}

TEST(RtuLinkScan, ScanLeavesTheHostsCause) {
  RtuScanRig r;
  test::ExpectScanLeavesTheHostsCause(r);
}

TEST(RtuLinkScan, AHandlersReadIsNotTakenForTheScans) {
  RtuScanRig r;
  test::ExpectAHandlersReadIsNotTakenForTheScans(r);
}

TEST(RtuLinkScan, StuckGroupFreed) {
  RtuScanRig r;
  test::ExpectStuckGroupFreed(r);
}

TEST(RtuLinkScan, AReplyThatFailsItsCheckSaysSo) {
  RtuScanRig r;
  test::ExpectScanFailureSaysWhy(r, [&](bool on) { r.Garble(on); }, "the reply from unit 1 failed its CRC check");
}

// A group's failed read is reported with its own reason, also when a host's read went out and
// ended before the tick that reports it: a bad reply is not called no reply, nor the other way.
TEST(RtuLinkScan, AFailedReadKeepsItsOwnReasonPastAHostsRead) {
  RtuScanRig r;
  test::ScanBench b(r);
  r.SetValue(0, 7);
  b.Group(1, 0, 1, 500);
  r.Garble(true);
  b.StartScan(500);
  b.Run(600 * test::kMs);  // the read of the tick at 500 ms failed its check
  r.Garble(false);
  ASSERT_EQ(b.HostReadNW(0), ResultOk);
  b.Run(500 * test::kMs);
  ASSERT_GE(b.Of(1).size(), 1u);
  EXPECT_EQ(b.Of(1)[0].error, "the reply from unit 1 failed its CRC check");

  b.Set("ScanReadEnable", Variant(false));
  b.Run(100 * test::kMs);
  b.scans.clear();
  r.Answer(false);
  b.StartScan(500);
  b.Run(600 * test::kMs);  // the read of this tick had no reply
  r.Answer(true);
  r.Garble(true);
  ASSERT_EQ(b.HostReadNW(0), ResultOk);
  b.Run(100 * test::kMs);  // the host's read failed its check
  r.Garble(false);
  b.Run(400 * test::kMs);
  ASSERT_GE(b.Of(1).size(), 1u);
  EXPECT_EQ(b.Of(1)[0].error, r.NoReplyText());
  b.Set("ScanReadEnable", Variant(false));
}

// A queued write drained while a host's write waits for its reply goes out after that reply,
// and each write ends with its own: a host write whose reply failed its check fails, even when
// the queued write behind it was acknowledged.
TEST(RtuLinkScan, AHostWriteEndsWithItsOwnReplyPastAQueuedWrite) {
  RtuScanRig r;
  test::ScanBench b(r);
  r.SetValue(0, 1);
  r.SetValue(1, 2);
  b.Force(1, 22);
  const std::int64_t start = b.Now();
  b.StartScanWrites(250);
  std::optional<std::int32_t> result;
  r.Loop().AddTimer(start + 245 * test::kMs, [&] {
    r.GarbleNext(1);
    VariantArray one(1, 1);
    one.Set(1, Variant(std::int32_t{11}));
    Variant address(r.Address(0)), value(std::move(one)), size(std::int16_t{1});
    result = r.Link().Invoke("WritePLC", ArgList{&address, &value, &size}).ToInt32();
  });
  b.Run(1000 * test::kMs);
  ASSERT_TRUE(result.has_value());
  ASSERT_EQ(b.writes.size(), 1u);
  EXPECT_TRUE(b.writes[0].success) << b.writes[0].error;
  EXPECT_EQ(r.Value(1), 22);
  EXPECT_EQ(*result, ResultFailed) << "the host's write had a reply that failed its check";
  EXPECT_EQ(r.Link().FailureCause(), "the reply from unit 1 failed its CRC check");
}

// A write whose wait is cut short by CommBusy = False (a handler's escape) had no
// acknowledgement: it fails, and says so.
TEST(RtuLinkScan, AWriteGivenUpBeforeItsReplyFails) {
  RtuScanRig r;
  test::ScanBench b(r);
  r.Answer(false);
  r.Loop().AddTimer(b.Now() + 300 * test::kMs, [&] { r.Link().SetProperty("CommBusy", Variant(false)); });
  VariantArray one(1, 1);
  one.Set(1, Variant(std::int32_t{11}));
  Variant address(r.Address(0)), value(std::move(one)), size(std::int16_t{1});
  EXPECT_EQ(r.Link().Invoke("WritePLC", ArgList{&address, &value, &size}).ToInt32(), ResultFailed);
  EXPECT_NE(r.Link().FailureCause().find("given up"), std::string::npos) << r.Link().FailureCause();
  r.Answer(true);
  b.Run(100 * test::kMs);
  ASSERT_TRUE(b.HostRead(0)) << "the next read works";
}

TEST(RtuLinkScan, WriteQueueDrainsInOrderAndRetries) {
  RtuScanRig r;
  test::ExpectWriteQueueDrainsInOrderAndRetries(r);
}

TEST(RtuLinkScan, WriteQueueBounded) {
  RtuScanRig r;
  test::ExpectWriteQueueBounded(r);
}

// The ioType a host gives ReadDevice stays for its later non-waiting reads, but not for the
// scan's: a group's values are its registers as read, whole and in their places.
TEST(RtuLinkScan, AHostsReadDeviceIoTypeLeavesScanValuesAlone) {
  RtuScanRig r;
  test::ScanBench b(r);
  for (int k = 0; k < 3; ++k) r.SetValue(k, 10 + k);
  r.SetValue(3, 65535);
  b.Group(1, 0, 4, 500);
  for (const std::int16_t ioType : {std::int16_t{ioFloat}, std::int16_t{5}}) {
    Variant address(r.Address(0)), size(std::int16_t{4}), type(ioType);
    ASSERT_EQ(r.Link().Invoke("ReadDevice", ArgList{&address, &size, &type}).ToInt32(), ResultOk);
    b.Run(100 * test::kMs);
    b.scans.clear();
    b.StartScan(500);
    b.Run(600 * test::kMs);
    b.Set("ScanReadEnable", Variant(false));
    ASSERT_EQ(b.scans.size(), 1u) << "ioType " << ioType;
    EXPECT_EQ(b.scans[0].values, (std::vector<std::int32_t>{10, 11, 12, 65535}))
        << "ioType " << ioType << ": " << b.scans[0].error;
  }
}

// A group of more coils than DataBuffer holds gets every one, in its place.
TEST(RtuLinkScan, AGroupOfSixHundredCoilsGetsEveryPoint) {
  RtuScanRig r;
  test::ScanBench b(r);
  VariantArray on(1, 3);
  for (std::int32_t i = 1; i <= 3; ++i) on.Set(i, Variant(std::int32_t{1}));
  Variant coils(std::string("00598")), values(std::move(on)), size(std::int16_t{3});
  ASSERT_EQ(r.Link().Invoke("WritePLC", ArgList{&coils, &values, &size}).ToInt32(), ResultOk);
  b.GroupAt(1, Variant(std::int32_t{1}), 600, 500);
  b.StartScan(500);
  b.Run(600 * test::kMs);
  b.Set("ScanReadEnable", Variant(false));
  ASSERT_EQ(b.Good(1).size(), 1u);
  const std::vector<std::int32_t> points = b.Good(1)[0].values;
  ASSERT_EQ(points.size(), 600u);
  for (std::size_t k = 0; k < points.size(); ++k) EXPECT_EQ(points[k], k >= 597 && k <= 599 ? 1 : 0) << "coil " << k + 1;
}

// A group's address is read as ReadPLC reads it: a tag name, or "unit;reference", at the
// group's unit where it names none. A reference with a fraction is refused, not rounded to the
// next register.
TEST(RtuLinkScan, AGroupAddressIsReadAsTheHostsCallsReadIt) {
  RtuScanRig r;
  test::ScanBench b(r);
  Tags().Clear();
  ASSERT_TRUE(Tags().AddTag(1, Variant("Press.Temp"), Variant("40003")));
  r.SetValue(0, 11);
  r.SetValue(1, 22);
  r.SetValue(2, 33);
  b.GroupAt(1, Variant("1;40002"), 1, 500);
  b.GroupAt(2, Variant("Press.Temp"), 1, 500);
  b.GroupAt(3, Variant("40001.5"), 1, 500);
  b.StartScan(500);
  b.Run(600 * test::kMs);
  b.Set("ScanReadEnable", Variant(false));
  Tags().Clear();
  ASSERT_EQ(b.Good(1).size(), 1u) << (b.Of(1).empty() ? "no event" : b.Of(1)[0].error);
  EXPECT_EQ(b.Good(1)[0].values, std::vector<std::int32_t>{22});
  ASSERT_EQ(b.Good(2).size(), 1u) << (b.Of(2).empty() ? "no event" : b.Of(2)[0].error);
  EXPECT_EQ(b.Good(2)[0].values, std::vector<std::int32_t>{33});
  ASSERT_EQ(b.Of(3).size(), 1u);
  EXPECT_TRUE(b.Of(3)[0].values.empty());
  EXPECT_NE(b.Of(3)[0].error.find("its reference is not a whole number"), std::string::npos) << b.Of(3)[0].error;
  EXPECT_EQ(r.Link().FailureCause(), "") << "the scan leaves the host's cause alone";
}

// The files in DatabasePath, loaded by ReadScanDatabase after mains: the scan reads their
// groups, the host reads by tag name, and a refused file leaves the tables and says why.
TEST(RtuLinkScan, ReadScanDatabaseFillsTheTablesFromDatabasePath) {
  testing::TempFolder system, databases;
  const char* old = std::getenv("QVL_SYSTEM_DIR");
  const std::string saved = old ? old : "";
  ::setenv("QVL_SYSTEM_DIR", system.Path().c_str(), 1);
  testing::WriteRaw(system.File("QVL.INI"), "[DatabasePath]\npDatabasePath=" + databases.Path() + "\n");
  testing::WriteRaw(databases.File("tags.csv"), "plclink-tags,1\nname,address\nPress.Temp,40002\n");
  testing::WriteRaw(databases.File("scan.csv"),
                    "plclink-scan,1\nindex,address,count,period\n1,40001,3,500\n");
  {
    RtuScanRig r;
    test::ScanBench b(r);  // empties the tables; the control loads them next
    r.SetValue(1, 77);
    r.Link().Invoke("mains", ArgList{});
    r.Link().Invoke("ReadScanDatabase", ArgList{});
    EXPECT_EQ(r.Link().FailureCause(), "");
    EXPECT_EQ(b.HostRead(1), 77);
    Variant name("Press.Temp"), value(VariantArray(1, 1)), size(std::int16_t{1});
    EXPECT_EQ(r.Link().Invoke("ReadPLC", ArgList{&name, &value, &size}).ToInt32(), ResultOk);
    EXPECT_EQ(value.Array().Get(1).ToInt32(), 77) << "read by its tag name";
    b.StartScan(500);
    b.Run(600 * test::kMs);
    ASSERT_EQ(b.scans.size(), 1u);
    EXPECT_EQ(b.scans[0].values, (std::vector<std::int32_t>{0, 77, 0}));

    testing::WriteRaw(databases.File("tags.csv"), "plclink-tags,1\nname,address\nPress.Temp,\n");
    r.Link().Invoke("ReadScanDatabase", ArgList{});
    EXPECT_NE(r.Link().FailureCause().find(databases.File("tags.csv") + ":3: address is empty"), std::string::npos)
        << r.Link().FailureCause();
    EXPECT_EQ(TagAddressFromName(Variant("Press.Temp")), Variant("40002")) << "the tables as they were";
  }
  if (old) ::setenv("QVL_SYSTEM_DIR", saved.c_str(), 1);
  else ::unsetenv("QVL_SYSTEM_DIR");
}

TEST(RtuLinkScan, PortClosedMidScan) {
  RtuScanRig r;
  test::ExpectPortClosedMidScan(r);
}

TEST(RtuLinkScan, TheScanStoppedInsideATickReadsNoMore) {
  RtuScanRig r;
  test::ExpectTheScanStoppedInsideATickReadsNoMore(r);
}

TEST(RtuLinkScan, AReadOutWhenTheScanStopsEnds) {
  RtuScanRig r;
  test::ExpectAReadOutWhenTheScanStopsEnds(r);
}

TEST(RtuLinkScan, NoDrainAfterScanWriteStopped) {
  RtuScanRig r;
  test::ExpectNoDrainAfterScanWriteStopped(r);
}

TEST(RtuLinkScan, NoDrainOnceStoppedInsideAHostCall) {
  RtuScanRig r;
  test::ExpectNoDrainOnceStoppedInsideAHostCall(r);
}

TEST(RtuLinkScan, AQueuedWriteKeepsItsStation) {
  RtuScanRig r;
  test::ExpectAQueuedWriteKeepsItsStation(r);
}

}  // namespace
}  // namespace plc
