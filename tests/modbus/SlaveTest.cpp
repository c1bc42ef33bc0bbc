// The slave engine on an in-memory port: the test plays the remote master. Replies are
// compared byte for byte; the image is checked where a request wrote it.
#include <gtest/gtest.h>

#include "modbus/AsciiFrame.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusSlave.h"
#include "modbus/RtuFrame.h"
#include "modbus/RtuLink.h"
#include "platform/MemorySerialPort.h"
#include "platform/PollEventLoop.h"
#include "tests/modbus/FramingHelpers.h"
#include "tests/support/LinkTestBench.h"

namespace plc::modbus::testing {
namespace {

Adu Message(std::string_view hex) {
  Bytes m = Hex(hex);
  return Adu{m[0], m[1], Bytes(m.begin() + 2, m.end())};
}
Bytes Rtu(std::string_view hex) { return BuildRtuFrame(Message(hex)); }
Bytes Ascii(std::string_view hex) { return BuildAsciiFrame(Message(hex)); }

struct Event {
  std::int32_t mAdd;
  std::int16_t quan;
};

struct SlaveRig {
  ManualClock clock;
  PollEventLoop loop{clock};
  ScopedCurrentLoop scope{loop};
  MemorySerialPort port{loop};
  ModbusMaster master{port, loop};
  RegisterImageArray image = RegisterImageArray(kSlaveImageLast + 1, 0);
  ModbusSlave slave{port, master, image, loop};
  std::vector<Event> events;

  explicit SlaveRig(std::int16_t mode = rtu::SlaveRtu, std::int32_t plcType = rtu::EnStdModbus) {
    port.SetPortOpen(true);
    port.SetRThreshold(1);
    port.SetInputLen(0);
    master.SetModBusMode(mode);
    master.SetPLCType(plcType);
    master.SetUnitAddress(1);
    master.Events.HandleSlaveRequest = [this] { slave.HandleSlaveRequest(); };
    master.Events.CommCompleteEx = [this](std::vector<Variant>& a) {
      events.push_back({a[1].ToInt32(), static_cast<std::int16_t>(a[2].ToInt32())});
    };
  }

