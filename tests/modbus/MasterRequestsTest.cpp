// Requests the master sends and replies it decodes, byte for byte, through the call road.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "modbus/MasterCause.h"
#include "tests/modbus/MasterRig.h"

namespace plc::modbus::testing {
namespace {

TEST(MasterRequests, ReadOfTwoHoldingRegistersAndItsReply) {
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 03 04 00 0C 0D 80"));
  VariantArray values(1, 2, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", values, 2), ResultOk);
  ASSERT_EQ(rig.requests.size(), 1u);
  EXPECT_EQ(rig.requests[0], Hex("01 03 00 00 00 02 C4 0B"));
  EXPECT_EQ(values.Get(1).ToDouble(), 12);
  EXPECT_EQ(values.Get(2).ToDouble(), 3456);
  // A waiting read raises the completion event too, with the start reference and quantity.
  ASSERT_EQ(rig.completions.size(), 1u);
  EXPECT_EQ(rig.completions[0][1].ToInt32(), 40001);
  EXPECT_EQ(rig.completions[0][2].ToInt32(), 2);
  EXPECT_EQ(rig.completions[0][4].ToInt32(), -1);
  EXPECT_FALSE(rig.master.CommBusy());
  // The fixed-point pair reads as one value.
  VariantArray one(1, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", one, 1, ioFloat), ResultOk);
  EXPECT_DOUBLE_EQ(one.Get(1).ToDouble(), 12.3456);
}

TEST(MasterRequests, DiscreteInputReadWaitsForSixBytes) {
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 02 01 01"));
  VariantArray v(1, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("10008", v, 1), ResultOk);
  EXPECT_EQ(rig.requests[0], MasterRig::Rtu("01 02 00 07 00 01"));
  EXPECT_EQ(rig.master.Transaction().ExpectedLength, 6);
  EXPECT_EQ(v.Get(1).ToDouble(), 1);
  EXPECT_EQ(rig.completions.at(0)[1].ToInt32(), 10008);
  EXPECT_EQ(rig.completions.at(0)[2].ToInt32(), 1);
}

TEST(MasterRequests, WritesOfOneAndOfThreeHoldingRegisters) {
  MasterRig rig;
  rig.Answer(Hex("01 06 00 09 00 2A D8 17"));
  EXPECT_EQ(rig.WritePLC("40010", {42}), ResultOk);
  EXPECT_EQ(rig.requests.at(0), Hex("01 06 00 09 00 2A D8 17"));
  rig.Answer(MasterRig::Rtu("01 10 00 09 00 03"));
  EXPECT_EQ(rig.WritePLC("40010", {1, 2, 3}), ResultOk);
  EXPECT_EQ(rig.requests.at(1), MasterRig::Rtu("01 10 00 09 00 03 06 00 01 00 02 00 03"));
  // Acknowledgements raise no event and leave the line free.
  EXPECT_TRUE(rig.completions.empty());
  EXPECT_FALSE(rig.master.CommBusy());
  EXPECT_FALSE(rig.scan.ScanWriteActive());
}

TEST(MasterRequests, SeveralCoilsGoOutAsPackedBits) {
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 0F 00 08 00 09"));
  EXPECT_EQ(rig.WritePLC("9", {1, 0, 1, 1, 0, 0, 0, 1, 1}), ResultOk);
  EXPECT_EQ(rig.requests.at(0), Hex("01 0F 00 08 00 09 02 8D 01 40 A4"));
}

TEST(MasterRequests, AWaitingReadOfMoreCoilsThanDataBufferHoldsGetsEveryPoint) {
  // 600 coils in one reply: on, off, on, ... DataBuffer keeps 500 of them; the waiting read
  // must still hand over all 600, or fail, never leave the last 100 as they were.
  MasterRig rig;
  Bytes data(75, 0x55);
  Bytes reply = {0x01, 0x01, 75};
  reply.insert(reply.end(), data.begin(), data.end());
  rig.Answer(BuildRtuFrame(Adu{reply[0], reply[1], Bytes(reply.begin() + 2, reply.end())}));
  VariantArray v(1, 600, VarType::Double);
  for (std::int32_t i = 1; i <= 600; ++i) v.Set(i, Variant(-7.0));
  ASSERT_EQ(rig.ReadPLC("00001", v, 600), ResultOk) << rig.master.Cause();
  EXPECT_EQ(rig.requests.at(0), MasterRig::Rtu("01 01 00 00 02 58"));
  for (std::int32_t i = 1; i <= 600; ++i) ASSERT_EQ(v.Get(i).ToDouble(), i % 2) << "element " << i;
  // ... as signed words, and as fixed-point pairs (300 of them) alike.
  for (std::int32_t i = 1; i <= 600; ++i) v.Set(i, Variant(-7.0));
  ASSERT_EQ(rig.ReadPLC("00001", v, 600, 5), ResultOk) << rig.master.Cause();
  for (std::int32_t i = 1; i <= 600; ++i) ASSERT_EQ(v.Get(i).ToDouble(), i % 2) << "element " << i;
  ASSERT_EQ(rig.ReadPLC("00001", v, 300, ioFloat), ResultOk) << rig.master.Cause();
  for (std::int32_t k = 1; k <= 300; ++k) ASSERT_DOUBLE_EQ(v.Get(k).ToDouble(), 1.0) << "value " << k;
  // A non-waiting read's event carries every point in MData too.
  rig.completions.clear();
  ASSERT_EQ(rig.ReadPLCNW("00001", 600), ResultOk);
  rig.loop.DoEvents();
  ASSERT_EQ(rig.completions.size(), 1u);
  ASSERT_EQ(rig.completions[0][2].ToInt32(), 600);
  const VariantArray& m = rig.completions[0][0].Array();
  ASSERT_TRUE(m.Contains(600));
  for (std::int32_t i = 1; i <= 600; ++i) ASSERT_EQ(m.Get(i).ToDouble(), i % 2) << "MData " << i;
  // A reply that fits DataBuffer leaves nothing of the long one behind.
  rig.Answer(MasterRig::Rtu("01 01 01 00"));
  ASSERT_EQ(rig.ReadPLC("00001", v, 8), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), 0);
}

TEST(MasterRequests, AWriteOfMoreThanTwoHundredCoilsSendsEveryOne) {
  // 300 coils, every third one on: one function 15 request carrying all 300 (38 data bytes).
  MasterRig rig;
  rig.Answer(MasterRig::Rtu("01 0F 00 00 01 2C"));
  std::vector<double> coils(300, 0);
  for (std::size_t k = 0; k < coils.size(); k += 3) coils[k] = 1;
  ASSERT_EQ(rig.WritePLC("00001", coils), ResultOk) << rig.master.Cause();
  ASSERT_EQ(rig.requests.size(), 1u);
  Bytes expected = Hex("01 0F 00 00 01 2C 26");
  Bytes data(38, 0);
  for (std::size_t k = 0; k < coils.size(); k += 3) data[k / 8] |= static_cast<std::uint8_t>(1u << (k % 8));
  expected.insert(expected.end(), data.begin(), data.end());
  EXPECT_EQ(rig.requests[0], BuildRtuFrame(*Adu::FromBytes(expected)));
  // 32-bit values go one request each: more than 200 of them are refused, not cut at 200.
  rig.master.SetPLCType(rtu::EnType2);
  rig.Answer(MasterRig::Rtu("01 10 13 89 00 02"));
  EXPECT_EQ(rig.WritePLC("5001", std::vector<double>(201, 7)), ResultFailed);
  EXPECT_EQ(rig.master.Cause(), "count 201 beyond this control's limit of 200 32-bit values per write");
  EXPECT_EQ(rig.requests.size(), 1u);
}

TEST(MasterRequests, AsciiReadAndReply) {
  MasterRig rig;
  rig.master.SetModBusMode(rtu::Ascii);
  rig.Answer(Chars(":0103020007F3\r\n"));
  VariantArray v(1, 1, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultOk);
  EXPECT_EQ(ToText(rig.requests.at(0)), ":010300000001FB\r\n");
  EXPECT_EQ(rig.master.Transaction().ExpectedLength, 15);
  EXPECT_EQ(v.Get(1).ToDouble(), 7);
}

TEST(MasterRequests, Type2LongsAndFloatsTakeFourBytesPerValue) {
  MasterRig rig;
  rig.master.SetPLCType(rtu::EnType2);
  rig.Answer(MasterRig::Rtu("01 03 08 FF FF FF FE 00 01 00 00"));
  VariantArray v(1, 2, VarType::Double);
  EXPECT_EQ(rig.ReadPLC("5010", v, 2), ResultOk);
  EXPECT_EQ(rig.requests.at(0), MasterRig::Rtu("01 03 13 92 00 02"));
  EXPECT_EQ(rig.master.Transaction().ExpectedLength, 13);
  EXPECT_EQ(v.Get(1).ToDouble(), -2);
  EXPECT_EQ(v.Get(2).ToDouble(), 65536);

  rig.Answer(MasterRig::Rtu("01 03 04 C0 20 00 00"));
  EXPECT_EQ(rig.ReadPLC("7000", v, 1), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), -2.5);

  // Each 32-bit value is written in its own request as two registers.
  rig.slave = [](const Bytes& req) {
    Bytes echo(req.begin(), req.begin() + 6);
    return BuildRtuFrame(Adu{echo[0], echo[1], Bytes(echo.begin() + 2, echo.end())});
  };
  EXPECT_EQ(rig.WritePLC("7000", {1.0, -2.5}), ResultOk);
  ASSERT_EQ(rig.requests.size(), 4u);
  EXPECT_EQ(rig.requests[2], MasterRig::Rtu("01 10 1B 58 00 02 04 3F 80 00 00"));
  EXPECT_EQ(rig.requests[3], MasterRig::Rtu("01 10 1B 59 00 02 04 C0 20 00 00"));
}

// An EnType2 device of 32-bit values, one per reference (high word, low word), as the writes
// leave them.
std::function<Bytes(const Bytes&)> Type2Device(std::map<int, std::pair<int, int>>& memory) {
  return [&memory](const Bytes& req) {
    const int offset = req[2] << 8 | req[3];
    if (req[1] == 0x10) {
      memory[offset] = {req[7] << 8 | req[8], req[9] << 8 | req[10]};
      return BuildRtuFrame(Adu{req[0], req[1], Bytes(req.begin() + 2, req.begin() + 6)});
    }
    const int count = req[4] << 8 | req[5];
    Bytes data{static_cast<std::uint8_t>(4 * count)};
    for (int k = 0; k < count; ++k) {
      auto [high, low] = memory[offset + k];
      for (int w : {high, low}) {
        data.push_back(static_cast<std::uint8_t>(w >> 8));
        data.push_back(static_cast<std::uint8_t>(w));
      }
    }
    return BuildRtuFrame(Adu{req[0], req[1], data});
  };
}

// 32-bit values are no register words: the ioType a ReadDevice gave the replies after it (5:
// signed 16-bit words) leaves them as read, and a value written reads back the same by every
// read call.
TEST(MasterRequests, Type2LongsAndFloatsReadBackAsWrittenAfterASignedReadDevice) {
  MasterRig rig;
  rig.master.SetPLCType(rtu::EnType2);
  std::map<int, std::pair<int, int>> memory;
  rig.slave = Type2Device(memory);
  ASSERT_EQ(rig.road.ReadDevice("3001", Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>(std::int16_t{5})),
            ResultOk);
  rig.loop.DoEvents();
  ASSERT_EQ(rig.WritePLC("5001", {100000, -100000, 40000}), ResultOk);
  ASSERT_EQ(rig.WritePLC("7001", {70000.5}), ResultOk);

  VariantArray v(1, 3, VarType::Double);
  ASSERT_EQ(rig.ReadPLC("5001", v, 3), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), 100000);
  EXPECT_EQ(v.Get(2).ToDouble(), -100000);
  EXPECT_EQ(v.Get(3).ToDouble(), 40000);
  ASSERT_EQ(rig.ReadPLC("7001", v, 1), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), 70000.5);
  // Also when the waiting read itself asks for signed words.
  ASSERT_EQ(rig.ReadPLC("5001", v, 3, 5), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), 100000);
  EXPECT_EQ(v.Get(2).ToDouble(), -100000);
  ASSERT_EQ(rig.ReadPLC("7001", v, 1, 5), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), 70000.5);

  rig.completions.clear();
  ASSERT_EQ(rig.ReadPLCNW("5001", 3), ResultOk);
  rig.loop.DoEvents();
  ASSERT_EQ(rig.ReadPLCNW("7001"), ResultOk);
  rig.loop.DoEvents();
  ASSERT_EQ(rig.completions.size(), 2u);
  EXPECT_EQ(rig.completions[0][0].Array().Get(1).ToDouble(), 100000);
  EXPECT_EQ(rig.completions[0][0].Array().Get(2).ToDouble(), -100000);
  EXPECT_EQ(rig.completions[0][0].Array().Get(3).ToDouble(), 40000);
  EXPECT_EQ(rig.completions[0][1].ToInt32(), 5001);
  EXPECT_EQ(rig.completions[0][2].ToInt32(), 3);
  EXPECT_EQ(rig.completions[1][0].Array().Get(1).ToDouble(), 70000.5);
  EXPECT_EQ(rig.completions[1][3].ToString(), "");
  // ioType 5 writes them as the signed 32-bit values they are, and reads them back so.
  VariantArray w(1, 2, VarType::Double);
  w.Set(1, Variant(-1.0));
  w.Set(2, Variant(-100000.0));
  ASSERT_EQ(rig.road.WritePLC("5001", w, Opt<std::int16_t>(std::int16_t{2}), Opt<std::int16_t>(std::int16_t{5})),
            ResultOk)
      << rig.road.Cause();
  EXPECT_EQ(memory[5001], std::make_pair(0xFFFF, 0xFFFF));
  ASSERT_EQ(rig.ReadPLC("5001", v, 2, 5), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), -1);
  EXPECT_EQ(v.Get(2).ToDouble(), -100000);
  ASSERT_EQ(rig.ReadPLC("5001", v, 1), ResultOk);
  EXPECT_EQ(v.Get(1).ToDouble(), -1);
  // The register words after them are still signed, as that ReadDevice asked.
  rig.Answer(MasterRig::Rtu("01 03 02 FF FF"));
  ASSERT_EQ(rig.ReadPLCNW("3001"), ResultOk);
  rig.loop.DoEvents();
  EXPECT_EQ(rig.completions.back()[0].Array().Get(1).ToDouble(), -1);
}

