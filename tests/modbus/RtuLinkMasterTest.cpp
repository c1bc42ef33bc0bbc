// RtuLink drives its master engine through its public members: the request on the line, the
// values handed back, the event a non-waiting read raises, a silent slave and freeing the line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/RtuFrame.h"
#include "modbus/RtuLink.h"
#include "tests/modbus/FramingHelpers.h"
#include "tests/support/LinkTestBench.h"

namespace plc {
namespace {

using modbus::Adu;
using modbus::Bytes;

struct RtuLinkRig : test::LinkTestBench<RtuLink> {
  std::vector<std::pair<std::string, std::vector<Variant>>> events;
  std::vector<Bytes> requests;
  Bytes reply;  // what the slave sends back to every request; empty: no reply

  RtuLinkRig() {
    New();
    link->SetAddress(1);
    link->SetPortOpen(true);
    link->SetEventSink([this](const std::string& name, std::vector<Variant>& args) { events.emplace_back(name, args); });
    port->OnSent = [this](const Bytes& chunk) {
      requests.push_back(chunk);
      if (!reply.empty()) port->Inject(reply);
    };
  }

  static Bytes Rtu(std::string_view hexMessage) {
    Bytes m = modbus::testing::Hex(hexMessage);
    return modbus::BuildRtuFrame(Adu{m[0], m[1], Bytes(m.begin() + 2, m.end())});
  }

  Result ReadPLC(std::string address, VariantArray& values, std::int16_t size) {
    Variant s(size);
    return link->ReadPLC(address, values, Opt<Variant>(s), Opt<std::int16_t>());
  }
};

TEST(RtuLinkMaster, ReadPLCSendsTheRequestAndReturnsTheValues) {
  RtuLinkRig r;
  r.reply = RtuLinkRig::Rtu("01 03 04 00 65 00 CA");
  VariantArray values(1, 5);
  EXPECT_EQ(r.ReadPLC("40001", values, 2), ResultOk);
  ASSERT_EQ(r.requests.size(), 1u);
  EXPECT_EQ(r.requests[0], modbus::testing::Hex("01 03 00 00 00 02 C4 0B"));
  EXPECT_EQ(values.Get(1).ToDouble(), 101.0);
  EXPECT_EQ(values.Get(2).ToDouble(), 202.0);
  std::int16_t idx = 2;
  EXPECT_EQ(r.link->ReadData(idx), 202.0);
  EXPECT_EQ(r.link->CommBusy(), Variant(false));
}

TEST(RtuLinkMaster, ReadPLCNWRaisesCommCompleteExThroughTheSink) {
  RtuLinkRig r;
  r.reply = RtuLinkRig::Rtu("01 04 02 01 2C");
  std::string address = "30001";
  VariantArray unused(1, 1);
  EXPECT_EQ(r.link->ReadPLCNW(address, unused, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>()), ResultOk);
  r.loop.DoEvents();
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].first, "CommCompleteEx");
  const std::vector<Variant>& args = r.events[0].second;
  ASSERT_EQ(args.size(), 5u);
  EXPECT_EQ(args[0].Array().Get(1).ToDouble(), 300.0);
  EXPECT_EQ(r.link->CommBusy(), Variant(false));

  // With no one listening the reply still lands in DataBuffer and frees the line.
  r.link->SetEventSink(nullptr);
  r.reply = RtuLinkRig::Rtu("01 04 02 01 2D");
  EXPECT_EQ(r.link->ReadPLCNW(address, unused, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>()), ResultOk);
  r.loop.DoEvents();
  EXPECT_EQ(r.events.size(), 1u);
  std::int16_t first = 1;
  EXPECT_EQ(r.link->ReadData(first), 301.0);
  EXPECT_EQ(r.link->CommBusy(), Variant(false));
}

TEST(RtuLinkMaster, SilentSlaveFailsTheReadAndTheWatchdogTickFreesTheLine) {
  RtuLinkRig r;
  VariantArray values(1, 5);
  EXPECT_EQ(r.ReadPLC("40001", values, 1), ResultFailed);
  // A time-out leaves the read pending until Timer1's tick ends it.
  EXPECT_EQ(r.ReadPLC("40001", values, 1), ResultBusy);
  r.link->Timer1().OnTick();
  EXPECT_EQ(r.link->CommBusy(), Variant(false));
  r.reply = RtuLinkRig::Rtu("01 03 02 00 07");
  EXPECT_EQ(r.ReadPLC("40001", values, 1), ResultOk);
  EXPECT_EQ(values.Get(1).ToDouble(), 7.0);
  EXPECT_EQ(r.requests.size(), 2u);
}

