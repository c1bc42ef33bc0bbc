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

TEST(MasterScan, AfterALostScanReplyTheNextScanReadWaitsForAQuietLineWithoutHoldingTheTick) {
  ScanningRig rig;
  // The read at 1.5 s is answered 2.5 s late with 111; every later one at once with 42.
  rig.slave = [&rig](const Bytes&) {
    rig.readTimes.push_back(rig.Micros());
    if (rig.readTimes.size() == 1) rig.port.InjectAt(rig.Micros() + 2'500'000, MasterRig::Rtu("01 03 02 00 6F"));
    return rig.readTimes.size() == 1 ? Bytes{} : MasterRig::Rtu("01 03 02 00 2A");
  };
  rig.loop.AddTimer(3'600'000, [&rig] { rig.master.ReplyWatchdog(); });  // gives the first read up
  std::vector<std::int64_t> tickEnds;
  rig.timer2.OnTick = [&rig, &tickEnds] {
    const std::int64_t start = rig.Micros();
    rig.scan.ReadTick(rig.timer2.Interval(), true, true);
    tickEnds.push_back(rig.Micros() - start);
  };
  Variant seenAt4900;
  rig.loop.AddTimer(4'900'000, [&] { seenAt4900 = rig.road.ReadData(1); });
  rig.loop.RunFor(7'000'000);
  ASSERT_GE(rig.readTimes.size(), 2u);
  // Not before the late reply (4 s) and 1 s of silence after it.
  EXPECT_EQ(rig.readTimes[1], 5'000'000);
  // The late 111 was never taken, and no tick held the loop for the settling line.
  EXPECT_NE(seenAt4900.ToInt32(), 111);
  EXPECT_EQ(rig.road.ReadData(1), 42);
  for (std::int64_t took : tickEnds) EXPECT_EQ(took, 0);
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
