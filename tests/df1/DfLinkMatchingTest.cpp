// Each reply is taken by the request it answers: overlapping non-waiting reads, a reply that
// arrives after its request was given up, a reply to another request on the line, the DLE ENQ
// of a processor that did not hear the closing acknowledgement (between transactions or while
// the next one waits), and the line's first request
// dropped by a processor as a repeat of another program's last one.
#include <gtest/gtest.h>

#include <cstdio>

#include "df1/Df1State.h"
#include "df1/Engine.h"
#include "df1/Frame.h"
#include "tests/df1/Df1Rig.h"

namespace plc {
namespace {

using sim::Df1Fault;
using test::Df1Rig;

VariantArray Doubles(std::int32_t n) { return VariantArray(1, n, VarType::Double); }

Result Read(DfLink& link, const std::string& address, VariantArray& values, std::int16_t size = 1) {
  std::string a = address;
  return link.ReadPLC(a, values, Opt<std::int16_t>(size));
}

Result ReadNoWait(DfLink& link, const std::string& address, std::int16_t size = 1) {
  Variant a(address), unused;
  return link.ReadPLCNW(a, unused, Opt<std::int16_t>(size), Opt<std::int16_t>());
}

// The request frames the control wrote, by their transaction numbers.
std::vector<int> SentTns(const Bytes& sent) {
  std::vector<int> tns;
  for (std::size_t i = 0; i + 7 < sent.size(); ++i)
    if (sent[i] == 0x10 && sent[i + 1] == 0x02 && (i == 0 || sent[i - 1] != 0x10)) tns.push_back(sent[i + 6]);
  return tns;
}

TEST(DfLinkMatching, TwoOverlappingNonWaitingReadsEachCompleteWithTheirOwnAddressAndValues) {
  Df1Rig rig;
  rig.plc.Table().SetWords(7, 0, {111});
  rig.plc.Table().SetWords(7, 50, {222, 333});
  ASSERT_EQ(ReadNoWait(rig.Link(), "N7:0"), ResultFailed);
  // At once: the first request is still on the line, so the second waits for its reply.
  ASSERT_EQ(ReadNoWait(rig.Link(), "N7:50", 2), ResultFailed);
  ASSERT_EQ(rig.events.size(), 1u) << "the first completion came while the second call waited";
  rig.bench.loop.WaitUntil([&] { return rig.events.size() >= 2; }, rig.Now() + 2'000'000);
  ASSERT_EQ(rig.events.size(), 2u);
  EXPECT_EQ(rig.events[0][1].ToInt32(), 0);
  EXPECT_EQ(rig.events[0][0].Array().Get(1).ToDouble(), 111);
  EXPECT_EQ(rig.events[0][2].ToInt16(), 1);
  EXPECT_EQ(rig.events[1][1].ToInt32(), 50);
  EXPECT_EQ(rig.events[1][0].Array().Get(1).ToDouble(), 222);
  EXPECT_EQ(rig.events[1][0].Array().Get(2).ToDouble(), 333);
  EXPECT_EQ(rig.events[1][2].ToInt16(), 2);
  EXPECT_EQ(rig.events[1][4].ToInt16(), ResultOk);
  EXPECT_EQ(rig.plc.Counts().closingAcks, 2) << "both replies acknowledged";
  EXPECT_FALSE(rig.State().Busy);
}

TEST(DfLinkMatching, AReplyThatComesAfterItsReadGaveUpIsAcknowledgedAndNotTakenByTheNextRead) {
  Df1Rig rig;
  rig.plc.Table().SetWords(7, 0, {111, 222});
  VariantArray v = Doubles(1);
  rig.plc.InjectNext(Df1Fault::Overdue);  // the whole answer 2 s late
  EXPECT_EQ(Read(rig.Link(), "N7:0", v), ResultNoReply);
  // The next read waits for the line about 1 s, then goes; the late reply to N7:0 arrives
  // while it waits for its own.
  EXPECT_EQ(Read(rig.Link(), "N7:1", v), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), 222) << "never N7:0's 111 under N7:1";
  ASSERT_EQ(rig.events.size(), 1u);
  EXPECT_EQ(rig.events[0][1].ToInt32(), 1);
  EXPECT_EQ(rig.events[0][0].Array().Get(1).ToDouble(), 222);
  EXPECT_EQ(rig.plc.Counts().closingAcks, 2) << "the late reply was acknowledged as the link expects";
  EXPECT_EQ(Read(rig.Link(), "N7:0", v), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), 111);
}

