// DfLink's settings changed while a request is out: the request ends as it began, and the next
// one goes under the new settings.
#include <gtest/gtest.h>

#include "df1/Df1State.h"
#include "tests/df1/Df1Rig.h"

namespace plc {
namespace {

using test::Df1Rig;

Result ReadNoWait(DfLink& link, const std::string& address, std::int16_t size) {
  Variant a(address), unused;
  return link.ReadPLCNW(a, unused, Opt<std::int16_t>(size), Opt<std::int16_t>());
}

double Buffered(std::int16_t i) { return df1::TheDf1State().DataBuffer.Get(i).ToDouble(); }

// The station answers a request in the check it was sent with: a Mode changed while it waits
// (a property page applied under a running scan) leaves its reply good, not refused as a BCC or
// CRC error that sends the technician to the line. The next request goes with the new check.
TEST(DfLinkSettingsUnderRequest, AReplyIsCheckedAsItsRequestWasSent) {
  for (bool bcc : {false, true}) {
    sim::Df1SimSettings settings{bcc};
    settings.byteMicros = 1'000;  // its link response comes after the host timer below
    Df1Rig rig(settings);
    DfLink& link = rig.Link();
    rig.plc.Table().SetWords(7, 0, {111});
    ASSERT_EQ(ReadNoWait(link, "N7:0", 1), ResultFailed);
    link.SetMode(bcc ? df1::EnCRC : df1::EnBCC);
    rig.bench.loop.WaitUntil([&] { return !rig.events.empty(); }, rig.Now() + 3'000'000);
    ASSERT_EQ(rig.events.size(), 1u) << bcc;
    EXPECT_EQ(link.FailureCause(), "") << bcc;
    EXPECT_EQ(Buffered(1), 111.0) << bcc;
    EXPECT_EQ(link.CommBusy().ToInt16(), False) << bcc;

    // A waiting read whose wait a host timer changes the check in.
    rig.plc.Table().SetWords(7, 0, {222});
    link.SetMode(bcc ? df1::EnBCC : df1::EnCRC);
    rig.bench.loop.AddTimer(rig.Now() + 1, [&] { link.SetMode(bcc ? df1::EnCRC : df1::EnBCC); });
    std::string n70 = "N7:0";
    VariantArray v(1, 1, VarType::Double);
    EXPECT_EQ(link.ReadPLC(n70, v, Opt<std::int16_t>(std::int16_t{1})), ResultOk) << link.FailureCause();
    EXPECT_EQ(v.Get(1).ToDouble(), 222.0);

    // The next request goes with the new check: its frame ends in one BCC byte or two of CRC.
    const std::size_t before = rig.bench.port->Sent().size();
    ASSERT_EQ(ReadNoWait(link, "N7:0", 1), ResultFailed);
    const Bytes& sent = rig.bench.port->Sent();
    ASSERT_GT(sent.size(), before + 4);
    const std::size_t checkBytes = bcc ? 2 : 1;
    EXPECT_EQ(sent[sent.size() - checkBytes - 2], 0x10) << bcc;
    EXPECT_EQ(sent[sent.size() - checkBytes - 1], 0x03) << bcc;
  }
}

}  // namespace
}  // namespace plc
