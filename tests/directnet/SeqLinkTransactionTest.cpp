// SeqLink's transactions on the in-memory line: the blocks in order, values by memory type and
// ioType, the events, the shared line state, and every way a station can fail, on the manual
// clock.
#include <gtest/gtest.h>

#include <algorithm>

#include "directnet/Blocks.h"
#include "directnet/DirectNetEngine.h"
#include "platform/PollEventLoop.h"
#include "tests/directnet/SeqLinkRig.h"

namespace plc {
namespace {

using test::SeqLinkRig;

Bytes Hex(std::initializer_list<int> bytes) {
  Bytes out;
  for (int b : bytes) out.push_back(static_cast<std::uint8_t>(b));
  return out;
}

TEST(SeqLinkTransactions, ReadOfV2000PutsEachBlockOnTheWireInTurn) {
  SeqLinkRig r;
  r.station.SetWord(1, 0x0400, 4660);
  Variant value;
  ASSERT_EQ(r.Read("V,2000", value), ResultOk);
  EXPECT_EQ(value.ToInt32(), 4660);
  ASSERT_EQ(r.sent.size(), 4u);
  EXPECT_EQ(r.sent[0], Hex({0x4B, 0x21, 0x05}));
  EXPECT_EQ(r.sent[1], Hex({0x01, 0x40, 0x01, 0x04, 0x00, 0x01, 0x17, 0x44}));
  EXPECT_EQ(r.sent[2], Hex({0x06}));
  EXPECT_EQ(r.sent[3], Hex({0x04}));
  EXPECT_EQ(r.station.Completed(), 1);
  EXPECT_FALSE(r.Busy());
  EXPECT_EQ(r.events, std::vector<std::string>{"CommComplete"}) << "every good read raises it";

  // The octal number alone and the full address string read the same word.
  r.sent.clear();
  Variant again;
  ASSERT_EQ(r.Read("2000", again), ResultOk);
  ASSERT_EQ(r.Read("1;V,2000", again), ResultOk);
  EXPECT_EQ(r.sent[1], r.sent[5]);
}

TEST(SeqLinkTransactions, NonWaitingReadReturnsAtOnceAndDeliversThroughCommComplete) {
  SeqLinkRig r;
  for (int k = 0; k < 3; ++k) r.station.SetWord(2, 0x0205 + k, static_cast<std::uint16_t>(100 + k));
  r.link->EventComComplete();  // the event alone, from the host
  r.events.clear();
  ASSERT_EQ(r.ReadNW("2;CT,5", 3), ResultOk);
  EXPECT_TRUE(r.Busy()) << "the read is on the line when the call returns";
  EXPECT_TRUE(r.events.empty());
  r.Run(10'000);
  EXPECT_EQ(r.events, std::vector<std::string>{"CommComplete"});
  EXPECT_EQ(r.Data(1).ToInt32(), 100);
  EXPECT_EQ(r.Data(3).ToInt32(), 102);
  EXPECT_FALSE(r.Busy());
}

TEST(SeqLinkTransactions, EveryMemoryTypeWritesAndReadsBack) {
  SeqLinkRig r;
  struct Row {
    const char* address;
    std::uint32_t header;
  } words[] = {{"V,2000", 0x0400}, {"T,3", 3}, {"CT,5", 0x0205}, {"S,1", 0x4201}, {"SP,2", 0x4282}, {"1;V,7", 7}};
  std::uint16_t v = 1000;
  for (const Row& row : words) {
    ++v;
    ASSERT_EQ(r.Write(row.address, Variant(std::int32_t{v})), ResultOk) << row.address;
    EXPECT_EQ(r.station.Word(1, row.header), v) << row.address;
    Variant back;
    ASSERT_EQ(r.Read(row.address, back), ResultOk) << row.address;
    EXPECT_EQ(back.ToInt32(), v) << row.address;
  }
  // Bit areas read as the word holding the bit.
  struct Bit {
    const char* address;
    std::uint32_t header;
    int bit;
  } bits[] = {{"X,7", 0x4100, 7}, {"X,10", 0x4101, 0}, {"Y,17", 0x4141, 7}, {"C,5", 0x4180, 5},
              {"GX,11", 0x4001, 1}, {"GY,3", 0x4080, 3}};
  for (const Bit& b : bits) {
    r.station.SetWord(1, b.header, static_cast<std::uint16_t>(1u << b.bit));
    Variant value;
    Variant a(b.address);
    Variant n(std::int16_t{1});
    std::int16_t io = 0;
    std::int32_t idx = -1;
    ASSERT_EQ(r.link->ReadPLC(a, value, Opt<Variant>(n), Opt<std::int16_t>(io), Opt<std::int32_t>(idx)), ResultOk);
    EXPECT_EQ(io, 18) << b.address;
    EXPECT_EQ(idx, b.bit) << b.address;
    EXPECT_EQ(value.ToInt32(), 1) << b.address;
  }
  // C writes address single bits: C,10 is F008h, which the station keeps at word 4181h bit 0.
  r.sent.clear();
  ASSERT_EQ(r.WriteBit("C,10", Variant(std::int32_t{1})), ResultOk);
  EXPECT_EQ(r.sent[1], Hex({0x01, 'D', 0x01, 0xF0, 0x08, 0x17, 'D' ^ 0x01 ^ 0xF0 ^ 0x08}));
  EXPECT_EQ(r.station.Word(1, 0x4181) & 1, 1);
  ASSERT_EQ(r.WriteBit("C,10", Variant(std::int32_t{0})), ResultOk);
  EXPECT_EQ(r.sent[5][1], 'E') << "0 resets";
  EXPECT_EQ(r.station.Word(1, 0x4181) & 1, 0);
  EXPECT_TRUE(r.events.size() >= 1);
}

TEST(SeqLinkTransactions, MultiWordWritesAndIoTypes) {
  SeqLinkRig r;
  VariantArray two(1, 2);
  two.Set(1, Variant(std::int32_t{258}));
  two.Set(2, Variant(std::int32_t{1}));
  ASSERT_EQ(r.Write("V,2000", Variant(two), 2), ResultOk);
  const Bytes& header = r.sent[1];
  ASSERT_EQ(header.size(), 12u);
  EXPECT_EQ(Bytes(header.begin() + 6, header.begin() + 10), Hex({0x02, 0x01, 0x01, 0x00}));

  r.station.SetWord(1, 0x0400, 12);
  r.station.SetWord(1, 0x0401, 3456);
  Variant fixed(VariantArray(1, 1));
  ASSERT_EQ(r.Read("V,2000", fixed, 1, ioFloat), ResultOk);
  EXPECT_DOUBLE_EQ(fixed.Array().Get(1).ToDouble(), 12.3456);
  EXPECT_EQ(r.sent.back().size(), 1u);
  EXPECT_EQ(r.sent[r.sent.size() - 3][5], 2) << "two words for one ioFloat value";

  r.station.SetWord(1, 0x0400, 0x1234);
  Variant bcd;
  ASSERT_EQ(r.Read("V,2000", bcd, 1, ioBCD), ResultOk);
  EXPECT_EQ(bcd, Variant("1234"));

  // ReadDevice's ioType and bit index shape the values a later reply delivers.
  r.station.SetWord(1, 0x4100, 0xC000);
  r.station.SetWord(1, 0x4101, 0xFFFF);
  r.station.SetWord(1, 0x4102, 0x0003);
  Variant a("X,20");
  Variant n(std::int16_t{20});
  std::int16_t io = 0;
  std::int32_t idx = 0;
  ASSERT_EQ(r.link->ReadDevice(a, Opt<Variant>(n), Opt<std::int16_t>(io), Opt<std::int32_t>(idx)), ResultOk);
  r.Run(10'000);
  // X,20 (octal) is 4102h bit 0: the walk starts at bit 0 of the first word read.
  EXPECT_EQ(r.Data(1).ToInt32(), 1);
  EXPECT_EQ(r.Data(2).ToInt32(), 1);
  EXPECT_EQ(r.Data(3).ToInt32(), 0);
}

TEST(SeqLinkFaults, SilentStationFailsWithinTwoSecondsThenReadErrorAndRecovery) {
  SeqLinkRig r;
  r.answer = false;
  for (int i = 1; i <= 3; ++i) {
    const std::int64_t t0 = r.clock.MonotonicMicros();
    Variant value;
    EXPECT_EQ(r.Read("V,2000", value), ResultFailed);
    const std::int64_t took = r.clock.MonotonicMicros() - t0;
    EXPECT_GE(took, 1'000'000 - 1) << i;
    EXPECT_LE(took, 2'000'000) << i;
    r.Run(2'100'000);  // the watchdog counts the time-out and frees the line
    EXPECT_FALSE(r.Busy()) << i;
    if (i < 3) {
      EXPECT_EQ(r.link->ReadErrors(), Variant("")) << "two time-outs are not reported yet";
    }
  }
  r.Run(2'100'000);
  EXPECT_EQ(r.link->ReadErrors(), Variant("Read error")) << "after more than two time-outs";
  r.answer = true;
  r.sent.clear();
  Variant value;
  EXPECT_EQ(r.Read("V,2000", value), ResultOk);
  EXPECT_EQ(r.link->ReadErrors(), Variant("")) << "a good read clears it";
}

TEST(SeqLinkFaults, WrongLrcKeepsTheWordsButSendsNoAck) {
  SeqLinkRig r;
  r.station.SetWord(1, 0x0400, 777);
  r.station.fault = sim::StationFault::BadLrc;
  Variant value(std::int32_t{-5});
  EXPECT_EQ(r.Read("V,2000", value), ResultFailed);
  EXPECT_EQ(value.ToInt32(), -5) << "the caller's value is left alone";
  EXPECT_EQ(r.sent.size(), 2u) << "enquiry and header only: no ACK after a bad LRC";
  EXPECT_EQ(dnet::SeqLinkState().ReadWords[1], 777);
  EXPECT_TRUE(r.events.empty());
  r.station.fault = sim::StationFault::None;
  r.Run(2'100'000);
  EXPECT_EQ(r.Read("V,2000", value), ResultOk);
  EXPECT_EQ(value.ToInt32(), 777);
}

// After a reply it refused the control sends nothing more: bytes that follow it (the station
// giving up with EOT, then noise on the line) do not end the read as if its EOT had come, which
// made the read a success with the words whose check had failed.
TEST(SeqLinkFaults, WhatFollowsARefusedReadReplyDoesNotCompleteIt) {
  for (bool badLrc : {true, false}) {
    SCOPED_TRACE(badLrc ? "bad LRC" : "no ACK first");
    SeqLinkRig r;
    r.station.SetWord(1, 0x0400, 777);
    r.station.fault = badLrc ? sim::StationFault::BadLrc : sim::StationFault::None;
    r.answer = badLrc;
    auto forward = r.port->OnSent;
    r.port->OnSent = [&](const Bytes& chunk) {
      forward(chunk);
      if (chunk.size() == 3) {
        if (!badLrc) r.port->Inject(Hex({'N', 0x21, 0x06}));
        return;
      }
      if (chunk.size() != 8 || chunk[0] != dnet::SOH) return;
      if (!badLrc) r.port->Inject(Bytes(11, 0x55));  // noise where the reply belongs
      Bytes after{dnet::EOT};
      after.resize(11, 0x55);
      r.port->InjectAt(r.clock.MonotonicMicros() + 300'000, after);
    };
    Variant value(std::int32_t{-1});
    EXPECT_EQ(r.Read("V,2000", value), ResultFailed);
    EXPECT_EQ(value.ToInt32(), -1);
    EXPECT_EQ(r.link->FailureCause(), badLrc ? "the read reply of station 1 failed its LRC check"
                                             : "the read reply of station 1 began with 55h instead of ACK");
    EXPECT_EQ(r.sent.size(), 2u) << "enquiry and header; no ACK, no EOT";
    EXPECT_TRUE(r.events.empty()) << "no CommComplete";
  }
}

class SeqLinkStationFault : public testing::TestWithParam<sim::StationFault> {};

TEST_P(SeqLinkStationFault, ReadsAndWritesFailAndTheLineRecovers) {
  SeqLinkRig r;
  r.station.fault = GetParam();
  Variant value;
  const std::int64_t t0 = r.clock.MonotonicMicros();
  EXPECT_EQ(r.Read("V,2000", value), ResultFailed);
  EXPECT_LE(r.clock.MonotonicMicros() - t0, 2'000'000);
  r.Run(2'100'000);
  EXPECT_EQ(r.Write("V,2000", Variant(std::int32_t{9})), ResultFailed);
  r.Run(2'100'000);
  EXPECT_FALSE(r.Busy());
  r.station.fault = sim::StationFault::None;
  EXPECT_EQ(r.Write("V,2000", Variant(std::int32_t{9})), ResultOk);
  EXPECT_EQ(r.Read("V,2000", value), ResultOk);
  EXPECT_EQ(value.ToInt32(), 9);
}

INSTANTIATE_TEST_SUITE_P(Faults, SeqLinkStationFault,
                         testing::Values(sim::StationFault::Nak, sim::StationFault::NoEot,
                                         sim::StationFault::BadLrc));

TEST(SeqLinkFaults, SplitRepliesAndNoiseAfterTheEnd) {
  SeqLinkRig r;
  r.splitReplies = true;
  for (int k = 0; k < 10; ++k) r.station.SetWord(1, 0x0400 + k, static_cast<std::uint16_t>(k * 11));
  Variant values(VariantArray(1, 10));
  ASSERT_EQ(r.Read("V,2000", values, 10), ResultOk);
  EXPECT_EQ(values.Array().Get(10).ToInt32(), 99);
  r.port->Inject(Bytes{0x55, 0xAA, 0x04});  // stray bytes after the transaction
  r.Run(1000);
  EXPECT_EQ(r.sent.size(), 4u) << "nothing answers bytes outside a transaction";
  ASSERT_EQ(r.Read("V,2000", values, 10), ResultOk);
}

TEST(SeqLinkFaults, AStrayEotAheadOfTheEnquiryReplyIsPassedOver) {
  // The station's EOT of the last transaction, repeated on the line, arrives after the next
  // enquiry cleared the input and before the station's answer: alone, twice, or in one piece
  // with the first two bytes of the answer, whose ACK follows a moment later.
  for (int form = 0; form < 3; ++form) {
    SCOPED_TRACE(form);
    SeqLinkRig r;
    r.station.SetWord(1, 0x0400, 4242);
    r.port->OnSent = [&r, form](const Bytes& chunk) {
      r.sent.push_back(chunk);
      const bool enquiry = chunk.size() == 3 && chunk[0] == 'K';
      for (Bytes reply : r.station.Feed(chunk)) {
        if (!enquiry) {
          r.port->Inject(reply);
          continue;
        }
        Bytes stray(form == 1 ? 2 : 1, dnet::EOT);
        if (form == 2) {
          stray.insert(stray.end(), reply.begin(), reply.end() - 1);
          r.port->Inject(stray);
          r.port->InjectAt(r.clock.MonotonicMicros() + 1000, Bytes{reply.back()});
          continue;
        }
        r.port->Inject(stray);
        r.port->Inject(reply);
      }
    };
    Variant value;
    ASSERT_EQ(r.Read("V,2000", value), ResultOk) << r.link->FailureCause();
    EXPECT_EQ(value.ToInt32(), 4242);
    EXPECT_EQ(r.sent.size(), 4u) << "enquiry, header, ACK, EOT";
  }
}

// Noise on the line turns the enquiry's station byte into another station's, and that station
// acknowledges it as its own: the header would read or write its memory in place of the one
// asked for. Its acknowledge is refused, no header goes out, and the next call goes through.
TEST(SeqLinkFaults, AnEnquiryAcknowledgedByAnotherStationSendsNoHeader) {
  SeqLinkRig r;
  r.station.SetWord(1, 0x0400, 111);
  r.station.SetWord(2, 0x0400, 222);
  bool noisy = true;
  auto forward = r.port->OnSent;
  r.port->OnSent = [&](const Bytes& chunk) {
    Bytes heard = chunk;
    if (noisy && heard.size() == 3 && heard[0] == 'K') heard[1] = 0x22;  // station 1 heard as 2
    forward(heard);
  };
  const char* cause = "the enquiry to station 1 was answered for station 2 (4E 22 06h); no request was sent";
  Variant value(std::int32_t{-1});
  EXPECT_EQ(r.Read("V,2000", value), ResultFailed);
  EXPECT_EQ(value.ToInt32(), -1) << "station 2's word is no value of station 1";
  EXPECT_EQ(r.link->FailureCause(), cause);
  EXPECT_EQ(r.Write("V,2000", Variant(std::int32_t{9})), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), cause);
  EXPECT_EQ(r.station.Word(2, 0x0400), 222) << "nothing written to the station that answered";
  EXPECT_EQ(r.sent.size(), 2u) << "the two enquiries, no header";
  r.Run(2'100'000);
  noisy = false;
  ASSERT_EQ(r.Read("V,2000", value), ResultOk) << r.link->FailureCause();
  EXPECT_EQ(value.ToInt32(), 111);
}

TEST(SeqLinkFaults, ClosedPortSendsNothingAndLeavesTheLineFree) {
  SeqLinkRig r;
  r.link->SetPortOpen(false);
  Variant value;
  const std::int64_t t0 = r.clock.MonotonicMicros();
  EXPECT_EQ(r.Read("V,2000", value), ResultFailed);
  EXPECT_EQ(r.ReadNW("V,2000"), ResultFailed);
  EXPECT_EQ(r.Write("V,2000", Variant(std::int32_t{1})), ResultFailed);
  EXPECT_EQ(r.clock.MonotonicMicros(), t0) << "no wait for a line that is not there";
  EXPECT_FALSE(r.Busy());
  r.link->SetPortOpen(true);
  EXPECT_EQ(r.Read("V,2000", value), ResultOk);
}

// A host timer closing the port while a waiting read or write is out: the call ends as the
// port closes, says so, and the next call after reopening goes out at once.
TEST(SeqLinkFaults, PortClosedWhileACallWaitsEndsItWithThatCause) {
  SeqLinkRig r;
  r.answer = false;
  Variant value(std::int32_t{9});
  std::int64_t t0 = r.clock.MonotonicMicros();
  r.loop.AddTimer(t0 + 300'000, [&r] { r.link->SetPortOpen(false); });
  EXPECT_EQ(r.Read("V,2000", value), ResultFailed);
  EXPECT_EQ(value.ToInt32(), 9);
  EXPECT_EQ(r.link->FailureCause(), "the port was closed while the read waited for station 1");
  EXPECT_LT(r.clock.MonotonicMicros() - t0, 1'000'000);
  EXPECT_FALSE(r.Busy());
  r.link->SetPortOpen(true);
  r.answer = true;
  r.station.SetWord(1, 0x0400, 4242);
  ASSERT_EQ(r.Read("V,2000", value), ResultOk) << r.link->FailureCause();
  EXPECT_EQ(value.ToInt32(), 4242);

  r.answer = false;
  t0 = r.clock.MonotonicMicros();
  r.loop.AddTimer(t0 + 300'000, [&r] { r.link->SetPortOpen(false); });
  EXPECT_EQ(r.Write("V,2000", Variant(std::int32_t{1})), ResultFailed);
  EXPECT_EQ(r.link->FailureCause(), "the port was closed while the write waited for station 1");
  EXPECT_LT(r.clock.MonotonicMicros() - t0, 1'000'000);
  EXPECT_FALSE(r.Busy());
  r.link->SetPortOpen(true);
  r.answer = true;
  ASSERT_EQ(r.Read("V,2000", value), ResultOk) << r.link->FailureCause();
}

// A non-waiting read has no event for its failure: what ended it is left in FailureCause, as a
// waiting read leaves it, once the control knows (a refusal at once, silence when the watchdog
// ends it). ReadErrors keeps its classic text, and no CommComplete is raised.
TEST(SeqLinkFaults, AFailedNonWaitingReadLeavesItsCause) {
  struct Case {
    sim::StationFault fault;
    const char* cause;
    bool atOnce;
  };
  const Case cases[] = {
      {sim::StationFault::Nak, "station 1 answered the enquiry with NAK", true},
      {sim::StationFault::BadLrc, "the read reply of station 1 failed its LRC check", true},
      {sim::StationFault::NoEot, "no EOT from station 1 within 2 s after its reply was acknowledged", false},
      {sim::StationFault::NoAnswer, "no answer to the enquiry from station 1 within 2 s", false},
  };
  for (const Case& c : cases) {
    for (bool device : {false, true}) {
      SCOPED_TRACE(std::string(c.cause) + (device ? " (ReadDevice)" : " (ReadPLCNW)"));
      SeqLinkRig r;
      r.station.SetWord(1, 0x0400, 77);
      r.station.fault = c.fault;
      Variant a("V,2000"), one(std::int16_t{1});
      const Result sent = device ? r.link->ReadDevice(a, Opt<Variant>(one), Opt<std::int16_t>(), Opt<std::int32_t>())
                                 : r.ReadNW("V,2000");
      ASSERT_EQ(sent, ResultOk) << "the request went out";
      EXPECT_EQ(r.link->FailureCause(), "");
      r.Run(10'000);
      EXPECT_EQ(r.link->FailureCause(), c.atOnce ? c.cause : "");
      r.Run(2'100'000);  // the watchdog ends it
      EXPECT_FALSE(r.Busy());
      EXPECT_EQ(r.link->FailureCause(), c.cause);
      EXPECT_TRUE(r.events.empty()) << "no completion for a failed read";
      EXPECT_EQ(r.link->ReadErrors(), Variant(""));
      // The next call has its own outcome.
      r.station.fault = sim::StationFault::None;
      ASSERT_EQ(r.ReadNW("V,2000"), ResultOk);
      r.Run(10'000);
      EXPECT_EQ(r.events, std::vector<std::string>{"CommComplete"});
      EXPECT_EQ(r.Data(1).ToInt32(), 77);
      EXPECT_EQ(r.link->FailureCause(), "");
    }
  }
}

// A queued write that the scan-write tick runs while a host's non-waiting read is out is the
// control's own business: the read's failure is still the host's to find.
TEST(SeqLinkFaults, AQueuedWriteBesideAFailedNonWaitingReadLeavesItsCause) {
  struct Case {
    sim::StationFault fault;
    const char* cause;
  };
  const Case cases[] = {
      {sim::StationFault::Nak, "station 1 answered the enquiry with NAK"},
      {sim::StationFault::BadLrc, "the read reply of station 1 failed its LRC check"},
      {sim::StationFault::NoAnswer, "station 1"},  // silence, or the write taking the line, named
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cause);
    SeqLinkRig r;
    r.station.fault = c.fault;
    r.link->SetScanWriteIOTimerInterval(50);
    r.link->SetScanWriteEnable(true);
    Variant address("V,2001");
    std::int32_t value = 5;
    r.link->ForceData(address, value);
    ASSERT_EQ(r.ReadNW("V,2000"), ResultOk);
    r.Run(3'000'000);
    EXPECT_NE(r.link->FailureCause(), "");
    EXPECT_NE(r.link->FailureCause().find(c.cause), std::string::npos) << r.link->FailureCause();
    EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "CommComplete"), 0);
  }
}

// Freed by the host before its reply, or its port closed under it: it says that.
TEST(SeqLinkFaults, ANonWaitingReadEndedUnderItSaysHow) {
  SeqLinkRig r;
  r.answer = false;
  ASSERT_EQ(r.ReadNW("V,2000"), ResultOk);
  r.Run(300'000);
  r.link->SetCommBusy(Variant(false));
  EXPECT_EQ(r.link->FailureCause(), "the transaction was ended (CommBusy = False) before station 1 had answered");
  ASSERT_EQ(r.ReadNW("V,2000"), ResultOk);
  r.Run(300'000);
  r.link->SetPortOpen(false);
  r.Run(2'100'000);
  EXPECT_FALSE(r.Busy());
  EXPECT_EQ(r.link->FailureCause(), "the port was closed before station 1 had answered");
  EXPECT_TRUE(r.events.empty());
}

TEST(SeqLinkFaults, WritesThatCannotBeBuiltSendNothingAndFreeTheLine) {
  SeqLinkRig r;
  VariantArray many(1, 256);
  for (int k = 1; k <= 256; ++k) many.Set(k, Variant(std::int32_t{1}));
  struct Case {
    const char* address;
    Variant value;
    std::int16_t size;
  } cases[] = {{"V2000", Variant(std::int32_t{1}), 1},       {"NoSuchTag", Variant(std::int32_t{1}), 1},
               {"V,2000", Variant(std::int32_t{65536}), 1},  {"V,2000", Variant(std::int32_t{-1}), 1},
               {"V,2000", Variant("abc"), 1},                {"V,2000", Variant(many), 256},
               {"V,2000", Variant(VariantArray(1, 1)), 2}};
  for (const Case& c : cases) {
    EXPECT_EQ(r.Write(c.address, c.value, c.size), ResultFailed) << c.address;
    EXPECT_TRUE(r.sent.empty()) << c.address;
    EXPECT_FALSE(r.Busy()) << "WriteCallActive cleared: " << c.address;
  }
  Variant value;
  EXPECT_EQ(r.Read("V,2000", value), ResultOk) << "reads go at once";
  EXPECT_EQ(r.WriteBit("X", Variant(std::int32_t{1})), ResultFailed);
}

TEST(SeqLinkLine, ReadDuringAWriteIsRefusedAtOnce) {
  SeqLinkRig r;
  Result inner = ResultOk;
  std::size_t sentBefore = 0;
  bool tried = false;
  auto forward = r.port->OnSent;
  r.port->OnSent = [&](const Bytes& chunk) {
    forward(chunk);
    if (!tried && chunk.size() > 3) {  // the write's header is out: a handler reads
      tried = true;
      sentBefore = r.sent.size();
      Variant value;
      inner = r.Read("V,2000", value);
    }
  };
  EXPECT_EQ(r.Write("V,2000", Variant(std::int32_t{5})), ResultOk);
  EXPECT_TRUE(tried);
  EXPECT_EQ(inner, ResultFailed);
  EXPECT_EQ(sentBefore, 2u);
  EXPECT_EQ(r.ReadNW("V,2000"), ResultOk) << "after the write reads go again";
}

TEST(SeqLinkLine, PassThroughThenWritePLCBitCompletes) {
  SeqLinkRig r;
  r.answer = false;
  std::string line = "ATZ\r";
  r.link->SendToComm(line);
  EXPECT_TRUE(r.link->PassThroughMode());
  r.port->Inject(std::string("OK\r"));
  r.Run(1000);
  EXPECT_EQ(r.events, std::vector<std::string>{"CommEventModem"});
  r.answer = true;
  r.sent.clear();
  EXPECT_EQ(r.WriteBit("C,10", Variant(std::int32_t{1})), ResultOk);
  EXPECT_FALSE(r.link->PassThroughMode());
  EXPECT_EQ(r.sent.size(), 4u);
}

TEST(SeqLinkLine, FreeingCommBusyLetsTheNextReadGoAtOnce) {
  SeqLinkRig r;
  r.answer = false;
  ASSERT_EQ(r.ReadNW("V,2000"), ResultOk);
  EXPECT_TRUE(r.Busy());
  r.link->SetCommBusy(Variant(false));
  EXPECT_FALSE(r.Busy());
  r.answer = true;
  r.sent.clear();
  const std::int64_t t0 = r.clock.MonotonicMicros();
  Variant value;
  EXPECT_EQ(r.Read("V,2000", value), ResultOk);
  EXPECT_EQ(r.clock.MonotonicMicros(), t0);
  EXPECT_EQ(r.sent.size(), 4u);
}

TEST(SeqLinkLine, WatchdogFreeingAWaitingReadIsNoSuccess) {
  SeqLinkRig r;
  r.station.fault = sim::StationFault::NoEot;  // the words arrive, the end never does
  r.station.SetWord(1, 0x0400, 31);
  Variant value(std::int32_t{-1});
  EXPECT_EQ(r.Read("V,2000", value), ResultFailed);
  EXPECT_EQ(value.ToInt32(), -1);
  // A handler that frees the line while the read waits does not make it a success either.
  r.station.fault = sim::StationFault::NoAnswer;
  r.Run(2'100'000);
  r.loop.AddTimer(r.clock.MonotonicMicros() + 100'000, [&] { r.link->SetCommBusy(Variant(false)); });
  EXPECT_EQ(r.Read("V,2000", value), ResultFailed);
  EXPECT_EQ(value.ToInt32(), -1);
}

// CommComplete is raised for a ReadPLC's own read too, inside its wait. A host that writes from
// that handler still gets the read's values: the write leaves them where they are.
TEST(SeqLinkLine, AWriteFromTheCommCompleteHandlerLeavesTheWaitingReadItsValues) {
  SeqLinkRig r;
  r.station.SetWord(1, 0x0400, 1234);
  int writes = 0;
  r.link->SetEventSink([&](const std::string& name, std::vector<Variant>&) {
    if (name != "CommComplete" || writes > 0) return;
    ++writes;
    EXPECT_EQ(r.Write("V,3000", Variant(std::int32_t{77})), ResultOk) << r.link->FailureCause();
  });
  Variant value;
  EXPECT_EQ(r.Read("V,2000", value), ResultOk) << r.link->FailureCause();
  EXPECT_EQ(value, Variant(std::int32_t{1234}));
  EXPECT_EQ(writes, 1);
  EXPECT_EQ(r.station.Word(1, 0x0600), 77);
}

// A handler of that CommComplete may read as well. The waiting read still hands over the words
// its own reply carried: neither a reply of the handler's read that failed its check nor one
// that completed takes their place.
TEST(SeqLinkLine, AReadFromTheCommCompleteHandlerLeavesTheWaitingReadItsValues) {
  for (const sim::StationFault inner : {sim::StationFault::BadLrc, sim::StationFault::None}) {
    SeqLinkRig r;
    r.station.SetWord(1, 0x0400, 1234);
    r.station.SetWord(1, 0x0600, 999);
    int reads = 0;
    r.link->SetEventSink([&](const std::string& name, std::vector<Variant>&) {
      if (name != "CommComplete" || reads > 0) return;
      ++reads;
      r.station.fault = inner;
      Variant other;
      const Result result = r.Read("V,3000", other);
      EXPECT_EQ(result, inner == sim::StationFault::None ? ResultOk : ResultFailed);
      if (result == ResultOk) {
        EXPECT_EQ(other, Variant(std::int32_t{999}));
      }
      r.station.fault = sim::StationFault::None;
    });
    Variant value;
    EXPECT_EQ(r.Read("V,2000", value), ResultOk) << r.link->FailureCause();
    EXPECT_EQ(value, Variant(std::int32_t{1234})) << "inner fault " << static_cast<int>(inner);
    EXPECT_EQ(reads, 1);
  }
}

TEST(SeqLinkLine, TwoControlsOnOneThreadShareOneLineState) {
  SeqLinkRig r;
  auto second = r.Make();  // its own port; r.port now names it
  MemorySerialPort& port2 = *r.port;
  r.Attach(port2);
  second->Initialize();
  second->InitProperties();
  second->SetAddress(2);
  second->SetPortOpen(true);
  r.station.SetWord(1, 0x0400, 111);
  r.station.SetWord(2, 0x0400, 222);

  ASSERT_EQ(r.ReadNW("V,2000"), ResultOk);  // on the first control's line
  EXPECT_TRUE(second->CommBusy().ToBool()) << "the other control sees the line busy";
  Variant value;
  Variant a("V,2000");
  Variant n(std::int16_t{1});
  ASSERT_EQ(second->ReadPLC(a, value, Opt<Variant>(n), Opt<std::int16_t>(), Opt<std::int32_t>()), ResultOk);
  EXPECT_EQ(value.ToInt32(), 222);
  std::int16_t one = 1;
  EXPECT_EQ(r.link->ReadData(one).ToInt32(), 111) << "the first read ended before the second began";
}

// Each control answers only the transaction it put on its own line. A late answer from the
// station of another control's line (to an enquiry that timed out there) is not this read's:
// nothing goes out on that line, and that station's words never become this read's values.
TEST(SeqLinkLine, ALateAnswerOnAnotherControlsLineIsNotTakenForThisRead) {
  SeqLinkRig r;
  auto second = r.Make();  // its own port and station; r.port now names it
  MemorySerialPort& port2 = *r.port;
  sim::DirectNetStation other({1});
  other.SetWord(1, 0x0400, 222);
  bool answer2 = false;
  std::vector<Bytes> sent2, held;
  port2.OnSent = [&](const Bytes& chunk) {
    sent2.push_back(chunk);
    for (const auto& reply : other.Feed(chunk)) {
      if (answer2) port2.Inject(reply);
      else held.push_back(reply);
    }
  };
  second->Initialize();
  second->InitProperties();
  second->SetPortOpen(true);
  Variant a("V,2000"), unused, n(std::int16_t{1});
  ASSERT_EQ(second->ReadPLCNW(a, unused, Opt<Variant>(n), Opt<std::int16_t>()), ResultOk);
  r.Run(2'100'000);  // its station is slow: the watchdog frees the line
  ASSERT_FALSE(r.Busy());
  ASSERT_EQ(held.size(), 1u);

  r.station.SetWord(1, 0x0400, 111);
  r.answer = false;  // the first control's station is silent this time
  answer2 = true;
  sent2.clear();
  r.loop.AddTimer(r.clock.MonotonicMicros() + 100'000, [&] { port2.Inject(held.front()); });
  Variant value(std::int32_t{-1});
  EXPECT_EQ(r.Read("V,2000", value), ResultFailed);
  EXPECT_EQ(value.ToInt32(), -1);
  EXPECT_EQ(r.link->FailureCause(), "no answer to the enquiry from station 1 within 2 s");
  EXPECT_TRUE(sent2.empty()) << "nothing goes out on the other control's line";

  r.answer = true;
  r.Run(2'100'000);
  ASSERT_EQ(r.Read("V,2000", value), ResultOk);
  EXPECT_EQ(value.ToInt32(), 111);
}

}  // namespace
}  // namespace plc

namespace plc {
namespace {

// The engine as another control drives it: its own port and line state, a value buffer of
// 0..1000, and words left unconverted with the error text kept at completion.
TEST(DirectNetEngineReuse, OwnStateBufferAndCompletionRules) {
  ManualClock clock;
  PollEventLoop loop(clock);
  ScopedCurrentLoop scope(loop);
  MemorySerialPort port(loop);
  port.SetPortOpen(true);
  sim::DirectNetStation station({3});
  station.SetWord(3, 0x0010, 4321);
  port.OnSent = [&](const Bytes& chunk) {
    for (const auto& reply : station.Feed(chunk)) port.Inject(reply);
  };
  dnet::LinkState state;
  state.ErrorText = "kept";
  dnet::DirectNetEngine engine(port, state, loop, {1000, false});
  int completions = 0;
  engine.Events.CommComplete = [&] { ++completions; };
  EXPECT_EQ(engine.ReadValues().Upper(), 1000);
  ASSERT_TRUE(engine.WaitingRead({3, {0x0010, false, 0}, "", 0}, 1));
  EXPECT_EQ(state.ReadWords[1], 4321);
  EXPECT_EQ(state.ErrorText, "kept");
  EXPECT_TRUE(engine.ReadValues().Get(1).IsEmpty());
  EXPECT_EQ(completions, 1);
  // A set/reset chosen by the caller rather than by the address kind.
  ASSERT_TRUE(engine.RunWrite({3, {0xF003, true, 0}, "", 0}, {}, true, 1));
  EXPECT_EQ(station.Byte(3, 0x4180), 1 << 3);
}

}  // namespace
}  // namespace plc
