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

  // A ReadPLCNW of one value.
  Result ReadOneNW(std::string address) {
    VariantArray unused(1, 1);
    return link->ReadPLCNW(address, unused, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>());
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

// A non-waiting read has no event for its failure: what ended it is left in FailureCause, as a
// waiting read leaves it, once the control knows (a refused or broken reply at once, silence
// when the watchdog ends it). ReadErrors keeps its classic text; no CommCompleteEx is raised.
TEST(RtuLinkMaster, AFailedNonWaitingReadLeavesItsCause) {
  struct Case {
    const char* reply;  // hex message (CRC appended), or "" for none
    bool badCrc;
    const char* cause;
    bool atOnce;
  };
  const Case cases[] = {
      {"01 83 02", false, "unit 1 refused the request: Exception 2 (illegal data address)", true},
      {"01 03 02 00 07", true, "the reply from unit 1 failed its CRC check", true},
      {"01 03 04 00 07 00 08", false,
       "the reply from unit 1 does not answer the request: byte count disagrees with the points asked", true},
      {"", false, "no reply from unit 1 within 2 s", false},
  };
  for (const Case& c : cases) {
    for (bool device : {false, true}) {
      SCOPED_TRACE(std::string(c.cause) + (device ? " (ReadDevice)" : " (ReadPLCNW)"));
      RtuLinkRig r;
      r.reply.clear();
      if (*c.reply) r.reply = RtuLinkRig::Rtu(c.reply);
      if (c.badCrc) r.reply.back() ^= 0x5A;
      std::string address = "40001";
      VariantArray unused(1, 1);
      const Opt<std::int16_t> one(std::int16_t{1});
      const Result sent = device ? r.link->ReadDevice(address, one, Opt<std::int16_t>())
                                 : r.link->ReadPLCNW(address, unused, one, Opt<std::int16_t>());
      ASSERT_EQ(sent, ResultOk) << "the request went out";
      r.loop.DoEvents();
      EXPECT_EQ(r.link->FailureCause(), c.atOnce ? c.cause : "");
      r.clock.Advance(2'100'000);
      r.link->Timer1().OnTick();  // the watchdog ends what is still out
      EXPECT_EQ(r.link->CommBusy(), Variant(false));
      EXPECT_EQ(r.link->FailureCause(), c.cause);
      EXPECT_TRUE(r.events.empty()) << "no completion for a failed read";
      // The next call has its own outcome.
      r.reply = RtuLinkRig::Rtu("01 03 02 00 4D");
      r.clock.Advance(2'000'000);  // the line has settled after a lost request
      ASSERT_EQ(r.link->ReadPLCNW(address, unused, one, Opt<std::int16_t>()), ResultOk) << r.link->FailureCause();
      r.loop.DoEvents();
      ASSERT_EQ(r.events.size(), 1u);
      EXPECT_EQ(r.events[0].first, "CommCompleteEx");
      EXPECT_EQ(r.link->FailureCause(), "");
    }
  }
}

// Freed by the host before its reply, or its port closed under it: it says that. A read freed
// once its time is up was not answered in time, whoever frees it (a host acting as the
// watchdog).
TEST(RtuLinkMaster, ANonWaitingReadEndedUnderItSaysHow) {
  RtuLinkRig r;
  std::string address = "40001";
  VariantArray unused(1, 1);
  const Opt<std::int16_t> one(std::int16_t{1});
  ASSERT_EQ(r.link->ReadPLCNW(address, unused, one, Opt<std::int16_t>()), ResultOk);
  r.clock.Advance(300'000);
  r.link->SetCommBusy(Variant(false));
  EXPECT_EQ(r.link->FailureCause(), "the read was given up (CommBusy set to False) before unit 1 answered");

  r.clock.Advance(3'000'000);
  ASSERT_EQ(r.link->ReadPLCNW(address, unused, one, Opt<std::int16_t>()), ResultOk) << r.link->FailureCause();
  r.clock.Advance(2'100'000);
  r.link->SetCommBusy(Variant(false));
  EXPECT_EQ(r.link->FailureCause(), "no reply from unit 1 within 2 s");

  r.clock.Advance(3'000'000);
  ASSERT_EQ(r.link->ReadPLCNW(address, unused, one, Opt<std::int16_t>()), ResultOk) << r.link->FailureCause();
  r.clock.Advance(300'000);
  r.link->SetPortOpen(false);
  r.clock.Advance(2'100'000);
  r.link->Timer1().OnTick();
  EXPECT_EQ(r.link->CommBusy(), Variant(false));
  EXPECT_EQ(r.link->FailureCause(), "port 1 was closed while the read waited for its reply");
  EXPECT_TRUE(r.events.empty());

  // A queued write that takes the line from it is no call of the host's: the read's end is
  // still told, and stays the host's cause.
  r.link->SetPortOpen(true);
  r.clock.Advance(3'000'000);
  ASSERT_EQ(r.link->ReadPLCNW(address, unused, one, Opt<std::int16_t>()), ResultOk) << r.link->FailureCause();
  r.reply = RtuLinkRig::Rtu("01 06 00 01 00 05");
  Variant to("40002");
  std::int32_t five = 5;
  r.link->ForceModData(to, five);
  r.link->WriteQueData();
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].first, "WriteQueComplete");
  EXPECT_EQ(r.events[0].second[2], Variant(true)) << r.events[0].second[3].ToString();
  EXPECT_EQ(r.link->FailureCause(), "no reply from unit 1 within 2 s");
}

// Made a slave while a read is out, the control takes the reply that comes as a request: the
// read ends at once, saying why, rather than 2 s later as unanswered by a unit that did answer.
// A read under a change of framing alone is carried out as it began.
TEST(RtuLinkMaster, AReadOutWhenTheControlIsMadeASlaveEndsSayingSo) {
  for (std::int16_t mode : {rtu::SlaveRtu, rtu::SlaveAscii}) {
    RtuLinkRig r;
    ASSERT_EQ(r.ReadOneNW("40001"), ResultOk);
    r.clock.Advance(300'000);
    r.link->SetModBusMode(static_cast<rtu::EnModBusMode>(mode));
    EXPECT_EQ(r.link->CommBusy(), Variant(false)) << mode;
    EXPECT_EQ(r.link->FailureCause(), "the read was given up (ModBusMode set to a slave mode) before unit 1 answered")
        << mode;

    // A waiting read whose wait a host timer ends so says the same.
    r.link->SetModBusMode(rtu::Rtu);
    r.clock.Advance(3'000'000);
    r.loop.AddTimer(r.clock.MonotonicMicros() + 200'000,
                    [&] { r.link->SetModBusMode(static_cast<rtu::EnModBusMode>(mode)); });
    VariantArray values(1, 1);
    values.Set(1, Variant(-7.0));
    EXPECT_EQ(r.ReadPLC("40001", values, 1), ResultFailed);
    EXPECT_EQ(values.Get(1).ToDouble(), -7.0);
    EXPECT_EQ(r.link->FailureCause(), "the read was given up before its reply came (ModBusMode set to a slave mode)")
        << mode;
    EXPECT_EQ(r.link->CommBusy(), Variant(false));
    EXPECT_TRUE(r.events.empty());
  }

  RtuLinkRig r;
  ASSERT_EQ(r.ReadOneNW("40001"), ResultOk);
  r.link->SetModBusMode(rtu::Ascii);
  r.port->Inject(RtuLinkRig::Rtu("01 03 02 00 2A"));
  r.loop.DoEvents();
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].second[0].Array().Get(1).ToDouble(), 42.0);
  EXPECT_EQ(r.link->CommBusy(), Variant(false));
}

}  // namespace
}  // namespace plc
