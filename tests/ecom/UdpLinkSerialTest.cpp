// UdpLink in its serial modes on a real tty line against the DirectNET station simulator: the
// header address taken as it stands, word and set/reset writes, waiting and non-waiting reads
// sharing CcmWords, and the faults (a silent station, a read during a write), each ending in
// bounded time with the next transaction working.
#include <gtest/gtest.h>

#include <chrono>

#include "base/Enums.h"
#include "frame/TagDatabase.h"
#include "ecom/EcomLinkState.h"
#include "ecom/UdpLink.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "tests/support/LineTiming.h"
#include "tests/support/OpenOnLine.h"
#include "tests/support/Pty.h"
#include "tests/ecom/FakeHeiPas.h"
#include "tests/support/VanishingStationLine.h"
#include "tools/plcsim/DirectNetSimulator.h"

namespace plc {
namespace {

constexpr int kCommPort = 23;
constexpr std::uint32_t kCBits = 0x4180;  // where a set/reset at F000h + n lands in the station

using Clock = std::chrono::steady_clock;
using test::SecondsSince;

class UdpLinkSerial : public testing::Test {
 protected:
  UdpLinkSerial() {
    ecom::EcomLink().Reset();
    Tags().Clear();
    link_ = std::make_unique<UdpLink>();
    test::OpenOnLine<UdpLink>(*link_, host_, kCommPort, "9600,n,8,1", [](UdpLink& l) { l.SetCommMode(udp::KSeq); });
    link_->SetEventSink([this](const std::string& name, std::vector<Variant>&) {
      if (name == "CommComplete") ++completions_;
    });
  }
  ~UdpLinkSerial() override {
    link_->SetPortOpen(false);
    link_.reset();
    ecom::EcomLink().Reset();
    Tags().Clear();
  }

  Result Read(Variant address, Variant& value, std::int16_t size = 1, std::int16_t io = 0) {
    Variant n(size);
    return link_->ReadPLC(address, value, Opt<Variant>(n), Opt<std::int16_t>(io), Opt<std::int32_t>());
  }
  Result ReadNW(Variant address, std::int16_t size) {
    Variant unused, n(size);
    return link_->ReadPLCNW(address, unused, Opt<Variant>(n), Opt<std::int16_t>());
  }
  Result Write(Variant address, Variant value, std::int16_t size = 1, std::int16_t* io = nullptr) {
    std::int16_t ioType = io ? *io : 0;
    const Result r = link_->WritePLC(address, value, Opt<std::int16_t>(size), ioType, Opt<std::int32_t>());
    if (io) *io = ioType;
    return r;
  }
  Result WriteBit(Variant address, std::int32_t value) {
    Variant v(value);
    return link_->WritePLCBit(address, v, Opt<std::int16_t>(), Opt<std::int16_t>(), Opt<std::int32_t>());
  }
  Variant Data(std::int16_t idx) { return link_->ReadData(idx); }
  bool AwaitCompletion(int count) { return test::AwaitCount(completions_, count); }
  void ExpectTimedFailure(Result result, Clock::time_point t0) { test::ExpectTimedFailure(*link_, result, t0); }