TEST(RtuLinkMaster, PendingNonWaitingReadMakesReadPLCBusyUntilCommBusyIsFreed) {
  RtuLinkRig r;
  std::string address = "40001";
  VariantArray unused(1, 1);
  ASSERT_EQ(r.link->ReadPLCNW(address, unused, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>()), ResultOk);
  EXPECT_EQ(r.link->CommBusy(), Variant(true));
  VariantArray values(1, 5);
  EXPECT_EQ(r.ReadPLC("40001", values, 1), ResultBusy);
  r.link->SetProperty("CommBusy", Variant(false));
  EXPECT_EQ(r.link->CommBusy(), Variant(false));
  r.reply = RtuLinkRig::Rtu("01 03 02 00 09");
  EXPECT_EQ(r.ReadPLC("40001", values, 1), ResultOk);
  EXPECT_EQ(values.Get(1).ToDouble(), 9.0);
}

TEST(RtuLinkMaster, UnitAddressAndAsciiModeReachTheEngine) {
  RtuLinkRig r;
  r.link->SetAddress(7);
  r.link->SetModBusMode(rtu::Ascii);
  VariantArray values(1, 5);
  r.ReadPLC("40001", values, 1);  // no reply: only the request matters here
  ASSERT_FALSE(r.requests.empty());
  std::string sent(r.requests[0].begin(), r.requests[0].end());
  EXPECT_EQ(sent, ":070300000001F5\r\n");
}

TEST(RtuLinkMaster, TheHostsTraceSeesTheRequestAndTheReplyOnceThePortOpens) {
  RtuLinkRig r;
  std::vector<std::pair<TraceDirection, Bytes>> seen;
  r.link->SetPortOpen(false);
  r.host.SetSerialTrace([&](TraceDirection d, const std::uint8_t* p, std::size_t n, std::int64_t) { seen.emplace_back(d, Bytes(p, p + n)); });
  r.link->SetPortOpen(true);
  r.reply = RtuLinkRig::Rtu("01 03 02 00 2A");
  VariantArray values(1, 1);
  ASSERT_EQ(r.ReadPLC("40001", values, 1), ResultOk);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_pair(TraceDirection::Sent, modbus::testing::Hex("01 03 00 00 00 01 84 0A")));
  EXPECT_EQ(seen[1], std::make_pair(TraceDirection::Received, r.reply));
}

}  // namespace
}  // namespace plc

namespace plc {
namespace {

// The control keeps the cause of its last failed call, by its own interface, and forgets it
// when a call succeeds.
TEST(RtuLinkMaster, FailureCauseFollowsEveryReadAndWriteCall) {
  RtuLinkRig r;
  VariantArray values(1, 5);
  EXPECT_EQ(r.ReadPLC("", values, 1), ResultFailed);
  EXPECT_EQ(r.link->FailureCause().rfind("address '' not understood", 0), 0u) << r.link->FailureCause();
  r.reply = RtuLinkRig::Rtu("01 03 02 00 65");
  EXPECT_EQ(r.ReadPLC("40001", values, 1), ResultOk);
  EXPECT_EQ(r.link->FailureCause(), "");
  std::string address = "40020";
  VariantArray negative(1, 1);
  negative.Set(1, Variant(-1));
  EXPECT_EQ(r.link->WritePLC(address, negative, Opt<std::int16_t>(), Opt<std::int16_t>()), ResultFailed);
  EXPECT_NE(r.link->FailureCause().find("value -1 does not fit a register"), std::string::npos);
  std::string none;
  EXPECT_EQ(r.link->ReadPLCValue(none, values, Opt<std::int16_t>(), Opt<std::int16_t>(), Opt<std::int32_t>()),
            ResultFailed);
  EXPECT_NE(r.link->FailureCause().find("reads nothing"), std::string::npos);
  r.link->SetPortOpen(false);
  EXPECT_EQ(r.link->ReadDevice(address, Opt<std::int16_t>(), Opt<std::int16_t>()), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "port 1 is not open (set PortOpen to True first)");
}

}  // namespace
}  // namespace plc
