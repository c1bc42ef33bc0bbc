// DfLink's non-waiting calls (ReadPLCNW, ReadDevice, WritePLC) after their request went out:
// what the host finds when no completion comes, and the values a completion carries.
#include <gtest/gtest.h>

#include "df1/Df1State.h"
#include "df1/Results.h"
#include "tests/df1/Df1Rig.h"

namespace plc {
namespace {

using sim::Df1Fault;
using test::Df1Rig;

Result ReadNoWait(DfLink& link, const std::string& address, std::int16_t size) {
  Variant a(address), unused;
  return link.ReadPLCNW(a, unused, Opt<std::int16_t>(size), Opt<std::int16_t>());
}

Result WriteOne(DfLink& link, const std::string& address, double value) {
  std::string a = address;
  VariantArray values(1, 1, VarType::Double);
  values.Set(1, Variant(value));
  return link.WritePLC(a, values, Opt<std::int16_t>(std::int16_t{1}));
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(DfLinkUnanswered, ARequestNoCompletionWillCloseLeavesItsCauseForTheHost) {
  // A station that never answers draws no CommComplete: the host finds why the read or write
  // ended where a waiting call's cause is, once the watchdog, CommBusy = False or the port
  // closing has given the request up.
  Df1Rig rig;
  DfLink& link = rig.Link();
  link.Timer2().SetEnabled(true);
  rig.plc.InjectNext(Df1Fault::Silent);
  ASSERT_EQ(ReadNoWait(link, "N7:4", 2), ResultFailed);
  EXPECT_EQ(link.FailureCause(), "") << "sent: nothing has failed yet";
  rig.bench.loop.RunFor(3'200'000);
  ASSERT_EQ(link.CommBusy().ToInt16(), False) << "the watchdog freed the driver";
  EXPECT_TRUE(rig.events.empty());
  EXPECT_TRUE(Has(link.FailureCause(), "no reply in time")) << link.FailureCause();
  EXPECT_TRUE(Has(link.FailureCause(), "station 1")) << link.FailureCause();
  EXPECT_TRUE(Has(link.FailureCause(), "the read of N7:4 x2")) << link.FailureCause();

  rig.plc.InjectNext(Df1Fault::Silent);
  ASSERT_EQ(WriteOne(link, "N7:1", 5), ResultOk);
  EXPECT_EQ(link.FailureCause(), "");
  link.SetCommBusy(Variant(false));
  EXPECT_TRUE(Has(link.FailureCause(), "CommBusy")) << link.FailureCause();
  EXPECT_TRUE(Has(link.FailureCause(), "the write to N7:1")) << link.FailureCause();

  rig.plc.InjectNext(Df1Fault::Silent);
  std::string device = "B3:0";
  ASSERT_EQ(link.ReadDevice(device, Opt<std::int16_t>(), Opt<std::int16_t>()), ResultFailed);
  link.SetPortOpen(false);
  EXPECT_TRUE(Has(link.FailureCause(), "closed")) << link.FailureCause();
  EXPECT_TRUE(Has(link.FailureCause(), "the read of B3:0")) << link.FailureCause();
  link.SetPortOpen(true);

  // A later call has its own outcome: a read given up after it leaves that call's cause.
  rig.plc.InjectNext(Df1Fault::Silent);
  ASSERT_EQ(ReadNoWait(link, "N7:0", 1), ResultFailed);
  VariantArray v(1, 1, VarType::Double);
  std::string n70 = "N7:0";
  ASSERT_EQ(link.ReadPLC(n70, v, Opt<std::int16_t>(std::int16_t{1})), ResultLineBusy);
  const std::string busy = link.FailureCause();
  rig.bench.loop.RunFor(3'200'000);
  EXPECT_EQ(link.FailureCause(), busy);
  // An answered read leaves none either.
  ASSERT_EQ(ReadNoWait(link, "N7:0", 1), ResultFailed);
  rig.bench.loop.WaitUntil([&] { return !rig.events.empty(); }, rig.Now() + 2'000'000);
  link.SetCommBusy(Variant(false));
  EXPECT_EQ(link.FailureCause(), "");
}

TEST(DfLinkUnanswered, AQueuedWriteMeanwhileLeavesTheReadsCause) {
  // The scan-write tick's write is the control's own: a host's read given up while it runs
  // still leaves its cause for the host.
  Df1Rig rig;
  DfLink& link = rig.Link();
  link.Timer2().SetEnabled(true);
  link.SetNumOfWriteRetries(1);
  link.SetScanWriteIOTimerInterval(50);
  link.SetScanWriteEnable(true);
  rig.plc.InjectNext(Df1Fault::Silent);
  ASSERT_EQ(ReadNoWait(link, "N7:4", 2), ResultFailed);
  Variant address("N7:1");
  std::int32_t value = 5;
  link.ForceData(address, value);
  rig.bench.loop.RunFor(3'500'000);
  ASSERT_EQ(link.CommBusy().ToInt16(), False);
  EXPECT_TRUE(rig.events.empty());
  EXPECT_TRUE(Has(link.FailureCause(), "the read of N7:4 x2")) << link.FailureCause();
}

TEST(DfLinkUnanswered, ARequestAnotherRequestTakesTheLineFromLeavesItsCause) {
  // The line holds one request at a time: a waiting read of another DfLink on the thread,
  // once its wait for the line has run out, takes the line from a non-waiting read the station
  // never answers. That read's host gets no CommComplete, so it finds the cause there, as it
  // does when the watchdog gives the read up.
  Df1Rig rig;
  DfLink& link = rig.Link();
  auto second = rig.bench.Make();
  MemorySerialPort& secondPort = *rig.bench.port;
  rig.AttachOwnPlc(*second, secondPort, sim::Df1SimSettings{});
  rig.plc.InjectNext(Df1Fault::Silent);
  ASSERT_EQ(ReadNoWait(link, "B3:0", 1), ResultFailed);
  VariantArray v(1, 1, VarType::Double);
  std::string n70 = "N7:0";
  ASSERT_EQ(second->ReadPLC(n70, v, Opt<std::int16_t>(std::int16_t{1})), ResultLineBusy);
  EXPECT_EQ(link.FailureCause(), "") << "the read is still on the line";
  ASSERT_EQ(second->ReadPLC(n70, v, Opt<std::int16_t>(std::int16_t{1})), ResultOk) << second->FailureCause();
  EXPECT_EQ(rig.events.size(), 1u) << "the waiting read's own completion; none for the read given up";
  EXPECT_TRUE(Has(link.FailureCause(), "no reply in time")) << link.FailureCause();
  EXPECT_TRUE(Has(link.FailureCause(), "station 1 sent no reply to the read of B3:0")) << link.FailureCause();
  EXPECT_TRUE(Has(link.FailureCause(), "the read of N7:0 took the line")) << link.FailureCause();
  EXPECT_EQ(second->FailureCause(), "");
}

TEST(DfLinkBitCounts, ABitAddressWithACountGivesTheSameValuesWaitingOrNot) {
  // Bit 15 of B3:0, B3:1 and B3:2 (and bit 3 of N7:0, N7:1): a waiting read hands the caller
  // what the non-waiting read leaves in ReadData, every value that bit of its word.
  Df1Rig rig;
  rig.plc.Table().SetWords(3, 0, {0x8000, 0x7FFF, 0x8001});
  rig.plc.Table().SetWords(7, 0, {0x0008, 0x7FF7});
  for (const std::string address : {"B3/15", "B3:0/15", "N7:0/3"}) {
    const std::int16_t count = address[0] == 'N' ? 2 : 3;
    rig.events.clear();
    ASSERT_EQ(ReadNoWait(rig.Link(), address, count), ResultFailed) << rig.Link().FailureCause();
    rig.bench.loop.WaitUntil([&] { return !rig.events.empty(); }, rig.Now() + 2'000'000);
    ASSERT_EQ(rig.events.size(), 1u);
    std::vector<double> polled;
    for (std::int16_t i = 1; i <= count; ++i) polled.push_back(rig.Link().ReadData(i));
    EXPECT_EQ(polled, (count == 3 ? std::vector<double>{1, 0, 1} : std::vector<double>{1, 0})) << address;

    VariantArray doubles(1, count, VarType::Double);
    std::string a = address;
    ASSERT_EQ(rig.Link().ReadPLC(a, doubles, Opt<std::int16_t>(count)), ResultOk) << rig.Link().FailureCause();
    std::vector<double> waited;
    for (std::int16_t i = 1; i <= count; ++i) waited.push_back(doubles.Get(i).ToDouble());
    EXPECT_EQ(waited, polled) << address << ": a bit, then whole words";
    // An Integer array takes bits whatever the rest of their words hold.
    Variant integers{VariantArray(1, count, VarType::Int16)};
    Variant av(address);
    ASSERT_EQ(rig.Link().ReadPLCV(av, integers, Opt<std::int16_t>(count)), ResultOk) << rig.Link().FailureCause();
    for (std::int16_t i = 1; i <= count; ++i) EXPECT_EQ(integers.Array().Get(i).ToDouble(), polled[i - 1]) << address << " " << i;
  }
}

}  // namespace
}  // namespace plc
