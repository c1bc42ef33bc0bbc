// DfLink's write against every way the station's answers to it can go wrong, with BCC and with
// CRC: each byte of the link response and of the reply with one bit flipped or dropped, an
// answer lost whole, or arriving after the time-out. A write reported done is in the PLC's
// table, one the station refused is not, a failed one says why, and the line is free for the next write and read.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/df1/Df1Rig.h"
#include "tests/support/AnswerMishaps.h"

namespace plc {
namespace {

using test::Df1Rig;
using test::Harm;
using test::Mishap;


Result Write(DfLink& link, const std::string& address, std::vector<double> values) {
  std::string a = address;
  VariantArray array(1, static_cast<std::int32_t>(values.size()), VarType::Double);
  for (std::size_t i = 0; i < values.size(); ++i) array.Set(static_cast<std::int32_t>(i + 1), Variant(values[i]));
  return link.WritePLC(a, array, Opt<std::int16_t>(static_cast<std::int16_t>(values.size())));
}

// The rig's PLC, its answers to the control counted and the chosen one harmed; sizes gets
// the size of each answer.
void Wire(Df1Rig& r, std::optional<Mishap> m, std::vector<std::size_t>* sizes) {
  auto count = std::make_shared<std::size_t>(0);
  auto deliver = [&r, m, sizes, count](const std::vector<sim::Df1Action>& actions) {
    for (sim::Df1Action a : actions) {
      if (a.bytes.empty()) continue;
      if (sizes) sizes->push_back(a.bytes.size());
      if (m && (*count)++ == m->answer) {
        switch (m->harm) {
          case Harm::Flip: a.bytes[m->at] ^= static_cast<std::uint8_t>(1u << m->bit); break;
          case Harm::Drop: a.bytes.erase(a.bytes.begin() + static_cast<std::ptrdiff_t>(m->at)); break;
          case Harm::Lose: continue;
          case Harm::Late: a.atMicros += 2'000'000; break;
        }
      }
      r.bench.port->InjectAt(a.atMicros, a.bytes);
    }
  };
  r.bench.port->OnSent = [&r, deliver](const Bytes& chunk) {
    const std::int64_t now = r.bench.loop.Now();
    for (std::uint8_t b : chunk) deliver(r.plc.Feed(b, now));
    auto next = r.plc.NextDeadline();
    if (next) r.bench.loop.AddTimer(*next, [&r, deliver] { deliver(r.plc.Expire(r.bench.loop.Now())); });
  };
}

TEST(DfLinkAckSweep, AWriteReportedDoneIsInThePlcAndAFailedOneSaysWhy) {
  for (bool bcc : {true, false}) {
    std::vector<std::size_t> sizes;
    {
      Df1Rig r(bcc);
      Wire(r, std::nullopt, &sizes);
      ASSERT_EQ(Write(r.Link(), "N7:0", {1234, 5678}), ResultOk) << r.Link().FailureCause();
    }
    ASSERT_GE(sizes.size(), 2u);
    for (const Mishap& m : test::MishapsOf(sizes)) {
      SCOPED_TRACE(std::string(bcc ? "BCC " : "CRC ") + m.Name());
      Df1Rig r(bcc);
      Wire(r, m, nullptr);
      // The write returns once sent; its end is its CommComplete, or, given up unanswered,
      // the cause it leaves.
      ASSERT_EQ(Write(r.Link(), "N7:0", {1234, 5678}), ResultOk) << r.Link().FailureCause();
      r.bench.loop.WaitUntil([&] { return !r.events.empty(); }, r.Now() + 3'000'000);
      r.bench.loop.RunFor(3'000'000);
      ASSERT_LE(r.events.size(), 1u);
      const Result status = r.events.empty() ? ResultFailed : r.events[0][4].ToInt16();
      if (status == ResultOk) {
        EXPECT_EQ(r.plc.Table().Word(7, 0), 1234);
        EXPECT_EQ(r.plc.Table().Word(7, 1), 5678);
      } else {
        EXPECT_NE(r.Link().FailureCause(), "");
      }
      // "Refused by the station" tells the host nothing was written.
      if (status == ResultStatusError) {
        EXPECT_NE(r.plc.Table().Word(7, 0), 1234) << r.Link().FailureCause();
      }
      EXPECT_FALSE(r.Link().CommBusy().ToBool());
      r.events.clear();
      EXPECT_EQ(Write(r.Link(), "N7:0", {11, 22}), ResultOk) << r.Link().FailureCause();
      EXPECT_EQ(r.plc.Table().Word(7, 0), 11);
      r.plc.Table().SetWords(7, 5, {99});
      VariantArray v(1, 1, VarType::Double);
      std::string a = "N7:5";
      EXPECT_EQ(r.Link().ReadPLC(a, v, Opt<std::int16_t>(std::int16_t{1})), ResultOk) << r.Link().FailureCause();
      EXPECT_EQ(v.Get(1).ToInt32(), 99);
    }
  }
}

}  // namespace
}  // namespace plc
