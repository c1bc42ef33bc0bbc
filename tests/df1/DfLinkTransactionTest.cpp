// DfLink's transactions against the simulated PLC on an in-memory line and a manual clock:
// reads and writes of each file kind, every row of the link's failure table with its status,
// text, closing acknowledgements, time and the transaction after it, and the flags that keep
// one transaction on the line.
#include <gtest/gtest.h>

#include "df1/Df1State.h"
#include "df1/Results.h"
#include "tests/df1/Df1Rig.h"

namespace plc {
namespace {

using sim::Df1Fault;
using test::Df1Rig;

VariantArray Doubles(std::int32_t n) { return VariantArray(1, n, VarType::Double); }

// The line time at 9600 baud of a one-word read in CRC mode: request 18 bytes, DLE ACK, reply
// frame 14 bytes; the waits of that read grow by it.
constexpr std::int64_t kReadN70LineMicros = 34 * 10 * 1'000'000 / 9600;

Result Read(DfLink& link, const std::string& address, VariantArray& values, std::int16_t size) {
  std::string a = address;
  return link.ReadPLC(a, values, Opt<std::int16_t>(size));
}

Result Write(DfLink& link, const std::string& address, std::vector<double> values) {
  std::string a = address;
  VariantArray array(1, static_cast<std::int32_t>(values.size()), VarType::Double);
  for (std::size_t i = 0; i < values.size(); ++i) array.Set(static_cast<std::int32_t>(i + 1), Variant(values[i]));
  return link.WritePLC(a, array, Opt<std::int16_t>(static_cast<std::int16_t>(values.size())));
}

Result ReadNoWait(DfLink& link, const std::string& address, std::int16_t size) {
  Variant a(address), unused;
  return link.ReadPLCNW(a, unused, Opt<std::int16_t>(size), Opt<std::int16_t>());
}

// Lets the loop run until the event count reaches n (the PLC's answers are timed arrivals).
void AwaitEvents(Df1Rig& rig, std::size_t n) {
  rig.bench.loop.WaitUntil([&] { return rig.events.size() >= n; }, rig.Now() + 5'000'000);
}

TEST(DfLinkRead, TheN70RequestOnTheWireAndItsValueInBothModes) {
  for (bool bcc : {true, false}) {
    Df1Rig rig(bcc);
    rig.plc.Table().SetWords(7, 0, {1234});
    VariantArray v = Doubles(1);
    ASSERT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk);
    EXPECT_EQ(v.Get(1).ToDouble(), 1234);
    Bytes sent = rig.bench.port->Sent();
    Bytes want = bcc ? Bytes{0x10, 0x02, 0x01, 0x00, 0x0F, 0x00, 0x01, 0x00, 0xA2, 0x02, 0x07, 0x89, 0x00, 0x00, 0x10, 0x03, 0xBB}
                     : Bytes{0x10, 0x02, 0x01, 0x00, 0x0F, 0x00, 0x01, 0x00, 0xA2, 0x02, 0x07, 0x89, 0x00, 0x00, 0x10, 0x03, 0x62, 0xB0};
    want.insert(want.end(), {0x10, 0x06});  // one acknowledgement of the good reply
    EXPECT_EQ(sent, want);
    EXPECT_EQ(rig.plc.AcksSeen(), 1);
  }
}

TEST(DfLinkRead, EachFileKindEndToEnd) {
  Df1Rig rig;
  auto& table = rig.plc.Table();
  table.SetWords(7, 10, {0xFFFE, 0x0008});       // N7:10 = -2, N7:11 = 8
  table.SetWords(8, 0, {0x0000, 0x3FC0, 0x0000, 0xC020});  // F8:0 = 1.5, F8:1 = -2.5
  table.SetWords(3, 2, {0x0008});                // B3/35 is bit 3 of word 2
  table.SetWords(4, 6, {0x00C0, 100, 42});       // T4:2: control, preset, accumulator
  VariantArray v = Doubles(2);
  ASSERT_EQ(Read(rig.Link(), "N7:10", v, 2), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), -2);
  EXPECT_EQ(v.Get(2).ToDouble(), 8);
  ASSERT_EQ(Read(rig.Link(), "F8:0", v, 2), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), 1.5);
  EXPECT_EQ(v.Get(2).ToDouble(), -2.5);
  VariantArray one = Doubles(1);
  ASSERT_EQ(Read(rig.Link(), "B3/35", one, 1), ResultOk);
  EXPECT_EQ(one.Get(1).ToDouble(), 1);
  ASSERT_EQ(Read(rig.Link(), "N7:11/2", one, 1), ResultOk);
  EXPECT_EQ(one.Get(1).ToDouble(), 0);
  ASSERT_EQ(Read(rig.Link(), "T4:2.2", one, 1), ResultOk);
  EXPECT_EQ(one.Get(1).ToDouble(), 42) << "the third word of the element";
  std::int16_t i = 1;
  EXPECT_EQ(rig.Link().ReadData(i), 42) << "DataBuffer takes the words from the sub-element on";

  rig.Link().SetPLCType(df1::EnPLC5);
  ASSERT_EQ(Read(rig.Link(), "N7:10", one, 1), ResultOk);
  EXPECT_EQ(one.Get(1).ToDouble(), -2) << "the PLC5 word-range read";
}