// A 32-bit value of one reference is no fixed-point pair of registers: ioType 2 (ioFloat) reads
// and writes each as the value it is, at its own reference, and never combines or overwrites
// the value of the next reference.
TEST(MasterRequests, Type2LongsAndFloatsAreNoFixedPointPairs) {
  MasterRig rig;
  rig.master.SetPLCType(rtu::EnType2);
  std::map<int, std::pair<int, int>> memory;
  rig.slave = Type2Device(memory);
  ASSERT_EQ(rig.WritePLC("7000", {21.5, 100.0}), ResultOk) << rig.road.Cause();
  ASSERT_EQ(rig.WritePLC("5000", {123456, 7}), ResultOk) << rig.road.Cause();

  VariantArray v(1, 2, VarType::Double);
  ASSERT_EQ(rig.ReadPLC("7000", v, 1, ioFloat), ResultOk) << rig.road.Cause();
  EXPECT_EQ(v.Get(1).ToDouble(), 21.5) << "not 21.5 + 100 / 10000 from 7001";
  EXPECT_EQ(rig.requests.back(), MasterRig::Rtu("01 03 1B 58 00 01"));
  ASSERT_EQ(rig.ReadPLC("7000", v, 2, ioFloat), ResultOk) << rig.road.Cause();
  EXPECT_EQ(v.Get(1).ToDouble(), 21.5);
  EXPECT_EQ(v.Get(2).ToDouble(), 100.0);
  ASSERT_EQ(rig.ReadPLC("5000", v, 2, ioFloat), ResultOk) << rig.road.Cause();
  EXPECT_EQ(v.Get(1).ToDouble(), 123456);
  EXPECT_EQ(v.Get(2).ToDouble(), 7);

  // ReadDevice with ioFloat asks for the values themselves, and its replies, and those of the
  // host's reads after it, are not paired.
  rig.completions.clear();
  ASSERT_EQ(rig.road.ReadDevice("7000", Opt<std::int16_t>(std::int16_t{2}), Opt<std::int16_t>(std::int16_t{ioFloat})),
            ResultOk);
  rig.loop.DoEvents();
  EXPECT_EQ(rig.requests.back(), MasterRig::Rtu("01 03 1B 58 00 02"));
  ASSERT_EQ(rig.ReadPLCNW("5000", 2), ResultOk);
  rig.loop.DoEvents();
  ASSERT_EQ(rig.completions.size(), 2u);
  EXPECT_EQ(rig.completions[0][0].Array().Get(1).ToDouble(), 21.5);
  EXPECT_EQ(rig.completions[0][0].Array().Get(2).ToDouble(), 100.0);
  EXPECT_EQ(rig.completions[0][2].ToInt32(), 2);
  EXPECT_EQ(rig.completions[1][0].Array().Get(1).ToDouble(), 123456);
  EXPECT_EQ(rig.completions[1][2].ToInt32(), 2);

  // A write with ioFloat puts the value at its reference and leaves the next one alone.
  ASSERT_EQ(rig.WritePLC("7000", {12.5}, ioFloat), ResultOk) << rig.road.Cause();
  EXPECT_EQ(memory[7000], std::make_pair(0x4148, 0x0000));
  EXPECT_EQ(memory[7001], std::make_pair(0x42C8, 0x0000)) << "7001 still holds 100.0";
  ASSERT_EQ(rig.WritePLC("5000", {-5, 9}, ioFloat), ResultOk) << rig.road.Cause();
  EXPECT_EQ(memory[5000], std::make_pair(0xFFFF, 0xFFFB));
  EXPECT_EQ(memory[5001], std::make_pair(0x0000, 0x0009));
}

