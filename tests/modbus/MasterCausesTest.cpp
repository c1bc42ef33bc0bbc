// Every failing read and write of the master says why: the cause names the unit, the part of
// the address, the value or the limit, and nothing goes on the line for what is refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "modbus/AsciiFrame.h"
#include "modbus/MasterCause.h"
#include "tests/modbus/MasterRig.h"

namespace plc::modbus::testing {
namespace {

using ::testing::HasSubstr;

const Bytes kGood = MasterRig::Rtu("01 03 02 00 2A");

struct Failure {
  Result result;
  std::string cause;
  std::size_t sent;
};

Failure Read(MasterRig& rig, const std::string& address, std::int16_t count = 1) {
  std::size_t before = rig.requests.size();
  VariantArray v(1, 200, VarType::Double);
  Result r = rig.ReadPLC(address, v, count);
  return {r, r == ResultOk ? std::string() : rig.road.Cause(), rig.requests.size() - before};
}

Failure Write(MasterRig& rig, const std::string& address, std::vector<double> values, std::int16_t ioType = 0) {
  std::size_t before = rig.requests.size();
  Result r = rig.WritePLC(address, std::move(values), ioType);
  return {r, r == ResultOk ? std::string() : rig.road.Cause(), rig.requests.size() - before};
}

TEST(MasterCauses, AddressesThatDoNotResolveNameThePartNotUnderstood) {
  MasterRig rig;
  struct Case {
    std::string address;
    std::string says;
  } cases[] = {
      {"", "address '' not understood: it is empty"},
      {"   ", "it is empty"},
      {"400001", "reference 400001 names no Modbus table"},
      {"40000", "reference 40000 names no Modbus table"},
      {"-3", "reference -3 names no Modbus table"},
      {std::string(10000, '1'), "(10000 bytes) not understood: the number does not fit 32 bits"},
      {"\xEF\xBC\x94\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC\x91", "full-width digits are not digits here"},
      {"Pump1", "no tag of that name"},
      {"70000;40001", "the unit does not fit 16 bits"},
      {"3;", "nothing follows the last ';'"},
      {"x;40001", "the unit before ';' is not a number"},
      {"3;4000x", "the reference '4000x' after the last ';' is not a number"},
  };
  for (const Case& c : cases) {
    Failure f = Read(rig, c.address);
    EXPECT_EQ(f.result, ResultFailed) << c.address.substr(0, 20);
    EXPECT_THAT(f.cause, HasSubstr(c.says)) << c.address.substr(0, 20);
    EXPECT_EQ(f.sent, 0u) << c.address.substr(0, 20);
  }
  // A long address is shown cut, not whole, whatever bytes it holds.
  EXPECT_LT(Read(rig, std::string(10000, '1')).cause.size(), 200u);
  EXPECT_LT(Read(rig, "0;1;4]5;440;1\xC2" + std::string(300, '\x9C')).cause.size(), 400u);
  EXPECT_LT(Read(rig, "2;" + std::string(300, '9')).cause.size(), 400u);
  rig.Answer(kGood);
  EXPECT_EQ(Read(rig, "40001").result, ResultOk);
}

// A reference with a fraction names no coil or register: rounded, 40001.5 read and wrote
// 40002 as if it had been asked for (some hosts write 40001.5 for bit 5 of 40001).
TEST(MasterCauses, AReferenceWithAFractionIsRefusedNotRounded) {
  MasterRig rig;
  rig.Answer(kGood);
  ASSERT_TRUE(rig.tags.AddTag(1, Variant("Valve"), Variant("1;40001.5")));
  for (const std::string address : {"40001.5", " 40001.5 ", "1;40001.7", "1; 40002.4", "Valve", "4.00015e4"}) {
    Failure read = Read(rig, address);
    EXPECT_EQ(read.result, ResultFailed) << address;
    EXPECT_EQ(read.sent, 0u) << address;
    EXPECT_THAT(read.cause, HasSubstr("not a whole number")) << address;
    Failure write = Write(rig, address, {1});
    EXPECT_EQ(write.result, ResultFailed) << address;
    EXPECT_EQ(write.sent, 0u) << address;
    EXPECT_THAT(write.cause, HasSubstr("not a whole number")) << address;
    EXPECT_EQ(rig.ReadPLCNW(address), ResultFailed) << address;
    EXPECT_TRUE(rig.requests.empty()) << address;
  }
  // Whole references in any number form still go out.
  EXPECT_EQ(Read(rig, "40001.0").result, ResultOk);
  EXPECT_EQ(Read(rig, "4.0001e4").result, ResultOk);
  EXPECT_EQ(rig.requests.size(), 2u);
}

TEST(MasterCauses, CountsBeyondOneRequestAreRefusedWithTheLimit) {
  MasterRig rig;
  Failure f = Read(rig, "40001", 126);
  EXPECT_EQ(f.cause, "count 126 beyond this control's limit of 125 registers per read");
  EXPECT_EQ(f.sent, 0u);
  EXPECT_THAT(Read(rig, "00001", 2001).cause, HasSubstr("limit of 2000 bits per read"));
  EXPECT_THAT(Read(rig, "40001", 0).cause, HasSubstr("count 0"));
  f = Write(rig, "40001", std::vector<double>(124, 1.0));
  EXPECT_EQ(f.cause, "count 124 beyond this control's limit of 123 registers per write");
  EXPECT_EQ(f.sent, 0u);
  // Within the limits the requests go out.
  rig.Answer(MasterRig::Rtu("01 10 00 00 00 7B"));
  EXPECT_EQ(Write(rig, "40001", std::vector<double>(123, 1.0)).result, ResultOk);
}

// A unit has one byte in either framing: in ASCII unit 257 would go out as unit 1 (whose
// values came back as 257's) and 256 as 0, a broadcast every slave carries out.
TEST(MasterCauses, AUnitBeyondOneByteIsRefusedInAsciiToo) {
  MasterRig rig;
  rig.master.SetModBusMode(rtu::Ascii);
  rig.slave = [](const Bytes& request) {
    std::string text(request.begin(), request.end());
    if (text.substr(0, 5) == ":0103") return Chars(":0103020007F3\r\n");
    if (text.substr(0, 5) == ":0106") return request;
    return Bytes{};
  };
  Failure f = Read(rig, "257;40001");
  EXPECT_EQ(f.result, ResultFailed);
  EXPECT_EQ(f.cause, "unit 257 does not fit the frame (0..255)");
  EXPECT_EQ(f.sent, 0u);
  f = Write(rig, "256;40001", {5});
  EXPECT_EQ(f.result, ResultFailed);
  EXPECT_EQ(f.cause, "unit 256 does not fit the frame (0..255)");
  EXPECT_EQ(f.sent, 0u);
  EXPECT_EQ(Write(rig, "256;40001", {5, 6}).sent, 0u);
  EXPECT_EQ(rig.ReadPLCNW("513;40001"), ResultFailed);
  EXPECT_EQ(rig.requests.size(), 0u);
  EXPECT_FALSE(rig.master.CommBusy());
  // Unit 255 still goes out, and unit 1 is read as itself.
  EXPECT_EQ(Read(rig, "1;40001").result, ResultOk);
  EXPECT_EQ(Read(rig, "255;40001").sent, 1u);
  EXPECT_EQ(ToText(rig.requests.back()).substr(0, 5), ":FF03");
}

TEST(MasterCauses, ValuesThatWouldGoOutAsAnotherNumberAreRefused) {
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 06 00 13 FF FF"));  // the echo of the one write sent below
  Failure f = Write(rig, "40020", {-1});
  EXPECT_EQ(f.result, ResultFailed);
  EXPECT_THAT(f.cause, HasSubstr("value -1 does not fit a register (0..65535"));
  EXPECT_EQ(f.sent, 0u);
  f = Write(rig, "40022", {1.5});
  EXPECT_THAT(f.cause, HasSubstr("value 1.5 is not a whole number"));
  EXPECT_EQ(f.sent, 0u);
  EXPECT_THAT(Write(rig, "40001", {1, 2, 70000}).cause, HasSubstr("value 70000 does not fit a register"));
  EXPECT_THAT(Write(rig, "00001", {0.5}).cause, HasSubstr("a coil takes 0 for off"));
  EXPECT_THAT(Write(rig, "40001", {-40000}, 5).cause, HasSubstr("does not fit a signed register"));
  // ioType 5 writes signed words: 40000 would go out as -25536.
  EXPECT_THAT(Write(rig, "40005", {40000}, 5).cause,
              HasSubstr("value 40000 does not fit a signed register (ioType 5: whole numbers -32768..32767)"));
  EXPECT_THAT(Write(rig, "40005", {32768}, 5).cause, HasSubstr("does not fit a signed register"));
  EXPECT_THAT(Write(rig, "40001", {1e9}, 2).cause, HasSubstr("does not fit a fixed-point pair"));
  EXPECT_THAT(Write(rig, "30001", {1}).cause, HasSubstr("reference 30001 cannot be written"));
  EXPECT_EQ(rig.requests.size(), 0u);
  // Signed values go out with ioType 5, and the line is free for them.
  EXPECT_EQ(Write(rig, "40020", {-1}, 5).result, ResultOk);
  EXPECT_EQ(rig.requests.back(), MasterRig::Rtu("01 06 00 13 FF FF"));
  rig.Answer(MasterRig::Rtu("01 06 00 04 7F FF"));
  EXPECT_EQ(Write(rig, "40005", {32767}, 5).result, ResultOk);
  EXPECT_EQ(rig.requests.back(), MasterRig::Rtu("01 06 00 04 7F FF"));
  rig.Answer(MasterRig::Rtu("01 06 00 04 80 00"));
  EXPECT_EQ(Write(rig, "40005", {-32768}, 5).result, ResultOk);
  EXPECT_EQ(rig.requests.back(), MasterRig::Rtu("01 06 00 04 80 00"));
}

TEST(MasterCauses, ReplyFaultsNameTheUnitAndWhatWasWrong) {
  MasterRig rig;
  Failure f = Read(rig, "2;40001");
  EXPECT_EQ(f.cause, "no reply from unit 2 within 2 s");
  rig.road.SetCommBusy(Variant(false));

  Bytes bad = MasterRig::Rtu("02 03 02 00 2A");
  bad.back() ^= 0xFF;
  rig.Answer(bad);
  EXPECT_EQ(Read(rig, "2;40001").cause, "the reply from unit 2 failed its CRC check");
  EXPECT_EQ(rig.road.ReadErrors().ToString(), "CRC error");  // the classic text stays

  rig.Answer(MasterRig::Rtu("02 83 02"));
  EXPECT_EQ(Read(rig, "2;40001").cause, "unit 2 refused the request: Exception 2 (illegal data address)");

  rig.Answer(MasterRig::Rtu("02 03 04 00 2A 00 2B"));  // two registers for one asked
  EXPECT_THAT(Read(rig, "2;40001").cause, HasSubstr("the reply from unit 2 does not answer the request"));

  rig.Silent();
  EXPECT_EQ(Write(rig, "2;40001", {5}).cause, "no acknowledgement of the write from unit 2 within 2 s");

  rig.master.SetModBusMode(rtu::Ascii);
  Bytes ascii = BuildAsciiFrame(Adu{2, 3, {2, 0, 0x2A}});
  ascii[ascii.size() - 3] = ascii[ascii.size() - 3] == '0' ? '1' : '0';  // the LRC's last digit
  rig.Answer(ascii);
  EXPECT_EQ(Read(rig, "2;40001").cause, "the reply from unit 2 failed its LRC check");
}

// An ASCII reply that began and never ended is no silence: the cause says how much came and,
// for a slave that ends its lines with CR or LF alone, that the line end is wrong.
TEST(MasterCauses, AnAsciiReplyThatNeverEndsSaysHowItStopped) {
  MasterRig rig;
  rig.master.SetModBusMode(rtu::Ascii);
  rig.Answer(Chars(":0103020007F3\r"));
  EXPECT_EQ(Read(rig, "40001").cause,
            "the reply from unit 1 began but did not end within 2 s (14 of 15 characters); its line ended with CR "
            "alone (an ASCII frame ends with CR LF)");
  rig.road.SetCommBusy(Variant(false));

  rig.Answer(Chars(":0103020007F3\n"));
  EXPECT_THAT(Read(rig, "40001").cause, HasSubstr("its line ended with LF alone"));
  rig.road.SetCommBusy(Variant(false));

  rig.Answer(Chars(":01030200"));  // the rest lost
  EXPECT_EQ(Read(rig, "40001").cause, "the reply from unit 1 began but did not end within 2 s (9 of 15 characters)");
  rig.road.SetCommBusy(Variant(false));

  rig.Answer(Chars(":01"));  // no function yet: nothing to tell it from noise
  EXPECT_EQ(Read(rig, "40001").cause, "no reply from unit 1 within 2 s");
  rig.road.SetCommBusy(Variant(false));

  // A write says the same of its acknowledgement.
  rig.Answer(Chars(":0106000100"));
  EXPECT_EQ(Write(rig, "40002", {5}).cause,
            "the acknowledgement from unit 1 began but did not end within 2 s (11 of 17 characters)");
}

TEST(MasterCauses, BusyClosedAndTooSmallArraysSayWhy) {
  MasterRig rig;
  EXPECT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  Failure f = Read(rig, "40001");
  EXPECT_EQ(f.result, ResultBusy);
  EXPECT_THAT(f.cause, HasSubstr("busy (966)"));
  rig.road.SetCommBusy(Variant(false));

  rig.port.SetPortOpen(false);
  EXPECT_EQ(Read(rig, "40001").cause, "port 1 is not open (set PortOpen to True first)");
  EXPECT_EQ(rig.ReadPLCNW("40001"), ResultFailed);
  EXPECT_EQ(rig.road.Cause(), "port 1 is not open (set PortOpen to True first)");
  rig.port.SetPortOpen(true);

  // Values go to elements 1..n: an array from 0 that is one short cannot take them all.
  rig.Answer(MasterRig::Rtu("01 03 04 00 2A 00 2B"));
  VariantArray zeroBased(0, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", zeroBased, 2), ResultFailed);
  EXPECT_EQ(rig.road.Cause(),
            "ReadValue holds elements 0..1, but the 2 value(s) read go to elements 1..2 (size it from 1, or from 0 "
            "with one element more)");
  VariantArray roomy(0, 2, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", roomy, 2), ResultOk);
  EXPECT_EQ(roomy.Get(2).ToDouble(), 43);

  // A write takes its values from element 1 as well: a 0-based array of two holds one of them.
  const std::size_t sent = rig.requests.size();
  VariantArray twoFromZero(0, 1, VarType::Double);
  EXPECT_EQ(rig.road.WritePLC("40001", twoFromZero, Opt<std::int16_t>(std::int16_t{2}), Opt<std::int16_t>()), ResultFailed);
  EXPECT_EQ(rig.road.Cause(),
            "ABValue holds elements 0..1, but the 2 value(s) to be written are taken from element 1 on (1..2)");
  EXPECT_EQ(rig.requests.size(), sent);
}

// A read that fails as its values are handed over leaves the caller's array as it was: an
// Integer array took 5 for register 1, then 40000 did not fit element 2, and the call that
// failed had changed element 1 all the same.
TEST(MasterCauses, AReadWhoseValuesDoNotFitReadValueLeavesItAsItWas) {
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 03 06 00 05 9C 40 00 07"));
  VariantArray integers(1, 3, VarType::Int16);
  for (std::int32_t i = 1; i <= 3; ++i) integers.Set(i, Variant(std::int16_t{-7}));
  EXPECT_EQ(rig.ReadPLC("40001", integers, 3), ResultFailed);
  EXPECT_THAT(rig.road.Cause(), HasSubstr("does not fit ReadValue"));
  for (std::int32_t i = 1; i <= 3; ++i) EXPECT_EQ(integers.Get(i).ToInt32(), -7) << "element " << i;
  // So does an array one element short.
  VariantArray shortOne(1, 2, VarType::Double);
  shortOne.Set(1, Variant(-7.0));
  EXPECT_EQ(rig.ReadPLC("40001", shortOne, 3), ResultFailed);
  EXPECT_EQ(shortOne.Get(1).ToDouble(), -7);
  // Values that fit are handed over.
  rig.Answer(MasterRig::Rtu("01 03 06 00 05 7F FF 00 07"));
  EXPECT_EQ(rig.ReadPLC("40001", integers, 3), ResultOk) << rig.road.Cause();
  EXPECT_EQ(integers.Get(2).ToInt32(), 32767);
}

TEST(MasterCauses, EveryFailureOfTheRoadLeavesACause) {
  MasterRig rig;
  auto check = [&](Result r) {
    if (r == ResultOk) return;
    EXPECT_FALSE(rig.road.Cause().empty());
    EXPECT_NE(rig.road.Cause(), "the request was not sent");
  };
  for (const char* address : {"", "0", "9999999", "1;", ";", "a", "40001.5", "&H10", "1e3", "65536;40001"}) {
    VariantArray v(1, 1, VarType::Double);
    check(rig.ReadPLC(address, v, 1));
    check(rig.ReadPLCNW(address));
    check(rig.WritePLC(address, {1}));
    rig.road.SetCommBusy(Variant(false));
  }
}

// The first of the two mutants that survived: a new request that finds a read pending for 3 s
// clears it and counts it as a failure.
TEST(MasterCauses, AStalePendingReadClearedByTheNextRequestIsCounted) {
  MasterRig rig;
  EXPECT_EQ(rig.ReadPLCNW("40001"), ResultOk);  // no reply, and no watchdog to end it
  // The events the next request lets run take three seconds.
  rig.loop.Post([&] { rig.clock.Advance(3'000'000); });
  EXPECT_EQ(rig.master.Transaction().ErrorCount, 0);
  EXPECT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  EXPECT_EQ(rig.master.Transaction().ErrorCount, 1);
  EXPECT_EQ(rig.requests.size(), 2u);
}

// The second: the watchdog ending a stale transaction also ends a waiting read's hold on the
// line, so a write issued from an event inside that read's wait goes out at once instead of
// waiting out the read.
TEST(MasterCauses, AWriteAfterTheWatchdogInsideAWaitingReadDoesNotWaitForIt) {
  MasterRig rig;  // silent until the timer
  std::int64_t writeTook = -1;
  Result written = ResultFailed;
  rig.loop.AddTimer(1'000'000, [&] {
    rig.clock.Advance(1'000'000);  // a slow event: the watchdog's tick is due when it ends
    rig.master.ReplyWatchdog();    // the waiting read's request is abandoned
    rig.Answer(kGood);
    EXPECT_EQ(rig.ReadPLCNW("40001"), ResultOk);  // answered at the next dispatch
    rig.Answer(MasterRig::Rtu("01 06 00 00 00 05"));
    std::int64_t start = rig.Micros();
    written = rig.WritePLC("40001", {5});
    writeTook = rig.Micros() - start;
    rig.Answer(kGood);
  });
  VariantArray v(1, 1, VarType::Double);
  // The read's own request was abandoned: the other read's values are not taken for its own.
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultFailed);
  EXPECT_THAT(rig.road.Cause(), HasSubstr("given up before its reply came"));
  EXPECT_TRUE(v.Get(1).IsEmpty() || v.Get(1).ToDouble() == 0);
  EXPECT_EQ(written, ResultOk);
  EXPECT_EQ(writeTook, 0);
}

// A WritePLC from a host timer inside a waiting ReadPLC whose unit does not answer: the write
// takes the line after its 2 s wait, and the read says what became of it.
TEST(MasterCauses, AWriteInsideAnUnansweredWaitingReadSaysItTookTheLine) {
  MasterRig rig;  // silent for the read
  Result written = ResultFailed;
  rig.loop.AddTimer(300'000, [&] {
    rig.Answer(MasterRig::Rtu("01 06 00 00 00 05"));
    written = rig.WritePLC("40001", {5});
    rig.Silent();
  });
  VariantArray v(1, 1, VarType::Double);
  v.Set(1, Variant(9.0));
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultFailed);
  EXPECT_EQ(v.Get(1).ToDouble(), 9);
  EXPECT_EQ(written, ResultOk);
  EXPECT_EQ(rig.road.Cause(),
            "the read was given up before its reply came (a WritePLC took the line after waiting 2 s for it)");
  EXPECT_FALSE(rig.master.CommBusy());
  rig.Answer(kGood);
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), 42);
}

}  // namespace
}  // namespace plc::modbus::testing