  // Sends a request and lets the slave serve it; returns what it answered.
  Bytes Request(const Bytes& frame) {
    port.Inject(frame);
    loop.DoEvents();
    return port.TakeSent();
  }
  // The request arrives in two pieces, the second after the given delay.
  Bytes RequestInPieces(const Bytes& frame, std::size_t split, std::int64_t delayMicros) {
    Bytes tail(frame.begin() + static_cast<std::ptrdiff_t>(split), frame.end());
    loop.AddTimer(clock.MonotonicMicros() + delayMicros, [this, tail] { port.Inject(tail); });
    port.Inject(Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(split)));
    loop.RunFor(delayMicros + 1);
    return port.TakeSent();
  }
};

TEST(Slave, WriteSingleRegisterIsStoredAndEchoed) {
  SlaveRig rig;
  Bytes request = Rtu("01 06 00 09 00 2A");
  EXPECT_EQ(rig.Request(request), request);
  EXPECT_EQ(rig.image[40010], 42);
  ASSERT_EQ(rig.events.size(), 1u);
  EXPECT_EQ(rig.events[0].mAdd, 6);
  EXPECT_EQ(rig.events[0].quan, 2);

  EXPECT_EQ(rig.Request(Rtu("01 03 00 09 00 01")), Rtu("01 03 02 00 2A"));
}

TEST(Slave, CoilWriteThenReadOfEightCoils) {
  SlaveRig rig;
  Bytes request = Rtu("01 05 00 00 FF 00");
  EXPECT_EQ(rig.Request(request), request);
  EXPECT_EQ(rig.image[1], 1);
  EXPECT_EQ(rig.Request(Rtu("01 01 00 00 00 08")), Rtu("01 01 01 01"));
  // A value other than FF00 and 0 is refused as a standard slave refuses it, the coil kept:
  // a master sending 1 for on must not see its coil switched off under an echo.
  EXPECT_EQ(rig.Request(Rtu("01 05 00 00 12 34")), Rtu("01 85 03"));
  EXPECT_EQ(rig.Request(Rtu("01 05 00 00 00 01")), Rtu("01 85 03"));
  EXPECT_EQ(rig.image[1], 1);
  EXPECT_EQ(rig.Request(Rtu("01 05 00 00 00 00")), Rtu("01 05 00 00 00 00"));
  EXPECT_EQ(rig.image[1], 0);
  SlaveRig type2(rtu::SlaveRtu, rtu::EnType2);
  EXPECT_EQ(type2.Request(Rtu("07 05 03 E8 00 01")), Rtu("07 85 03"));
  EXPECT_EQ(type2.image[1000], 0);
}

TEST(Slave, MultipleWritesOfRegistersAndPackedCoils) {
  SlaveRig rig;
  EXPECT_EQ(rig.Request(Rtu("01 10 00 00 00 04 08 00 01 00 02 FF FF 12 34")), Rtu("01 10 00 00 00 04"));
  EXPECT_EQ((std::vector<std::int32_t>(rig.image.begin() + 40001, rig.image.begin() + 40005)),
            (std::vector<std::int32_t>{1, 2, 0xFFFF, 0x1234}));
  EXPECT_EQ(rig.events.back().quan, 6);  // (15 - 3) / 2
  EXPECT_EQ(rig.Request(Rtu("01 03 00 00 00 04")), Rtu("01 03 08 00 01 00 02 FF FF 12 34"));

  // Ten coils from offset 3: CD 01 = 1011 0011, then 1 0.
  EXPECT_EQ(rig.Request(Rtu("01 0F 00 03 00 0A 02 CD 01")), Rtu("01 0F 00 03 00 0A"));
  std::vector<std::int32_t> coils(rig.image.begin() + 4, rig.image.begin() + 14);
  EXPECT_EQ(coils, (std::vector<std::int32_t>{1, 0, 1, 1, 0, 0, 1, 1, 1, 0}));
  EXPECT_EQ(rig.image[14], 0);
  EXPECT_EQ(rig.Request(Rtu("01 01 00 03 00 0A")), Rtu("01 01 02 CD 01"));
}

TEST(Slave, InputTablesAnswerZeros) {
  SlaveRig rig;
  rig.Request(Rtu("01 06 00 00 00 07"));  // holding registers are a table of their own
  EXPECT_EQ(rig.Request(Rtu("01 04 00 00 00 02")), Rtu("01 04 04 00 00 00 00"));
  EXPECT_EQ(rig.Request(Rtu("01 02 00 00 00 03")), Rtu("01 02 01 00"));
}

TEST(Slave, UnansweredRequestsStillRaiseTheirEvent) {
  struct Case {
    const char* name;
    Bytes request;
    std::int32_t mAdd;
  };
  Bytes corrupted = Rtu("01 06 00 09 00 2A");
  corrupted[4] ^= 0x01;
  const std::vector<Case> cases = {
      {"other unit", Rtu("02 03 00 00 00 01"), 3},
      {"corrupted", corrupted, -2},
      {"unknown function", Rtu("01 07 00 00 00 01"), 7},
      {"byte count disagreeing, for another unit", Rtu("02 10 00 00 00 02 02 00 01"), 16},
      {"byte count disagreeing, broadcast", Rtu("00 10 00 00 00 02 02 00 01"), 16},
  };
  for (const Case& c : cases) {
    SlaveRig rig;
    EXPECT_TRUE(rig.Request(c.request).empty()) << c.name;
    ASSERT_EQ(rig.events.size(), 1u) << c.name;
    EXPECT_EQ(rig.events[0].mAdd, c.mAdd) << c.name;
    EXPECT_EQ(std::count(rig.image.begin(), rig.image.end(), 0), kSlaveImageLast + 1) << c.name;
  }
}

// n data bytes of the one value, as Rtu() reads them (" 00 00 ...").
std::string Repeated(const char* byte, std::size_t n) {
  std::string text;
  for (std::size_t k = 0; k < n; ++k) text += std::string(" ") + byte;
  return text;
}

struct Refusal {
  const char* name;
  Bytes request;
  Bytes reply;
};

// The request gets its exception reply, raises its one event and writes nothing.
void ExpectRefused(SlaveRig& rig, const Refusal& c) {
  EXPECT_EQ(rig.Request(c.request), c.reply) << c.name;
  ASSERT_EQ(rig.events.size(), 1u) << c.name;
  EXPECT_EQ(rig.events[0].mAdd, c.request[1]) << c.name;
  EXPECT_EQ(std::count(rig.image.begin(), rig.image.end(), 0), kSlaveImageLast + 1) << c.name;
}

TEST(Slave, RequestsItCannotCarryOutGetTheStandardException) {
  auto zeros = [](std::size_t n) { return Repeated("00", n); };
  const std::vector<Refusal> cases = {
      {"reference beyond the image", Rtu("01 03 27 10 00 01"), Rtu("01 83 02")},  // 40001 + 10000
      {"read running past the image", Rtu("01 03 27 0F 00 02"), Rtu("01 83 02")},  // 50000 and 50001
      {"write beyond the image", Rtu("01 06 FF FF 00 01"), Rtu("01 86 02")},
      {"multiple write running past the image", Rtu("01 10 27 0F 00 02 04 00 01 00 02"), Rtu("01 90 02")},
      {"more registers than a reply holds", Rtu("01 03 00 00 00 7E"), Rtu("01 83 03")},
      {"more bits than a reply holds", Rtu("01 01 00 00 07 D1"), Rtu("01 81 03")},
      {"count of zero", Rtu("01 03 00 00 00 00"), Rtu("01 83 03")},
      {"multiple write of no registers", Rtu("01 10 00 00 00 00 00"), Rtu("01 90 03")},
      {"multiple write of no coils", Rtu("01 0F 00 00 00 00 00"), Rtu("01 8F 03")},
      {"byte count short of the registers", Rtu("01 10 00 00 00 02 02 00 01"), Rtu("01 90 03")},
      {"byte count beyond the registers", Rtu("01 10 00 00 00 01 04 00 01 00 02"), Rtu("01 90 03")},
      {"byte count short of the coils", Rtu("01 0F 00 00 00 0A 01 FF"), Rtu("01 8F 03")},
      {"coils sent as registers", Rtu("01 0F 00 00 00 02 04 00 01 00 01"), Rtu("01 8F 03")},
      {"more registers than one write carries", Rtu(std::string("01 10 00 00 00 7C F8") + zeros(248)), Rtu("01 90 03")},
      {"more coils than one write carries", Rtu(std::string("01 0F 00 00 07 B1 F7") + zeros(247)), Rtu("01 8F 03")},
  };
  for (const Refusal& c : cases) {
    SlaveRig rig;
    ExpectRefused(rig, c);
  }
  // The Modbus maxima themselves are served: 125 registers, 2000 bits, the last element.
  SlaveRig rig;
  EXPECT_EQ(rig.Request(Rtu("01 03 00 00 00 7D")).size(), 5u + 250u);
  EXPECT_EQ(rig.Request(Rtu("01 04 00 00 00 7D")).size(), 5u + 250u);
  EXPECT_EQ(rig.Request(Rtu("01 01 00 00 07 D0")).size(), 5u + 250u);
  EXPECT_EQ(rig.Request(Rtu("01 03 27 0F 00 01")), Rtu("01 03 02 00 00"));  // element 50000
  // ASCII frames the refusal the same way.
  SlaveRig ascii(rtu::SlaveAscii);
  EXPECT_EQ(ascii.Request(Ascii("01 03 27 10 00 01")), Ascii("01 83 02"));
  // EnType2 refuses in the unit of the request.
  SlaveRig type2(rtu::SlaveRtu, rtu::EnType2);
  EXPECT_EQ(type2.Request(Rtu("07 03 C3 50 00 02")), Rtu("07 83 02"));  // 50000 and 50001
  EXPECT_EQ(type2.Request(Rtu("07 03 13 88 00 40")), Rtu("07 83 03"));  // 64 pairs: 128 registers
  EXPECT_EQ(type2.Request(Rtu("07 10 0B B8 00 02 02 00 01")), Rtu("07 90 03"));
  EXPECT_EQ(ascii.Request(Ascii("01 10 00 00 00 02 02 00 01")), Ascii("01 90 03"));
}

TEST(Slave, EachTableKeepsToItsOwnTenThousandElements) {
  // The tables share one image: an offset past a table's 10000 points would reach the next
  // table's elements (coil offset 40000 is element 40001, holding register 1).
  struct Case {
    const char* name;
    Bytes request;
    Bytes reply;
  };
  const std::vector<Case> cases = {
      {"coil write into the holding registers", Rtu("01 05 9C 40 FF 00"), Rtu("01 85 02")},
      {"coil write into the discrete inputs", Rtu("01 05 27 10 FF 00"), Rtu("01 85 02")},
      {"coils written across into the discrete inputs", Rtu("01 0F 27 0F 00 02 01 03"), Rtu("01 8F 02")},
      {"input register read of the holding registers", Rtu("01 04 27 10 00 01"), Rtu("01 84 02")},
      {"coil read of the discrete inputs", Rtu("01 01 27 0F 00 02"), Rtu("01 81 02")},
  };
  for (const Case& c : cases) {
    SlaveRig rig;
    rig.image[10001] = 1;
    rig.image[40001] = 1234;
    EXPECT_EQ(rig.Request(c.request), c.reply) << c.name;
    EXPECT_EQ(rig.image[10001], 1) << c.name;
    EXPECT_EQ(rig.image[40001], 1234) << c.name;
    EXPECT_EQ(rig.image[10000], 0) << c.name;
  }
  // The last point of each table is still served.
  SlaveRig rig;
  EXPECT_EQ(rig.Request(Rtu("01 05 27 0F FF 00")), Rtu("01 05 27 0F FF 00"));
  EXPECT_EQ(rig.image[10000], 1);
  EXPECT_EQ(rig.Request(Rtu("01 02 27 0F 00 01")), Rtu("01 02 01 00"));
  EXPECT_EQ(rig.Request(Rtu("01 04 27 0F 00 01")), Rtu("01 04 02 00 00"));
}

TEST(Slave, ChecksumFailureFlagsTheTransaction) {
  SlaveRig rig;
  Bytes bad = Rtu("01 10 00 00 00 02 04 00 01 00 02");
  bad.back() ^= 0xFF;
  rig.master.Transaction().ReadPending = true;
  EXPECT_TRUE(rig.Request(bad).empty());
  EXPECT_TRUE(rig.master.Transaction().ReplyFailed);
  EXPECT_FALSE(rig.master.Transaction().ReadPending);
  ASSERT_EQ(rig.events.size(), 1u);
  EXPECT_EQ(rig.events[0].mAdd, -2);
  EXPECT_EQ(rig.events[0].quan, 2);  // the count field of a multiple write
  EXPECT_EQ(rig.image[40001], 0);
}

TEST(Slave, RequestInPiecesIsCollectedWhole) {
  SlaveRig rig;
  Bytes request = Rtu("01 10 00 00 00 03 06 00 0A 00 0B 00 0C");
  EXPECT_EQ(rig.RequestInPieces(request, 9, 500'000), Rtu("01 10 00 00 00 03"));
  EXPECT_EQ(rig.image[40003], 12);
  EXPECT_EQ(rig.events.size(), 1u);  // the nested notifications did not serve it again
}

TEST(Slave, BrokenRequestDoesNotCostTheGoodOneBehindIt) {
  // A truncated request, then a good one: the good one is found behind the broken bytes, in
  // one chunk with them or arriving later in pieces, without any silence to go by.
  struct Case {
    const char* name;
    Bytes broken;
  };
  Bytes write16 = Rtu("01 10 00 00 00 03 06 00 0A 00 0B 00 0C");
  Bytes corrupted = Rtu("01 06 00 09 00 2A");
  corrupted[3] ^= 0x40;
  const std::vector<Case> cases = {
      {"cut-off read", Hex("01 03 00 00")},
      {"cut-off multiple write", Bytes(write16.begin(), write16.begin() + 10)},
      {"multiple write header claiming 200 bytes", Hex("01 10 00 00 00 64 C8 00 01")},
      {"corrupted write", corrupted},
      {"lone byte", Hex("01")},
  };
  Bytes good = Rtu("01 06 00 01 00 07");
  for (const Case& c : cases) {
    for (std::size_t split : {std::size_t{0}, std::size_t{3}, good.size()}) {
      SlaveRig rig;
      Bytes both = c.broken;
      both.insert(both.end(), good.begin(), good.end());
      Bytes answer = split == good.size() ? rig.Request(both)
                                          : rig.RequestInPieces(both, c.broken.size() + split, 10'000);
      EXPECT_EQ(answer, good) << c.name << ", split " << split;
      EXPECT_EQ(rig.image[40002], 7) << c.name;
      ASSERT_EQ(rig.events.size(), 2u) << c.name << ", split " << split;
      EXPECT_EQ(rig.events[0].mAdd, -2) << c.name;
      EXPECT_EQ(rig.events[1].mAdd, 6) << c.name;
      EXPECT_EQ(rig.slave.Collected(), 0u) << c.name;
    }
  }
}

TEST(Slave, PartialRequestPastItsWaitIsDroppedWhenNewBytesArrive) {
  for (std::int16_t mode : {rtu::SlaveRtu, rtu::SlaveAscii}) {
    SlaveRig rig(mode);
    auto frame = [mode](std::string_view hex) { return mode == rtu::SlaveAscii ? Ascii(hex) : Rtu(hex); };
    Bytes write = frame("01 06 00 01 00 07");
    // The first half of a request, then silence: nothing is answered or reported yet.
    EXPECT_TRUE(rig.Request(Bytes(write.begin(), write.begin() + 4)).empty());
    EXPECT_TRUE(rig.events.empty());
    rig.loop.RunFor(2'500'000);
    // Its "rest" arrives much later: the stale half is dropped and reported, the rest alone is
    // no request.
    EXPECT_TRUE(rig.Request(Bytes(write.begin() + 4, write.end())).empty());
    ASSERT_EQ(rig.events.size(), 1u) << "mode " << mode;
    EXPECT_EQ(rig.events[0].mAdd, -2);
    EXPECT_EQ(rig.image[40002], 0);
    // The next request is served, after at most one report for the leftover bytes.
    EXPECT_EQ(rig.Request(write), write) << "mode " << mode;
    EXPECT_EQ(rig.image[40002], 7);
    EXPECT_EQ(rig.events.back().mAdd, 6);
    EXPECT_LE(rig.events.size(), 3u);
  }
}

TEST(Slave, AsciiColonAlwaysStartsANewFrame) {
  SlaveRig rig(rtu::SlaveAscii);
  Bytes good = Ascii("01 06 00 01 00 07");
  Bytes cut = Chars(":0103000");  // a frame cut off, no line end
  cut.insert(cut.end(), good.begin(), good.end());
  EXPECT_EQ(rig.Request(cut), good);
  ASSERT_EQ(rig.events.size(), 2u);
  EXPECT_EQ(rig.events[0].mAdd, -2);
  EXPECT_EQ(rig.events[1].mAdd, 6);
  // Lower-case digits fail the frame; the good one behind it is still served.
  Bytes lower = Chars(":010300000001fb\r\n");
  lower.insert(lower.end(), good.begin(), good.end());
  EXPECT_EQ(rig.Request(lower), good);
  EXPECT_EQ(rig.events.back().mAdd, 6);
}

TEST(Slave, BackToBackRequestsAreBothServed) {
  SlaveRig rig;
  Bytes both = Rtu("01 06 00 00 00 05");
  Bytes second = Rtu("01 03 00 00 00 01");
  both.insert(both.end(), second.begin(), second.end());
  Bytes answer = Rtu("01 06 00 00 00 05");
  Bytes read = Rtu("01 03 02 00 05");
  answer.insert(answer.end(), read.begin(), read.end());
  EXPECT_EQ(rig.Request(both), answer);
  EXPECT_EQ(rig.events.size(), 2u);
}

TEST(Slave, GarbageNeverReadsOrWritesOutsideAndLeavesTheSlaveWorking) {
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<std::uint8_t>(seed >> 16);
  };
  for (std::int16_t mode : {rtu::SlaveRtu, rtu::SlaveAscii}) {
    for (int round = 0; round < 40; ++round) {
      SlaveRig rig(mode, round % 2 ? rtu::EnType2 : rtu::EnStdModbus);
      Bytes noise(static_cast<std::size_t>(next() % 64), 0);
      for (auto& b : noise) b = next();
      if (!noise.empty()) noise[0] = mode == rtu::SlaveAscii ? ':' : 1;
      rig.Request(noise);
      rig.loop.RunFor(3'000'000);
      rig.port.TakeSent();
      // A remnant may spoil the next request (its check fails); the one after is served.
      Bytes read = mode == rtu::SlaveAscii ? Ascii("01 03 00 00 00 01") : Rtu("01 03 00 00 00 01");
      Bytes first = rig.Request(read);
      rig.loop.RunFor(3'000'000);
      if (first.empty()) first = rig.Request(read);
      EXPECT_FALSE(first.empty()) << "mode " << mode << " round " << round;
    }
  }
}

TEST(Slave, StalePendingFlagsAreClearedAtTheThreeSecondBoundary) {
  for (std::int64_t age : {2, 3}) {
    SlaveRig rig;
    MasterTransaction& tx = rig.master.Transaction();
    tx.ReadPending = true;
    tx.WritePending = true;
    tx.SendTime = rig.clock.WallSeconds() - age;
    EXPECT_FALSE(rig.Request(Rtu("01 03 00 00 00 01")).empty());
    EXPECT_EQ(tx.ReadPending, age < 3) << age;
    EXPECT_EQ(tx.WritePending, age < 3) << age;
  }
}

TEST(Slave, AModeChangeForgetsAPartialRequest) {
  test::LinkTestBench<RtuLink> b;
  b.New();
  b.host.SetUserMode(true);
  b.link->SetModBusMode(rtu::SlaveRtu);
  b.link->SetPortOpen(true);
  std::vector<std::int32_t> functions;
  b.link->SetEventSink([&](const std::string& name, std::vector<Variant>& a) {
    if (name == "CommCompleteEx") functions.push_back(a[1].ToInt32());
  });
  b.port->Inject(Hex("01 03 00"));
  b.loop.DoEvents();
  b.link->SetModBusMode(rtu::Rtu);
  b.link->SetModBusMode(rtu::SlaveRtu);
  Bytes write = Rtu("01 06 00 01 00 07");
  b.port->Inject(write);
  b.loop.DoEvents();
  EXPECT_EQ(b.port->TakeSent(), write);
  EXPECT_EQ(functions, (std::vector<std::int32_t>{6}));
}

TEST(Slave, WriteActiveExecutesButDoesNotAnswer) {
  SlaveRig rig;
  rig.master.Transaction().WriteActive = true;
  EXPECT_TRUE(rig.Request(Rtu("01 06 00 01 00 09")).empty());
  EXPECT_EQ(rig.image[40002], 9);
  EXPECT_EQ(rig.events.size(), 1u);
}

TEST(Slave, AsciiLongMultipleWriteArrivesInPiecesAndIsAnswered) {
  SlaveRig rig(rtu::SlaveAscii);
  std::string hex = "01 10 00 00 00 14 28";
  for (int k = 0; k < 20; ++k) hex += " 00 " + std::to_string(10 + k);
  Bytes request = Ascii(hex);
  ASSERT_GT(request.size(), 90u);
  EXPECT_EQ(rig.RequestInPieces(request, 20, 300'000), Ascii("01 10 00 00 00 14"));
  EXPECT_EQ(rig.image[40001], 0x10);
  EXPECT_EQ(rig.image[40020], 0x29);
  EXPECT_EQ(rig.Request(Ascii("01 03 00 13 00 01")), Ascii("01 03 02 00 29"));
  // Noise before the colon is skipped.
  Bytes noisy = Chars("xx");
  Bytes read = Ascii("01 03 00 00 00 01");
  noisy.insert(noisy.end(), read.begin(), read.end());
  EXPECT_EQ(rig.Request(noisy), Ascii("01 03 02 00 10"));
}

// ASCII allows up to a second between characters, not between a frame's first and last: the
// longest write (123 registers, 511 characters) takes 4.3 s at 1200 baud and is served whole.
TEST(Slave, AsciiRequestLongerThanTheWaitLimitIsServedWhileItsCharactersKeepComing) {
  SlaveRig rig(rtu::SlaveAscii);
  std::string hex = "01 10 00 00 00 7B F6";
  for (int k = 1; k <= 123; ++k) hex += " 00 " + std::string(1, "0123456789ABCDEF"[k / 16]) + "0123456789ABCDEF"[k % 16];
  const Bytes request = Ascii(hex);
  ASSERT_EQ(request.size(), 511u);
  constexpr std::size_t kPiece = 30;  // a quarter second of characters at 1200 baud
  for (std::size_t at = 0; at < request.size(); at += kPiece) {
    const auto end = std::min(request.size(), at + kPiece);
    rig.port.Inject(Bytes(request.begin() + static_cast<std::ptrdiff_t>(at), request.begin() + static_cast<std::ptrdiff_t>(end)));
    rig.loop.RunFor(250'000);
  }
  EXPECT_EQ(rig.port.TakeSent(), Ascii("01 10 00 00 00 7B"));
  EXPECT_EQ(rig.image[40001], 1);
  EXPECT_EQ(rig.image[40123], 123);
  ASSERT_EQ(rig.events.size(), 1u);
  EXPECT_EQ(rig.events[0].mAdd, 16);
}

// At 1200 baud with parity the longest RTU write (255 bytes) takes 2.3 s to arrive: the wait
// for the rest of a request follows the line speed, so it is served whole.
TEST(Slave, RtuRequestLongerThanTwoSecondsOnASlowLineIsServed) {
  SlaveRig rig;
  rig.port.SetSettings("1200,e,8,1");
  std::string hex = "01 10 00 00 00 7B F6";
  for (int k = 1; k <= 123; ++k) hex += " 00 " + std::string(1, "0123456789ABCDEF"[k / 16]) + "0123456789ABCDEF"[k % 16];
  const Bytes request = Rtu(hex);
  ASSERT_EQ(request.size(), 255u);
  constexpr std::size_t kPiece = 27;  // a quarter second of characters at 1200 baud, 11 bits each
  for (std::size_t at = 0; at < request.size(); at += kPiece) {
    const auto end = std::min(request.size(), at + kPiece);
    rig.port.Inject(Bytes(request.begin() + static_cast<std::ptrdiff_t>(at), request.begin() + static_cast<std::ptrdiff_t>(end)));
    rig.loop.RunFor(250'000);
  }
  EXPECT_EQ(rig.port.TakeSent(), Rtu("01 10 00 00 00 7B"));
  EXPECT_EQ(rig.image[40123], 123);
}

TEST(Slave, Type2AnswersAnyUnitFromTheImage) {
  SlaveRig rig(rtu::SlaveRtu, rtu::EnType2);
  // Words at address 3000 onwards, the unit of the request in the reply.
  EXPECT_EQ(rig.Request(Rtu("07 06 0B B8 00 2A")), Rtu("07 06 0B B8 00 2A"));
  EXPECT_EQ(rig.image[3000], 42);
  EXPECT_EQ(rig.Request(Rtu("05 03 0B B8 00 01")), Rtu("05 03 02 00 2A"));
  // A 32-bit value at 5000 (kind 5) and a float pattern at 7000 (kind 7) read back exactly.
  EXPECT_EQ(rig.Request(Rtu("01 10 13 88 00 02 04 FF FE 00 01")), Rtu("01 10 13 88 00 02"));
  EXPECT_EQ(rig.image[5000], static_cast<std::int32_t>(0xFFFE0001u));
  EXPECT_EQ(rig.Request(Rtu("01 03 13 88 00 01")), Rtu("01 03 04 FF FE 00 01"));
  EXPECT_EQ(rig.Request(Rtu("01 10 1B 58 00 04 08 3F C0 00 00 40 20 00 00")), Rtu("01 10 1B 58 00 04"));
  EXPECT_EQ(rig.Request(Rtu("01 03 1B 58 00 02")), Rtu("01 03 08 3F C0 00 00 40 20 00 00"));
  // Bits at 1000.
  EXPECT_EQ(rig.Request(Rtu("01 05 03 E8 FF 00")), Rtu("01 05 03 E8 FF 00"));
  EXPECT_EQ(rig.Request(Rtu("01 01 03 E8 00 02")), Rtu("01 01 01 01"));
}

// EnType2 addresses have no tables, but a write's quantity is still bound by what a Modbus
// request may carry: none, or more than 123 registers or 1968 coils, is illegal data value.
TEST(Slave, Type2RefusesMultipleWritesOfNoPointsOrPastTheMaxima) {
  auto ones = [](std::size_t n) { return Repeated("FF", n); };
  const std::vector<Refusal> cases = {
      {"no registers", Rtu("07 10 0B B8 00 00 00"), Rtu("07 90 03")},
      {"no 32-bit values", Rtu("07 10 13 88 00 00 00"), Rtu("07 90 03")},
      {"no coils", Rtu("07 0F 03 E8 00 00 00"), Rtu("07 8F 03")},
      {"124 registers", Rtu(std::string("07 10 0B B8 00 7C F8") + ones(248)), Rtu("07 90 03")},
      {"124 registers of 32-bit values", Rtu(std::string("07 10 13 88 00 7C F8") + ones(248)), Rtu("07 90 03")},
      {"2040 coils", Rtu(std::string("07 0F 03 E8 07 F8 FF") + ones(255)), Rtu("07 8F 03")},
  };
  for (const Refusal& c : cases) {
    SlaveRig rig(rtu::SlaveRtu, rtu::EnType2);
    ExpectRefused(rig, c);
  }
  // The maxima themselves are carried out.
  SlaveRig rig(rtu::SlaveRtu, rtu::EnType2);
  EXPECT_EQ(rig.Request(Rtu(std::string("07 10 0B B8 00 7B F6") + ones(246))), Rtu("07 10 0B B8 00 7B"));
  EXPECT_EQ(rig.image[3122], 0xFFFF);
  EXPECT_EQ(rig.Request(Rtu(std::string("07 0F 03 E8 07 B0 F6") + ones(246))), Rtu("07 0F 03 E8 07 B0"));
  EXPECT_EQ(rig.image[1000 + 1967], 1);
  EXPECT_EQ(rig.image[1000 + 1968], 0);
}

// Unit 0 is the broadcast every slave on the line hears: an answer would collide with the
// others'. A write is carried out, nothing is ever sent back.
TEST(Slave, ABroadcastIsNeverAnswered) {
  SlaveRig type2(rtu::SlaveRtu, rtu::EnType2);
  EXPECT_TRUE(type2.Request(Rtu("00 06 0B B8 00 2A")).empty());
  EXPECT_EQ(type2.image[3000], 42);
  EXPECT_TRUE(type2.Request(Rtu("00 03 0B B8 00 01")).empty());
  EXPECT_TRUE(type2.Request(Rtu("00 03 0B B8 00 00")).empty());  // refused, and still silent
  EXPECT_EQ(type2.events.size(), 3u);
  EXPECT_EQ(type2.Request(Rtu("07 03 0B B8 00 01")), Rtu("07 03 02 00 2A"));

  SlaveRig ascii(rtu::SlaveAscii);
  ascii.master.SetUnitAddress(0);
  EXPECT_TRUE(ascii.Request(Ascii("00 06 00 09 00 2A")).empty());
  EXPECT_EQ(ascii.image[40010], 42);
  EXPECT_TRUE(ascii.Request(Ascii("00 03 00 09 00 01")).empty());
  EXPECT_EQ(ascii.events.size(), 2u);
}

TEST(Slave, RtuLinkInSlaveRtuServesFromItsImageAndRaisesTheEvent) {
  test::LinkTestBench<RtuLink> b;
  b.New();
  b.link->SetAddress(1);
  b.link->SetModBusMode(rtu::SlaveRtu);
  b.link->SetPortOpen(true);
  std::vector<std::vector<Variant>> completions;
  b.link->SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    if (name == "CommCompleteEx") completions.push_back(args);
  });
  Bytes request = Rtu("01 06 00 09 00 2A");
  b.port->Inject(request);
  b.loop.DoEvents();
  EXPECT_EQ(b.port->TakeSent(), request);
  EXPECT_EQ(b.link->RegisterImage()[40010], 42);
  b.port->Inject(Rtu("01 03 00 09 00 01"));
  b.loop.DoEvents();
  EXPECT_EQ(b.port->TakeSent(), Rtu("01 03 02 00 2A"));
  ASSERT_EQ(completions.size(), 2u);
  EXPECT_EQ(completions[1][1].ToInt32(), 3);
  // A new mode clears the image.
  b.link->SetModBusMode(rtu::SlaveAscii);
  EXPECT_EQ(b.link->RegisterImage()[40010], 0);
}

}  // namespace
}  // namespace plc::modbus::testing