// A counter counts below 0: its preset and accumulator are signed words, as the processor
// holds and shows them, while its control word holds bits. Written as -3, read as -3.
TEST(DfLinkRead, ACountersPresetAndAccumulatorAreSignedItsControlWordIsNot) {
  Df1Rig rig;
  rig.plc.Table().SetWords(5, 3, {0x8800, 0xFFFB, 0x0002});  // C5:1: CU and UN, PRE -5, ACC 2
  ASSERT_EQ(Write(rig.Link(), "C5:1.ACC", {-3}), ResultOk);
  AwaitEvents(rig, 1);
  ASSERT_EQ(rig.plc.Table().Word(5, 5), 0xFFFD);
  VariantArray one = Doubles(1);
  ASSERT_EQ(Read(rig.Link(), "C5:1.ACC", one, 1), ResultOk) << rig.Link().FailureCause();
  EXPECT_EQ(one.Get(1).ToDouble(), -3);
  std::int16_t first = 1;
  EXPECT_EQ(rig.Link().ReadData(first), -3);
  VariantArray integers(1, 1, VarType::Int16);
  ASSERT_EQ(Read(rig.Link(), "C5:1.PRE", integers, 1), ResultOk) << rig.Link().FailureCause();
  EXPECT_EQ(integers.Get(1).ToDouble(), -5);
  ASSERT_EQ(Read(rig.Link(), "C5:1.PRE/15", integers, 1), ResultOk);
  EXPECT_EQ(integers.Get(1).ToDouble(), 1) << "the sign bit of the preset";
  VariantArray three = Doubles(3);
  ASSERT_EQ(Read(rig.Link(), "C5:1", three, 3), ResultOk);
  EXPECT_EQ(three.Get(1).ToDouble(), 0x8800) << "the control word's bits";
  EXPECT_EQ(three.Get(2).ToDouble(), -5);
  EXPECT_EQ(three.Get(3).ToDouble(), -3);
  const std::size_t before = rig.events.size();
  ASSERT_EQ(ReadNoWait(rig.Link(), "C5:1.ACC", 1), ResultFailed);
  AwaitEvents(rig, before + 1);
  ASSERT_EQ(rig.events.back()[4].ToInt16(), ResultOk);
  EXPECT_EQ(rig.events.back()[0].Array().Get(1).ToDouble(), -3) << "CommComplete's MData";
  rig.Link().SetPLCType(df1::EnPLC5);
  ASSERT_EQ(Read(rig.Link(), "C5:1.ACC", one, 1), ResultOk);
  EXPECT_EQ(one.Get(1).ToDouble(), -3) << "the PLC5 word-range read";
  // A timer's words are no counts below 0: T4:0's control word 0xE000 stays as it is.
  rig.plc.Table().SetWords(4, 0, {0xE000, 100, 100});
  ASSERT_EQ(Read(rig.Link(), "T4:0", one, 1), ResultOk);
  EXPECT_EQ(one.Get(1).ToDouble(), 0xE000);
}

TEST(DfLinkRead, TheLargestReadTakesItsReplyWhateverItsWordsHold) {
  // 127 words of 1010h: every data byte is doubled on the wire, 520 bytes in all.
  Df1Rig rig;
  rig.plc.Table().SetWords(7, 0, std::vector<std::uint16_t>(127, 0x1010));
  VariantArray v = Doubles(127);
  ASSERT_EQ(Read(rig.Link(), "N7:0", v, 127), ResultOk) << rig.Link().FailureCause();
  EXPECT_EQ(v.Get(1).ToDouble(), 0x1010);
  EXPECT_EQ(v.Get(127).ToDouble(), 0x1010);
}

TEST(DfLinkRead, ASlowLineAllowsForTheDoubledBytesOfTheReply) {
  // At 1200 baud 127 words of 16 take 393 bytes on the line, 127 of them the doubled 10h:
  // 3.3 s, which the reply's limit counts.
  sim::Df1SimSettings paced{false};
  paced.byteMicros = 8'334;
  Df1Rig rig(paced);
  std::string settings = "1200,n,8,1";
  rig.Link().SetSettings(settings);
  rig.plc.Table().SetWords(7, 0, std::vector<std::uint16_t>(127, 16));
  VariantArray v = Doubles(127);
  ASSERT_EQ(Read(rig.Link(), "N7:0", v, 127), ResultOk) << rig.Link().FailureCause();
  EXPECT_EQ(v.Get(127).ToDouble(), 16);
}

TEST(DfLinkWrite, EachFileKindReachesThePlcAndNegativeNValuesChangeInTheCallersArray) {
  Df1Rig rig;
  std::string a = "N7:3";
  VariantArray n(1, 2, VarType::Double);
  n.Set(1, Variant(-1.0));
  n.Set(2, Variant(16.0));
  ASSERT_EQ(rig.Link().WritePLC(a, n, Opt<std::int16_t>(std::int16_t{2})), ResultOk);
  EXPECT_EQ(n.Get(1).ToDouble(), 65535);
  AwaitEvents(rig, 1);
  EXPECT_EQ(rig.plc.Table().Word(7, 3), 0xFFFF);
  EXPECT_EQ(rig.plc.Table().Word(7, 4), 16) << "the doubled DLE of 16 arrived as one byte";
  ASSERT_EQ(rig.events.back()[4].ToInt16(), ResultOk);
  EXPECT_EQ(rig.events.back()[0].Array().Get(1).ToDouble(), 0) << "a write's reply carries no data";

  ASSERT_EQ(Write(rig.Link(), "F8:2", {-2.5}), ResultOk);
  AwaitEvents(rig, 2);
  EXPECT_EQ(rig.plc.Table().Word(8, 4), 0x0000);
  EXPECT_EQ(rig.plc.Table().Word(8, 5), 0xC020);

  ASSERT_EQ(Write(rig.Link(), "B3:35", {7}), ResultOk);
  AwaitEvents(rig, 3);
  EXPECT_EQ(rig.plc.Table().Word(3, 35), 7);
  rig.plc.Table().SetWords(4, 3, {0x00C0, 0, 0});
  ASSERT_EQ(Write(rig.Link(), "T4:1.PRE", {500}), ResultOk) << "the preset, sub-element 1";
  AwaitEvents(rig, 4);
  EXPECT_EQ(rig.plc.Table().Word(4, 4), 500);
  EXPECT_EQ(rig.plc.Table().Word(4, 3), 0x00C0) << "the timer's control word stays";
  ASSERT_EQ(Write(rig.Link(), "C5:0.ACC", {-3}), ResultOk) << "a counter counts down below 0";
  AwaitEvents(rig, 5);
  EXPECT_EQ(rig.plc.Table().Word(5, 2), 0xFFFD);
}

TEST(DfLinkWrite, ANegativeNValueOfAnIntegerArrayIsWrittenAndTheArrayKeepsIt) {
  // An Integer cannot hold 65535: the caller's -1 already is that word, and it goes out.
  Df1Rig rig;
  std::string a = "N7:5";
  VariantArray n(1, 2, VarType::Int16);
  n.Set(1, Variant(std::int16_t{-1}));
  n.Set(2, Variant(std::int16_t{-300}));
  ASSERT_EQ(rig.Link().WritePLC(a, n, Opt<std::int16_t>(std::int16_t{2})), ResultOk) << rig.Link().FailureCause();
  EXPECT_EQ(n.Get(1).ToDouble(), -1);
  EXPECT_EQ(n.Get(2).ToDouble(), -300);
  AwaitEvents(rig, 1);
  EXPECT_EQ(rig.plc.Table().Word(7, 5), 0xFFFF);
  EXPECT_EQ(rig.plc.Table().Word(7, 6), 65536 - 300);
  EXPECT_EQ(rig.events.back()[4].ToInt16(), ResultOk);
}

