// The scan engine on the real master: timers on the manual clock, a host write holding the
// line, and replies of scan reads.
#include <gtest/gtest.h>

#include "platform/IntervalTimer.h"
#include "tests/modbus/MasterRig.h"

namespace plc::modbus::testing {
namespace {

struct ScanningRig : MasterRig {
  IntervalTimer timer2{500, loop};
  std::vector<std::int64_t> readTimes;
  std::int64_t ackDelay = 0;

  ScanningRig() {
    scanDb.Group(1) = ScanGroup{-1, Variant(std::int32_t{40001}), 1200, 1, 1, True, 0, {}};
    scanDb.ScanGroupCount = Variant(std::int16_t{1});
    timer2.OnTick = [this] { scan.ReadTick(timer2.Interval(), true, true); };
    timer2.SetEnabled(true);
    slave = [this](const Bytes& req) {
      if (req[1] == fn::ReadHoldingRegisters) {
        readTimes.push_back(Micros());
        return MasterRig::Rtu("01 03 02 00 2A");
      }
      Bytes ack = BuildRtuFrame(Adu{req[0], req[1], Bytes(req.begin() + 2, req.begin() + 6)});
      loop.AddTimer(Micros() + ackDelay, [this, ack] { port.Inject(ack); });
      return Bytes{};
    };
  }
};

TEST(MasterScan, GroupOf1200MsIsReadEveryThirdTickWithoutEvents) {
  ScanningRig rig;
  rig.loop.RunFor(3'100'000);
  EXPECT_EQ(rig.readTimes, (std::vector<std::int64_t>{1'500'000, 3'000'000}));
  EXPECT_TRUE(rig.completions.empty());  // scan replies raise no event
  EXPECT_EQ(rig.road.ReadData(1), 42);
}

TEST(MasterScan, NoScanReadDuringAHostWrite) {
  ScanningRig rig;
  rig.ackDelay = 1'800'000;  // the write holds the line over three timer ticks
  rig.clock.Advance(100'000);
  EXPECT_EQ(rig.WritePLC("40005", {7}), ResultOk);
  EXPECT_EQ(rig.Micros(), 1'900'000);
  EXPECT_TRUE(rig.readTimes.empty());
  // The ticks during the write stood aside, so no time advanced for the group.
  EXPECT_EQ(rig.scan.ScanElapsed()[1], 0);
  rig.loop.RunFor(1'600'000);
  EXPECT_EQ(rig.readTimes.size(), 1u);
}

TEST(MasterScan, HostReplyAfterALostScanReplyRaisesItsEvent) {
  ScanningRig rig;
  rig.Silent();
  rig.loop.RunFor(1'600'000);  // the scan read at 1.5 s goes unanswered
  EXPECT_EQ(rig.requests.size(), 1u);
  rig.timer2.SetEnabled(false);
  rig.clock.Advance(2'000'000);
  rig.master.ReplyWatchdog();
  rig.Answer(MasterRig::Rtu("01 03 02 00 2A"));
  EXPECT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  rig.loop.DoEvents();
  EXPECT_EQ(rig.completions.size(), 1u);
}

}  // namespace
}  // namespace plc::modbus::testing
