// The master's end of a reply as hosts of the classic controls rely on it: ioFloat pairs
// combined in place, the event raised while the read still holds the line, DeviceIoType
// applied to every reply, the scan flag, raw mode ahead of RS485 line control, and the one
// array that CommEventModem carries.
#include <gtest/gtest.h>

#include "tests/modbus/MasterRig.h"

namespace plc::modbus::testing {
namespace {

const Bytes kFourWords = MasterRig::Rtu("01 03 08 00 0C 0D 80 00 07 13 88");  // 12, 3456, 7, 5000

Result ReadDevice(MasterRig& rig, const std::string& address, std::int16_t size, std::int16_t ioType) {
  return rig.road.ReadDevice(address, Opt<std::int16_t>(size), Opt<std::int16_t>(ioType));
}

TEST(MasterClassicOrder, IoFloatPairsAreCombinedInPlace) {
  MasterRig rig;
  rig.Answer(kFourWords);
  ASSERT_EQ(ReadDevice(rig, "40001", 2, ioFloat), ResultOk);
  rig.loop.DoEvents();
  ASSERT_EQ(rig.completions.size(), 1u);
  const VariantArray& m = rig.completions[0][0].Array();
  EXPECT_DOUBLE_EQ(m.Get(1).ToDouble(), 12.3456);
  EXPECT_EQ(m.Get(2).ToDouble(), 3456);
  EXPECT_DOUBLE_EQ(m.Get(3).ToDouble(), 7.5);
  EXPECT_EQ(m.Get(4).ToDouble(), 5000);
  EXPECT_EQ(rig.completions[0][2].ToInt32(), 2);
  // ReadData reads the same buffer.
  std::int16_t idx = 2;
  EXPECT_EQ(rig.road.ReadData(idx), 3456);
  idx = 3;
  EXPECT_DOUBLE_EQ(rig.road.ReadData(idx), 7.5);

  // A waiting ReadPLC with ioFloat after that ReadDevice combines each pair once.
  VariantArray v(1, 2, VarType::Double);
  ASSERT_EQ(rig.ReadPLC("40001", v, 2, ioFloat), ResultOk);
  EXPECT_DOUBLE_EQ(v.Get(1).ToDouble(), 12.3456);
  EXPECT_DOUBLE_EQ(v.Get(2).ToDouble(), 7.5);
}

TEST(MasterClassicOrder, DeviceIoType5AppliesToEveryReplyAlsoOfAWaitingRead) {
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 03 02 FF FF"));
  ASSERT_EQ(ReadDevice(rig, "40001", 1, 5), ResultOk);
  rig.loop.DoEvents();
  VariantArray v(1, 1, VarType::Double);
  ASSERT_EQ(rig.ReadPLC("40001", v, 1), ResultOk);  // ioType 0
  ASSERT_EQ(rig.completions.size(), 2u);
  EXPECT_EQ(rig.completions[0][0].Array().Get(1).ToInt32(), -1);
  EXPECT_EQ(rig.completions[1][0].Array().Get(1).ToInt32(), -1);
  EXPECT_EQ(v.Get(1).ToInt32(), -1);
  EXPECT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  rig.loop.DoEvents();
  EXPECT_EQ(rig.completions.back()[0].Array().Get(1).ToInt32(), -1);
  // A ReadDevice with another ioType ends it.
  ASSERT_EQ(ReadDevice(rig, "40001", 1, 0), ResultOk);
  rig.loop.DoEvents();
  EXPECT_EQ(rig.completions.back()[0].Array().Get(1).ToInt32(), 65535);
}

TEST(MasterClassicOrder, TheReadHoldsTheLineWhileItsEventRuns) {
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 03 02 00 2A"));
  std::vector<bool> busyInside;
  std::vector<Result> nestedRead;
  std::string errorInside = "unset";
  rig.master.Events.CommCompleteEx = [&](std::vector<Variant>& a) {
    rig.completions.push_back(a);
    if (rig.completions.size() > 1) return;
    busyInside.push_back(rig.road.CommBusy().ToBool());
    std::size_t sent = rig.requests.size();
    VariantArray v(1, 1, VarType::Double);
    nestedRead.push_back(rig.ReadPLC("40001", v, 1));
    EXPECT_EQ(rig.requests.size(), sent);  // refused without going on the line
  };
  ASSERT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  rig.loop.DoEvents();
  EXPECT_EQ(busyInside, (std::vector<bool>{true}));
  EXPECT_EQ(nestedRead, (std::vector<Result>{ResultBusy}));
  EXPECT_FALSE(rig.road.CommBusy().ToBool());
  EXPECT_FALSE(rig.master.Transaction().ScanReadInFlight);
}

TEST(MasterClassicOrder, ANonWaitingReadSentFromTheEventKeepsItsTransaction) {
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 03 02 00 2A"));
  rig.master.Events.CommCompleteEx = [&](std::vector<Variant>& a) {
    rig.completions.push_back(a);
    if (rig.completions.size() == 1) {
      EXPECT_EQ(rig.ReadPLCNW("40001"), ResultOk);
    }
  };
  ASSERT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  rig.loop.DoEvents();
  rig.loop.DoEvents();
  // The second request's reply was taken as its reply, not dropped as unasked.
  EXPECT_EQ(rig.requests.size(), 2u);
  EXPECT_EQ(rig.completions.size(), 2u);
  EXPECT_FALSE(rig.road.CommBusy().ToBool());
}

// A lost scan reply does not swallow the event of the host's next read: the flag follows the
// request in flight (kept on purpose, see the README's differences).
TEST(MasterClassicOrder, ScanFlagFollowsTheRequestInFlight) {
  MasterRig rig;
  rig.master.SendScanRead(1, Variant(std::int32_t{40001}), 1);
  EXPECT_TRUE(rig.master.Transaction().ScanReadInFlight);
  rig.clock.Advance(2'000'000);
  rig.master.ReplyWatchdog();  // the scan reply never came
  EXPECT_TRUE(rig.master.Transaction().ScanReadInFlight);  // not cleared by the time-out
  rig.Answer(MasterRig::Rtu("01 03 02 00 2A"));
  ASSERT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  rig.loop.DoEvents();
  ASSERT_EQ(rig.completions.size(), 1u);
  EXPECT_EQ(rig.completions[0][0].Array().Get(1).ToInt32(), 42);
  // A scan reply itself raises none, and its decoding clears the flag.
  rig.master.SendScanRead(1, Variant(std::int32_t{40001}), 1);
  rig.loop.DoEvents();
  EXPECT_EQ(rig.completions.size(), 1u);
  EXPECT_FALSE(rig.master.Transaction().ScanReadInFlight);
}

TEST(MasterClassicOrder, RawModeComesBeforeRs485LineControl) {
  MasterRig rig;
  rig.master.SetRS485Mode(rtu::RTS);
  rig.port.HoldOutput(true);
  ASSERT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  EXPECT_TRUE(rig.port.RtsLine());
  rig.master.SendToComm("AT\r");  // raw mode before the frame has left the port
  rig.port.DrainOutput();
  rig.loop.DoEvents();
  EXPECT_TRUE(rig.port.RtsLine());  // the send notification in raw mode changes nothing
  // The next request ends raw mode; its send notification drops the line again.
  rig.master.SetCommBusy(false);
  ASSERT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  rig.port.DrainOutput();
  rig.loop.DoEvents();
  EXPECT_FALSE(rig.port.RtsLine());
}

TEST(MasterClassicOrder, CommEventModemCarriesOneArrayThatKeepsTheHandlersChanges) {
  MasterRig rig;
  std::vector<VariantArray> seen;
  rig.master.Events.CommEventModem = [&](std::vector<Variant>& a) {
    seen.push_back(a[1].Array());
    if (seen.size() == 1) {
      VariantArray bigger(0, 3);
      bigger.Set(2, Variant(std::int32_t{7}));
      a[1] = Variant(std::move(bigger));
    }
  };
  rig.master.SendToComm("AT\r");
  rig.port.Inject(std::string("OK"));
  rig.loop.DoEvents();
  rig.port.Inject(std::string("GO"));
  rig.loop.DoEvents();
  rig.port.SetCarrier(true);
  rig.loop.DoEvents();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].Get(0).ToString(), "OK");
  EXPECT_EQ(seen[1].Upper(), 3);  // the handler's array came back
  EXPECT_EQ(seen[1].Get(0).ToString(), "GO");
  EXPECT_EQ(seen[1].Get(2).ToInt32(), 7);
  EXPECT_TRUE(seen[2].Get(0).IsEmpty());  // a carrier change empties the first element
  EXPECT_EQ(seen[2].Get(2).ToInt32(), 7);
}