// The values of one write all go to references of the kind it starts in: one past 5999 or 7999
// has no write, so the call is refused before any value is written, not cut short after the
// first.
TEST(MasterRequests, Type2WritesPastTheirKindAreRefusedWhole) {
  MasterRig rig;
  rig.master.SetPLCType(rtu::EnType2);
  rig.slave = [](const Bytes& req) { return BuildRtuFrame(Adu{req[0], req[1], Bytes(req.begin() + 2, req.begin() + 6)}); };
  for (const char* address : {"5999", "7998"}) {
    EXPECT_EQ(rig.WritePLC(address, {1, 2, 3}), ResultFailed) << address;
    EXPECT_TRUE(rig.requests.empty()) << address;
    EXPECT_NE(rig.road.Cause().find("reference"), std::string::npos) << rig.road.Cause();
    EXPECT_FALSE(rig.road.CommBusy().ToBool());
  }
  // The last values of the kind are written.
  EXPECT_EQ(rig.WritePLC("7998", {1, 2}), ResultOk);
  ASSERT_EQ(rig.requests.size(), 2u);
  EXPECT_EQ(rig.requests[1], MasterRig::Rtu("01 10 1F 3F 00 02 04 40 00 00 00"));
}

// A real beyond what a 32-bit float holds has no register pair: the write is refused before any
// value goes out, not after the values before it were written, and the cause names the value.
TEST(MasterRequests, Type2FloatsBeyondASingleAreRefusedWhole) {
  MasterRig rig;
  rig.master.SetPLCType(rtu::EnType2);
  rig.slave = [](const Bytes& req) { return BuildRtuFrame(Adu{req[0], req[1], Bytes(req.begin() + 2, req.begin() + 6)}); };
  for (double big : {1e39, -3.5e38}) {
    EXPECT_EQ(rig.WritePLC("7000", {1.5, big}), ResultFailed) << big;
    EXPECT_TRUE(rig.requests.empty()) << big;
    EXPECT_NE(rig.road.Cause().find("does not fit a 32-bit real"), std::string::npos) << rig.road.Cause();
    EXPECT_NE(rig.road.Cause().find(NumberText(big)), std::string::npos) << rig.road.Cause();
    EXPECT_FALSE(rig.road.CommBusy().ToBool());
  }
  // The largest single still goes out.
  EXPECT_EQ(rig.WritePLC("7000", {3.4028234e38}), ResultOk) << rig.road.Cause();
  EXPECT_EQ(rig.requests.at(0), MasterRig::Rtu("01 10 1B 58 00 02 04 7F 7F FF FF"));
}

