// The relay's fault script, which the soak trusts to say which transactions met a fault: each
// fault strikes exactly the reply (or request) it names and does to it what it says, and every
// strike and late delivery is counted.
#include "bench/faults/FaultScript.h"

#include <gtest/gtest.h>

namespace plc::faults {
namespace {

const Bytes kFirst = {0x01, 0x03, 0x02, 0x12, 0x34, 0xB5, 0x33};
const Bytes kSecond = {0x01, 0x03, 0x04, 0x00, 0x0A, 0x00, 0x0B, 0x7A, 0x2C};
const Bytes kThird = {0x04};

constexpr std::int64_t kDelay = 150000;

// A transaction of three exchanges with the fault armed for the second reply; the second reply
// comes in two pieces. Returns what the control was given for each reply, in order.
struct Exchange {
  std::vector<std::vector<Delivery>> replies;
  Fault struck = Fault::None;
  std::vector<Delivery> atEnd;
};

Exchange RunThree(FaultScript& script, FaultSpec spec, std::int64_t t = 1000000) {
  Exchange e;
  script.Begin(spec);
  const Bytes* replies[] = {&kFirst, &kSecond, &kThird};
  for (int i = 0; i < 3; ++i) {
    std::vector<Delivery> out;
    EXPECT_TRUE(script.Request(t, out));
    t += 1000;
    const Bytes& r = *replies[i];
    if (i == 1) {
      script.Reply(Bytes(r.begin(), r.begin() + 4), t, out);
      script.Reply(Bytes(r.begin() + 4, r.end()), t + 100, out);
    } else {
      script.Reply(r, t, out);
    }
    t += 1000;
    e.replies.push_back(out);
  }
  e.struck = script.End(t, e.atEnd);
  return e;
}

Bytes Joined(const std::vector<Delivery>& d) {
  Bytes all;
  for (const auto& each : d) all.insert(all.end(), each.bytes.begin(), each.bytes.end());
  return all;
}

TEST(FaultScript, EachFaultStrikesOnlyTheReplyItNamesAndDoesWhatItSays) {
  for (Fault kind : {Fault::Silence, Fault::Corrupt, Fault::Garbage, Fault::Noise, Fault::Truncate, Fault::Split,
                     Fault::Delay, Fault::Late, Fault::Duplicate}) {
    SCOPED_TRACE(FaultName(kind));
    FaultScript script(7, ScriptTiming{.delayMicros = kDelay, .splitGapMicros = 1000, .lateIntoNext = false});
    const Exchange e = RunThree(script, {kind, 2});
    EXPECT_EQ(e.struck, kind);
    EXPECT_EQ(Joined(e.replies[0]), kFirst);
    const Bytes second = Joined(e.replies[1]);
    switch (kind) {
      case Fault::Silence: EXPECT_TRUE(second.empty()); break;
      case Fault::Corrupt: {
        ASSERT_EQ(second.size(), kSecond.size());
        int differ = 0;
        for (std::size_t i = 0; i < second.size(); ++i) differ += second[i] != kSecond[i];
        EXPECT_EQ(differ, 1);
        break;
      }
      case Fault::Garbage:
        EXPECT_EQ(second.size(), kSecond.size());
        EXPECT_NE(second, kSecond);
        break;
      case Fault::Noise:
        ASSERT_GT(second.size(), kSecond.size());
        EXPECT_LE(second.size(), kSecond.size() + 4);
        EXPECT_EQ(Bytes(second.end() - static_cast<std::ptrdiff_t>(kSecond.size()), second.end()), kSecond);
        break;
      case Fault::Truncate: EXPECT_EQ(second, Bytes(kSecond.begin(), kSecond.begin() + 2)); break;
      case Fault::Split: {
        EXPECT_EQ(second, kSecond);
        ASSERT_EQ(e.replies[1].size(), kSecond.size());
        for (std::size_t i = 1; i < e.replies[1].size(); ++i)
          EXPECT_GE(e.replies[1][i].dueMicros - e.replies[1][i - 1].dueMicros, 1000);
        break;
      }
      case Fault::Delay:
        EXPECT_EQ(second, kSecond);
        EXPECT_GE(e.replies[1].front().dueMicros, 1000000 + 3000 + kDelay);
        // Nothing overtakes the delayed reply: the next one is due after it.
        EXPECT_GE(e.replies[2].front().dueMicros, e.replies[1].back().dueMicros);
        break;
      case Fault::Late:
        EXPECT_TRUE(second.empty());
        EXPECT_EQ(Joined(e.atEnd), kSecond) << "given once the call has returned";
        break;
      case Fault::Duplicate: {
        EXPECT_EQ(second, kSecond);
        // The copy follows once the control has spoken again, ahead of the third reply.
        Bytes copyThenThird = kSecond;
        copyThenThird.insert(copyThenThird.end(), kThird.begin(), kThird.end());
        EXPECT_EQ(Joined(e.replies[2]), copyThenThird);
        break;
      }
      default: break;
    }
    if (kind != Fault::Delay && kind != Fault::Duplicate) {
      EXPECT_EQ(Joined(e.replies[2]), kThird);
    }
    if (kind != Fault::Late) {
      EXPECT_TRUE(e.atEnd.empty());
    }
    EXPECT_EQ(script.Disturbances(), kind == Fault::Late ? 2u : 1u);
  }
}

TEST(FaultScript, ALostRequestTakesItsPiecesAndNothingElse) {
  FaultScript script(1, ScriptTiming{});
  script.Begin({Fault::LoseRequest, 2});
  std::vector<Delivery> out;
  EXPECT_TRUE(script.Request(0, out));
  script.Reply(kFirst, 500, out);
  EXPECT_FALSE(script.Request(1000, out));
  EXPECT_FALSE(script.Request(1500, out)) << "a later piece of the same request";
  script.Reply(kSecond, 2000, out);  // the device speaks of its own accord
  EXPECT_TRUE(script.Request(3000, out));
  EXPECT_EQ(script.End(4000, out), Fault::LoseRequest);
  Bytes replies = kFirst;
  replies.insert(replies.end(), kSecond.begin(), kSecond.end());
  EXPECT_EQ(Joined(out), replies) << "the replies pass untouched";
  EXPECT_EQ(script.Disturbances(), 1u);
}

TEST(FaultScript, AFaultForAReplyThatNeverComesStrikesNothing) {
  FaultScript script(1, ScriptTiming{});
  script.Begin({Fault::Corrupt, 4});  // a transaction of three exchanges
  std::vector<Delivery> out;
  for (const Bytes* r : {&kFirst, &kSecond, &kThird}) {
    script.Request(0, out);
    script.Reply(*r, 0, out);
  }
  EXPECT_EQ(script.End(0, out), Fault::None);
  EXPECT_EQ(script.Disturbances(), 0u);
  // And the next transaction starts unarmed.
  script.Begin({});
  std::vector<Delivery> next;
  script.Request(0, next);
  script.Reply(kFirst, 0, next);
  EXPECT_EQ(Joined(next), kFirst);
}

// The device acts out its own faults: armed in the relay by mistake, they neither touch the
// bytes nor count as a disturbance (the soak counts them from the device).
TEST(FaultScript, ADeviceFaultLeavesTheBytesAndCountsNothing) {
  for (Fault kind : {Fault::Refuse, Fault::Stale}) {
    SCOPED_TRACE(FaultName(kind));
    EXPECT_TRUE(DeviceFault(kind));
    FaultScript script(3, ScriptTiming{});
    const Exchange e = RunThree(script, {kind, 1});
    EXPECT_EQ(e.struck, Fault::None);
    EXPECT_EQ(Joined(e.replies[0]), kFirst);
    EXPECT_EQ(Joined(e.replies[1]), kSecond);
    EXPECT_EQ(script.Disturbances(), 0u);
  }
  EXPECT_TRUE(MustFail(Fault::Refuse));
  EXPECT_TRUE(Harmless(Fault::Stale));
}

TEST(FaultScript, ALateReplyForTheNextExchangeComesRightAfterItsRequest) {
  FaultScript script(1, ScriptTiming{.delayMicros = kDelay, .splitGapMicros = 1000, .lateIntoNext = true});
  const Exchange e = RunThree(script, {Fault::Late, 2});
  EXPECT_TRUE(Joined(e.replies[1]).empty());
  Bytes lateThenThird = kSecond;
  lateThenThird.insert(lateThenThird.end(), kThird.begin(), kThird.end());
  EXPECT_EQ(Joined(e.replies[2]), lateThenThird) << "held bytes go behind the next request, ahead of its answer";
  EXPECT_TRUE(Joined(e.atEnd).empty()) << "kept for the next transaction";
}

TEST(FaultScript, ALateReplyHeldPastTheTransactionIsReleasedByTheNextRequest) {
  FaultScript script(1, ScriptTiming{.delayMicros = kDelay, .splitGapMicros = 1000, .lateIntoNext = true});
  script.Begin({Fault::Late, 1});
  std::vector<Delivery> out;
  script.Request(0, out);
  script.Reply(kFirst, 100, out);
  EXPECT_EQ(script.End(200, out), Fault::Late);
  EXPECT_TRUE(out.empty());
  script.Begin({});
  EXPECT_TRUE(script.Request(10000, out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes, kFirst);
  EXPECT_GT(out[0].dueMicros, 10000);
  EXPECT_EQ(script.Disturbances(), 2u);
}

TEST(FaultScript, ASilentLinePassesNothingAndCountsNothing) {
  FaultScript script(1, ScriptTiming{});
  script.SetSilent(true);
  script.Begin({});
  std::vector<Delivery> out;
  EXPECT_FALSE(script.Request(0, out));
  script.Reply(kFirst, 0, out);
  EXPECT_TRUE(out.empty());
  script.SetSilent(false);
  EXPECT_TRUE(script.Request(1000, out));
  script.Reply(kFirst, 1000, out);
  EXPECT_EQ(Joined(out), kFirst);
  EXPECT_EQ(script.Disturbances(), 0u);
}

}  // namespace
}  // namespace plc::faults