TEST(DfLinkWrite, RefusedWritesSendNothingAndLeaveTheFlags) {
  Df1Rig rig;
  DfLink& link = rig.Link();
  rig.bench.port->TakeSent();
  const std::pair<std::vector<double>, std::pair<const char*, const char*>> refused[] = {
      {{1}, {"NoSuchTag", "no tag is named 'NoSuchTag'"}},
      {{1}, {"N7:", "address 'N7:' has no element after ':'"}},
      {{1}, {"", "no address given"}},
      {{1}, {"N7:0/3", "names a bit; a write changes whole words"}},
      {{70000}, {"N7:0", "cannot write to N7:0: value 1 of 1 (70000) is outside -32768..65535"}},
      {{-40000}, {"N7:10", "(-40000) is outside -32768..65535"}},
      {{2.5}, {"N7:0", "(2.5) is not a whole number"}},
      {std::vector<double>(44, 1.0), {"N7:0", "count 44 is beyond this control's limit of 43 values for N7:0"}},
  };
  for (const auto& [values, row] : refused) {
    EXPECT_EQ(Write(link, row.first, values), ResultFailed) << row.first;
    EXPECT_NE(link.FailureCause().find(row.second), std::string::npos) << link.FailureCause();
    EXPECT_EQ(link.FailureCause().rfind("not done: ", 0), 0u) << link.FailureCause();
  }
  link.SetAddress(Variant(std::int32_t{300}));
  EXPECT_EQ(Write(link, "N7:0", {1}), ResultFailed) << "an Address that is no byte";
  EXPECT_NE(link.FailureCause().find("Address 300 is no station number (0..255)"), std::string::npos);
  link.SetAddress(Variant(std::int32_t{1}));
  EXPECT_TRUE(rig.bench.port->Sent().empty());
  EXPECT_FALSE(rig.State().Busy);
  EXPECT_FALSE(rig.State().CancelWait);
  VariantArray v = Doubles(1);
  const std::int64_t start = rig.Now();
  EXPECT_EQ(Read(link, "N7:0", v, 1), ResultOk);
  EXPECT_LT(rig.Now() - start, 100'000) << "the next read goes at once";
  EXPECT_EQ(link.FailureCause(), "");
  link.SetPortOpen(false);
  EXPECT_EQ(Write(link, "N7:0", {1}), ResultFailed);
  EXPECT_EQ(link.FailureCause(), "not done: the port (COM1) is not open");
}

struct FaultRow {
  Df1Fault fault;
  Result status;
  const char* text;
  std::int64_t minMicros, maxMicros;  // from the request to the event
  int acks = 3;                       // the closing three, and one for each DLE ENQ answered
};

TEST(DfLinkFaults, EveryRowOfTheLinkFailureTable) {
  const FaultRow rows[] = {
      {Df1Fault::BareAck, ResultLinkTimeout, "Error no ACK", 710'000 + 220'000, 1'100'000},
      {Df1Fault::DleNak, ResultDleNak, "Error no ACK", 220'000, 400'000},
      // The station's DLE ENQ is answered and the wait for DLE ACK goes on to its limit.
      {Df1Fault::DleEnq, ResultDleEnq, "Error no ACK", 710'000 + 220'000, 1'100'000, 4},
      {Df1Fault::OtherByte, 0x41, "Error no ACK", 220'000, 400'000},
      {Df1Fault::CloseMidReply, ResultLinkTimeout, "ERRORWaitForPLCReply", 710'000 + 220'000, 1'100'000},
      {Df1Fault::Late, ResultLinkTimeout, "ERRORTIMEOUT", 710'000 + 220'000, 1'300'000},
      {Df1Fault::AckInReply, ResultDleAck, "", 220'000, 400'000},
      {Df1Fault::BadCheck, ResultCheckError, "ERRORBCC", 220'000, 400'000},
      {Df1Fault::Status, ResultStatusError, "ERRORSTATUS", 220'000, 400'000},
  };
  for (bool bcc : {true, false}) {
    for (const FaultRow& row : rows) {
      SCOPED_TRACE(::testing::Message() << "fault " << static_cast<int>(row.fault) << (bcc ? " BCC" : " CRC"));
      Df1Rig rig(bcc);
      rig.plc.Table().SetWords(7, 5, {77});
      rig.plc.InjectNext(row.fault);
      const std::int64_t start = rig.Now();
      ASSERT_EQ(ReadNoWait(rig.Link(), "N7:5", 1), ResultFailed) << "a non-waiting read returns 0";
      EXPECT_TRUE(rig.State().Busy);
      AwaitEvents(rig, 1);
      ASSERT_EQ(rig.events.size(), 1u);
      const std::int64_t took = rig.Now() - start;
      EXPECT_EQ(rig.events[0][4].ToInt16(), row.status);
      EXPECT_EQ(rig.events[0][3].ToString(), row.text);
      EXPECT_EQ(rig.Link().ReadErrors().ToString(), row.text);
      const std::string cause = rig.Link().FailureCause();
      EXPECT_EQ(cause.rfind(df1::ResultMeaning(row.status) + ": ", 0), 0u) << cause;
      EXPECT_NE(cause.find("station 1"), std::string::npos) << cause;
      EXPECT_EQ(rig.AcksAfterRequest(), row.acks);
      EXPECT_GE(took, row.minMicros);
      EXPECT_LE(took, row.maxMicros);
      EXPECT_FALSE(rig.State().Busy);
      EXPECT_TRUE(rig.State().LineFree);
      EXPECT_EQ(rig.bench.port->InBufferCount(), 0);

      VariantArray v = Doubles(1);
      EXPECT_EQ(Read(rig.Link(), "N7:5", v, 1), ResultOk) << "the next transaction";
      EXPECT_EQ(v.Get(1).ToDouble(), 77);
    }
  }
}

TEST(DfLinkFaults, AWaitingReadReportsTheLinkStatusOrNoReply) {
  Df1Rig rig;
  VariantArray v = Doubles(1);
  rig.plc.InjectNext(Df1Fault::DleNak);
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultDleNak);
  rig.plc.InjectNext(Df1Fault::Status);
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultStatusError);

  // No answer at all: no notification comes, so no event; the read gives up after 0.71 s.
  rig.plc.InjectNext(Df1Fault::Silent);
  std::int64_t start = rig.Now();
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultNoReply);
  EXPECT_NEAR(rig.Now() - start, 710'000 + kReadN70LineMicros, 20'000);
  EXPECT_EQ(rig.Link().FailureCause(),
            "no reply in time: station 1 sent no complete reply within 0.75 s of the read of N7:0");
  EXPECT_TRUE(rig.events.size() == 2);
  EXPECT_FALSE(rig.State().Busy);
  EXPECT_FALSE(rig.State().LineFree) << "the lost request still holds the line";
  start = rig.Now();
  rig.plc.Table().SetWords(7, 0, {5});
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk) << "after waiting for the line, at most 1 s";
  EXPECT_LE(rig.Now() - start, 1'100'000);
  EXPECT_EQ(v.Get(1).ToDouble(), 5);
}