// Requests with no function for their reference: refused at once, nothing on the line.
struct Refused {
  const char* what;
  std::int32_t plcType;
  const char* address;
  int values;  // 0: a read
};

class MasterRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(MasterRefused, SendsNothingAndReturnsZero) {
  const Refused& c = GetParam();
  MasterRig rig;
  rig.master.SetPLCType(c.plcType);
  rig.Answer(MasterRig::Rtu("01 03 02 00 01"));
  VariantArray v(1, 4, VarType::Double);
  v.Set(1, Variant(77.0));
  std::int64_t before = rig.Micros();
  Result r = c.values == 0 ? rig.ReadPLC(c.address, v, 1) : rig.WritePLC(c.address, std::vector<double>(c.values, 1));
  EXPECT_EQ(r, ResultFailed) << c.what;
  EXPECT_TRUE(rig.requests.empty()) << c.what;
  EXPECT_EQ(rig.Micros(), before) << c.what;
  EXPECT_FALSE(rig.master.CommBusy()) << c.what;
  EXPECT_EQ(v.Get(1).ToDouble(), 77) << c.what;
  if (c.values == 0) {
    EXPECT_EQ(rig.ReadPLCNW(c.address), ResultFailed) << c.what;
    EXPECT_TRUE(rig.requests.empty()) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MasterRefused,
    ::testing::Values(Refused{"EnType3 read", rtu::EnType3, "40001", 0}, Refused{"EnType10 write", rtu::EnType10, "40001", 1},
                      Refused{"2xxxx read", rtu::EnStdModbus, "20001", 0},
                      Refused{"5xxxx read", rtu::EnStdModbus, "50001", 0},
                      Refused{"discrete input write", rtu::EnStdModbus, "10001", 1},
                      Refused{"input register write", rtu::EnStdModbus, "30001", 2},
                      Refused{"EnType2 kind 4 read", rtu::EnType2, "4001", 0},
                      Refused{"EnType2 kind 4 write", rtu::EnType2, "4001", 1},
                      Refused{"EnType2 coil read", rtu::EnType2, "5", 0},
                      Refused{"EnType2 bits, several values", rtu::EnType2, "1005", 3},
                      Refused{"EnType2 kind 6 write", rtu::EnType2, "6000", 1},
                      Refused{"coil 0: offset -1 cannot be framed in RTU", rtu::EnStdModbus, "0", 0}));

}  // namespace
}  // namespace plc::modbus::testing
