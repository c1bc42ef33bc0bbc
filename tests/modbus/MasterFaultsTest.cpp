// Lost, broken, early-ended and noisy replies; the line control; raw mode; the watchdog.
// After every fault the next transaction must work.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "tests/modbus/MasterRig.h"

namespace plc::modbus::testing {
namespace {

const Bytes kGood = MasterRig::Rtu("01 03 02 00 2A");  // register 40001 = 42

// The slave answers every request with `reply`, a byte at a time, gapUs apart.
void AnswerByteByByte(MasterRig& rig, const Bytes& reply, std::int64_t gapUs) {
  rig.slave = [&rig, reply, gapUs](const Bytes&) {
    for (std::size_t i = 0; i < reply.size(); ++i) {
      rig.loop.AddTimer(rig.Micros() + gapUs * static_cast<std::int64_t>(i + 1),
                        [&rig, b = reply[i]] { rig.port.Inject(Bytes{b}); });
    }
    return Bytes{};
  };
}

// The next waiting read works and reads 42.
void ExpectRecovered(MasterRig& rig) {
  rig.Answer(kGood);
  VariantArray v(1, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), 42);
}

TEST(MasterFaults, NoReplyTimesOutThenStaysBusyUntilTheWatchdog) {
  MasterRig rig;
  VariantArray v(1, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultFailed);
  // Two whole seconds of the wall clock, which starts on a second boundary.
  EXPECT_EQ(rig.Micros(), 2'000'000);
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultBusy);
  EXPECT_EQ(rig.requests.size(), 1u);
  rig.master.ReplyWatchdog();
  EXPECT_EQ(rig.master.Transaction().ErrorCount, 1);
  EXPECT_FALSE(rig.master.CommBusy());
  ExpectRecovered(rig);
}

TEST(MasterFaults, TimeOutIsMeasuredInWholeWallSeconds) {
  MasterRig rig;
  rig.clock.Advance(700'000);  // 0.7 s into a second: two ticks of the count come 1.3 s later
  VariantArray v(1, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultFailed);
  EXPECT_EQ(rig.Micros(), 2'000'000);
}

// The wall clock set back an hour while a read waits for a silent unit: the read still fails
// after its 2 s, and the watchdog frees the line after its own, not an hour later.
TEST(MasterFaults, AWallClockSetBackDoesNotHoldAReadOrTheLine) {
  MasterRig rig;
  rig.loop.AddTimer(500'000, [&] { rig.clock.StepWall(-3'600'000'000LL); });
  VariantArray v(1, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultFailed);
  EXPECT_EQ(rig.Micros(), 2'000'000);
  rig.master.ReplyWatchdog();
  EXPECT_FALSE(rig.master.CommBusy());
  ExpectRecovered(rig);
}

TEST(MasterFaults, FiveLostNonWaitingReadsGiveOneReadErrorEvent) {
  MasterRig rig;
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(rig.ReadPLCNW("3;40007"), ResultOk);
    rig.clock.Advance(2'000'000);
    rig.master.ReplyWatchdog();
  }
  EXPECT_TRUE(rig.completions.empty());
  EXPECT_EQ(rig.master.Transaction().ErrorCount, 5);
  rig.master.ReplyWatchdog();
  rig.master.ReplyWatchdog();
  ASSERT_EQ(rig.completions.size(), 1u);
  const auto& e = rig.completions[0];
  EXPECT_EQ(e[0].Array().Get(1).ToInt32(), 3);
  EXPECT_EQ(e[0].Array().Upper(), 10);
  EXPECT_EQ(e[1].ToInt32(), 40007);
  EXPECT_EQ(e[2].ToInt32(), 1);
  EXPECT_EQ(e[3].ToString(), "Read error");
  EXPECT_EQ(e[4].ToInt32(), 0);
  EXPECT_EQ(rig.road.ReadErrors().ToString(), "Read error");
  EXPECT_EQ(rig.master.Transaction().ErrorCount, 0);
}

struct BadReply {
  const char* what;
  bool ascii;
  Bytes reply;
  const char* errorText;  // what ReadErrors says afterwards
};

class MasterBadReply : public ::testing::TestWithParam<BadReply> {};