// A host timer closing the port while a waiting read is out: the read ends as the port
// closes, says so, and the next read after reopening goes out at once.
TEST(DfLinkFaults, PortClosedWhileAReadWaitsEndsItWithThatCause) {
  Df1Rig rig;
  VariantArray v = Doubles(1);
  v.Set(1, Variant(9.0));
  rig.plc.InjectNext(Df1Fault::Silent);
  std::int64_t start = rig.Now();
  rig.bench.loop.AddTimer(start + 200'000, [&rig] { rig.Link().SetPortOpen(false); });
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultFailed);
  EXPECT_EQ(v.Get(1).ToDouble(), 9);
  EXPECT_NE(rig.Link().FailureCause().find("the port (COM1) was closed while the read of N7:0 waited for its reply"),
            std::string::npos)
      << rig.Link().FailureCause();
  EXPECT_LT(rig.Now() - start, 300'000);
  EXPECT_EQ(rig.Link().CommBusy().ToInt16(), False);
  rig.Link().SetPortOpen(true);
  rig.plc.Table().SetWords(7, 0, {5});
  start = rig.Now();
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk) << rig.Link().FailureCause();
  EXPECT_LT(rig.Now() - start, 100'000);
  EXPECT_EQ(v.Get(1).ToDouble(), 5);
}

// The port closed under a write or a non-waiting read takes the request with it: after
// reopening, reads go out at once and take their own replies.
TEST(DfLinkFaults, PortClosedUnderAnUnansweredRequestFreesTheDriver) {
  for (bool write : {true, false}) {
    SCOPED_TRACE(write ? "write" : "non-waiting read");
    Df1Rig rig;
    rig.plc.Table().SetWords(7, 0, {1234});
    rig.plc.InjectNext(Df1Fault::Silent);
    if (write) ASSERT_EQ(Write(rig.Link(), "N7:1", {9}), ResultOk);
    else ASSERT_EQ(ReadNoWait(rig.Link(), "N7:1", 1), ResultFailed);
    rig.Link().SetPortOpen(false);
    rig.Link().SetPortOpen(true);
    EXPECT_EQ(rig.Link().CommBusy().ToInt16(), False);
    VariantArray v = Doubles(1);
    for (int i = 0; i < 2; ++i) {
      const std::int64_t start = rig.Now();
      EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk) << rig.Link().FailureCause();
      EXPECT_EQ(v.Get(1).ToDouble(), 1234);
      EXPECT_LT(rig.Now() - start, 300'000);
    }
    EXPECT_FALSE(rig.State().CancelWait);
  }
}

TEST(DfLinkFaults, SplitRepliesAndCheckBytesOf0x10AreGoodReplies) {
  for (bool bcc : {true, false}) {
    Df1Rig rig(bcc);
    rig.plc.Table().SetWords(7, 0, {321, 654});
    VariantArray v = Doubles(2);
    rig.plc.InjectNext(Df1Fault::Split);
    ASSERT_EQ(Read(rig.Link(), "N7:0", v, 2), ResultOk);
    EXPECT_EQ(v.Get(2).ToDouble(), 654);
    rig.plc.InjectNext(Df1Fault::CheckByte10);
    ASSERT_EQ(Read(rig.Link(), "N7:0", v, 2), ResultOk);
    const std::int32_t forced = rig.plc.ForcedValue();
    EXPECT_EQ(v.Get(1).ToDouble(), forced > 32767 ? forced - 65536 : forced);
    EXPECT_EQ(rig.plc.AcksSeen(), 2);
  }
}

TEST(DfLinkFaults, OneRetryWhenNumOfReadRetriesIsAbove1) {
  Df1Rig rig;
  VariantArray v = Doubles(1);
  rig.plc.InjectNext(Df1Fault::BadCheck);
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultCheckError) << "no retry by default";
  rig.Link().SetNumOfReadRetries(2);
  rig.plc.InjectNext(Df1Fault::BadCheck);
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk);
  rig.plc.InjectNext(Df1Fault::BadCheck);
  rig.plc.InjectNext(Df1Fault::DleNak);
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultDleNak) << "never more than one retry";
  rig.Link().SetNumOfReadRetries(1);
  rig.plc.InjectNext(Df1Fault::BadCheck);
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultCheckError) << "1 is not above 1: no retry";
}

TEST(DfLinkFaults, AWaitingReadThatEndsOn92LeavesNothingPendingForTheCallsAfterIt) {
  Df1Rig rig;
  VariantArray v = Doubles(1);
  rig.plc.InjectNext(Df1Fault::Silent);
  ASSERT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultNoReply);
  EXPECT_FALSE(rig.State().ReadPending);
  ASSERT_EQ(ReadNoWait(rig.Link(), "N7:0", 1), ResultFailed);
  AwaitEvents(rig, 1);
  ASSERT_EQ(rig.events.size(), 1u);
  EXPECT_EQ(rig.Link().CommBusy().ToInt16(), False) << "the non-waiting read's completion freed the driver";
  const std::int64_t start = rig.Now();
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk) << "not 95";
  EXPECT_LT(rig.Now() - start, 100'000);
}

TEST(DfLinkCalls, CommCompleteCarriesTheBufferTheStartAndTheCount) {
  Df1Rig rig;
  rig.plc.Table().SetWords(7, 5, {10, 20, 30});
  ASSERT_EQ(ReadNoWait(rig.Link(), "N7:5", 3), ResultFailed);
  AwaitEvents(rig, 1);
  const std::vector<Variant>& e = rig.events.at(0);
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0].Array().Lower(), 1);
  EXPECT_EQ(e[0].Array().Upper(), 300);
  EXPECT_EQ(e[0].Array().Get(3).ToDouble(), 30);
  EXPECT_EQ(e[1].ToInt32(), 5) << "MStartAdd";
  EXPECT_EQ(e[2].ToInt16(), 3) << "Mquan";
  EXPECT_EQ(e[3].ToString(), "");
  EXPECT_EQ(e[4].ToInt16(), ResultOk);
}

