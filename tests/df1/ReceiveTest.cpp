// The receiving machines fed byte by byte: the link response, the reply frame's DLE rules and
// check bytes, and the replies that do not fit or carry no status.
#include <gtest/gtest.h>

#include "df1/ControlBytes.h"
#include "df1/Frame.h"
#include "df1/Receive.h"
#include "df1/Results.h"

namespace plc::df1 {
namespace {

ReplyOutcome Receive(const Bytes& wire, std::int32_t mode, ReplyReceiver::Phase* end = nullptr) {
  ReplyReceiver r(mode);
  for (std::uint8_t b : wire) r.Feed(b);
  if (end) *end = r.State();
  return EvaluateReply(r);
}

Bytes Reply(Bytes payload, std::int32_t mode) { return *StuffAndCheck(payload, mode); }

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Df1LinkResponse, DleAckNakEnqEndItBareOnesAreIgnoredOtherBytesAreTheStatus) {
  auto run = [](Bytes bytes) -> std::optional<Result> {
    LinkResponseWatch w;
    for (std::uint8_t b : bytes)
      if (auto s = w.Feed(b)) return s;
    return std::nullopt;
  };
  EXPECT_EQ(run({DLE, ACK}), 6);
  EXPECT_EQ(run({DLE, NAK}), 21);
  EXPECT_EQ(run({DLE, ENQ}), 5);
  EXPECT_EQ(run({ACK, NAK, ENQ}), std::nullopt);
  EXPECT_EQ(run({ACK, DLE, ACK}), 6);
  EXPECT_EQ(run({0x41}), 0x41);
  EXPECT_EQ(run({DLE, STX}), 2) << "a reply where the link response belongs";
}

TEST(Df1Reply, DataWithDlesAndControlValuesRoundTripsInBothModes) {
  const Bytes payload = {0x02, 0x01, 0x4F, 0x00, 0x07, 0x00, 0x10, 0x10, 0x03, 0x10, 0x15, 0x06};
  for (std::int32_t mode : {1, 2}) {
    ReplyOutcome o = Receive(Cat({0x41, DLE, DLE}, Reply(payload, mode)), mode);
    ASSERT_EQ(o.status, ResultOk) << mode;
    EXPECT_EQ(o.tns, 7);
    EXPECT_EQ(o.words, std::vector<std::uint16_t>({0x1010, 0x1003, 0x0615}));
  }
}

TEST(Df1Reply, ANoiseByteOf0x10BeforeTheFrameLeavesItsStartToIt) {
  // A lone DLE of noise is no escape of the DLE STX after it.
  const Bytes payload = {0x00, 0x01, 0x4F, 0x00, 0x07, 0x00, 0x2A, 0x00};
  for (std::int32_t mode : {1, 2}) {
    for (const Bytes& noise : {Bytes{DLE}, Bytes{0x41, DLE}, Bytes{DLE, 0x41, DLE}, Bytes{DLE, DLE, DLE}}) {
      SCOPED_TRACE(::testing::Message() << "mode " << mode << ", " << noise.size() << " noise bytes");
      ReplyOutcome o = Receive(Cat(noise, Reply(payload, mode)), mode);
      ASSERT_EQ(o.status, ResultOk) << o.cause;
      EXPECT_EQ(o.words, std::vector<std::uint16_t>({0x2A}));
    }
  }
}

TEST(Df1Reply, ACheckByteOf0x10ArrivesSingle) {
  // BCC 0x10: the payload sums to 0xF0.
  const Bytes payload = {0xF0 - 0x4F - 0x01, 0x01, 0x4F, 0x00, 0x00, 0x00};
  Bytes wire = Reply(payload, 1);
  ASSERT_EQ(wire.back(), 0x10);
  EXPECT_EQ(Receive(wire, 1).status, ResultOk);
}

TEST(Df1Reply, FailuresOfTheFrame) {
  Bytes good = Reply({0x00, 0x01, 0x4F, 0x00, 0x01, 0x00, 0x2A, 0x00}, 2);
  Bytes bad = good;
  bad.back() ^= 1;
  EXPECT_EQ(Receive(bad, 2).status, ResultCheckError);
  EXPECT_EQ(Receive(bad, 2).text, "ERRORBCC");

  Bytes sts = Reply({0x00, 0x01, 0x4F, 0x50, 0x01, 0x00}, 2);
  EXPECT_EQ(Receive(sts, 2).status, ResultStatusError);
  EXPECT_EQ(Receive(sts, 2).text, "ERRORSTATUS");

  ReplyReceiver::Phase end{};
  ReplyOutcome nak = Receive({DLE, STX, 0x00, DLE, NAK}, 2, &end);
  EXPECT_EQ(end, ReplyReceiver::Phase::LinkSignal);
  EXPECT_EQ(nak.status, 21);
  EXPECT_EQ(nak.text, "");

  EXPECT_EQ(Receive(Reply({0x00}, 1), 1).status, ResultCheckError) << "too short for a check";
  EXPECT_EQ(Receive(Reply({0x00, 0x01, 0x4F}, 1), 1).status, ResultCheckError) << "no STS";
  EXPECT_EQ(Receive({DLE, ETX, 0x00, 0x00}, 2).status, ResultCheckError) << "an end without a start";
}

TEST(Df1Reply, LinkSignalsBeforeTheFrameStarts) {
  const Bytes reply = Reply({0x00, 0x01, 0x4F, 0x00, 0x03, 0x00, 0x2A, 0x00}, 2);
  // A repeated link response and the station's enquiries are passed over, the enquiries counted
  // for the link to answer.
  ReplyReceiver r(2);
  for (std::uint8_t b : Cat({DLE, ACK, DLE, ENQ, DLE, ACK, DLE, ENQ}, reply)) r.Feed(b);
  EXPECT_EQ(r.Enquiries(), 2);
  ReplyOutcome o = EvaluateReply(r);
  EXPECT_EQ(o.status, ResultOk);
  EXPECT_EQ(o.words, std::vector<std::uint16_t>({0x2A}));
  // DLE NAK before the frame, and DLE ENQ inside it, still end it.
  EXPECT_EQ(Receive(Cat({DLE, NAK}, reply), 2).status, 21);
  ReplyReceiver inside(2);
  for (std::uint8_t b : Bytes{DLE, STX, 0x00, DLE, ENQ}) inside.Feed(b);
  EXPECT_EQ(EvaluateReply(inside).status, 5);
  EXPECT_EQ(inside.Enquiries(), 0);

  // Between transactions each DLE ENQ is answered, and each whole frame; a DLE ACK is not.
  IdleListener idle(2);
  int answers = 0;
  for (std::uint8_t b : Cat({DLE, ENQ, DLE, ACK, DLE, ENQ}, reply)) answers += idle.Feed(b) ? 1 : 0;
  EXPECT_EQ(answers, 3);
}

TEST(Df1Reply, RepliesBeyondTheFixedTablesAreRefused) {
  EXPECT_EQ(Receive(Reply({0, 1, 0x4F, 0, 52, 0}, 2), 2).tns, 52);
  ReplyOutcome row = Receive(Reply({0, 1, 0x4F, 0, 53, 0}, 2), 2);
  EXPECT_EQ(row.status, ResultCheckError);
  EXPECT_EQ(row.text, "ERRORREPLY");

  Bytes words(6 + 131 * 2, 0x01);
  words[3] = 0;
  words[4] = 1;
  words[5] = 0;
  Bytes frame = {DLE, STX};
  frame.insert(frame.end(), words.begin(), words.end());
  frame.insert(frame.end(), {DLE, ETX, Bcc(words)});
  EXPECT_EQ(Receive(frame, 1).text, "ERRORREPLY") << "131 words";
  words.resize(6 + 130 * 2);
  frame = {DLE, STX};
  frame.insert(frame.end(), words.begin(), words.end());
  frame.insert(frame.end(), {DLE, ETX, Bcc(words)});
  EXPECT_EQ(Receive(frame, 1).words.size(), 130u);

  // A data byte of 10h comes doubled: 130 words of 1010h take 531 bytes on the wire and are
  // taken whole. Past 500 unstuffed bytes, or 1000 on the wire (noise before the start), the
  // reply is refused.
  Bytes payload = {0x00, 0x01, 0x4F, 0x00, 0x01, 0x00};
  payload.insert(payload.end(), 260, DLE);
  Bytes wire = {DLE, STX};
  for (std::uint8_t b : payload) {
    wire.push_back(b);
    if (b == DLE) wire.push_back(b);
  }
  wire.insert(wire.end(), {DLE, ETX, Bcc(payload)});
  ASSERT_EQ(wire.size(), 531u);
  ReplyOutcome stuffed = Receive(wire, 1);
  EXPECT_EQ(stuffed.status, ResultOk);
  EXPECT_EQ(stuffed.words, std::vector<std::uint16_t>(130, 0x1010));

  ReplyReceiver::Phase end{};
  ReplyOutcome longData = Receive(Cat({DLE, STX}, Bytes(501, 0x41)), 1, &end);
  EXPECT_EQ(end, ReplyReceiver::Phase::Overflow);
  EXPECT_EQ(longData.text, "ERRORREPLY");
  ReplyOutcome flood = Receive(Bytes(1001, 0x41), 1, &end);
  EXPECT_EQ(end, ReplyReceiver::Phase::Overflow);
  EXPECT_EQ(flood.text, "ERRORREPLY");
  EXPECT_NE(Receive(Bytes(1000, 0x41), 1, &end).text, "ERRORREPLY");
}

TEST(Df1Status, EveryStatusAReplyCarriesIsNamed) {
  // Errors of the station's own link (low nibble) come from bridges and modules on the way.
  EXPECT_EQ(StatusMeaning(0x02, std::nullopt),
            "STS 02h: cannot guarantee delivery, the remote node did not acknowledge the command");
  EXPECT_EQ(StatusMeaning(0x07, std::nullopt), "STS 07h: station is offline");
  EXPECT_EQ(StatusMeaning(0xA0, std::nullopt), "STS A0h: wait ACK (1775-KA buffer full)");
  EXPECT_EQ(StatusMeaning(0x50, std::nullopt), "STS 50h: addressing problem or memory protect rungs");
  EXPECT_EQ(StatusMeaning(0xF0, 0x17), "STS F0h: error code in the extended status, EXT STS 17h: type mismatch");
  EXPECT_EQ(StatusMeaning(0xF0, 0x1E),
            "STS F0h: error code in the extended status, EXT STS 1Eh: data table element protection violation");
  EXPECT_EQ(StatusMeaning(0xF0, 0x23), "STS F0h: error code in the extended status, EXT STS 23h: time-out");
  EXPECT_EQ(StatusMeaning(0xD0, std::nullopt), "STS D0h: unknown status");
}

}  // namespace
}  // namespace plc::df1
