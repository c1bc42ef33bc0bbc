// SeqLink's write against every way one of the station's answers can go wrong: each byte of
// each answer with one bit flipped or dropped, an answer lost whole, or arriving late. A write
// reported done must be in the station's memory, a failed one must say why, and the line must
// be free for the next write and read.
#include <gtest/gtest.h>

#include <string>

#include "tests/directnet/SeqLinkRig.h"
#include "tests/support/AnswerMishaps.h"

namespace plc {
namespace {

using test::Harm;
using test::Mishap;
using test::SeqLinkRig;


// The rig's station, its answers passed through the mishap.
void Harm(SeqLinkRig& r, const Mishap& m) {
  auto count = std::make_shared<std::size_t>(0);
  r.port->OnSent = [&r, m, count](const Bytes& chunk) {
    r.sent.push_back(chunk);
    for (Bytes reply : r.station.Feed(chunk)) {
      if ((*count)++ != m.answer) {
        r.port->Inject(reply);
        continue;
      }
      switch (m.harm) {
        case Harm::Flip: reply[m.at] ^= static_cast<std::uint8_t>(1u << m.bit); break;
        case Harm::Drop: reply.erase(reply.begin() + static_cast<std::ptrdiff_t>(m.at)); break;
        case Harm::Lose: reply.clear(); break;
        case Harm::Late: r.port->InjectAt(r.loop.Now() + 2'500'000, reply); reply.clear(); break;
      }
      if (!reply.empty()) r.port->Inject(reply);
    }
  };
}

TEST(SeqLinkAckSweep, AWriteReportedDoneIsInTheStationAndAFailedOneSaysWhy) {
  // The answers of a good write, to know their number and sizes.
  std::vector<std::size_t> sizes;
  {
    SeqLinkRig r;
    r.port->OnSent = [&](const Bytes& chunk) {
      for (const Bytes& reply : r.station.Feed(chunk)) {
        sizes.push_back(reply.size());
        r.port->Inject(reply);
      }
    };
    ASSERT_EQ(r.Write("V,2000", Variant(std::int32_t{0x1234})), ResultOk);
  }
  ASSERT_GE(sizes.size(), 3u);
  for (const Mishap& m : test::MishapsOf(sizes)) {
    SCOPED_TRACE(m.Name());
    SeqLinkRig r;
    r.station.SetWord(1, 0x0400, 7);
    Harm(r, m);
    const Result res = r.Write("V,2000", Variant(std::int32_t{0x1234}));
    if (res == ResultOk) {
      EXPECT_EQ(r.station.Word(1, 0x0400), 0x1234);
    } else {
      EXPECT_NE(r.link->FailureCause(), "");
    }
    r.Run(3'000'000);
    EXPECT_FALSE(r.Busy());
    r.Attach(*r.port);
    EXPECT_EQ(r.Write("V,2001", Variant(std::int32_t{55})), ResultOk) << r.link->FailureCause();
    Variant value;
    EXPECT_EQ(r.Read("V,2001", value), ResultOk) << r.link->FailureCause();
    EXPECT_EQ(value.ToInt32(), 55);
  }
}

}  // namespace
}  // namespace plc