TEST(DfLinkCalls, ReadPlcWhileANonWaitingReadIsOutWaitsThenProceedsOrGivesUp) {
  Df1Rig rig;
  VariantArray v = Doubles(1);
  rig.plc.InjectNext(Df1Fault::Delayed);
  ASSERT_EQ(ReadNoWait(rig.Link(), "N7:0", 1), ResultFailed);
  std::int64_t start = rig.Now();
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk);
  EXPECT_GE(rig.Now() - start, 200'000) << "waited for the first reply";

  rig.plc.InjectNext(Df1Fault::Silent);
  ASSERT_EQ(ReadNoWait(rig.Link(), "N7:0", 1), ResultFailed);
  start = rig.Now();
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultLineBusy);
  EXPECT_NEAR(rig.Now() - start, 710'000 + kReadN70LineMicros, 20'000);
  EXPECT_EQ(rig.Link().FailureCause(), "driver busy: the read of N7:0 held the driver for 0.75 s");
  EXPECT_FALSE(rig.State().Busy);
}

TEST(DfLinkCalls, AWriteDuringAWaitingReadCancelsIt) {
  Df1Rig rig;
  rig.plc.InjectNext(Df1Fault::Delayed);
  std::string a = "N7:1";
  VariantArray w(1, 1, VarType::Double);
  w.Set(1, Variant(9.0));
  Result written = ResultFailed;
  rig.bench.loop.AddTimer(rig.Now() + 50'000, [&] { written = rig.Link().WritePLC(a, w, Opt<std::int16_t>()); });
  VariantArray v = Doubles(1);
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultCancelled);
  EXPECT_EQ(written, ResultOk);
  AwaitEvents(rig, 2);
  EXPECT_EQ(rig.plc.Table().Word(7, 1), 9);
  EXPECT_FALSE(rig.State().Busy) << "the write's reply freed the driver";
  EXPECT_FALSE(rig.State().CancelWait);
  EXPECT_EQ(Read(rig.Link(), "N7:1", v, 1), ResultOk);
}

// A write whose station never answers holds the driver: the first read after it gives up with
// 95, the next gives the write up and sends its own request, which went out after the write and
// is not cancelled by it.
TEST(DfLinkCalls, AReadThatGivesUpAnUnansweredWriteTakesItsReply) {
  Df1Rig rig;
  rig.plc.Table().SetWords(7, 0, {1234});
  for (int i = 0; i < 8; ++i) rig.plc.InjectNext(Df1Fault::Silent);
  ASSERT_EQ(Write(rig.Link(), "N7:1", {9}), ResultOk);
  rig.bench.loop.WaitUntil([] { return false; }, rig.Now() + 50'000);
  rig.plc.ClearInjected();
  VariantArray v = Doubles(1);
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultLineBusy);
  EXPECT_EQ(rig.Link().FailureCause(), "driver busy: the write to N7:1 held the driver for 0.75 s");
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk) << rig.Link().FailureCause();
  EXPECT_EQ(v.Get(1).ToDouble(), 1234);
  EXPECT_FALSE(rig.State().CancelWait);
  EXPECT_FALSE(rig.State().Busy);
  rig.plc.Table().SetWords(7, 0, {4321});
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk) << rig.Link().FailureCause();
  EXPECT_EQ(v.Get(1).ToDouble(), 4321);
}

TEST(DfLinkCalls, AWriteFromTheCompletionOfAWaitingReadLeavesThatReadItsValue) {
  Df1Rig rig;
  rig.plc.Table().SetWords(7, 0, {1234});
  Result written = ResultFailed;
  int completions = 0;
  rig.Link().SetEventSink([&](const std::string&, std::vector<Variant>&) {
    if (++completions == 1) written = Write(rig.Link(), "N7:1", {9});
  });
  VariantArray v = Doubles(1);
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk) << "its reply was complete before the write went out";
  EXPECT_EQ(v.Get(1).ToDouble(), 1234);
  EXPECT_EQ(written, ResultOk);
  EXPECT_TRUE(rig.State().Busy) << "the write holds the driver until its reply";
  rig.bench.loop.WaitUntil([&] { return completions >= 2; }, rig.Now() + 5'000'000);
  EXPECT_EQ(rig.plc.Table().Word(7, 1), 9);
  EXPECT_FALSE(rig.State().Busy) << "the write's reply freed the driver";
  EXPECT_FALSE(rig.State().CancelWait);
}

TEST(DfLinkCalls, CallsThatSendNothingLeaveTheDriverAsTheyFoundIt) {
  Df1Rig rig;
  DfLink& link = rig.Link();
  VariantArray v = Doubles(1);
  EXPECT_EQ(Read(link, "NoSuchTag", v, 1), ResultNoTag);
  EXPECT_EQ(Read(link, "N7:", v, 1), ResultBadAddress);
  EXPECT_EQ(Read(link, "7:0", v, 1), ResultBadAddress);
  EXPECT_EQ(ReadNoWait(link, "NoSuchTag", 1), ResultNoTag);
  EXPECT_EQ(ReadNoWait(link, "N7/", 1), ResultBadAddress);
  EXPECT_EQ(ReadNoWait(link, "N7:0", 200), ResultBadAddress) << "200 words do not fit a byte count";
  EXPECT_EQ(link.FailureCause(),
            "address or count refused: count 200 is beyond this control's limit of 127 for N7:0 (a read carries 255 bytes)");
  EXPECT_EQ(Read(link, "T4:0.ACC", v, 43), ResultBadAddress) << "three words a value: 42 at most";
  std::string empty;
  EXPECT_EQ(link.ReadDevice(empty, Opt<std::int16_t>(), Opt<std::int16_t>()), ResultBadAddress);
  EXPECT_EQ(link.FailureCause(), "address or count refused: no address given");
  EXPECT_EQ(link.CommBusy().ToInt16(), False);
  EXPECT_EQ(rig.bench.port->Sent().size(), 0u);

  // ABReadPLC called directly leaves Busy as it found it, whatever the outcome.
  std::string n70 = "N7:0";
  Variant one;
  EXPECT_EQ(link.ABReadPLC(n70, one, Opt<std::int16_t>(), Opt<std::int16_t>()), ResultOk);
  EXPECT_EQ(link.CommBusy().ToInt16(), False);
  rig.State().Busy = true;
  rig.State().LineFree = true;
  EXPECT_EQ(link.ABReadPLC(n70, one, Opt<std::int16_t>(), Opt<std::int16_t>()), ResultOk);
  EXPECT_EQ(link.CommBusy().ToInt16(), True);
  link.SetCommBusy(Variant(false));
  EXPECT_TRUE(rig.State().LineFree);
}