// Each fails the waiting read at once (no 2-second wait), raises no event, frees the line.
TEST_P(MasterBadReply, FailsAtOnceWithoutEvent) {
  const BadReply& c = GetParam();
  MasterRig rig;
  if (c.ascii) rig.master.SetModBusMode(rtu::Ascii);
  rig.Answer(c.reply);
  VariantArray v(1, 1, VarType::Double);
  v.Set(1, Variant(5.0));
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultFailed) << c.what;
  EXPECT_LT(rig.Micros(), 1'000'000) << c.what;
  EXPECT_TRUE(rig.completions.empty()) << c.what;
  EXPECT_EQ(v.Get(1).ToDouble(), 5) << c.what;
  EXPECT_EQ(rig.road.ReadErrors().ToString(), c.errorText) << c.what;
  EXPECT_FALSE(rig.master.CommBusy()) << c.what;
  rig.master.SetModBusMode(rtu::Rtu);
  ExpectRecovered(rig);
  EXPECT_EQ(rig.road.ReadErrors().ToString(), "") << c.what;
}

Bytes SwappedCrc() {
  Bytes b = kGood;
  std::swap(b[5], b[6]);
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MasterBadReply,
    ::testing::Values(BadReply{"CRC bytes swapped", false, SwappedCrc(), "CRC error"},
                      BadReply{"a data byte flipped", false, Hex("01 03 02 00 2B 39 9B"), "CRC error"},
                      BadReply{"lower-case ASCII hex", true, Chars(":0103020a0bE5\r\n"), "CRC error"},
                      BadReply{"ASCII LRC wrong", true, Chars(":01030200070F\r\n"), "CRC error"},
                      BadReply{"exception reply", false, MasterRig::Rtu("01 83 02"),
                               "Exception 2 (illegal data address)"},
                      BadReply{"ASCII exception reply", true, Chars(":018302" "7A\r\n"),
                               "Exception 2 (illegal data address)"},
                      BadReply{"exception the standard does not name", false, MasterRig::Rtu("01 83 2A"),
                               "Exception 42"},
                      BadReply{"byte count below its data", false, MasterRig::Rtu("01 03 01 00 2A"), "CRC error"},
                      BadReply{"more registers than asked", false, MasterRig::Rtu("01 03 04 00 2A 00 2B"),
                               "CRC error"},
                      BadReply{"fewer registers than asked", false, MasterRig::Rtu("01 03 00"), "CRC error"}));

TEST(MasterFaults, ByteCountAboveItsDataEndsByTimeOut) {
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 03 04 00 2A"));
  VariantArray v(1, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultFailed);
  EXPECT_EQ(rig.Micros(), 2'000'000);
  rig.master.ReplyWatchdog();
  ExpectRecovered(rig);
}

TEST(MasterFaults, CrcErrorSetsStatus245InRtu) {
  MasterRig rig;
  rig.Answer(SwappedCrc());
  EXPECT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  rig.loop.DoEvents();
  EXPECT_EQ(rig.master.Transaction().ResponseStatus, 245);
  EXPECT_TRUE(rig.master.Transaction().ReplyFailed);
  EXPECT_EQ(rig.master.Transaction().ErrorCount, 0);  // a checksum failure is not a time-out
}

TEST(MasterFaults, ReplySplitIntoSingleBytesWithGaps) {
  MasterRig rig;
  AnswerByteByByte(rig, MasterRig::Rtu("01 03 04 00 0C 0D 80"), 150'000);
  VariantArray v(1, 2, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", v, 2), ResultOk);
  EXPECT_EQ(v.Get(2).ToDouble(), 3456);
  EXPECT_EQ(rig.Micros(), 9 * 150'000);  // done the moment the last byte came
}

TEST(MasterFaults, NoiseBeforeAndAfterTheReply) {
  for (Bytes noise : {Hex("FF 00 55"), Hex("01 01 03"), Hex("01")}) {
    MasterRig rig;
    Bytes reply = noise;
    for (auto b : kGood) reply.push_back(b);
    reply.push_back(0x99);
    rig.Answer(reply);
    VariantArray v(1, 1, VarType::Double);
    EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultOk);
    EXPECT_EQ(v.Get(1).ToDouble(), 42);
    ExpectRecovered(rig);
  }
  MasterRig rig;
  rig.master.SetModBusMode(rtu::Ascii);
  rig.Answer(Chars("\r\n#?:0203020007F2\r\n:0103020007F3\r\n"));  // another unit's frame first
  VariantArray v(1, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), 7);
}

// In ASCII a colon always starts a frame: one inside a frame means the frame before it was cut
// off, and the reply that follows it is whole.
TEST(MasterFaults, AnAsciiFrameCutOffByAColonGivesWayToTheReplyBehindIt) {
  for (const char* cut : {":01", ":0103", ":010302", ":0103020007"}) {
    MasterRig rig;
    rig.master.SetModBusMode(rtu::Ascii);
    const Bytes reply = Chars(std::string(cut) + ":0103020007F3\r\n");
    for (bool whole : {true, false}) {
      if (whole) {
        rig.Answer(reply);
      } else {
        AnswerByteByByte(rig, reply, 1'000);
      }
      VariantArray v(1, 1, VarType::Double);
      EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultOk) << cut << (whole ? " at once" : " a character at a time");
      EXPECT_EQ(v.Get(1).ToDouble(), 7) << cut;
    }
  }
}

TEST(MasterFaults, ClosedPortSendsNothingAndLeavesValuesAlone) {
  MasterRig rig;
  rig.port.SetPortOpen(false);
  VariantArray v(1, 1, VarType::Double);
  v.Set(1, Variant(9.0));
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultFailed);
  EXPECT_EQ(v.Get(1).ToDouble(), 9);
  EXPECT_EQ(rig.ReadPLCNW("40001"), ResultFailed);
  EXPECT_EQ(rig.WritePLC("40001", {1}), ResultFailed);
  EXPECT_FALSE(rig.master.CommBusy());
  EXPECT_EQ(rig.Micros(), 0);
  rig.port.SetPortOpen(true);
  ExpectRecovered(rig);
}

