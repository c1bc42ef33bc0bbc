// The simulated DF1 PLC's own side of the protocol, which the control tests take on trust: it
// refuses what an SLC refuses (a bad check, a file type that is not the file's, a missing
// element), drops a repeated request, and keeps after its reply until the master acknowledges
// it (DLE ENQ on silence, the reply again on DLE NAK), at its turnaround and line pace.
#include <gtest/gtest.h>

#include "df1/Frame.h"
#include "tools/plcsim/Df1SimPlc.h"

namespace plc {
namespace {

using df1::Bytes;
using sim::Df1Action;
using sim::Df1SimPlc;

std::vector<Df1Action> FeedAll(Df1SimPlc& plc, const Bytes& wire, std::int64_t now = 0) {
  std::vector<Df1Action> out;
  for (std::uint8_t b : wire)
    for (auto& a : plc.Feed(b, now)) out.push_back(a);
  return out;
}

Bytes Request(std::uint8_t tns, Bytes tail, std::uint8_t src = 0) {
  Bytes p{1, src, 0x0F, 0, tns, 0};
  p.insert(p.end(), tail.begin(), tail.end());
  return *df1::StuffAndCheck(p, 2);
}

// The reply payload inside a CRC frame (no DLE in it).
Bytes Payload(const Bytes& frame) { return Bytes(frame.begin() + 2, frame.end() - 4); }

TEST(Df1Simulator, RefusesABadCheckAFileTypeNotTheFilesAndMissingData) {
  Df1SimPlc plc(false);
  Bytes bad = Request(1, {0xA2, 2, 7, 0x89, 0, 0});
  bad.back() ^= 0x01;
  auto nak = FeedAll(plc, bad);
  ASSERT_EQ(nak.size(), 1u);
  EXPECT_EQ(nak[0].bytes, Bytes({0x10, 0x15}));
  EXPECT_EQ(plc.Counts().badChecks, 1);

  struct Case {
    Bytes tail;
    Bytes status;  // STS (and EXT STS)
  };
  const Case cases[] = {
      {{0xA2, 2, 7, 0x85, 0, 0}, {0xF0, 0x17}},               // N7 read as a bit file
      {{0xA2, 4, 8, 0x89, 0, 0}, {0xF0, 0x17}},               // F8 read as integers
      {{0xA2, 2, 20, 0x89, 0, 0}, {0x50}},                    // no file 20
      {{0xA2, 2, 7, 0x89, 0xFF, 0x2C, 0x01, 0}, {0x50}},      // N7:300
      {{0xA2, 2, 7, 0x89, 0, 1}, {0x50}},                     // a sub-element of a one-word element
      {{0xA2, 4, 8, 0x8A, 0, 1}, {0x50}},                     // F8:0.1: a float is one value
      {{0xAA, 4, 8, 0x8A, 0, 1, 0, 0, 0x80, 0x3F}, {0x50}},   // 1.0 written at F8:0.1
      {{0xAA, 2, 7, 0x89, 0, 0, 0x01}, {0x10}},               // one data byte for a count of 2
      {{0x01, 0, 0, 1, 0, 0, '$', 'B', '7', ':', '0', 0, 2}, {0xF0, 0x17}},  // PLC5: $B7:0
  };
  std::uint8_t tns = 2;
  std::int64_t now = 0;
  for (const Case& c : cases) {
    auto answer = FeedAll(plc, Request(tns++, c.tail), now += 100'000);
    ASSERT_EQ(answer.size(), 2u);
    EXPECT_EQ(answer[0].bytes, Bytes({0x10, 0x06}));
    Bytes reply = Payload(answer[1].bytes);
    EXPECT_EQ(Bytes(reply.begin() + 3, reply.begin() + 4), Bytes(c.status.begin(), c.status.begin() + 1));
    if (c.status.size() > 1) {
      EXPECT_EQ(reply.at(6), c.status[1]) << "EXT STS after the TNS";
    }
    FeedAll(plc, {0x10, 0x06}, now += 50'000);
  }
  EXPECT_EQ(plc.Table().Word(8, 1), 0) << "the refused write left F8:0 as it was";
  EXPECT_EQ(plc.Table().Word(8, 2), 0) << "and F8:1";
  EXPECT_TRUE(plc.Table().SetWords(4, 3, {0, 0, 0}));
  auto pre = FeedAll(plc, Request(tns++, {0xAA, 2, 4, 0x86, 1, 1, 7, 0}), now += 100'000);  // T4:1.PRE = 7
  ASSERT_EQ(pre.size(), 2u);
  EXPECT_EQ(Payload(pre[1].bytes).at(3), 0);
  EXPECT_EQ(plc.Table().Word(4, 3), 0) << "the control word stays";
  EXPECT_EQ(plc.Table().Word(4, 4), 7);
}

// A PLC5 word-range read may come in packets: each packet's offset counts the words from the
// address it names, and its data are the words from there on.
TEST(Df1Simulator, AWordRangeReadStartsAtItsPacketOffset) {
  Df1SimPlc plc(false);
  ASSERT_TRUE(plc.Table().SetWords(7, 0, {10, 11, 12, 13, 14}));
  const Bytes address{0, '$', 'N', '7', ':', '1', 0};
  auto packet = [&](std::uint8_t offset) {
    Bytes tail{0x01, offset, 0, 4, 0};  // packet offset, total transaction of 4 words
    tail.insert(tail.end(), address.begin(), address.end());
    tail.push_back(4);  // two words in this packet
    return tail;
  };
  auto first = FeedAll(plc, Request(1, packet(0)), 0);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(Payload(first[1].bytes), Bytes({0, 1, 0x4F, 0, 1, 0, 11, 0, 12, 0}));
  FeedAll(plc, {0x10, 0x06}, 50'000);
  auto second = FeedAll(plc, Request(2, packet(2)), 100'000);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(Payload(second[1].bytes), Bytes({0, 1, 0x4F, 0, 2, 0, 13, 0, 14, 0})) << "N7:3 and N7:4, not N7:1 again";
}

TEST(Df1Simulator, ARepeatOfTheLastRequestOfASourceIsAcknowledgedAndDropped) {
  Df1SimPlc plc(false);
  const Bytes write = Request(9, {0xAA, 2, 7, 0x89, 0, 0, 5, 0});
  ASSERT_EQ(FeedAll(plc, write, 0).size(), 2u);
  FeedAll(plc, {0x10, 0x06}, 100'000);
  plc.Table().SetWords(7, 0, {1});
  auto again = FeedAll(plc, write, 200'000);
  ASSERT_EQ(again.size(), 1u) << "DLE ACK, and no reply";
  EXPECT_EQ(again[0].bytes, Bytes({0x10, 0x06}));
  EXPECT_EQ(plc.Table().Word(7, 0), 1) << "the repeat was not carried out";
  EXPECT_EQ(FeedAll(plc, Request(9, {0xAA, 2, 7, 0x89, 0, 0, 6, 0}, 3), 300'000).size(), 2u) << "another source";
  FeedAll(plc, {0x10, 0x06}, 400'000);
  EXPECT_EQ(FeedAll(plc, Request(10, {0xAA, 2, 7, 0x89, 0, 0, 7, 0}), 500'000).size(), 2u) << "the next number";
  EXPECT_EQ(plc.Table().Word(7, 0), 7);
  sim::Df1SimCounts c = plc.Counts();
  EXPECT_EQ(c.requests, 4);
  EXPECT_EQ(c.duplicates, 1);
  EXPECT_EQ(c.answered, 3);
}

// The status fault is the processor refusing the command: nothing is carried out, and the
// refusal carries no data, as an SLC's does.
TEST(Df1Simulator, AStatusRefusalCarriesOutNothingAndCarriesNoData) {
  Df1SimPlc plc(false);
  plc.Table().SetWords(7, 0, {3});
  plc.InjectNext(sim::Df1Fault::Status);
  auto write = FeedAll(plc, Request(1, {0xAA, 2, 7, 0x89, 0, 0, 5, 0}), 0);
  ASSERT_EQ(write.size(), 2u);
  EXPECT_EQ(Payload(write[1].bytes), Bytes({0, 1, 0x4F, 0x50, 1, 0}));
  EXPECT_EQ(plc.Table().Word(7, 0), 3) << "the refused write is not carried out";
  FeedAll(plc, {0x10, 0x06}, 100'000);
  plc.InjectNext(sim::Df1Fault::Status);
  auto read = FeedAll(plc, Request(2, {0xA2, 2, 7, 0x89, 0, 0}), 200'000);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(Payload(read[1].bytes), Bytes({0, 1, 0x4F, 0x50, 2, 0})) << "no data after STS";
}

TEST(Df1Simulator, AReplyNotAcknowledgedIsAskedAfterWithEnqAndSentAgainOnNak) {
  sim::Df1SimSettings settings;
  settings.turnaroundMicros = 7'000;
  settings.ackTimeoutMicros = 300'000;
  Df1SimPlc plc(settings);
  auto answer = FeedAll(plc, Request(1, {0xA2, 2, 7, 0x89, 0, 0}), 1'000'000);
  ASSERT_EQ(answer.size(), 2u);
  EXPECT_EQ(answer[0].atMicros, 1'000'000) << "DLE ACK at once";
  EXPECT_EQ(answer[1].atMicros, 1'007'000) << "the reply after the turnaround";
  ASSERT_EQ(plc.NextDeadline(), 1'307'000);

  auto enq = plc.Expire(1'307'000);
  ASSERT_EQ(enq.size(), 1u);
  EXPECT_EQ(enq[0].bytes, Bytes({0x10, 0x05}));
  auto again = FeedAll(plc, {0x10, 0x15}, 1'400'000);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].bytes, answer[1].bytes) << "the reply again on DLE NAK";
  FeedAll(plc, {0x10, 0x06}, 1'410'000);
  EXPECT_TRUE(plc.Idle());
  EXPECT_FALSE(plc.NextDeadline());

  // Three DLE ENQs unanswered, then the reply is given up.
  FeedAll(plc, Request(2, {0xA2, 2, 7, 0x89, 0, 0}), 2'000'000);
  for (int i = 0; i < 4; ++i) plc.Expire(*plc.NextDeadline());
  EXPECT_TRUE(plc.Idle());
  sim::Df1SimCounts c = plc.Counts();
  EXPECT_EQ(c.enqsSent, 4);
  EXPECT_EQ(c.repliesResent, 1);
  EXPECT_EQ(c.repliesGivenUp, 1);
  EXPECT_EQ(c.closingAcks, 1);
  EXPECT_EQ(c.naks, 1);
  EXPECT_EQ(FeedAll(plc, {0x10, 0x06}).size(), 0u);
  EXPECT_EQ(plc.Counts().otherAcks, 1);
}

TEST(Df1Simulator, APacedLineTakesTheBytesTimeBothWays) {
  sim::Df1SimSettings settings;
  settings.turnaroundMicros = 0;
  settings.byteMicros = 4'167;  // 2400 baud
  Df1SimPlc plc(settings);
  const Bytes request = Request(1, {0xA2, 2, 7, 0x89, 0, 0});
  auto answer = FeedAll(plc, request);
  ASSERT_GE(answer.size(), 3u);
  const std::int64_t received = static_cast<std::int64_t>(request.size()) * 4'167;
  EXPECT_EQ(answer.front().atMicros, received) << "the request is in once its bytes crossed the line";
  EXPECT_EQ(answer.front().bytes.size(), 1u) << "one byte at a time";
  EXPECT_EQ(answer.back().atMicros - answer.front().atMicros, static_cast<std::int64_t>(answer.size() - 1) * 4'167);
}

TEST(Df1Simulator, ALateReplyEndsPastTheReplyLimitHoweverShortItIs) {
  // The master allows 0.71 s and the reply's line time from its DLE ACK to the reply's last
  // byte; a late reply must run past that even when it is a write's bare acknowledgement.
  const Bytes write{1, 0, 0x0F, 0, 1, 0, 0xAA, 2, 7, 0x89, 0, 0, 5, 0};
  const Bytes read{1, 0, 0x0F, 0, 2, 0, 0xA2, 2, 7, 0x89, 0, 0};
  for (std::int32_t mode : {1, 2}) {
    for (const Bytes& request : {write, read}) {
      SCOPED_TRACE(::testing::Message() << (mode == 1 ? "BCC " : "CRC ") << (request[6] == 0xAA ? "write" : "read"));
      Df1SimPlc plc(mode == 1);
      plc.InjectNext(sim::Df1Fault::Late);
      auto answer = FeedAll(plc, *df1::StuffAndCheck(request, mode));
      ASSERT_GE(answer.size(), 3u);
      EXPECT_EQ(answer.front().bytes, Bytes({0x10, 0x06}));
      const std::int64_t took = answer.back().atMicros - answer.front().atMicros;
      EXPECT_GE(took, 800'000) << "the reply is complete within the master's limit";
      for (std::size_t i = 2; i < answer.size(); ++i)
        EXPECT_LT(answer[i].atMicros - answer[i - 1].atMicros, 710'000) << "no single byte is overdue";
    }
  }
}

}  // namespace
}  // namespace plc