TEST(DfLinkCalls, ReadPlcValueFailsWithItsOwnCause) {
  Df1Rig rig;
  DfLink& link = rig.Link();
  VariantArray v = Doubles(1);
  ASSERT_EQ(Read(link, "N7:", v, 1), ResultBadAddress);
  const std::string refused = link.FailureCause();
  Variant address(std::string("N7:0")), value;
  EXPECT_EQ(link.ReadPLCValue(address, value, {}, {}, {}), ResultFailed);
  EXPECT_NE(link.FailureCause(), refused) << "the earlier call's cause shown for this one";
  EXPECT_NE(link.FailureCause().find("ReadPLCValue"), std::string::npos) << link.FailureCause();
  ASSERT_EQ(Read(link, "N7:0", v, 1), ResultOk) << link.FailureCause();
  EXPECT_EQ(link.ReadPLCValue(address, value, {}, {}, {}), ResultFailed);
  EXPECT_NE(link.FailureCause().find("ReadPLCValue"), std::string::npos) << "a failure with no cause";
  EXPECT_EQ(rig.bench.port->Sent().size(), 20u) << "ReadPLCValue sends nothing";
}

TEST(DfLinkCalls, ABReadPlcFloatTypeAndScalarReadValues) {
  Df1Rig rig;
  rig.plc.Table().SetWords(8, 0, {0x0000, 0x3FC0});
  rig.plc.Table().SetWords(7, 0, {0x0000, 0x4020});
  std::string f = "F8:0", n = "N7:0";
  Variant value;
  std::int16_t floatType = 0, size = 0;
  ASSERT_EQ(rig.Link().ABReadPLC(f, value, Opt<std::int16_t>(size), Opt<std::int16_t>(floatType)), ResultOk);
  EXPECT_EQ(floatType, True);
  EXPECT_EQ(size, 1) << "ReadSize 0 becomes 1 in the caller's variable";
  EXPECT_EQ(value.ToDouble(), 1.5);
  // FloatType on an N file: the caller gets singles of word pairs, DataBuffer the plain words.
  std::int16_t two = 2;
  VariantArray pair(1, 2);
  Variant values(pair);
  ASSERT_EQ(rig.Link().ABReadPLC(n, values, Opt<std::int16_t>(two), Opt<std::int16_t>(floatType)), ResultOk);
  EXPECT_EQ(values.Array().Get(1).ToDouble(), 2.5);
  std::int16_t i = 2;
  EXPECT_EQ(rig.Link().ReadData(i), 0x4020);
}

TEST(DfLinkCalls, FloatTypeOnAnNFileReadsTheWordsOfEveryPair) {
  // Two singles from N7 take four words: each value is built from words this read brought,
  // never from an older reply's row of the same transaction number.
  Df1Rig rig;
  rig.plc.Table().SetWords(7, 0, {0x0000, 0x4020, 0x0000, 0x3FC0, 0x1111, 0x2222});
  rig.Link().Engine().SetLastTns(5);
  VariantArray six = Doubles(6);
  ASSERT_EQ(Read(rig.Link(), "N7:0", six, 6), ResultOk);  // row 6 now holds these six words
  ASSERT_EQ(Read(rig.Link(), "N7:0", six, 1), ResultOk);  // 7: so that 6 again is no repeat
  rig.plc.Table().SetWords(7, 0, {0x0000, 0x4020, 0x0000, 0xC020});
  rig.Link().Engine().SetLastTns(5);
  std::string n = "N7:0";
  std::int16_t two = 2, floatType = True;
  Variant values{VariantArray(1, 2)};
  ASSERT_EQ(rig.Link().ABReadPLC(n, values, Opt<std::int16_t>(two), Opt<std::int16_t>(floatType)), ResultOk);
  EXPECT_EQ(values.Array().Get(1).ToDouble(), 2.5);
  EXPECT_EQ(values.Array().Get(2).ToDouble(), -2.5) << "not 1.5, the words of the read before";
  std::int16_t i = 2;
  EXPECT_EQ(rig.Link().ReadData(i), 0x4020) << "DataBuffer keeps the plain words";
}

TEST(DfLinkCalls, AnArrayThatLacksAnIndexMakesTheReadReturn0) {
  Df1Rig rig;
  VariantArray small = Doubles(1);
  EXPECT_EQ(Read(rig.Link(), "N7:0", small, 2), ResultFailed);
  EXPECT_EQ(rig.Link().FailureCause(), "not done: ReadValue holds the elements 1..1, not 1..2");
  EXPECT_FALSE(rig.State().Busy);
}

TEST(DfLinkCalls, AValueTheCallersArrayCannotHoldFailsTheReadWithThatReason) {
  Df1Rig rig;
  rig.plc.Table().SetWords(3, 0, {40000});
  VariantArray small(1, 1, VarType::Int16);
  EXPECT_EQ(Read(rig.Link(), "B3:0", small, 1), ResultFailed);
  EXPECT_EQ(rig.Link().FailureCause(), "not done: element 1 of ReadValue cannot hold the value 40000 read (Overflow)");
}

// A read that fails as its values are handed over leaves the caller's array as it was: an
// Integer array took B3:0's 5 before B3:1's 40000 did not fit, and a variant array one short
// took the value it had room for, while the read returned 0.
TEST(DfLinkCalls, AReadWhoseValuesDoNotFitReadValueLeavesItAsItWas) {
  Df1Rig rig;
  rig.plc.Table().SetWords(3, 0, {5, 40000, 7});
  VariantArray integers(1, 3, VarType::Int16);
  for (std::int32_t i = 1; i <= 3; ++i) integers.Set(i, Variant(std::int16_t{-7}));
  EXPECT_EQ(Read(rig.Link(), "B3:0", integers, 3), ResultFailed);
  EXPECT_EQ(rig.Link().FailureCause(), "not done: element 2 of ReadValue cannot hold the value 40000 read (Overflow)");
  for (std::int32_t i = 1; i <= 3; ++i) EXPECT_EQ(integers.Get(i).ToInt32(), -7) << "element " << i;
  std::string b3 = "B3:0";
  std::int16_t three = 3, floatType = False;
  Variant shortOne{VariantArray(1, 2)};
  EXPECT_EQ(rig.Link().ABReadPLC(b3, shortOne, Opt<std::int16_t>(three), Opt<std::int16_t>(floatType)), ResultFailed);
  EXPECT_EQ(rig.Link().FailureCause(), "not done: ReadValue holds the elements 1..2, not 1..3");
  EXPECT_TRUE(shortOne.Array().Get(1).IsEmpty());
  EXPECT_TRUE(shortOne.Array().Get(2).IsEmpty());
  // Values that fit are handed over.
  rig.plc.Table().SetWords(3, 0, {5, 32767, 7});
  ASSERT_EQ(Read(rig.Link(), "B3:0", integers, 3), ResultOk) << rig.Link().FailureCause();
  EXPECT_EQ(integers.Get(1).ToInt32(), 5);
  EXPECT_EQ(integers.Get(2).ToInt32(), 32767);
}