// A host timer closing the port while a waiting read or write is out: the call ends as the
// port closes, says so, and the next call after reopening goes out at once.
TEST(MasterFaults, PortClosedWhileACallWaitsEndsItWithThatCause) {
  MasterRig rig;
  rig.loop.AddTimer(300'000, [&rig] { rig.port.SetPortOpen(false); });
  VariantArray v(1, 1, VarType::Double);
  v.Set(1, Variant(9.0));
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultFailed);
  EXPECT_EQ(v.Get(1).ToDouble(), 9);
  EXPECT_EQ(rig.road.Cause(), "port 1 was closed while the read waited for its reply");
  EXPECT_LT(rig.Micros(), 1'000'000);
  EXPECT_FALSE(rig.master.CommBusy());
  rig.port.SetPortOpen(true);
  ExpectRecovered(rig);

  rig.Silent();
  rig.loop.AddTimer(rig.Micros() + 300'000, [&rig] { rig.port.SetPortOpen(false); });
  const std::int64_t start = rig.Micros();
  EXPECT_EQ(rig.WritePLC("40001", {7}), ResultFailed);
  EXPECT_EQ(rig.road.Cause(), "port 1 was closed while the write waited for its acknowledgement");
  EXPECT_LT(rig.Micros() - start, 1'000'000);
  EXPECT_FALSE(rig.master.CommBusy());
  rig.port.SetPortOpen(true);
  ExpectRecovered(rig);
}

TEST(MasterFaults, LateReplyAfterTheWatchdogIsDropped) {
  MasterRig rig;
  EXPECT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  rig.clock.Advance(2'000'000);
  rig.master.ReplyWatchdog();
  rig.port.Inject(kGood);
  rig.loop.DoEvents();
  EXPECT_TRUE(rig.completions.empty());
  EXPECT_TRUE(rig.master.DataBuffer().Get(1).IsEmpty());
}

TEST(MasterFaults, FreeingCommBusyLetsTheNextReadGoOnceTheLineIsQuiet) {
  MasterRig rig;
  EXPECT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  VariantArray v(1, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultBusy);
  rig.road.SetCommBusy(Variant(true));
  EXPECT_TRUE(rig.road.CommBusy().ToBool());
  rig.road.SetCommBusy(Variant(false));
  ExpectRecovered(rig);
  // The freed read may still be answered: the next one waits out its reply time and 1 s of
  // silence.
  EXPECT_EQ(rig.Micros(), 3'000'000);
}

// The slave answers every request after delayMicros with value in register 40001.
void AnswerAfter(MasterRig& rig, std::int64_t delayMicros, std::uint8_t value) {
  rig.slave = nullptr;
  rig.port.OnSent = [&rig, delayMicros, value](const Bytes& chunk) {
    rig.requests.push_back(chunk);
    char hex[16];
    std::snprintf(hex, sizeof hex, "01 03 02 00 %02X", value);
    rig.port.InjectAt(rig.loop.Now() + delayMicros, MasterRig::Rtu(hex));
  };
}

TEST(MasterFaults, AReplyLateBeyondTheTimeOutNeverAnswersTheNextRequest) {
  // The first read's reply comes 2.5 s after it (after the master gave up), the second's
  // 0.6 s after it: without a quiet line between them, the first would answer the second.
  for (bool waiting : {false, true}) {
    MasterRig rig;
    AnswerAfter(rig, 2'500'000, 111);
    VariantArray v(1, 1, VarType::Double);
    if (waiting) {
      EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultFailed);
      EXPECT_NE(rig.master.Cause().find("no reply"), std::string::npos) << rig.master.Cause();
    } else {
      ASSERT_EQ(rig.ReadPLCNW("40001"), ResultOk);
      rig.clock.Advance(2'000'000);
    }
    rig.master.ReplyWatchdog();  // the first read is given up
    ASSERT_FALSE(rig.master.CommBusy());
    AnswerAfter(rig, 600'000, 222);
    ASSERT_EQ(rig.ReadPLC("40001", v, 1), ResultOk) << rig.master.Cause();
    EXPECT_EQ(v.Get(1).ToInt32(), 222) << waiting;
    // Sent once the line had been quiet for 1 s after the late reply, answered 0.6 s later.
    EXPECT_EQ(rig.Micros(), 4'100'000) << waiting;
    for (const auto& e : rig.completions) EXPECT_EQ(e[0].Array().Get(1).ToInt32(), 222) << waiting;
    // An answered read leaves nothing to wait for.
    ASSERT_EQ(rig.ReadPLC("40001", v, 1), ResultOk);
    EXPECT_EQ(rig.Micros(), 4'700'000);
  }
}

TEST(MasterFaults, ABroadcastWriteLeavesNothingToSettle) {
  MasterRig rig;
  rig.Silent();
  EXPECT_EQ(rig.WritePLC("0;40001", {5}), ResultFailed);  // no slave answers unit 0
  const std::int64_t after = rig.Micros();
  ExpectRecovered(rig);
  EXPECT_EQ(rig.Micros(), after);
}

TEST(MasterFaults, ALineThatKeepsTalkingAfterATimeOutRefusesTheNextRequestThenRecovers) {
  MasterRig rig;
  rig.Silent();
  ASSERT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  rig.clock.Advance(2'000'000);
  rig.master.ReplyWatchdog();
  for (std::int64_t t = 2'000'000; t < 12'000'000; t += 200'000) rig.port.InjectAt(t, Bytes{0x55});
  VariantArray v(1, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultFailed);
  EXPECT_NE(rig.master.Cause().find("did not fall silent for 1000 ms"), std::string::npos) << rig.master.Cause();
  // Silence was due 1 s after the reply time (3 s); the call gives up, sending nothing, at the
  // first byte that puts it beyond 2 s more (5.2 > 5 s).
  EXPECT_EQ(rig.Micros(), 4'200'000);
  EXPECT_EQ(rig.requests.size(), 1u);
  rig.clock.Advance(8'000'000);
  rig.loop.DoEvents();
  ExpectRecovered(rig);
  EXPECT_EQ(rig.requests.size(), 2u);
}

TEST(MasterLine, Rs485DriverIsOnOnlyWhileTheFrameIsSent) {
  for (auto mode : {rtu::RTS, rtu::DTR}) {
    MasterRig rig;
    rig.master.SetRS485Mode(mode);
    rig.port.ClearLineLog();
    rig.Answer(kGood);
    VariantArray v(1, 1, VarType::Double);
    EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultOk);
    std::string line = mode == rtu::RTS ? "RTS" : "DTR";
    EXPECT_EQ(rig.port.LineLog(), (std::vector<std::string>{line + " on", "write 8", "drained", line + " off"}));
    EXPECT_EQ(rig.port.SThreshold(), 0);
  }
  MasterRig rig;  // OFF: no line changes
  rig.master.SetRS485Mode(rtu::Mode3);
  rig.port.ClearLineLog();
  rig.Answer(kGood);
  VariantArray v(1, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultOk);
  EXPECT_EQ(rig.port.LineLog(), (std::vector<std::string>{"write 8", "drained"}));
}

// RS485Mode changed while a frame is still leaving the port (a property page applied under a
// running scan): the line raised for that frame is the one released once it has left, so the
// driver does not stay on and drown every reply. The next request keys the new line.
TEST(MasterLine, Rs485DriverRaisedForAFrameIsReleasedWhateverTheModeBecomes) {
  for (auto to : {rtu::OFF, rtu::DTR, rtu::Mode3}) {
    MasterRig rig;
    rig.master.SetRS485Mode(rtu::RTS);
    rig.Answer(kGood);
    ASSERT_EQ(rig.ReadPLCNW("40001"), ResultOk);
    rig.master.SetRS485Mode(to);
    rig.loop.DoEvents();
    EXPECT_FALSE(rig.port.RtsLine()) << to;
    EXPECT_FALSE(rig.port.DtrLine()) << to;
    EXPECT_EQ(rig.port.SThreshold(), 0) << to;
    ASSERT_EQ(rig.completions.size(), 1u) << to;

    rig.port.ClearLineLog();
    VariantArray v(1, 1, VarType::Double);
    EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultOk) << to;
    const std::vector<std::string> keyed{"DTR on", "write 8", "drained", "DTR off"};
    const std::vector<std::string> plain{"write 8", "drained"};
    EXPECT_EQ(rig.port.LineLog(), to == rtu::DTR ? keyed : plain) << to;
  }
}

