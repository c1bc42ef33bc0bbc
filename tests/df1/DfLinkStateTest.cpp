// What the shared driver state takes from stored properties, the midnight rule of the link's
// clock, and a reply that answers fewer words than were asked for.
#include <gtest/gtest.h>

#include "df1/Frame.h"
#include "df1/Link.h"
#include "tests/df1/Df1Rig.h"

namespace plc {
namespace {

using test::Df1Rig;

TEST(DfLinkState, StoredPropertiesSetTheCopiesEveryRequestUses) {
  Df1Rig rig(true);
  MemoryPropertyBag bag;
  bag.WriteProperty("Mode", Variant(std::int16_t{1}), Variant(std::int16_t{2}));
  bag.WriteProperty("Address", Variant(std::int32_t{9}), Variant(std::int32_t{1}));
  bag.WriteProperty("Node", Variant(std::int32_t{3}), Variant(std::int32_t{1}));
  bag.WriteProperty("Settings", Variant("19200,n,8,1"), Variant("9600,n,8,1"));
  rig.Link().Engine().Copies().Mode = 2;
  rig.Link().SetPortOpen(false);
  rig.Link().ReadProperties(bag);
  rig.Link().SetPortOpen(true);
  EXPECT_EQ(rig.Link().Settings(), "19200,n,8,1");
  EXPECT_EQ(rig.Link().Mode(), df1::EnBCC);
  EXPECT_EQ(rig.Link().Engine().Copies().Mode, 1);
  rig.bench.port->TakeSent();
  VariantArray v(1, 1, VarType::Double);
  std::string a = "N7:0";
  ASSERT_EQ(rig.Link().ReadPLC(a, v, Opt<std::int16_t>()), ResultOk) << "BCC both ways";
  const Bytes& sent = rig.bench.port->Sent();
  EXPECT_EQ(sent.at(2), 9) << "DST";
  EXPECT_EQ(sent.at(3), 3) << "SRC";
}

TEST(DfLinkState, TheLinkClockStartsAgainWhenMidnightPasses) {
  // 0.5 s before midnight (the manual clock's wall time is taken as local).
  const std::int64_t day = 86'400'000'000;
  ManualClock clock((1'700'000'000'000'000 / day + 1) * day - 500'000);
  df1::MidnightStopwatch watch(clock);
  clock.Advance(400'000);
  EXPECT_NEAR(watch.Elapsed(), 0.4, 1e-9);
  clock.Advance(200'000);  // 0.1 s after midnight: the difference would be -86399.8 s
  EXPECT_EQ(watch.Elapsed(), 0);
  clock.Advance(300'000);
  EXPECT_NEAR(watch.Elapsed(), 0.3, 1e-9);
}

TEST(DfLinkState, AReplyWithFewerWordsThanAskedIsRefusedAndClosedAsAFailure) {
  Df1Rig rig;
  // The PLC played by hand: DLE ACK, then a good frame carrying one word for a read of two.
  rig.bench.port->OnSent = [&](const Bytes& chunk) {
    if (chunk.size() < 8) return;
    Bytes reply = {0x10, 0x06};
    Bytes frame = *df1::StuffAndCheck(Bytes{0x00, 0x01, 0x4F, 0x00, chunk[6], 0x00, 0x2A, 0x00}, 2);
    reply.insert(reply.end(), frame.begin(), frame.end());
    rig.bench.port->Inject(reply);
  };
  VariantArray v(1, 2, VarType::Double);
  std::string a = "N7:0";
  EXPECT_EQ(rig.Link().ReadPLC(a, v, Opt<std::int16_t>(std::int16_t{2})), ResultCheckError);
  EXPECT_EQ(rig.Link().ReadErrors().ToString(), "ERRORREPLY");
  EXPECT_EQ(rig.AcksAfterRequest(), 3);
  EXPECT_EQ(rig.Link().ReadPLC(a, v, Opt<std::int16_t>(std::int16_t{1})), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), 42);
}

TEST(DfLinkState, ReadPlcVTakesAnyAddressAndAScalarValue) {
  Df1Rig rig;
  rig.plc.Table().SetWords(4, 3, {0, 0, 77});
  Variant address("T4:1.2"), value;
  ASSERT_EQ(rig.Link().ReadPLCV(address, value, Opt<std::int16_t>()), ResultOk);
  EXPECT_EQ(value.ToDouble(), 77);
}

}  // namespace
}  // namespace plc