TEST(DfLinkCalls, ABitReadFitsTheCallersIntegerWhateverTheRestOfItsWordHolds) {
  // T4:0 enabled and done: its control word 0xE000 is beyond an Integer, its DN bit is not.
  Df1Rig rig;
  rig.plc.Table().SetWords(4, 0, {0xE000, 100, 100});
  rig.plc.Table().SetWords(3, 0, {0xFF02});
  VariantArray integers(1, 1, VarType::Int16);
  ASSERT_EQ(Read(rig.Link(), "T4:0/DN", integers, 1), ResultOk) << rig.Link().FailureCause();
  EXPECT_EQ(integers.Get(1).ToDouble(), 1);
  EXPECT_EQ(Read(rig.Link(), "T4:0.DN", integers, 1), ResultOk);
  EXPECT_EQ(integers.Get(1).ToDouble(), 1);
  // The bit is taken once: bit 1 of 0xFF02 is 1, and stays 1.
  Variant bytes{VariantArray(1, 1, VarType::Byte)};
  Variant b30("B3:0/1");
  ASSERT_EQ(rig.Link().ReadPLCV(b30, bytes, Opt<std::int16_t>(std::int16_t{1})), ResultOk);
  EXPECT_EQ(bytes.Array().Get(1).ToDouble(), 1);
  Variant scalar;
  ASSERT_EQ(rig.Link().ReadPLCV(b30, scalar, Opt<std::int16_t>(std::int16_t{1})), ResultOk);
  EXPECT_EQ(scalar.ToDouble(), 1);
  std::int16_t i = 1;
  EXPECT_EQ(rig.Link().ReadData(i), 1);
}

TEST(DfLinkCalls, AnOmittedFloatTypeStillMakesAnFFileReadSingles) {
  // The call writes True into FloatType for an F file and reads it back to decode: left out,
  // the argument keeps that value for the rest of the call.
  Df1Rig rig;
  rig.plc.Table().SetWords(8, 0, {0x0000, 0x3FC0});
  std::string f = "F8:0";
  Variant value;
  ASSERT_EQ(rig.Link().ABReadPLC(f, value, Opt<std::int16_t>(), Opt<std::int16_t>()), ResultOk);
  EXPECT_EQ(value.ToDouble(), 1.5) << "not the low word 0";
  std::int16_t i = 1;
  EXPECT_EQ(rig.Link().ReadData(i), 1.5);
}

// ABReadPLC called while a non-waiting read is out takes the line once that read is answered;
// the driver is free after it, not held for a read that is over.
TEST(DfLinkCalls, ABReadPlcAfterANonWaitingReadLeavesTheDriverFreeOnceBothAreDone) {
  Df1Rig rig;
  rig.plc.InjectNext(Df1Fault::Delayed);
  ASSERT_EQ(ReadNoWait(rig.Link(), "N7:0", 1), ResultFailed);
  std::string a = "N7:1";
  Variant value;
  ASSERT_EQ(rig.Link().ABReadPLC(a, value, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>(std::int16_t{0})),
            ResultOk);
  ASSERT_EQ(rig.events.size(), 2u) << "the non-waiting read's completion came while ABReadPLC waited";
  EXPECT_EQ(rig.Link().CommBusy().ToInt16(), False);
  VariantArray v = Doubles(1);
  const std::int64_t start = rig.Now();
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk) << "not 95";
  EXPECT_LT(rig.Now() - start, 100'000);
}

TEST(DfLinkShared, TwoInstancesShareTheTransactionCounterButNotTheirAddress) {
  Df1Rig rig;
  auto second = rig.bench.Make();
  MemorySerialPort* secondPort = rig.bench.port;
  rig.Attach(*second, *secondPort, false);
  rig.Link().SetAddress(Variant(std::int32_t{5}));
  ASSERT_EQ(ReadNoWait(*second, "N7:0", 1), ResultFailed);
  AwaitEvents(rig, 1);
  const Bytes& sent = secondPort->Sent();
  ASSERT_GE(sent.size(), 8u);
  EXPECT_EQ(sent[2], 1) << "DST from its own Address, not the other instance's";
  EXPECT_EQ(sent[6], 1) << "TNS";
  rig.bench.link->Initialize();  // the flags are the thread's, not the control's
  VariantArray v = Doubles(1);
  rig.Link().Engine().SetLastTns(20);
  ASSERT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk);
  EXPECT_EQ(rig.State().TnsCounter, 21) << "the last number sent on the thread, from this line's own sequence";
  ASSERT_EQ(ReadNoWait(*second, "N7:0", 1), ResultFailed);
  AwaitEvents(rig, 2);
  EXPECT_EQ(rig.State().TnsCounter, 2) << "each line runs its own sequence";
}