  test::PtyLink line_;
  test::ScopedCommPort mapping_{kCommPort, line_.PathA()};
  sim::DirectNetSimulator station_{{line_.PathB(), {1, 5}}};
  StandaloneHost host_;
  std::unique_ptr<UdpLink> link_;
  int completions_ = 0;
};

TEST_F(UdpLinkSerial, HeaderAddressesAsTheyStandWaitingAndNotWaiting) {
  // No ECOM open ever happened: a serial read is not refused with 301.
  ASSERT_FALSE(link_->EcomOpen());
  // A number, digits as text and a tag holding a number all name that header address itself,
  // with no octal reading (2000 is not V2000 = 400h).
  ASSERT_TRUE(Tags().AddTag(1, Variant("Tank"), Variant(std::int32_t{1030})));
  ASSERT_EQ(Write(Variant(std::int32_t{2000}), Variant(std::int32_t{40001})), ResultOk);
  ASSERT_EQ(Write(Variant(" 2001 "), Variant(std::int32_t{65534})), ResultOk);
  ASSERT_EQ(Write(Variant("Tank"), Variant(std::int32_t{7})), ResultOk);
  EXPECT_EQ(station_.Word(1, 2000), 40001);
  EXPECT_EQ(station_.Word(1, 2001), 0xFFFE);
  EXPECT_EQ(station_.Word(1, 1030), 7);
  EXPECT_EQ(station_.Word(1, 0x0400), 0);
  // A tag is looked up by its whole name before a "b" in it could mark a set/reset.
  ASSERT_TRUE(Tags().AddTag(2, Variant("Boiler"), Variant(std::int32_t{1040})));
  EXPECT_EQ(Write(Variant("Boiler"), Variant(std::int32_t{7})), ResultOk);
  EXPECT_EQ(station_.Word(1, 1040), 7);

  Variant two(VariantArray(1, 2));
  ASSERT_EQ(Read(Variant("2000"), two, 2), ResultOk);
  EXPECT_EQ(two.Array().Get(1).ToInt32(), 40001);
  EXPECT_EQ(two.Array().Get(2).ToInt32(), 0xFFFE);
  Variant one;
  ASSERT_EQ(Read(Variant("tank"), one), ResultOk);
  EXPECT_EQ(one.ToInt32(), 7);

  // ioFloat: two words per value both ways, written as the host gives them (whole part, then
  // ten-thousandths); a BCD type gives the word itself (no hex text).
  std::int16_t fixedPoint = 2;
  VariantArray pair(1, 2);
  pair.Set(1, Variant(std::int32_t{12}));
  pair.Set(2, Variant(std::int32_t{3456}));
  ASSERT_EQ(Write(Variant("Tank"), Variant(pair), 1, &fixedPoint), ResultOk);
  EXPECT_EQ(station_.Word(1, 1030), 12);
  EXPECT_EQ(station_.Word(1, 1031), 3456);
  ASSERT_EQ(Read(Variant(std::int32_t{1030}), one, 1, 2), ResultOk);
  EXPECT_DOUBLE_EQ(one.ToDouble(), 12.3456);
  ASSERT_EQ(Read(Variant(std::int32_t{1030}), one, 1, 5), ResultOk);
  EXPECT_EQ(one, Variant(std::int32_t{12}));

  // The Address property is the station.
  link_->SetAddress(5);
  ASSERT_EQ(Write(Variant(std::int32_t{2000}), Variant(std::int32_t{555})), ResultOk);
  EXPECT_EQ(station_.Word(5, 2000), 555);
  EXPECT_EQ(station_.Word(1, 2000), 40001);
  link_->SetAddress(1);

  // Non-waiting: back at once, the words in ReadData before CommComplete, unconverted.
  const int before = completions_;
  ASSERT_EQ(ReadNW(Variant(std::int32_t{2000}), 2), ResultOk);
  EXPECT_TRUE(link_->CommBusy().ToBool());
  ASSERT_TRUE(AwaitCompletion(before + 1));
  EXPECT_EQ(Data(1).ToInt32(), 40001);
  EXPECT_EQ(Data(2).ToInt32(), 0xFFFE);
  EXPECT_FALSE(link_->CommBusy().ToBool());
}

TEST_F(UdpLinkSerial, SetResetWritesAndAddressesThisPathDoesNotTake) {
  // WritePLCBit, and WritePLC with a "b" (cut there, IOType 1): the set/reset header.
  ASSERT_EQ(WriteBit(Variant(std::int32_t{0xF003}), 1), ResultOk);
  EXPECT_EQ(station_.Word(1, kCBits), 0x0008);
  std::int16_t io = 0;
  ASSERT_EQ(Write(Variant("61444b"), Variant(std::int32_t{1}), 1, &io), ResultOk);
  EXPECT_EQ(io, 1);
  EXPECT_EQ(station_.Word(1, kCBits), 0x0018);
  ASSERT_EQ(WriteBit(Variant("61443"), 0), ResultOk);
  EXPECT_EQ(station_.Word(1, kCBits), 0x0010);
  // A numeric address makes a word write even when the caller said IOType 1.
  io = 1;
  ASSERT_EQ(Write(Variant(std::int32_t{2003}), Variant(std::int32_t{9}), 1, &io), ResultOk);
  EXPECT_EQ(io, 0);
  EXPECT_EQ(station_.Word(1, 2003), 9);
  io = 1;
  ASSERT_EQ(Write(Variant("2003"), Variant(std::int32_t{10}), 1, &io), ResultOk) << "digits as text too";
  EXPECT_EQ(io, 0);
  EXPECT_EQ(station_.Word(1, 2003), 10);
  EXPECT_EQ(station_.Word(1, kCBits), 0x0010);

  // Address strings, unknown tags, numbers no header carries and values no word holds: 0 with
  // no traffic, and the write flags cleared.
  const int enquiries = station_.Enquiries();
  Variant value;
  for (const char* bad : {"V,2000", "1;2000", "X,0", "NoSuchTag", "65536", "-1", ""})
    EXPECT_EQ(Read(Variant(bad), value), ResultFailed) << bad;
  EXPECT_EQ(Write(Variant(std::int32_t{2000}), Variant(std::int32_t{65536})), ResultFailed);
  EXPECT_EQ(Write(Variant(std::int32_t{2000}), Variant(2.5)), ResultFailed);
  EXPECT_EQ(Write(Variant(std::int32_t{2000}), Variant(std::int32_t{1}), 3), ResultFailed) << "one value for three";
  EXPECT_EQ(ReadNW(Variant("V,2000"), 1), ResultFailed);
  EXPECT_EQ(station_.Enquiries(), enquiries);
  EXPECT_FALSE(link_->CommBusy().ToBool());
}

// A set/reset names one point: WriteSize 3 with three values went out as the first point alone
// and was reported written.
TEST_F(UdpLinkSerial, ASetOrResetOfSeveralPointsIsRefused) {
  VariantArray ones(1, 3);
  for (int k = 1; k <= 3; ++k) ones.Set(k, Variant(std::int32_t{1}));
  const long enquiries = station_.Enquiries();
  EXPECT_EQ(Write(Variant("61443b"), Variant(ones), 3), ResultFailed);
  EXPECT_EQ(link_->FailureCause(),
            "WriteSize 3 asks for 3 points from F003h (C3), and a set or reset writes one point: write them one at a "
            "time");
  EXPECT_EQ(link_->ReadErrors(), Variant(link_->FailureCause()));
  Variant a(std::int32_t{0xF003}), v(ones);
  EXPECT_EQ(link_->WritePLCBit(a, v, Opt<std::int16_t>(std::int16_t{2}), Opt<std::int16_t>(), Opt<std::int32_t>()),
            ResultFailed);
  EXPECT_EQ(station_.Enquiries(), enquiries);
  EXPECT_EQ(station_.Word(1, kCBits), 0);
  ASSERT_EQ(Write(Variant("61443b"), Variant(ones), 1), ResultOk) << "one point";
  EXPECT_EQ(station_.Word(1, kCBits), 0x0008);
}

// A set/reset takes 1 or True and 0 or False, nothing else (True reset the point before); a
// name with a "b" in it that is no tag is refused as that, not cut at its "b".
TEST_F(UdpLinkSerial, SetResetTakesOneOrTrueAndZeroOrFalseOnly) {
  auto setReset = [&](Variant value) {
    Variant a(std::int32_t{0xF003});
    return link_->WritePLCBit(a, value, Opt<std::int16_t>(), Opt<std::int16_t>(), Opt<std::int32_t>());
  };
  ASSERT_EQ(setReset(Variant(true)), ResultOk);
  EXPECT_EQ(station_.Word(1, kCBits), 0x0008);
  ASSERT_EQ(setReset(Variant(false)), ResultOk);
  EXPECT_EQ(station_.Word(1, kCBits), 0x0000);
  ASSERT_EQ(Write(Variant("61443b"), Variant(true)), ResultOk);
  EXPECT_EQ(station_.Word(1, kCBits), 0x0008);
  const long enquiries = station_.Enquiries();
  for (const Variant& value : {Variant(std::int32_t{-1}), Variant("on"), Variant(std::int32_t{2})}) {
    EXPECT_EQ(setReset(value), ResultFailed);
    EXPECT_EQ(link_->FailureCause(), "value " + value.ToString() +
                                         " is neither 1 (or True), which sets the point, nor 0 (or False), which "
                                         "resets it");
  }
  EXPECT_EQ(Write(Variant("Tumbler"), Variant(std::int32_t{1})), ResultFailed);
  EXPECT_EQ(link_->FailureCause().rfind("address 'Tumbler' not understood: no tag of that name", 0), 0u)
      << link_->FailureCause();
  EXPECT_EQ(Write(Variant("Tumb"), Variant(std::int32_t{1})), ResultFailed);
  EXPECT_EQ(link_->FailureCause().rfind("address 'Tumb' not understood: no tag of that name", 0), 0u)
      << link_->FailureCause();
  EXPECT_EQ(station_.Word(1, kCBits), 0x0008);
  EXPECT_EQ(station_.Enquiries(), enquiries);
}

// Writes the station could only get wrong, and values no data word holds, are refused before
// anything is sent, each with its cause; the refused write asks are in ReadErrors too.
TEST_F(UdpLinkSerial, WritesTheStationCannotTakeAreRefusedWithTheirCause) {
  station_.SetWord(1, 1024, 4660);
  const sim::StationImage before = station_.Image(1);
  const long enquiries = station_.Enquiries();
  EXPECT_EQ(WriteBit(Variant(std::int32_t{0x4140}), 1), ResultFailed) << "eight Y points, no bit among them";
  EXPECT_EQ(link_->FailureCause(),
            "a set or reset reaches only C points, header addresses F000h to F3FFh; 4140h is none (its header would "
            "name no bit)");
  EXPECT_EQ(link_->ReadErrors(), Variant(link_->FailureCause()));
  EXPECT_EQ(Write(Variant("1024b"), Variant(std::int32_t{1})), ResultFailed) << "a set/reset of V2000";
  std::int16_t io = 0;
  EXPECT_EQ(Write(Variant("1024b3"), Variant(std::int32_t{1}), 1, &io), ResultFailed);
  EXPECT_EQ(io, 1);
  EXPECT_EQ(link_->FailureCause().rfind("'1024b3' names bit 3 of a word, which this line cannot write alone", 0), 0u);
  EXPECT_EQ(Write(Variant(std::int32_t{1024}), Variant(std::int32_t{-1})), ResultFailed);
  EXPECT_EQ(link_->FailureCause(), "value -1 is outside 0..65535, the values a data word holds");
  EXPECT_EQ(Write(Variant(std::int32_t{1024}), Variant(12.5)), ResultFailed);
  EXPECT_EQ(link_->FailureCause(), "value 12.5 is not a whole number (a data word holds 0..65535)");
  std::int16_t fixedPoint = ioFloat;
  EXPECT_EQ(Write(Variant(std::int32_t{1024}), Variant(12.3456), 1, &fixedPoint), ResultFailed)
      << "an ioFloat value goes as its two words, which the host gives";
  EXPECT_EQ(station_.Image(1), before);
  EXPECT_EQ(station_.Enquiries(), enquiries);
  EXPECT_FALSE(link_->CommBusy().ToBool());
  ASSERT_EQ(Write(Variant(std::int32_t{1024}), Variant(std::int32_t{1})), ResultOk);
  EXPECT_EQ(link_->FailureCause(), "");
}

// ReadData shows the word array itself, so a reply that failed its LRC check (bytes the line
// may have spoilt) never reaches it: the words of the last read that passed stay.
TEST_F(UdpLinkSerial, EachControlReadsAndWritesItsOwnStation) {
  // The line carries stations 1 and 5; this control's Address is 1. Another UdpLink of the
  // thread, on no line at all, takes Address 5: this control still talks to station 1.
  ASSERT_TRUE(station_.SetWord(1, 2000, 111));
  ASSERT_TRUE(station_.SetWord(5, 2000, 555));
  UdpLink other;
  other.SetHost(&host_);
  other.Initialize();
  other.InitProperties();
  other.SetAddress(5);

  Variant value;
  ASSERT_EQ(Read(Variant("2000"), value), ResultOk);
  EXPECT_EQ(value.ToInt32(), 111);
  ASSERT_EQ(ReadNW(Variant("2000"), 1), ResultOk);
  ASSERT_TRUE(AwaitCompletion(1));
  EXPECT_EQ(Data(1).ToInt32(), 111);
  ASSERT_EQ(Write(Variant("2001"), Variant(std::int32_t{42})), ResultOk);
  EXPECT_EQ(station_.Word(1, 2001), 42);
  EXPECT_EQ(station_.Word(5, 2001), 0);
}

TEST_F(UdpLinkSerial, WordsOfAReplyThatFailedItsCheckNeverReachReadData) {
  ASSERT_TRUE(station_.SetWord(1, 2000, 40001));
  Variant value;
  ASSERT_EQ(Read(Variant(std::int32_t{2000}), value), ResultOk);
  ASSERT_EQ(Data(1).ToInt32(), 40001);
  ASSERT_TRUE(station_.SetWord(1, 2000, 5));
  station_.SetFault(sim::StationFault::BadLrc);
  value = Variant(std::int32_t{-7});
  const auto t0 = Clock::now();
  ExpectTimedFailure(Read(Variant(std::int32_t{2000}), value), t0);
  EXPECT_EQ(link_->FailureCause(), "the read reply of station 1 failed its LRC check");
  EXPECT_EQ(value.ToInt32(), -7);
  EXPECT_EQ(Data(1).ToInt32(), 40001);
  const int before = completions_;
  ASSERT_EQ(ReadNW(Variant(std::int32_t{2000}), 1), ResultOk);
  EventLoop& loop = EventLoop::Current();
  EXPECT_TRUE(loop.WaitUntil([&] { return !link_->CommBusy().ToBool(); }, loop.Now() + 4'500'000));
  EXPECT_EQ(Data(1).ToInt32(), 40001);
  EXPECT_EQ(completions_, before);

  station_.SetFault(sim::StationFault::None);
  ASSERT_EQ(Read(Variant(std::int32_t{2000}), value), ResultOk);
  EXPECT_EQ(Data(1).ToInt32(), 5);
}

// A non-waiting read has no event for its failure: its cause is left in FailureCause once the
// station refused it or the watchdog ended it, and no CommComplete comes.
TEST_F(UdpLinkSerial, AFailedNonWaitingReadLeavesItsCause) {
  ASSERT_TRUE(station_.SetWord(1, 2000, 321));
  EventLoop& loop = EventLoop::Current();
  const std::pair<sim::StationFault, std::string> cases[] = {
      {sim::StationFault::Nak, "station 1 answered the enquiry with NAK"},
      {sim::StationFault::BadLrc, "the read reply of station 1 failed its LRC check"},
      {sim::StationFault::NoAnswer, "no answer to the enquiry from station 1 within 2 s"},
  };
  for (const auto& [fault, cause] : cases) {
    SCOPED_TRACE(cause);
    station_.SetFault(fault);
    const int before = completions_;
    ASSERT_EQ(ReadNW(Variant(std::int32_t{2000}), 1), ResultOk);
    EXPECT_TRUE(loop.WaitUntil([&] { return !link_->CommBusy().ToBool(); }, loop.Now() + 4'500'000));
    EXPECT_EQ(link_->FailureCause(), cause);
    EXPECT_EQ(completions_, before);
  }
  station_.SetFault(sim::StationFault::None);
  ASSERT_EQ(ReadNW(Variant(std::int32_t{2000}), 1), ResultOk);
  EXPECT_TRUE(AwaitCompletion(completions_ + 1));
  EXPECT_EQ(Data(1).ToInt32(), 321);
  EXPECT_EQ(link_->FailureCause(), "");
}

// A queued write the scan-write tick runs while the host's non-waiting read is out is the
// control's own: the read's failure is still the host's to find.
TEST_F(UdpLinkSerial, AQueuedWriteBesideAFailedNonWaitingReadLeavesItsCause) {
  EventLoop& loop = EventLoop::Current();
  link_->SetNumOfWriteRetries(1);
  link_->SetScanWriteIOTimerInterval(50);
  link_->SetScanWriteEnable(true);
  station_.SetFault(sim::StationFault::NoAnswer);
  Variant address("2001");
  std::int32_t value = 5;
  link_->ForceData(address, value);
  ASSERT_EQ(ReadNW(Variant(std::int32_t{2000}), 1), ResultOk);
  EXPECT_TRUE(loop.WaitUntil([&] { return !link_->CommBusy().ToBool(); }, loop.Now() + 4'500'000));
  loop.RunFor(300'000);  // the write's tick comes and goes
  // The read's own cause, or the write taking the line from it: either names the station.
  EXPECT_NE(link_->FailureCause().find("station 1"), std::string::npos) << link_->FailureCause();
  EXPECT_EQ(completions_, 0);
}

// CommComplete comes inside a ReadPLC's wait too; a handler that reads again leaves that read its
// own words, and ReadData the handler's, the latest.
TEST_F(UdpLinkSerial, AReadFromTheCommCompleteHandlerLeavesTheWaitingReadItsValues) {
  ASSERT_TRUE(station_.SetWord(1, 2000, 1234));
  ASSERT_TRUE(station_.SetWord(1, 3000, 999));
  int reads = 0;
  Result inner = ResultFailed;
  Variant other;
  link_->SetEventSink([&](const std::string& name, std::vector<Variant>&) {
    if (name != "CommComplete" || reads++ > 0) return;
    inner = Read(Variant(std::int32_t{3000}), other);
  });
  Variant value;
  EXPECT_EQ(Read(Variant(std::int32_t{2000}), value), ResultOk) << link_->FailureCause();
  EXPECT_EQ(value.ToInt32(), 1234);
  EXPECT_EQ(inner, ResultOk);
  EXPECT_EQ(other.ToInt32(), 999);
  EXPECT_EQ(Data(1).ToInt32(), 999);
}

TEST_F(UdpLinkSerial, SilentStationFailsInTimeReadErrorStaysAndTheNextTransactionWorks) {
  station_.SetWord(1, 100, 77);
  station_.SetFault(sim::StationFault::NoAnswer);
  for (int i = 0; i < 3; ++i) {
    Variant value(std::int32_t{-7});
    const auto t0 = Clock::now();
    ExpectTimedFailure(Read(Variant(std::int32_t{100}), value), t0);
    EXPECT_EQ(value.ToInt32(), -7);
  }
  const auto t0 = Clock::now();
  ExpectTimedFailure(Write(Variant(std::int32_t{100}), Variant(std::int32_t{1})), t0);
  // The watchdog (Timer1) counted the time-outs and reports them.
  EventLoop& loop = EventLoop::Current();
  EXPECT_TRUE(loop.WaitUntil([&] { return link_->ReadErrors().ToString() == "Read error"; }, loop.Now() + 3'000'000));

  station_.SetFault(sim::StationFault::None);
  Variant value;
  EXPECT_EQ(Read(Variant(std::int32_t{100}), value), ResultOk);
  EXPECT_EQ(value.ToInt32(), 77);
  // This path keeps the text across a good read; CurrentErrors (the ECOM text) is untouched.
  EXPECT_EQ(link_->ReadErrors().ToString(), "Read error");
  EXPECT_EQ(link_->CurrentErrors(), "");
  EXPECT_EQ(Write(Variant(std::int32_t{100}), Variant(std::int32_t{78})), ResultOk);
  EXPECT_EQ(station_.Word(1, 100), 78);
}

TEST_F(UdpLinkSerial, ReadsDuringAWriteCallAreRefusedAtOnce) {
  // An event handler that runs while the write waits for the station.
  Result waiting = ResultOk, nonWaiting = ResultOk;
  double took = -1;
  bool ran = false;
  EventLoop::Current().Post([&] {
    const auto t0 = Clock::now();
    Variant value;
    waiting = Read(Variant(std::int32_t{300}), value);
    nonWaiting = ReadNW(Variant(std::int32_t{300}), 1);
    took = SecondsSince(t0);
    ran = true;
  });
  const int enquiries = station_.Enquiries();
  ASSERT_EQ(Write(Variant(std::int32_t{300}), Variant(std::int32_t{4})), ResultOk);
  ASSERT_TRUE(ran);
  EXPECT_EQ(waiting, ResultFailed);
  EXPECT_EQ(nonWaiting, ResultFailed);
  EXPECT_LT(took, 0.5);
  EXPECT_EQ(station_.Enquiries(), enquiries + 1) << "only the write reached the station";
  // Once the write call is over, reads run again.
  Variant value;
  EXPECT_EQ(Read(Variant(std::int32_t{300}), value), ResultOk);
  EXPECT_EQ(value.ToInt32(), 4);
}

TEST_F(UdpLinkSerial, AHungReadIsFreedByTheWatchdogInEcomModeAndByCommBusyFalse) {
  station_.SetFault(sim::StationFault::NoAnswer);
  // Left hanging by a change to ECOM mode: the watchdog still frees it. Its 2-second ticks
  // free a read once two whole seconds have turned since the send: at most 4 s after it.
  ASSERT_EQ(ReadNW(Variant(std::int32_t{1}), 1), ResultOk);
  link_->SetCommMode(udp::ECOM);
  EventLoop& loop = EventLoop::Current();
  EXPECT_TRUE(loop.WaitUntil([&] { return !link_->CommBusy().ToBool(); }, loop.Now() + 4'500'000));
  link_->SetCommMode(udp::KSeq);

  const long before = station_.Enquiries();
  ASSERT_EQ(ReadNW(Variant(std::int32_t{1}), 1), ResultOk);
  EXPECT_TRUE(link_->CommBusy().ToBool());
  // The station has taken that enquiry under its fault: cleared before, the fault would let it
  // answer the abandoned enquiry, and its late ACK would meet the next read's.
  EXPECT_TRUE(loop.WaitUntil([&] { return station_.Enquiries() > before; }, loop.Now() + 1'000'000));
  link_->SetCommBusy(Variant(false));
  EXPECT_FALSE(link_->CommBusy().ToBool());
  station_.SetFault(sim::StationFault::None);
  station_.SetWord(1, 1, 11);
  Variant value;
  const auto t0 = Clock::now();
  EXPECT_EQ(Read(Variant(std::int32_t{1}), value), ResultOk) << link_->FailureCause();
  EXPECT_LT(SecondsSince(t0), 1.0);
  EXPECT_EQ(value.ToInt32(), 11);

  // XOR of the characters from the second to the next-to-last.
  std::string header = std::string("\x01") + "AB" + "C" + "\x17";
  EXPECT_EQ(link_->LRCchk(header), std::string(1, static_cast<char>('A' ^ 'B' ^ 'C')));
}

}  // namespace
}  // namespace plc

namespace plc {
namespace {

// The device goes away while open and comes back under the same path: failures with a text,
// no raised error, and the next calls work once it is back.
// ioType 18 walks the bits of the words read; an ioIdx past bit 15 would take them from a word
// this read never asked for (what an earlier read left in CcmWords): refused, nothing sent.
TEST_F(UdpLinkSerial, AnEcomReadDuringTheWaitLeavesTheSerialReadItsOwnWords) {
  // Another UdpLink of the thread reads a module over ECOM while this read waits for the
  // station's EOT, after its words came in: they share the word array.
  auto modules = std::make_shared<ecom::test::FakeModules>();
  modules->ids = {1};
  modules->replyBytes = {0xEF, 0xBE};
  ecom::EcomLink().Loader = ecom::test::FakeLoader(modules);
  StandaloneHost ecomHost;
  UdpLink ecomLink;
  ecomLink.SetHost(&ecomHost);
  ecomLink.InitProperties();
  ecomLink.SetPortOpen(true);
  ASSERT_TRUE(ecomLink.EcomOpen());

  Result ecomResult = ResultFailed;
  Variant ecomValue;
  bool armed = true;
  link_->SetPortOpen(false);
  host_.SetSerialTrace([&](TraceDirection direction, const std::uint8_t* data, std::size_t size, std::int64_t) {
    // The master's ACK of the data block: the station's EOT is still to come.
    if (!armed || direction != TraceDirection::Sent || size != 1 || data[0] != 0x06) return;
    armed = false;
    EventLoop::Current().Post([&] {
      Variant address("V,0");
      ecomResult = ecomLink.ReadPLC(address, ecomValue, {}, {}, {});
    });
  });
  link_->SetPortOpen(true);
  ASSERT_TRUE(station_.SetWord(1, 2000, 1234));
  Variant value;
  EXPECT_EQ(Read(Variant(std::int32_t{2000}), value), ResultOk) << link_->FailureCause();
  EXPECT_FALSE(armed);
  EXPECT_EQ(ecomResult, ResultOk) << ecomLink.FailureCause();
  EXPECT_EQ(ecomValue.ToInt32(), 0xBEEF);
  EXPECT_EQ(value.ToInt32(), 1234) << "the module's word handed over as the station's";
}

TEST_F(UdpLinkSerial, ABitIndexPastTheWordIsRefused) {
  ASSERT_TRUE(station_.SetWord(1, 2000, 0x0000));
  ASSERT_TRUE(station_.SetWord(1, 2001, 0xFFFF));
  Variant two(VariantArray(1, 2));
  ASSERT_EQ(Read(Variant(std::int32_t{2000}), two, 2), ResultOk);
  const long enquiries = station_.Enquiries();
  Variant address(std::int32_t{2000}), value(std::int32_t{-1}), n(std::int16_t{1});
  std::int16_t bits = 18;
  std::int32_t bit = 17;
  EXPECT_EQ(link_->ReadPLC(address, value, Opt<Variant>(n), Opt<std::int16_t>(bits), Opt<std::int32_t>(bit)),
            ResultFailed);
  EXPECT_EQ(value.ToInt32(), -1);
  EXPECT_EQ(link_->FailureCause(), "ioIdx 17 names no bit of a 16-bit word (0 to 15)");
  EXPECT_EQ(station_.Enquiries(), enquiries);
  bit = 3;
  ASSERT_TRUE(station_.SetWord(1, 2000, 0x0008));
  ASSERT_EQ(link_->ReadPLC(address, value, Opt<Variant>(n), Opt<std::int16_t>(bits), Opt<std::int32_t>(bit)), ResultOk);
  EXPECT_EQ(value, Variant(std::int32_t{1}));
}

TEST(UdpLinkSerialVanishedDevice, FailsWithATextAndRecoversWhenTheDeviceReturns) {
  ecom::EcomLink().Reset();
  test::VanishingStationLine line({1});
  line.WithStation([](sim::DirectNetStation& s) { return s.SetWord(1, 100, 66); });
  test::ScopedCommPort mapping(kCommPort, line.Path());
  StandaloneHost host;
  UdpLink link;
  test::OpenOnLine<UdpLink>(link, host, kCommPort, "9600,n,8,1", [](UdpLink& l) { l.SetCommMode(udp::DIrectNet); });
  auto read = [&](Variant& value) {
    Variant a(std::int32_t{100}), n(std::int16_t{1});
    return link.ReadPLC(a, value, Opt<Variant>(n), Opt<std::int16_t>(), Opt<std::int32_t>());
  };
  Variant value;
  ASSERT_EQ(read(value), ResultOk);

  line.Vanish();
  EventLoop::Current().RunFor(300'000);
  Result result = ResultOk;
  ASSERT_NO_THROW(result = read(value));
  EXPECT_EQ(result, ResultFailed);
  EXPECT_NE(link.FailureCause().find("could not be sent"), std::string::npos) << link.FailureCause();
  Variant a(std::int32_t{100}), one(std::int32_t{1});
  ASSERT_NO_THROW(result = link.WritePLC(a, one, Opt<std::int16_t>(), Opt<std::int16_t>(), Opt<std::int32_t>()));
  EXPECT_EQ(result, ResultFailed);

  line.Return();
  Result again = ResultFailed;
  const auto t0 = Clock::now();
  while (again != ResultOk && SecondsSince(t0) < 5) {
    EventLoop::Current().RunFor(300'000);
    again = read(value);
  }
  EXPECT_EQ(again, ResultOk) << link.FailureCause();
  EXPECT_EQ(value.ToInt32(), 66);
  link.SetPortOpen(false);
  ecom::EcomLink().Reset();
}

}  // namespace
}  // namespace plc
