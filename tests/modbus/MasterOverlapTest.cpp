// Host calls that overlap on one master: a host timer or event handler calling WritePLC, ReadPLC
// or ReadPLCNW while another waiting call of the same control waits. The slave answers each
// request a while after it, so that the host's timers fall inside the waits.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/modbus/MasterRig.h"

namespace plc::modbus::testing {
namespace {

using ::testing::HasSubstr;

std::uint8_t FunctionOf(const Bytes& request) { return request.size() > 1 ? request[1] : 0; }

// A slave of unit 1 that acknowledges writes and answers reads of one register with 42, each
// reply arriving delayMicros after its request; the requests `ignored` picks get no reply.
void DelayedSlave(MasterRig& rig, std::int64_t delayMicros,
                  std::function<bool(const Bytes&)> ignored = [](const Bytes&) { return false; }) {
  rig.port.OnSent = [&rig, delayMicros, ignored](const Bytes& chunk) {
    rig.requests.push_back(chunk);
    if (chunk.size() < 8 || ignored(chunk)) return;
    Bytes reply = chunk;
    if (FunctionOf(chunk) == 0x03) reply = MasterRig::Rtu("01 03 02 00 2A");
    if (FunctionOf(chunk) == 0x10) reply = BuildRtuFrame(Adu{1, 0x10, Bytes(chunk.begin() + 2, chunk.begin() + 6)});
    rig.port.InjectAt(rig.Micros() + delayMicros, reply);
  };
}

// A WritePLC from a host timer inside another WritePLC: when the inner one ends, the outer one
// still holds the line. In each case the outer write is under way when the inner one comes
// (50 ms), its last request goes out after the inner one's acknowledgement (200 ms) and is never
// answered, and the host asks for a read at 250 ms. That read is refused at once; sent, it went
// out after the outer's wait had run out and the outer's end then dropped it, so the host had
// neither its values nor a failure.
struct OuterWrite {
  const char* name;
  std::int32_t plcType;
  bool readPendingFirst;  // the outer write first waits for a host's read to end
  const char* address;
  std::vector<double> values;
  std::size_t requests;  // all of them, the inner write's included
};

class MasterWriteInsideWrite : public ::testing::TestWithParam<OuterWrite> {};

TEST_P(MasterWriteInsideWrite, LeavesTheOuterOneHoldingTheLine) {
  const OuterWrite& c = GetParam();
  MasterRig rig;
  rig.master.SetPLCType(c.plcType);
  std::size_t sent = 0;
  DelayedSlave(rig, 100'000, [&](const Bytes&) { return ++sent == c.requests; });
  std::vector<std::string> readFailures;
  rig.master.Events.ReadFailed = [&](const std::string& why) { readFailures.push_back(why); };
  const bool type2 = c.plcType == rtu::EnType2;
  if (c.readPendingFirst) {
    ASSERT_EQ(rig.ReadPLCNW(type2 ? "3001" : "40001"), ResultOk);
  }
  Result inner = ResultFailed;
  rig.loop.AddTimer(50'000, [&] { inner = rig.WritePLC(type2 ? "3010" : "40010", {7}); });
  Result readInside = ResultOk;
  std::string readCause;
  rig.loop.AddTimer(250'000, [&] {
    EXPECT_TRUE(rig.master.CommBusy());
    readInside = rig.ReadPLCNW(type2 ? "3001" : "40001");
    readCause = rig.road.Cause();
  });
  const std::size_t completionsBefore = rig.completions.size() + (c.readPendingFirst ? 1 : 0);
  EXPECT_EQ(rig.WritePLC(c.address, c.values), ResultFailed);
  EXPECT_THAT(rig.road.Cause(), HasSubstr("acknowledg"));
  EXPECT_EQ(inner, ResultOk);
  EXPECT_EQ(readInside, ResultFailed);
  EXPECT_EQ(readCause, "a WritePLC holds the line; the read was not sent");
  EXPECT_EQ(rig.requests.size(), c.requests);
  EXPECT_EQ(FunctionOf(rig.requests.back()), type2 ? 0x10 : 0x06);
  // Whatever the host was told went out ends in its event or its failure.
  rig.loop.WaitUntil([] { return false; }, rig.Micros() + 5'000'000);
  rig.master.ReplyWatchdog();
  if (readInside == ResultOk) {
    EXPECT_EQ(rig.completions.size() + readFailures.size(), completionsBefore + 1);
  }
  EXPECT_FALSE(rig.master.CommBusy());
}

INSTANTIATE_TEST_SUITE_P(
    MasterOverlap, MasterWriteInsideWrite,
    ::testing::Values(OuterWrite{"AfterAPendingRead", rtu::EnStdModbus, true, "40001", {5}, 3},
                      OuterWrite{"Type2LongsOnePerRequest", rtu::EnType2, false, "5000", {1, 2}, 3}),
    [](const ::testing::TestParamInfo<OuterWrite>& info) { return std::string(info.param.name); });

// A waiting read hands over the values of its own reply, also when its CommCompleteEx handler
// (or a host timer while it waits) starts a read of other registers and then waits on the line,
// so that the other read's reply is decoded before the waiting read's call copies its values.
TEST(MasterOverlap, AWaitingReadKeepsItsValuesWhenAnotherReplyComesBeforeItReturns) {
  for (bool fromTimer : {false, true}) {
    SCOPED_TRACE(fromTimer ? "host timer" : "event handler");
    MasterRig rig;
    // Holding register offset 0 holds 111, offset 99 holds 222; writes are acknowledged.
    rig.port.OnSent = [&rig](const Bytes& request) {
      rig.requests.push_back(request);
      Bytes reply = FunctionOf(request) == 0x06  ? request
                    : request[3] == 0 ? MasterRig::Rtu("01 03 02 00 6F")
                                      : MasterRig::Rtu("01 03 02 00 DE");
      rig.port.InjectAt(rig.Micros() + 100'000, reply);
    };
    std::vector<Result> inner;
    auto readThenWrite = [&] {
      inner.push_back(rig.ReadPLCNW("40100"));
      inner.push_back(rig.WritePLC("40050", {1}));
    };
    int events = 0;
    rig.master.Events.CommCompleteEx = [&](std::vector<Variant>& a) {
      rig.completions.push_back(a);
      if (++events == 1 && !fromTimer) readThenWrite();
    };
    if (fromTimer) rig.loop.AddTimer(50'000, readThenWrite);
    VariantArray values(1, 1);
    ASSERT_EQ(rig.ReadPLC("40001", values, 1), ResultOk);
    EXPECT_EQ(values.Get(1).ToInt32(), 111);
    EXPECT_EQ(inner, (std::vector<Result>{ResultOk, ResultOk}));
    ASSERT_EQ(rig.completions.size(), 2u);
    EXPECT_EQ(rig.completions[1][1].ToInt32(), 40100);
    EXPECT_EQ(rig.completions[1][0].Array().Get(1).ToInt32(), 222);
    // DataBuffer, and so ReadData, hold the latest reply.
    std::int16_t idx = 1;
    EXPECT_EQ(rig.road.ReadData(idx), 222);
  }
}

// A ReadPLC from a host timer inside another ReadPLC whose request the watchdog gave up: the
// inner one reads its own registers, and the outer one fails as given up instead of taking the
// inner one's values as its own.
TEST(MasterOverlap, AReadInsideAGivenUpReadDoesNotLendItItsValues) {
  MasterRig rig;  // silent for the outer read
  Result inner = ResultFailed;
  VariantArray innerValues(1, 1);
  rig.loop.AddTimer(1'000'000, [&] {
    rig.clock.Advance(1'000'000);  // a slow event: the watchdog's tick is due when it ends
    rig.master.ReplyWatchdog();
    rig.Answer(MasterRig::Rtu("01 03 02 00 DE"));  // 222, the inner read's register
    inner = rig.ReadPLC("40100", innerValues, 1);
  });
  VariantArray values(1, 1);
  values.Set(1, Variant(std::int32_t{9}));
  EXPECT_EQ(rig.ReadPLC("40001", values, 1), ResultFailed);
  EXPECT_EQ(values.Get(1).ToInt32(), 9);
  EXPECT_THAT(rig.road.Cause(), HasSubstr("given up before its reply came (the watchdog)"));
  EXPECT_EQ(inner, ResultOk);
  EXPECT_EQ(innerValues.Get(1).ToInt32(), 222);
}

}  // namespace
}  // namespace plc::modbus::testing
