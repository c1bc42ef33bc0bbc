// Every one-byte damage of each answer the station gives to a read (the enquiry's ACK, the
// header's ACK, the data block and the closing EOT), whole and a byte at a time: the read takes
// the station's own words or fails with a cause, the caller's array untouched and no
// CommComplete; the next read works.
#include <gtest/gtest.h>

#include "tests/directnet/SeqLinkRig.h"
#include "tests/support/DamagedReplies.h"

namespace plc {
namespace {

using test::SeqLinkRig;

const std::int32_t kWords[3] = {0x1234, 0x00FF, 0xABCD};

struct Damage {
  std::size_t answer = 0;  // which of the station's answers in the transaction
  Bytes bytes;             // what goes on the line in its place
  bool bytewise = false;
};

// The station answers, the `damage.answer`-th answer of each transaction replaced.
void AnswerDamaged(SeqLinkRig& r, const Damage* damage) {
  r.port->OnSent = [&r, damage, count = std::size_t{0}](const Bytes& chunk) mutable {
    r.sent.push_back(chunk);
    for (Bytes reply : r.station.Feed(chunk)) {
      if (damage && count++ == damage->answer) reply = damage->bytes;
      if (!damage || !damage->bytewise) {
        r.port->Inject(reply);
        continue;
      }
      for (std::size_t i = 0; i < reply.size(); ++i)
        r.port->InjectAt(r.clock.MonotonicMicros() + 300 * static_cast<std::int64_t>(i + 1), Bytes{reply[i]});
    }
  };
}

// A read of V2000..V2002: the station's words, or a failure with a cause and nothing handed over.
Result ReadOrCause(SeqLinkRig& r, const std::string& what) {
  r.events.clear();
  Variant values(VariantArray(1, 3));
  for (std::int32_t i = 1; i <= 3; ++i) values.Array().Set(i, Variant(std::int32_t{-7}));
  const std::int64_t t0 = r.clock.MonotonicMicros();
  const Result res = r.Read("V,2000", values, 3);
  EXPECT_LE(r.clock.MonotonicMicros() - t0, 2'000'000) << what;
  if (res == ResultOk) {
    for (std::int32_t i = 1; i <= 3; ++i) EXPECT_EQ(values.Array().Get(i).ToInt32(), kWords[i - 1]) << what;
  } else {
    EXPECT_EQ(res, ResultFailed) << what;
    EXPECT_NE(r.link->FailureCause(), "") << what;
    for (std::int32_t i = 1; i <= 3; ++i) EXPECT_EQ(values.Array().Get(i).ToInt32(), -7) << what;
    EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "CommComplete"), 0) << what;
  }
  r.Run(2'100'000);  // what is left of the answer dies out; the watchdog frees the line
  return res;
}

TEST(SeqLinkDamagedReply, EveryDamagedAnswerToAReadGivesItsWordsOrACause) {
  SeqLinkRig r;
  for (std::int32_t i = 0; i < 3; ++i) r.station.SetWord(1, 0x0400 + i, static_cast<std::uint16_t>(kWords[i]));
  // The station's answers to a good read, in order.
  std::vector<Bytes> answers;
  r.port->OnSent = [&](const Bytes& chunk) {
    for (const Bytes& reply : r.station.Feed(chunk)) {
      answers.push_back(reply);
      r.port->Inject(reply);
    }
  };
  ASSERT_EQ(ReadOrCause(r, "the good read"), ResultOk);
  ASSERT_GE(answers.size(), 3u);

  for (std::size_t a = 0; a < answers.size(); ++a) {
    for (bool bytewise : {false, true}) {
      for (const test::DamagedReply& d : test::DamagedReplies(answers[a])) {
        const std::string what = "answer " + std::to_string(a) + ": " + d.what + (bytewise ? ", a byte at a time" : "");
        const Damage damage{a, d.bytes, bytewise};
        AnswerDamaged(r, &damage);
        ReadOrCause(r, what);
        AnswerDamaged(r, nullptr);
        EXPECT_EQ(ReadOrCause(r, "the read after " + what), ResultOk) << r.link->FailureCause();
        ASSERT_FALSE(::testing::Test::HasFailure()) << what;
      }
    }
  }
}

}  // namespace
}  // namespace plc