// Faults seeded into these places survived every other test.
TEST(MasterClassicOrder, CommBusyFalseClearsAPendingWrite) {
  MasterRig rig;
  rig.Silent();
  rig.master.Transaction().WriteActive = true;
  ASSERT_TRUE(rig.master.SendSingleWrite(1, 40001, 5));
  EXPECT_TRUE(rig.master.Transaction().WritePending);
  rig.road.SetCommBusy(Variant(false));
  EXPECT_FALSE(rig.master.Transaction().WritePending);
  EXPECT_FALSE(rig.master.Transaction().WriteActive);
  EXPECT_FALSE(rig.road.CommBusy().ToBool());
}

TEST(MasterClassicOrder, CoilWritesOfExactlyEightAndSixteenCarryOneAndTwoBytes) {
  MasterRig rig;
  rig.slave = [](const Bytes& request) {
    return MasterRig::Rtu(request[5] == 8 ? "01 0F 00 02 00 08" : "01 0F 00 02 00 10");
  };
  ASSERT_EQ(rig.WritePLC("3", {1, 0, 1, 1, 0, 0, 0, 1}), ResultOk);
  ASSERT_EQ(rig.WritePLC("3", {1, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}), ResultOk);
  ASSERT_EQ(rig.requests.size(), 2u);
  EXPECT_EQ(rig.requests[0], MasterRig::Rtu("01 0F 00 02 00 08 01 8D"));
  EXPECT_EQ(rig.requests[1], MasterRig::Rtu("01 0F 00 02 00 10 02 8D 80"));
}

}  // namespace
}  // namespace plc::modbus::testing
