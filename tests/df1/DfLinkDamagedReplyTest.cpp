// Every one-byte damage of each answer the PLC gives to a read (its DLE ACK of the request, the
// reply frame), in BCC and CRC, whole and a byte at a time: the read takes the PLC's own words
// or fails with a cause, the caller's array untouched and no CommComplete of success; the next
// read works.
#include <gtest/gtest.h>

#include "df1/Results.h"
#include "tests/df1/Df1Rig.h"
#include "tests/support/DamagedReplies.h"

namespace plc {
namespace {

using test::Df1Rig;

const double kWords[3] = {0x1234, 0x0010, -21555};  // a word of 10h is sent doubled

struct Damage {
  std::size_t answer = 0;  // which of the PLC's answers in the transaction
  std::size_t variant = 0;  // which of its damaged forms goes on the line in its place
  bool bytewise = false;
};

// The PLC answers as the rig's does, with the `damage.answer`-th answer of the next request
// damaged (its own bytes, so that the reply carries this request's transaction number). Its answers to a good read are kept in `answers`.
void AnswerDamaged(Df1Rig& rig, const Damage* damage, std::vector<Bytes>* answers = nullptr) {
  MemorySerialPort& port = *rig.bench.port;
  port.OnSent = [&rig, &port, damage, answers, count = std::size_t{0}](const Bytes& chunk) mutable {
    const std::int64_t now = rig.bench.loop.Now();
    for (std::uint8_t b : chunk) {
      for (sim::Df1Action a : rig.plc.Feed(b, now)) {
        if (a.bytes.empty()) continue;
        if (answers) answers->push_back(Bytes(a.bytes.begin(), a.bytes.end()));
        const bool hit = damage && count++ == damage->answer;
        if (hit) a.bytes = test::DamagedReplies(Bytes(a.bytes.begin(), a.bytes.end())).at(damage->variant).bytes;
        if (!hit || !damage->bytewise) {
          port.InjectAt(a.atMicros, Bytes(a.bytes.begin(), a.bytes.end()));
          continue;
        }
        for (std::size_t i = 0; i < a.bytes.size(); ++i)
          port.InjectAt(a.atMicros + 300 * static_cast<std::int64_t>(i), Bytes{a.bytes[i]});
      }
    }
    rig.ArmDeadline(port);
  };
}

// A read of N7:0..N7:2: the PLC's words, or a failure with a cause and nothing handed over.
Result ReadOrCause(Df1Rig& rig, const std::string& what) {
  rig.events.clear();
  VariantArray v(1, 3, VarType::Double);
  for (std::int32_t i = 1; i <= 3; ++i) v.Set(i, Variant(-7.0));
  std::string a = "N7:0";
  const std::int64_t t0 = rig.Now();
  const Result res = rig.Link().ReadPLC(a, v, Opt<std::int16_t>(std::int16_t{3}));
  EXPECT_LE(rig.Now() - t0, 3'000'000) << what;
  if (res == ResultOk) {
    for (std::int32_t i = 1; i <= 3; ++i) EXPECT_EQ(v.Get(i).ToDouble(), kWords[i - 1]) << what << " word " << i;
  } else {
    EXPECT_NE(rig.Link().FailureCause(), "") << what;
    for (std::int32_t i = 1; i <= 3; ++i) EXPECT_EQ(v.Get(i).ToDouble(), -7) << what << " word " << i;
    for (const auto& e : rig.events) EXPECT_NE(e.at(4).ToInt16(), ResultOk) << what;
  }
  rig.bench.loop.RunFor(3'000'000);  // what is left of the answer dies out
  return res;
}

void Sweep(bool bcc) {
  Df1Rig rig(bcc);
  rig.plc.Table().SetWords(7, 0, {0x1234, 0x0010, 0xABCD});
  std::vector<Bytes> answers;
  AnswerDamaged(rig, nullptr, &answers);
  ASSERT_EQ(ReadOrCause(rig, "the good read"), ResultOk);
  ASSERT_GE(answers.size(), 2u);
  for (std::size_t n = 0; n < answers.size(); ++n) {
    for (bool bytewise : {false, true}) {
      const std::vector<test::DamagedReply> damaged = test::DamagedReplies(answers[n]);
      for (std::size_t k = 0; k < damaged.size(); ++k) {
        const test::DamagedReply& d = damaged[k];
        const std::string what = "answer " + std::to_string(n) + ": " + d.what + (bytewise ? ", a byte at a time" : "");
        const Damage damage{n, k, bytewise};
        AnswerDamaged(rig, &damage);
        ReadOrCause(rig, what);
        AnswerDamaged(rig, nullptr);
        EXPECT_EQ(ReadOrCause(rig, "the read after " + what), ResultOk) << rig.Link().FailureCause();
        ASSERT_FALSE(::testing::Test::HasFailure()) << what;
      }
    }
  }
}

TEST(DfLinkDamagedReply, EveryDamagedAnswerToABccReadGivesItsWordsOrACause) { Sweep(true); }

TEST(DfLinkDamagedReply, EveryDamagedAnswerToACrcReadGivesItsWordsOrACause) { Sweep(false); }

}  // namespace
}  // namespace plc