// Two controls, each on its own line to its own station behind a DF1 bridge (which refuses a
// request for any other station): each request goes with its own control's properties, in
// whatever order the two were set or loaded.
TEST(DfLinkShared, EachControlSendsWithItsOwnAddressNodeModeAndPLCType) {
  sim::Df1SimSettings one;
  one.station = 1;
  Df1Rig rig(one);
  rig.plc.Table().SetWords(7, 0, {111});
  MemorySerialPort& firstPort = *rig.bench.port;
  auto second = rig.bench.Make();
  MemorySerialPort& secondPort = *rig.bench.port;
  sim::Df1SimSettings five{true};
  five.station = 5;
  sim::Df1SimPlc& fifth = rig.AttachOwnPlc(*second, secondPort, five).plc;
  fifth.Table().SetWords(7, 0, {555});
  DfLink& first = rig.Link();
  first.SetAddress(Variant(std::int32_t{1}));
  second->SetNode(Variant(std::int32_t{7}));
  second->SetAddress(Variant(std::int32_t{5}));  // set last, on the BCC control

  // DST, SRC and the function of each control's next request, and the value it read.
  struct Sent {
    int dst, src, function;
    double value;
  };
  auto readOn = [&](DfLink& link, MemorySerialPort& port) {
    port.TakeSent();
    VariantArray v = Doubles(1);
    EXPECT_EQ(Read(link, "N7:0", v, 1), ResultOk) << link.FailureCause();
    const Bytes& b = port.Sent();
    return b.size() < 9 ? Sent{-1, -1, -1, 0} : Sent{b[2], b[3], b[8], v.Get(1).ToDouble()};
  };
  auto expect = [](const Sent& got, Sent want, const char* when) {
    EXPECT_EQ(got.dst, want.dst) << when;
    EXPECT_EQ(got.src, want.src) << when;
    EXPECT_EQ(got.function, want.function) << when;
    EXPECT_EQ(got.value, want.value) << when;
  };
  expect(readOn(first, firstPort), {1, 0, 0xA2, 111}, "CRC, station 1, after the other's properties");
  expect(readOn(*second, secondPort), {5, 7, 0xA2, 555}, "BCC, station 5");

  // The first control loaded afterwards, as a PLC5: the second's requests stay as they were.
  MemoryPropertyBag bag;
  bag.WriteProperty("Mode", Variant(std::int16_t{2}), Variant(std::int16_t{2}));
  bag.WriteProperty("PLCType", Variant(std::int32_t{df1::EnPLC5}), Variant(std::int32_t{1}));
  bag.WriteProperty("Address", Variant(std::int32_t{1}), Variant(std::int32_t{1}));
  bag.WriteProperty("Node", Variant(std::int32_t{3}), Variant(std::int32_t{1}));
  first.SetPortOpen(false);
  first.ReadProperties(bag);
  first.SetPortOpen(true);
  EXPECT_THROW(first.SetAddress(Variant(std::int32_t{70000})), RuntimeError) << "stored, then overflow";
  expect(readOn(*second, secondPort), {5, 7, 0xA2, 555}, "after the other was loaded");
  expect(readOn(first, firstPort), {1, 3, 0x01, 111}, "PLC5 word-range read, its 16-bit copy kept");

  // The bridge refuses a request for a station that is not there, so a wrong DST cannot pass.
  second->SetAddress(Variant(std::int32_t{9}));
  VariantArray v = Doubles(1);
  EXPECT_EQ(Read(*second, "N7:0", v, 1), ResultStatusError);
  EXPECT_NE(second->FailureCause().find("STS 30h"), std::string::npos) << second->FailureCause();
  EXPECT_EQ(fifth.Counts().otherStations, 1);
  EXPECT_EQ(rig.plc.Counts().otherStations, 0);
  EXPECT_EQ(rig.plc.Counts().badChecks + fifth.Counts().badChecks, 0);
}

TEST(DfLinkShared, TransactionNumbersRoundAfter49) {
  Df1Rig rig;
  rig.Link().Engine().SetLastTns(48);
  VariantArray v = Doubles(1);
  std::vector<int> tns;
  for (int i = 0; i < 3; ++i) {
    rig.bench.port->TakeSent();
    ASSERT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk);
    tns.push_back(rig.bench.port->Sent().at(6));
  }
  EXPECT_EQ(tns, std::vector<int>({49, 1, 2}));
}

TEST(DfLinkWatchdog, FreesADriverHeldByALostReplyAndCommBusyFalseFreesItAtOnce) {
  Df1Rig rig;
  rig.Link().Timer2().SetEnabled(true);
  rig.plc.InjectNext(Df1Fault::Silent);
  ASSERT_EQ(ReadNoWait(rig.Link(), "N7:0", 1), ResultFailed);
  EXPECT_EQ(rig.Link().CommBusy().ToInt16(), True);
  rig.bench.loop.RunFor(2'900'000);
  EXPECT_EQ(rig.Link().CommBusy().ToInt16(), True) << "the first tick comes at 3 s";
  rig.bench.loop.RunFor(200'000);
  EXPECT_EQ(rig.Link().CommBusy().ToInt16(), False);
  EXPECT_TRUE(rig.State().LineFree);

  rig.plc.InjectNext(Df1Fault::Silent);
  ASSERT_EQ(ReadNoWait(rig.Link(), "N7:0", 1), ResultFailed);
  rig.Link().SetCommBusy(Variant(false));
  VariantArray v = Doubles(1);
  const std::int64_t start = rig.Now();
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk);
  EXPECT_LT(rig.Now() - start, 100'000);
}

// A write whose station never answers, freed by the host: the next read goes out at once and
// takes its own reply, not cancelled by that write.
TEST(DfLinkWatchdog, CommBusyFalseAfterAnUnansweredWriteLetsTheNextReadTakeItsReply) {
  Df1Rig rig;
  rig.plc.Table().SetWords(7, 0, {1234});
  rig.plc.InjectNext(Df1Fault::Silent);
  ASSERT_EQ(Write(rig.Link(), "N7:1", {9}), ResultOk);
  rig.Link().SetCommBusy(Variant(false));
  VariantArray v = Doubles(1);
  const std::int64_t start = rig.Now();
  EXPECT_EQ(Read(rig.Link(), "N7:0", v, 1), ResultOk) << rig.Link().FailureCause();
  EXPECT_EQ(v.Get(1).ToDouble(), 1234);
  EXPECT_LT(rig.Now() - start, 300'000);
  EXPECT_FALSE(rig.State().CancelWait);
  EXPECT_EQ(rig.Link().CommBusy().ToInt16(), False);
}

TEST(DfLinkWatchdog, InsideCommCompleteTheLineIsStillHeld) {
  Df1Rig rig;
  Result inner = 0;
  bool lineFreeInside = true;
  rig.Link().SetEventSink([&](const std::string&, std::vector<Variant>&) {
    lineFreeInside = rig.State().LineFree;
    VariantArray v = Doubles(1);
    inner = Read(rig.Link(), "N7:0", v, 1);
  });
  ASSERT_EQ(ReadNoWait(rig.Link(), "N7:0", 1), ResultFailed);
  rig.bench.loop.RunFor(2'000'000);
  EXPECT_FALSE(lineFreeInside);
  EXPECT_EQ(inner, ResultLineBusy);
}

}  // namespace
}  // namespace plc