TEST(MasterLine, RawModeAndCarrierDetectReachTheHost) {
  MasterRig rig;
  rig.master.SendToComm("AT\r");
  EXPECT_EQ(ToText(rig.port.TakeSent()), "AT\r");
  rig.port.Inject(std::string("OK"));
  rig.loop.DoEvents();
  ASSERT_EQ(rig.modem.size(), 1u);
  EXPECT_EQ(rig.modem[0][0].ToInt32(), 2);
  EXPECT_EQ(rig.modem[0][1].Array().Get(0).ToString(), "OK");
  EXPECT_FALSE(rig.modem[0][2].ToBool());
  rig.port.SetCarrier(true);
  rig.loop.DoEvents();
  ASSERT_EQ(rig.modem.size(), 2u);
  EXPECT_EQ(rig.modem[1][0].ToInt32(), 5);
  EXPECT_TRUE(rig.modem[1][1].Array().Get(0).IsEmpty());
  EXPECT_TRUE(rig.modem[1][2].ToBool());
  // The next request ends raw mode.
  ExpectRecovered(rig);
  EXPECT_EQ(rig.modem.size(), 2u);
}

TEST(MasterLine, SlaveModesHandReceivedDataToTheSlaveHandler) {
  MasterRig rig;
  int slaveCalls = 0;
  rig.master.Events.HandleSlaveRequest = [&] { ++slaveCalls; };
  rig.master.SetModBusMode(rtu::SlaveRtu);
  rig.port.SetRThreshold(1);
  rig.port.Inject(Hex("01 03 00 00 00 01 84 0A"));
  rig.loop.DoEvents();
  EXPECT_EQ(slaveCalls, 1);
  EXPECT_TRUE(rig.completions.empty());
}

