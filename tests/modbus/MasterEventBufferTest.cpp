// MData of CommCompleteEx is DataBuffer passed by reference: the handler sees the reply's
// values in both, what it writes into MData stays in DataBuffer, and an MData it replaces by
// an array of other bounds (or no array) leaves DataBuffer as the reply left it. Master and
// slave engines alike.
#include <gtest/gtest.h>

#include "modbus/ModbusSlave.h"
#include "modbus/RtuFrame.h"
#include "tests/modbus/MasterRig.h"

namespace plc::modbus::testing {
namespace {

TEST(MasterEventBuffer, HandlerWritesToMDataStayAndDataBufferHoldsTheReplyMeanwhile) {
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 03 04 00 0C 0D 80"));
  std::vector<std::int32_t> seenInDataBuffer;
  rig.master.Events.CommCompleteEx = [&](std::vector<Variant>& a) {
    ASSERT_TRUE(a[0].IsArray());
    EXPECT_EQ(a[0].Array().Get(1).ToInt32(), 12);
    seenInDataBuffer.push_back(rig.master.DataBuffer().Get(2).ToInt32());
    a[0].Array().Set(7, Variant(std::int32_t{99}));
    a[0].Array().Set(1, Variant(std::int32_t{-5}));
  };
  VariantArray values(1, 2);
  ASSERT_EQ(rig.ReadPLC("40001", values, 2), ResultOk);
  EXPECT_EQ(seenInDataBuffer, (std::vector<std::int32_t>{3456}));
  EXPECT_EQ(rig.master.DataBuffer().Get(7).ToInt32(), 99);
  // The waiting read hands over DataBuffer as the handler left it.
  EXPECT_EQ(values.Get(1).ToInt32(), -5);
  EXPECT_EQ(values.Get(2).ToInt32(), 3456);
  EXPECT_EQ(rig.master.DataBuffer().Upper(), kDataBufferLast);
}

TEST(MasterEventBuffer, ReadPLCNWFromTheHandlerOfAWaitingReadLeavesThatReadItsOwnValues) {
  MasterRig rig;
  // Holding register offset 0 holds 111, offset 99 holds 222.
  rig.slave = [](const Bytes& request) {
    return request[3] == 0 ? MasterRig::Rtu("01 03 02 00 6F") : MasterRig::Rtu("01 03 02 00 DE");
  };
  int events = 0;
  rig.master.Events.CommCompleteEx = [&](std::vector<Variant>&) {
    if (++events == 1) {
      EXPECT_EQ(rig.ReadPLCNW("40100"), ResultOk);
    }
  };
  VariantArray values(1, 1);
  ASSERT_EQ(rig.ReadPLC("40001", values, 1), ResultOk);
  EXPECT_EQ(values.Get(1).ToInt32(), 111);
  rig.loop.DoEvents();
  EXPECT_EQ(events, 2);
  EXPECT_EQ(rig.master.DataBuffer().Get(1).ToInt32(), 222);
}

// Two non-waiting reads in a row, the second sent while the first's reply is still on its way:
// each raises its own event with its own values, or is told lost; none is dropped unheard.
TEST(MasterEventBuffer, ASecondReadPLCNWSentBeforeTheFirstsReplyLeavesTheFirstItsEvent) {
  MasterRig rig;
  // Offset 0 holds 111, offset 9 holds 222; each reply comes 100 ms after its request.
  rig.slave = [&rig](const Bytes& request) {
    rig.port.InjectAt(rig.Micros() + 100'000,
                      request[3] == 0 ? MasterRig::Rtu("01 03 02 00 6F") : MasterRig::Rtu("01 03 02 00 DE"));
    return Bytes{};
  };
  ASSERT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  ASSERT_EQ(rig.ReadPLCNW("40010"), ResultOk);
  rig.loop.RunFor(5'000'000);
  ASSERT_EQ(rig.completions.size(), 2u);
  EXPECT_EQ(rig.completions[0][1].ToInt32(), 40001);
  EXPECT_EQ(rig.completions[0][0].Array().Get(1).ToInt32(), 111);
  EXPECT_EQ(rig.completions[1][1].ToInt32(), 40010);
  EXPECT_EQ(rig.completions[1][0].Array().Get(1).ToInt32(), 222);
}

// A run-time error in the host's CommCompleteEx handler is the handler's: the read it reports
// was good, and the next read goes out as usual.
TEST(MasterEventBuffer, AnErrorInTheHandlerLeavesTheReadGood) {
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 03 02 00 2A"));
  rig.master.Events.CommCompleteEx = [&rig](std::vector<Variant>& a) {
    rig.completions.push_back(a);
    throw RuntimeError(err::Subscript);
  };
  VariantArray v(1, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultOk) << rig.road.Cause();
  EXPECT_EQ(v.Get(1).ToInt32(), 42);
  EXPECT_EQ(rig.road.ReadErrors().ToString(), "");
  ASSERT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  rig.loop.DoEvents();
  EXPECT_EQ(rig.completions.size(), 2u);
  EXPECT_EQ(rig.road.ReadErrors().ToString(), "");
  EXPECT_EQ(rig.master.Transaction().ErrorCount, 0);
  EXPECT_FALSE(rig.road.CommBusy().ToBool());
}

TEST(MasterEventBuffer, ReplacedMDataLeavesDataBufferAsTheReplyLeftIt) {
  for (bool array : {true, false}) {
    MasterRig rig;
    rig.Answer(MasterRig::Rtu("01 03 04 00 0C 0D 80"));
    rig.master.Events.CommCompleteEx = [array](std::vector<Variant>& a) {
      a[0] = array ? Variant(VariantArray(0, 3)) : Variant(std::int32_t{1});
    };
    ASSERT_EQ(rig.ReadPLCNW("40001", 2), ResultOk);
    rig.loop.DoEvents();
    const VariantArray& buffer = rig.master.DataBuffer();
    EXPECT_EQ(buffer.Lower(), 0) << array;
    EXPECT_EQ(buffer.Upper(), kDataBufferLast) << array;
    EXPECT_EQ(buffer.Get(1).ToInt32(), 12) << array;
    EXPECT_EQ(buffer.Get(2).ToInt32(), 3456) << array;
  }
}

TEST(MasterEventBuffer, SlaveEventHandlerWritesToMDataStay) {
  ManualClock clock;
  PollEventLoop loop{clock};
  ScopedCurrentLoop scope{loop};
  MemorySerialPort port{loop};
  ModbusMaster master{port, loop};
  RegisterImageArray image(kSlaveImageLast + 1, 0);
  ModbusSlave slave{port, master, image, loop};
  port.SetPortOpen(true);
  port.SetRThreshold(1);
  master.SetModBusMode(rtu::SlaveRtu);
  master.SetUnitAddress(1);
  master.Events.HandleSlaveRequest = [&slave] { slave.HandleSlaveRequest(); };
  int events = 0;
  master.Events.CommCompleteEx = [&events](std::vector<Variant>& a) {
    ++events;
    a[0].Array().Set(3, Variant(std::int32_t{events}));
  };
  for (int i = 0; i < 2; ++i) {
    port.Inject(BuildRtuFrame(Adu{1, 3, {0, 0, 0, 1}}));
    loop.DoEvents();
  }
  EXPECT_EQ(events, 2);
  EXPECT_EQ(master.DataBuffer().Get(3).ToInt32(), 2);
  EXPECT_EQ(master.DataBuffer().Upper(), kDataBufferLast);
}

}  // namespace
}  // namespace plc::modbus::testing