// The PLC played by hand: for each request, the bytes make(request) gives.
void PlayPlc(Df1Rig& rig, std::function<Bytes(const Bytes& request)> make) {
  rig.bench.port->OnSent = [&rig, make](const Bytes& chunk) {
    if (chunk.size() >= 8) rig.bench.port->Inject(make(chunk));
  };
}

Bytes Reply(std::uint8_t tns, std::uint16_t word) {
  return *df1::StuffAndCheck(Bytes{0x00, 0x01, 0x4F, 0x00, tns, 0x00, static_cast<std::uint8_t>(word & 0xFF),
                                   static_cast<std::uint8_t>(word >> 8)},
                             2);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(DfLinkMatching, AFrameOfAnotherTransactionIsAcknowledgedAndSkippedBeforeOrAfterTheLinkResponse) {
  const Bytes ack = {0x10, 0x06};
  for (bool before : {false, true}) {
    SCOPED_TRACE(before ? "foreign frame before DLE ACK" : "after DLE ACK");
    Df1Rig rig;
    PlayPlc(rig, [&](const Bytes& request) {
      const std::uint8_t tns = request[6];
      const Bytes foreign = Reply(static_cast<std::uint8_t>(tns + 7), 999);
      return before ? Cat({foreign, ack, Reply(tns, 42)}) : Cat({ack, foreign, ack, Reply(tns, 42)});
    });
    VariantArray v = Doubles(1);
    ASSERT_EQ(Read(rig.Link(), "N7:0", v), ResultOk);
    EXPECT_EQ(v.Get(1).ToDouble(), 42);
    EXPECT_EQ(rig.AcksAfterRequest(), 2) << "one for the skipped frame, one for the reply";
  }
  // A peer that answers only other requests fails the read with a text, after a few.
  Df1Rig rig;
  PlayPlc(rig, [&](const Bytes& request) {
    Bytes out = ack;
    for (int i = 1; i <= 6; ++i) out = Cat({out, Reply(static_cast<std::uint8_t>(request[6] + i), 1)});
    return out;
  });
  VariantArray v = Doubles(1);
  EXPECT_EQ(Read(rig.Link(), "N7:0", v), ResultCheckError);
  EXPECT_NE(rig.Link().FailureCause().find("kept sending replies to other requests"), std::string::npos)
      << rig.Link().FailureCause();
}

// A station that answers from another station number, or with another transaction number,
// is not silent: the failure says what came instead.
TEST(DfLinkMatching, RepliesThatAnswerNoRequestAreNamedInTheFailure) {
  struct Case {
    std::uint8_t src;
    int tnsStep;
    std::string named;
  };
  for (const Case& c : {Case{7, 0, "from station 7, where station 1 was asked"},
                        Case{1, 3, "with transaction number "}}) {
    SCOPED_TRACE(c.named);
    Df1Rig rig;
    PlayPlc(rig, [&c](const Bytes& request) {
      return Cat({Bytes{0x10, 0x06},
                  *df1::StuffAndCheck(Bytes{0x00, c.src, 0x4F, 0x00, static_cast<std::uint8_t>(request[6] + c.tnsStep),
                                            0x00, 42, 0},
                                      2)});
    });
    VariantArray v = Doubles(1);
    EXPECT_EQ(Read(rig.Link(), "N7:0", v), ResultNoReply);
    std::string cause = rig.Link().FailureCause();
    EXPECT_NE(cause.find("1 reply to no request of this line came meanwhile (the last " + c.named), std::string::npos)
        << cause;
    // A write's completion says the same.
    std::string a = "N7:0";
    VariantArray w(1, 1, VarType::Double);
    w.Set(1, Variant(5.0));
    ASSERT_EQ(rig.Link().WritePLC(a, w, Opt<std::int16_t>()), ResultOk);
    rig.bench.loop.WaitUntil([&] { return rig.events.size() >= 2; }, rig.Now() + 3'000'000);
    ASSERT_EQ(rig.events.size(), 2u);
    EXPECT_EQ(rig.events[1][4].ToInt16(), ResultLinkTimeout);
    cause = rig.Link().FailureCause();
    EXPECT_NE(cause.find("station 1 acknowledged the write to N7:0 and sent no reply"), std::string::npos) << cause;
    EXPECT_NE(cause.find("came meanwhile (the last " + c.named), std::string::npos) << cause;
  }
}

TEST(DfLinkMatching, ADleEnqAfterTheClosingAcknowledgementIsAnsweredWithItAgain) {
  sim::Df1SimSettings settings;
  settings.ackTimeoutMicros = 300'000;
  Df1Rig rig(settings);
  VariantArray v = Doubles(1);
  rig.plc.Table().SetWords(7, 0, {5});
  ASSERT_EQ(Read(rig.Link(), "N7:0", v), ResultOk);
  rig.bench.port->TakeSent();
  rig.bench.loop.RunFor(1'000'000);
  EXPECT_TRUE(rig.bench.port->Sent().empty()) << "a clean line: nothing more";

  rig.plc.InjectNext(Df1Fault::AckLost);
  const std::int64_t start = rig.Now();
  ASSERT_EQ(Read(rig.Link(), "N7:0", v), ResultOk);
  EXPECT_LT(rig.Now() - start, 100'000) << "the read does not wait for the station's doubt";
  rig.bench.port->TakeSent();
  rig.bench.loop.RunFor(1'000'000);
  EXPECT_EQ(rig.bench.port->Sent(), Bytes({0x10, 0x06})) << "the DLE ENQ 0.3 s later, answered once";
  sim::Df1SimCounts c = rig.plc.Counts();
  EXPECT_EQ(c.enqsSent, 1);
  EXPECT_EQ(c.lostAcks, 1);
  EXPECT_EQ(c.closingAcks, 2);
  EXPECT_EQ(c.repliesGivenUp, 0);
  EXPECT_EQ(Read(rig.Link(), "N7:0", v), ResultOk) << "the next transaction";
  // Looking at the line takes nothing from it: a host's raw reads still get every byte.
  rig.bench.port->Inject(Bytes{0x41, 0x10, 0x05});
  rig.bench.loop.RunFor(1'000);
  EXPECT_EQ(rig.bench.port->InBufferCount(), 3);
  rig.bench.port->SetInputLen(0);
  EXPECT_EQ(rig.bench.port->InputBytes(), Bytes({0x41, 0x10, 0x05}));
}

TEST(DfLinkMatching, ADleEnqAfterTheHostTookTheLinesBytesIsStillAnswered) {
  // A host reading the line between transactions (ReceiveComm) takes what the link looked at;
  // the next arrival is looked at from its first byte, however long it is.
  Df1Rig rig;
  VariantArray v = Doubles(1);
  ASSERT_EQ(Read(rig.Link(), "N7:0", v), ResultOk);
  rig.bench.port->Inject(Bytes{0x41, 0x42, 0x43});
  rig.bench.loop.RunFor(1'000);
  const Variant taken = rig.Link().ReceiveComm();
  ASSERT_TRUE(taken.IsArray());
  EXPECT_EQ(taken.Array().Size(), 3);
  rig.bench.port->TakeSent();
  rig.bench.port->Inject(Bytes{0x10, 0x05, 0x44, 0x45});
  rig.bench.loop.RunFor(1'000);
  EXPECT_EQ(rig.bench.port->Sent(), Bytes({0x10, 0x06})) << "the station's DLE ENQ answered";
}

TEST(DfLinkMatching, DleEnqsOfTheStationBeforeTheReplyAreAnsweredAndTheReadGoesOn) {
  // Where the link response belongs, before it, and again after it: each DLE ENQ answered,
  // and repeated link responses before the reply passed over.
  VariantArray v = Doubles(1);
  const Bytes ack = {0x10, 0x06}, enq = {0x10, 0x05};
  for (int order = 0; order < 2; ++order) {
    SCOPED_TRACE(order == 0 ? "DLE ENQ first" : "DLE ACK twice, DLE ENQ between");
    Df1Rig hand;
    PlayPlc(hand, [&](const Bytes& request) {
      const Bytes reply = Reply(request[6], 42);
      return order == 0 ? Cat({enq, ack, reply}) : Cat({ack, enq, ack, reply});
    });
    ASSERT_EQ(Read(hand.Link(), "N7:0", v), ResultOk) << hand.Link().FailureCause();
    EXPECT_EQ(v.Get(1).ToDouble(), 42);
    EXPECT_EQ(hand.AcksAfterRequest(), 2);
  }
}

TEST(DfLinkMatching, AByteWhereDleAckBelongsIsTheResultAndTheCauseNamesIt) {
  // 5Ch is also the code of "no reply in time": the cause says which the 92 is.
  for (std::uint8_t byte : {std::uint8_t{0x41}, std::uint8_t{0x5C}, std::uint8_t{0x00}}) {
    SCOPED_TRACE(static_cast<int>(byte));
    Df1Rig rig;
    PlayPlc(rig, [byte](const Bytes&) { return Bytes{byte, 0x41}; });
    VariantArray v = Doubles(1);
    EXPECT_EQ(Read(rig.Link(), "N7:0", v), byte);
    const std::string cause = rig.Link().FailureCause();
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", byte);
    EXPECT_NE(cause.find("station 1 answered the read of N7:0 with " + std::string(hex) + "h"), std::string::npos) << cause;
    const bool ownCode = byte != 0x41;
    EXPECT_EQ(cause.find("is that byte's value") != std::string::npos, ownCode) << cause;
  }
}

TEST(DfLinkMatching, TheLinesFirstRequestDroppedAsARepeatGoesAgainUnderTheNextNumber) {
  for (bool write : {false, true}) {
    SCOPED_TRACE(write ? "write" : "read");
    Df1Rig rig;
    rig.Link().Engine().SetLastTns(std::nullopt);  // a fresh program on this line
    const int first = df1::FirstTns(rig.bench.clock);
    // Another program's last request, from the same source with the same number.
    const Bytes earlier = *df1::StuffAndCheck(Bytes{1, 0, 0x0F, 0, static_cast<std::uint8_t>(first), 0, 0xA2, 2, 7, 0x89, 9, 0}, 2);
    std::int64_t now = rig.Now();
    for (std::uint8_t b : earlier) rig.plc.Feed(b, now);
    for (std::uint8_t b : Bytes{0x10, 0x06}) rig.plc.Feed(b, now + 100'000);
    rig.plc.Table().SetWords(7, 0, {77});
    rig.bench.port->TakeSent();
    const std::int64_t start = rig.Now();
    if (write) {
      std::string a = "N7:0";
      VariantArray values(1, 1, VarType::Double);
      values.Set(1, Variant(88.0));
      ASSERT_EQ(rig.Link().WritePLC(a, values, Opt<std::int16_t>()), ResultOk);
      rig.bench.loop.WaitUntil([&] { return !rig.events.empty(); }, rig.Now() + 3'000'000);
      ASSERT_EQ(rig.events.size(), 1u);
      EXPECT_EQ(rig.events[0][4].ToInt16(), ResultOk);
      EXPECT_EQ(rig.plc.Table().Word(7, 0), 88);
    } else {
      VariantArray v = Doubles(1);
      ASSERT_EQ(Read(rig.Link(), "N7:0", v), ResultOk);
      EXPECT_EQ(v.Get(1).ToDouble(), 77);
    }
    EXPECT_EQ(SentTns(rig.bench.port->Sent()), std::vector<int>({first, first % 49 + 1}));
    EXPECT_EQ(rig.plc.Counts().duplicates, 1);
    EXPECT_LT(rig.Now() - start, 1'500'000) << "one wait for the dropped request, then the answer";
    // Only the line's first request goes again: later ones follow the line's own numbers.
    const int next = first % 49 + 2;
    const Bytes taken = *df1::StuffAndCheck(Bytes{1, 0, 0x0F, 0, static_cast<std::uint8_t>(next), 0, 0xA2, 2, 7, 0x89, 9, 0}, 2);
    now = rig.Now();
    for (std::uint8_t b : taken) rig.plc.Feed(b, now);
    for (std::uint8_t b : Bytes{0x10, 0x06}) rig.plc.Feed(b, now + 10'000);
    rig.bench.loop.RunFor(20'000);
    rig.bench.port->TakeSent();
    VariantArray v = Doubles(1);
    EXPECT_EQ(Read(rig.Link(), "N7:0", v), ResultNoReply);
    EXPECT_EQ(SentTns(rig.bench.port->Sent()), std::vector<int>({next}));
  }
}

TEST(DfLinkMatching, EachLineStartsItsNumbersFromTheClock) {
  ManualClock clock(1'700'000'000'000'000 + 17'000);  // 17 ms past a whole second
  const int first = df1::FirstTns(clock);
  EXPECT_GE(first, 1);
  EXPECT_LE(first, 49);
  for (int ms = 1; ms < 49; ++ms) {
    clock.Advance(1'000);
    EXPECT_NE(df1::FirstTns(clock), first) << "a program started " << ms << " ms later";
  }
}

// Two controls on two lines number their requests each on their own, so both can use the same
// number. A waiting read whose reply is in keeps its words when another control's read with
// that number runs before the waiting read ends (from a timer, here).
TEST(DfLinkMatching, AWaitingReadKeepsItsWordsWhenAnotherLinesReadUsesItsNumber) {
  Df1Rig rig;
  rig.plc.Table().SetWords(7, 0, {111});
  auto second = rig.bench.Make();
  MemorySerialPort& secondPort = *rig.bench.port;
  sim::Df1SimPlc& other = rig.AttachOwnPlc(*second, secondPort, sim::Df1SimSettings{}).plc;
  other.Table().SetWords(7, 0, {999});
  rig.plc.InjectNext(Df1Fault::Delayed);
  Result inner = ResultFailed;
  Variant innerValue;
  rig.bench.loop.AddTimer(rig.Now() + 50'000, [&] {
    std::string a = "N7:0";
    inner = second->ABReadPLC(a, innerValue, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>(std::int16_t{0}));
  });
  VariantArray v = Doubles(1);
  ASSERT_EQ(Read(rig.Link(), "N7:0", v), ResultOk) << rig.Link().FailureCause();
  ASSERT_EQ(inner, ResultOk) << second->FailureCause();
  EXPECT_EQ(innerValue.ToDouble(), 999);
  EXPECT_EQ(SentTns(rig.bench.port->Sent()), SentTns(secondPort.Sent())) << "both lines used the same number";
  EXPECT_EQ(v.Get(1).ToDouble(), 111) << "not the other station's word";
}

}  // namespace
}  // namespace plc