TEST(MasterIoTypes, DeviceIoTypeStaysForNonWaitingRepliesOnly) {
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 03 02 FF FF"));
  EXPECT_EQ(rig.road.ReadDevice("40001", Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>(std::int16_t{5})),
            ResultOk);
  rig.loop.DoEvents();
  EXPECT_EQ(rig.ReadPLCNW("40001"), ResultOk);
  rig.loop.DoEvents();
  ASSERT_EQ(rig.completions.size(), 2u);
  EXPECT_EQ(rig.completions[1][0].Array().Get(1).ToInt32(), -1);

  // After a ReadDevice with ioType 2, a waiting ioType-2 read combines its pair once.
  rig.Answer(MasterRig::Rtu("01 03 04 00 0C 0D 80"));
  EXPECT_EQ(rig.road.ReadDevice("40001", Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>(std::int16_t{ioFloat})),
            ResultOk);
  rig.loop.DoEvents();
  EXPECT_DOUBLE_EQ(rig.completions.back()[0].Array().Get(1).ToDouble(), 12.3456);
  EXPECT_EQ(rig.completions.back()[2].ToInt32(), 1);
  VariantArray v(1, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", v, 1, ioFloat), ResultOk);
  EXPECT_DOUBLE_EQ(v.Get(1).ToDouble(), 12.3456);
}

// Fixed-point pairs are unsigned registers: a ReadDevice with ioType 5 before them (which makes
// later replies' words signed) must not turn 40000 or a fraction word above 32767 negative.
TEST(MasterIoTypes, AnIoFloatWaitingReadAfterASignedReadDeviceTakesItsRegistersUnsigned) {
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 03 02 FF FF"));
  ASSERT_EQ(rig.road.ReadDevice("40001", Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>(std::int16_t{5})),
            ResultOk);
  rig.loop.DoEvents();
  rig.Answer(MasterRig::Rtu("01 03 08 00 01 C3 50 9C 40 13 88"));  // 1, 50000, 40000, 5000
  VariantArray v(1, 2, VarType::Double);
  ASSERT_EQ(rig.ReadPLC("40001", v, 2, ioFloat), ResultOk);
  EXPECT_DOUBLE_EQ(v.Get(1).ToDouble(), 6.0);
  EXPECT_DOUBLE_EQ(v.Get(2).ToDouble(), 40000.5);
  // A plain waiting read after it still hands over signed words, as the classic control does.
  rig.Answer(MasterRig::Rtu("01 03 02 FF FF"));
  VariantArray w(1, 1, VarType::Double);
  ASSERT_EQ(rig.ReadPLC("40001", w, 1), ResultOk);
  EXPECT_EQ(w.Get(1).ToInt32(), -1);
}

// ioType 5 takes whole numbers -32768..32767 only, also when the host's array holds them as
// text: -40000 would go out as 25536, 1.5 as 2.
TEST(MasterIoTypes, SignedWritesRefuseTextValuesOutOfRange) {
  for (const char* text : {"-40000", "1.5", "forty"}) {
    MasterRig rig;
    rig.slave = [](const Bytes& req) { return BuildRtuFrame(Adu{req[0], req[1], Bytes(req.begin() + 2, req.begin() + 6)}); };
    VariantArray arr(1, 1);
    arr.Set(1, Variant(text));
    EXPECT_EQ(rig.road.WritePLC("40001", arr, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>(std::int16_t{5})),
              ResultFailed)
        << text;
    EXPECT_TRUE(rig.requests.empty()) << text;
    EXPECT_FALSE(rig.road.Cause().empty()) << text;
    EXPECT_FALSE(rig.road.CommBusy().ToBool()) << text;
  }
}

TEST(MasterIoTypes, AnIoFloatReadDeviceLeavesLaterPointReadsWhole) {
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 03 04 00 0C 0D 80"));
  ASSERT_EQ(rig.road.ReadDevice("40001", Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>(std::int16_t{ioFloat})),
            ResultOk);
  rig.loop.DoEvents();
  // Fifteen coils, 1 0 0 1 0 0 1 0 / 1 1 0 0 0 0 0: every point and the count asked, not
  // seven fixed-point pairs.
  rig.Answer(MasterRig::Rtu("01 01 02 49 03"));
  ASSERT_EQ(rig.ReadPLCNW("1", 15), ResultOk);
  rig.loop.DoEvents();
  ASSERT_EQ(rig.completions.size(), 2u);
  const VariantArray& points = rig.completions[1][0].Array();
  const int want[] = {1, 0, 0, 1, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0};
  for (int i = 0; i < 15; ++i) EXPECT_EQ(points.Get(i + 1).ToDouble(), want[i]) << "coil " << i + 1;
  EXPECT_EQ(rig.completions[1][2].ToInt32(), 15);
  // The register reads after it still combine their pairs.
  rig.Answer(MasterRig::Rtu("01 03 04 00 0C 0D 80"));
  ASSERT_EQ(rig.ReadPLCNW("40001", 2), ResultOk);
  rig.loop.DoEvents();
  EXPECT_DOUBLE_EQ(rig.completions.back()[0].Array().Get(1).ToDouble(), 12.3456);
  EXPECT_EQ(rig.completions.back()[2].ToInt32(), 1);
}

TEST(MasterIoTypes, SignedAndFixedPointWrites) {
  MasterRig rig;
  rig.slave = [](const Bytes& req) { return BuildRtuFrame(Adu{req[0], req[1], Bytes(req.begin() + 2, req.begin() + 6)}); };
  VariantArray arr(1, 2, VarType::Double);
  arr.Set(1, Variant(-1.0));
  arr.Set(2, Variant(-2.0));
  EXPECT_EQ(rig.road.WritePLC("40001", arr, Opt<std::int16_t>(std::int16_t{2}), Opt<std::int16_t>(std::int16_t{5})),
            ResultOk);
  EXPECT_EQ(arr.Get(1).ToDouble(), 65535);  // converted in the caller's array
  EXPECT_EQ(rig.requests.at(0), MasterRig::Rtu("01 10 00 00 00 02 04 FF FF FF FE"));
  EXPECT_EQ(rig.WritePLC("40001", {-1.25}, ioFloat), ResultOk);
  EXPECT_EQ(rig.requests.at(1), MasterRig::Rtu("01 06 00 00 FF FE"));
  EXPECT_EQ(rig.requests.at(2), MasterRig::Rtu("01 06 00 01 1D 4C"));
  // A failed first register does not let the second go out.
  rig.Answer(MasterRig::Rtu("01 86 02"));
  EXPECT_EQ(rig.WritePLC("40001", {3.5}, ioFloat), ResultFailed);
  EXPECT_EQ(rig.requests.size(), 4u);
}

TEST(MasterIoTypes, FixedPointWriteOfSeveralValuesWritesEveryPair) {
  MasterRig rig;
  rig.slave = [](const Bytes& req) { return BuildRtuFrame(Adu{req[0], req[1], Bytes(req.begin() + 2, req.begin() + 6)}); };
  // Two values, as a ReadPLC of ReadSize 2 with ioFloat reads them back: four registers.
  EXPECT_EQ(rig.WritePLC("40001", {1.5, 2.25}, ioFloat), ResultOk);
  ASSERT_EQ(rig.requests.size(), 4u);
  EXPECT_EQ(rig.requests[0], MasterRig::Rtu("01 06 00 00 00 01"));
  EXPECT_EQ(rig.requests[1], MasterRig::Rtu("01 06 00 01 13 88"));
  EXPECT_EQ(rig.requests[2], MasterRig::Rtu("01 06 00 02 00 02"));
  EXPECT_EQ(rig.requests[3], MasterRig::Rtu("01 06 00 03 09 C4"));
  // A pair the device refuses fails the call, and nothing after it goes out.
  rig.requests.clear();
  rig.slave = [](const Bytes& req) {
    if (req[3] == 0x02) return MasterRig::Rtu("01 86 02");
    return BuildRtuFrame(Adu{req[0], req[1], Bytes(req.begin() + 2, req.begin() + 6)});
  };
  EXPECT_EQ(rig.WritePLC("40001", {1.5, 2.25, 3.0}, ioFloat), ResultFailed);
  EXPECT_EQ(rig.requests.size(), 3u);
  EXPECT_FALSE(rig.master.Cause().empty());
  // Values the array does not hold are refused before anything is sent.
  rig.requests.clear();
  VariantArray one(1, 1, VarType::Double);
  one.Set(1, Variant(1.5));
  EXPECT_EQ(rig.road.WritePLC("40001", one, Opt<std::int16_t>(std::int16_t{2}), Opt<std::int16_t>(ioFloat)),
            ResultFailed);
  EXPECT_TRUE(rig.requests.empty());
  // A value without a pair form is refused before the values before it go out.
  EXPECT_EQ(rig.WritePLC("40001", {1.5, 1e9}, ioFloat), ResultFailed);
  EXPECT_TRUE(rig.requests.empty());
  // So is a pair whose last register lies past the table (50000 up are none).
  for (const char* address : {"49999", "49997"}) {
    EXPECT_EQ(rig.WritePLC(address, {1.5, 2.5}, ioFloat), ResultFailed) << address;
    EXPECT_TRUE(rig.requests.empty()) << address;
    EXPECT_NE(rig.master.Cause().find("cannot be written"), std::string::npos) << rig.master.Cause();
  }
  EXPECT_EQ(rig.WritePLC("49998", {1.5}, ioFloat), ResultOk);
  EXPECT_EQ(rig.requests.size(), 2u);
}

TEST(MasterFuzz, RandomReplyChunksNeverBreakTheCollector) {
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  for (int round = 0; round < 2000; ++round) {
    MasterReplyCollector c;
    Framing framing = round % 2 ? Framing::Ascii : Framing::Rtu;
    c.Expect(ReadRequest(1, fn::ReadHoldingRegisters, 0, static_cast<std::int32_t>(next() % 130)), framing);
    for (int chunk = 0; chunk < 8 && c.Expecting(); ++chunk) {
      Bytes b(next() % 40);
      for (auto& x : b) x = static_cast<std::uint8_t>(next() % 4 == 0 ? "01:3\r\n"[next() % 6] : next());
      CollectedReply r = c.Feed(b);
      if (r.outcome == ReplyOutcome::Good) {
        EXPECT_EQ(r.adu.unit, 1);
      }
      EXPECT_LE(c.Buffered(), 600u);
    }
  }
}

TEST(MasterFaults, AReplyLateForItsTimedOutReadIsNotTakenByTheNextRead) {
  for (bool handledBeforeNextRequest : {true, false}) {
    MasterRig rig;
    rig.Silent();
    ASSERT_EQ(rig.ReadPLCNW("40001"), ResultOk);
    rig.clock.Advance(2'000'000);
    rig.master.ReplyWatchdog();  // the read is given up
    rig.port.Inject(MasterRig::Rtu("01 03 02 00 6F"));  // ... and then its reply comes
    if (handledBeforeNextRequest) rig.loop.DoEvents();
    rig.Answer(MasterRig::Rtu("01 03 02 00 DE"));
    VariantArray v(1, 1, VarType::Double);
    ASSERT_EQ(rig.ReadPLC("40001", v, 1), ResultOk);
    EXPECT_EQ(v.Get(1).ToInt32(), 222) << handledBeforeNextRequest;
    EXPECT_TRUE(std::all_of(rig.completions.begin(), rig.completions.end(),
                            [](const auto& e) { return e[0].Array().Get(1).ToInt32() == 222; }));
  }
}

// An acknowledgement that echoes another offset, value or count is no acknowledgement of this
// write: the slave did something else (or a stale echo came back), so the call fails.
TEST(MasterFaults, AWriteWhoseEchoDiffersFromTheRequestFails) {
  struct Case {
    const char* what;
    const char* address;
    std::vector<double> values;
    const char* echo;
  };
  const std::vector<Case> cases = {
      {"register value", "40010", {42}, "01 06 00 09 00 2B"},
      {"register offset", "40010", {42}, "01 06 00 08 00 2A"},
      {"coil value", "00001", {1}, "01 05 00 00 00 00"},
      {"coil offset", "00001", {1}, "01 05 00 01 FF 00"},
      {"register count", "40001", {1, 2, 3}, "01 10 00 00 00 02"},
      {"register start", "40001", {1, 2, 3}, "01 10 00 01 00 03"},
      {"coil count", "00001", {1, 0, 1}, "01 0F 00 00 00 02"},
  };
  for (const Case& c : cases) {
    MasterRig rig;
    rig.Answer(MasterRig::Rtu(c.echo));
    EXPECT_EQ(rig.WritePLC(c.address, c.values), ResultFailed) << c.what;
    EXPECT_LT(rig.Micros(), 1'000'000) << c.what;
    EXPECT_NE(rig.master.Cause().find("does not answer the request"), std::string::npos)
        << c.what << ": " << rig.master.Cause();
    EXPECT_FALSE(rig.master.CommBusy()) << c.what;
    // The true echo of the same write is an acknowledgement.
    rig.slave = [](const Bytes& request) {
      return BuildRtuFrame(Adu{request[0], request[1], Bytes(request.begin() + 2, request.begin() + 6)});
    };
    EXPECT_EQ(rig.WritePLC(c.address, c.values), ResultOk) << c.what << ": " << rig.master.Cause();
  }
}


// A slave set to another unit number answers every request, and RTU drops its frames as
// noise: the time-out names the unit that answered, which is what the user must change. A
// frame of another unit that does not answer the request (another function, another count)
// is no such answer.
TEST(MasterFaults, ATimeOutSaysWhichOtherUnitAnswered) {
  const char* readCause =
      "no reply from unit 1 within 2 s; a reply to it came from unit 3 (is the slave set to unit 1?)";
  {
    SCOPED_TRACE("RTU, the reply a byte at a time");
    MasterRig rig;
    AnswerByteByByte(rig, MasterRig::Rtu("03 03 02 00 2A"), 1'000);
    VariantArray v(1, 1, VarType::Double);
    v.Set(1, Variant(9.0));
    EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultFailed);
    EXPECT_EQ(rig.road.Cause(), readCause);
    EXPECT_EQ(v.Get(1).ToDouble(), 9) << "another unit's values are never taken";
    rig.master.ReplyWatchdog();
    ExpectRecovered(rig);
  }
  {
    SCOPED_TRACE("RTU write");
    MasterRig rig;
    rig.Answer(MasterRig::Rtu("07 06 00 00 00 05"));
    EXPECT_EQ(rig.WritePLC("40001", {5}), ResultFailed);
    EXPECT_EQ(rig.road.Cause(), "no acknowledgement of the write from unit 1 within 2 s; an acknowledgement to it "
                                "came from unit 7 (is the slave set to unit 1?)");
  }
  {
    SCOPED_TRACE("a scan's read, given up by the watchdog");
    MasterRig rig;
    rig.Answer(MasterRig::Rtu("03 03 02 00 2A"));
    ASSERT_TRUE(rig.master.SendScanRead(1, Variant(std::int32_t{40001}), 1));
    rig.loop.DoEvents();
    rig.clock.Advance(2'000'000);
    rig.master.ReplyWatchdog();
    EXPECT_EQ(rig.master.LastFailure(), readCause);
  }
  const std::string noReply = "no reply from unit 1 within 2 s";
  struct Case {
    const char* what;
    bool ascii;
    Bytes answer;
    std::string cause;
  };
  for (const Case& c : std::vector<Case>{
           // 01 03 inside the frame is taken for the start of the reply asked for.
           {"RTU, a unit byte inside the frame", false, MasterRig::Rtu("03 03 02 01 03"), readCause},
           {"ASCII", true, Chars(":0303020007F1\r\n"), readCause},
           // Another unit's frame that does not answer the request: another count or function.
           {"another count", false, MasterRig::Rtu("03 03 04 00 2A 00 2B"), noReply},
           {"another function", false, MasterRig::Rtu("03 04 02 00 2A"), noReply},
           {"coils", false, MasterRig::Rtu("03 01 01 01"), noReply},
       }) {
    SCOPED_TRACE(c.what);
    MasterRig rig;
    if (c.ascii) rig.master.SetModBusMode(rtu::Ascii);
    rig.Answer(c.answer);
    VariantArray v(1, 1, VarType::Double);
    EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultFailed);
    EXPECT_EQ(rig.road.Cause(), c.cause);
  }
}

}  // namespace
}  // namespace plc::modbus::testing
