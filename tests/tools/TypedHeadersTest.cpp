// The typed headers (plclink/SeqLink.h, plclink/UdpLink.h) as a host writes the natural call:
// a literal address and a Variant for the values, which must come back filled. Both controls
// take ReadValue as a Variant, so a form that copied it would return nothing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>

#include "plclink/SeqLink.h"
#include "plclink/UdpLink.h"
#include "platform/PseudoTerminalLink.h"
#include "tests/support/EcomModules.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/DirectNetSimulator.h"
#include "tools/plcsim/EcomModuleSim.h"

namespace plc {
namespace {

constexpr std::int16_t kCommPort = 43;

// A typed SeqLink with its port open on a simulated station 1.
struct OpenSeqLink {
  PseudoTerminalLink line;
  sim::DirectNetSimulator station{{line.PathB(), {1}}};
  test::ScopedCommPort port{kCommPort, line.PathA()};
  plclink::SeqLink seq;
  OpenSeqLink() {
    seq.SetCommPort(kCommPort);
    seq.SetSettings("9600,n,8,1");
    seq.SetPortOpen(true);
  }
};

TEST(TypedHeaders, SeqLinkReadsIntoTheValuesGivenWithALiteralAddress) {
  OpenSeqLink rig;
  sim::DirectNetSimulator& station = rig.station;
  plclink::SeqLink& seq = rig.seq;
  station.SetWord(1, 0x0400, 1234);  // V2000
  station.SetWord(1, 0x0401, 567);
  Variant one, two;
  ASSERT_EQ(seq.ReadPLC("V,2000", one), ResultOk) << seq.FailureCause();
  EXPECT_EQ(one.ToInt32(), 1234);
  ASSERT_EQ(seq.ReadPLC(std::string("V,2000"), two, Variant(std::int16_t{2})), ResultOk) << seq.FailureCause();
  ASSERT_TRUE(two.IsArray());
  EXPECT_EQ(two.Array().Get(2).ToInt32(), 567);
  // The same through the faithful form, with an address of the host's own.
  Variant address("V,2001"), back;
  ASSERT_EQ(seq.ReadPLC(address, back), ResultOk);
  EXPECT_EQ(back.ToInt32(), 567);
  // A write takes its literal address the same way.
  Variant value(std::int32_t{1024});
  ASSERT_EQ(seq.WritePLC("V,2002", value), ResultOk) << seq.FailureCause();
  EXPECT_EQ(station.Word(1, 0x0402), 1024);
}

// Optional arguments are by reference too: a variable the host gives sees what the control
// writes into it (ReadSize counts the words an ioFloat read took), a literal goes in as a copy.
TEST(TypedHeaders, SeqLinkWritesBackIntoTheOptionalVariablesGiven) {
  OpenSeqLink rig;
  plclink::SeqLink& seq = rig.seq;
  rig.station.SetWord(1, 0x0400, 0x0000);  // V2000, V2001: one ioFloat value
  rig.station.SetWord(1, 0x0401, 0x3FC0);
  Variant values, size(std::int16_t{1});
  std::int16_t ioType = ioFloat;
  ASSERT_EQ(seq.ReadPLC("V,2000", values, size, ioType), ResultOk) << seq.FailureCause();
  EXPECT_EQ(size.ToInt32(), 2);
  std::optional<Variant> held = Variant(std::int16_t{1});
  ASSERT_EQ(seq.ReadPLC("V,2000", values, held, ioType), ResultOk) << seq.FailureCause();
  ASSERT_TRUE(held.has_value());
  EXPECT_EQ(held->ToInt32(), 2);
  // Literals and omitted arguments as before.
  ASSERT_EQ(seq.ReadPLC("V,2000", values, 1, std::int16_t{ioFloat}), ResultOk) << seq.FailureCause();
  ASSERT_EQ(seq.ReadPLC("V,2000", values, std::nullopt, std::nullopt), ResultOk) << seq.FailureCause();
  EXPECT_EQ(values.ToInt32(), 0);
}

// A number given for an optional Integer argument converts as the control converts any value:
// rounded, and refused when it does not fit, never wrapped into another count.
TEST(TypedHeaders, ANumberForAnOptionalIntegerConvertsAsTheControlDoes) {
  OpenSeqLink rig;
  plclink::SeqLink& seq = rig.seq;
  rig.station.SetWord(1, 0x0400, 7);  // V2000, V2001
  rig.station.SetWord(1, 0x0401, 8);
  VariantArray two(1, 2);
  two.At(1) = Variant(std::int32_t{111});
  two.At(2) = Variant(std::int32_t{222});
  Variant values(std::move(two));
  // 65537 is no Integer; taken as 1, one value was written and the call succeeded.
  try {
    seq.WritePLC("V,2000", values, 65537);
    ADD_FAILURE() << "a WriteSize of 65537 was taken";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::Overflow);
  }
  EXPECT_EQ(rig.station.Word(1, 0x0400), 7);
  EXPECT_EQ(rig.station.Word(1, 0x0401), 8);
  // 1.6 is 2, as Variant(1.6) is 2 to the control.
  ASSERT_EQ(seq.WritePLC("V,2000", values, 1.6), ResultOk) << seq.FailureCause();
  EXPECT_EQ(rig.station.Word(1, 0x0400), 111);
  EXPECT_EQ(rig.station.Word(1, 0x0401), 222);
}

TEST(TypedHeaders, UdpLinkOverEcomReadsIntoTheValuesGivenWithALiteralAddress) {
  sim::EcomModuleSim modules({{1, "PRESS", 0}});
  test::ServeEcomModules(modules);
  modules.SetWord(1, 1024, 321);  // V2000
  {
    plclink::UdpLink udp;
    udp.SetCommMode(3);  // ECOM
    udp.SetDeviceTimeOut(50);
    udp.SetPortOpen(true);
    ASSERT_EQ(udp.CurrentErrors(), "");
    Variant values;
    ASSERT_EQ(udp.ReadPLC("V,2000", values), ResultOk) << udp.FailureCause();
    EXPECT_EQ(values.ToInt32(), 321);
  }
  unsetenv("HEI_PAS_MODULES");
}

}  // namespace
}  // namespace plc
