// What a host gets from UdpLink in ECOM mode, end to end over UDP against a simulated module
// that keeps its points as bytes: bits other than bit 0, walks across byte and word
// boundaries, with and without the optional arguments, fixed-point pairs, and writes; each
// with the datagrams that went out and the module's memory afterwards.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "ecom/EcomLinkState.h"
#include "ecom/UdpLink.h"
#include "ecom/heipas/Datagram.h"
#include "tests/support/LinkTestBench.h"
#include "tools/plcsim/EcomModuleSim.h"

namespace plc {
namespace {

using heipas::Datagram;
using heipas::Kind;

constexpr std::uint8_t kInputs = 0x32, kOutputs = 0x33, kRegisters = 0x31;

class UdpLinkEcomValues : public ::testing::Test {
 protected:
  void SetUp() override {
    ecom::EcomLink().Reset();
    setenv("HEI_PAS_LIBRARY", PLC_BINARY_DIR "/lib/libhei_pas.so", 1);
    sim_.Start();
    setenv("HEI_PAS_MODULES", sim_.ModuleList().c_str(), 1);
    b_.New();
    b_.link->SetDeviceTimeOut(100);
    b_.link->SetPortOpen(true);
    ASSERT_EQ(b_.link->CurrentErrors(), "");
    // Inputs X0..X77 as the station lays them out: one byte per eight points.
    for (std::uint16_t i = 0; i < 8; ++i)
      sim_.SetByte(1, kInputs, static_cast<std::uint16_t>(0x101 + i), kInputBytes[i]);
    inputsBefore_ = Inputs();
    sim_.Record(true);
  }
  void TearDown() override {
    b_.link.reset();
    ecom::EcomLink().Reset();
    unsetenv("HEI_PAS_MODULES");
  }

  std::vector<std::uint8_t> Inputs() const {
    std::vector<std::uint8_t> bytes;
    for (std::uint16_t a = 0x100; a < 0x10A; ++a) bytes.push_back(sim_.Byte(1, kInputs, a));
    return bytes;
  }
  // The CCM requests the module received since the last call.
  std::vector<Datagram> Requests() {
    std::vector<Datagram> requests;
    for (const auto& r : sim_.Recorded()) {
      auto d = heipas::Parse(r.bytes);
      if (r.received && d && d->kind == Kind::Ccm) requests.push_back(*d);
    }
    return requests;
  }
  static std::vector<std::int32_t> Values(const Variant& v) {
    std::vector<std::int32_t> out;
    if (!v.IsArray()) return {v.ToInt32()};
    for (std::int32_t k = 1; k <= v.Array().Upper(); ++k) out.push_back(v.Array().Get(k).ToInt32());
    return out;
  }
  void ExpectRead(const Datagram& d, std::uint8_t dataType, std::uint16_t address, std::uint16_t length) {
    EXPECT_EQ(d.write, 0);
    EXPECT_EQ(d.moduleId, 1);
    EXPECT_EQ(d.dataType, dataType);
    EXPECT_EQ(d.address, address);
    EXPECT_EQ(d.length, length);
  }

  // X7 on, X6 off, X2 on, X0 on; X11 on; X36, X37 on; X50 on, X51 off.
  static constexpr std::uint8_t kInputBytes[8] = {0x85, 0x02, 0x00, 0xC0, 0x00, 0x01, 0x00, 0x00};
  sim::EcomModuleSim sim_{{{1, "PRESS", 0}}};
  test::LinkTestBench<UdpLink> b_;
  std::vector<std::uint8_t> inputsBefore_;
};

TEST_F(UdpLinkEcomValues, BitsWithTheOptionalArgumentsLeftOut) {
  // X7, X6, X2, X11: each its own bit of its byte, not the byte; IOType and ioIdx omitted.
  const std::pair<const char*, std::int32_t> bits[] = {{"X,7", 1},  {"X,6", 0},  {"X,2", 1},
                                                       {"X,0", 1},  {"X,11", 1}, {"X,10", 0}};
  for (const auto& [address, expected] : bits) {
    Variant a(address), value;
    ASSERT_EQ(b_.link->ReadPLC(a, value, {}, {}, {}), ResultOk) << address << ": " << b_.link->FailureCause();
    EXPECT_EQ(value, Variant(expected)) << address;
  }
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 6u);
  ExpectRead(requests[0], kInputs, 0x101, 1);
  ExpectRead(requests[4], kInputs, 0x102, 1);
  EXPECT_EQ(Inputs(), inputsBefore_);
}

TEST_F(UdpLinkEcomValues, BitsWithTheOptionalArgumentsGiven) {
  Variant a("X,7"), value;
  std::int16_t ioType = 0;
  std::int32_t ioIdx = 0;
  ASSERT_EQ(b_.link->ReadPLC(a, value, Variant(std::int32_t{1}), ioType, ioIdx), ResultOk);
  EXPECT_EQ(value, Variant(std::int32_t{1}));
  EXPECT_EQ(ioType, 18);
  EXPECT_EQ(ioIdx, 7);

  // Eight points from X6 into an array: X6, X7 of the first byte, X10..X15 of the next.
  Variant eight(VariantArray(1, 8)), size(std::int32_t{8});
  a = Variant("X,6");
  ASSERT_EQ(b_.link->ReadPLC(a, eight, size, ioType, ioIdx), ResultOk);
  EXPECT_EQ(Values(eight), (std::vector<std::int32_t>{0, 1, 0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(ioIdx, 6);
  EXPECT_EQ(size, Variant(std::int32_t{8}));
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 2u);
  ExpectRead(requests[1], kInputs, 0x101, 2);  // the two bytes the points lie in
  EXPECT_EQ(Inputs(), inputsBefore_);
}

TEST_F(UdpLinkEcomValues, AWalkAcrossAWordBoundary) {
  // X36 is bit 6 of byte 104h, the first byte of the reply's first word; twelve points run
  // through X47 (that word's last bit) into X50 and X51, bits 0 and 1 of the next word.
  Variant a("X,36"), walk;
  ASSERT_EQ(b_.link->ReadPLC(a, walk, Variant(std::int32_t{12}), {}, {}), ResultOk);
  EXPECT_EQ(Values(walk), (std::vector<std::int32_t>{1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  ExpectRead(requests[0], kInputs, 0x104, 3);
  EXPECT_EQ(Inputs(), inputsBefore_);

  // The same points as outputs, set in the module: C and Y read their own bytes.
  sim_.SetByte(1, kOutputs, 0x181 + 3, 0xC0);
  sim_.SetByte(1, kOutputs, 0x181 + 5, 0x01);
  a = Variant("C,36");
  ASSERT_EQ(b_.link->ReadPLC(a, walk, Variant(std::int32_t{12}), {}, {}), ResultOk);
  EXPECT_EQ(Values(walk), (std::vector<std::int32_t>{1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
  a = Variant("Y,36");
  ASSERT_EQ(b_.link->ReadPLC(a, walk, Variant(std::int32_t{12}), {}, {}), ResultOk);
  EXPECT_EQ(Values(walk), std::vector<std::int32_t>(12, 0));
}

TEST_F(UdpLinkEcomValues, ANonWaitingReadOfPointsLeavesPointsForReadData) {
  // X6..X15: X7 and X11 on. ReadData gives each point, not the bytes they lie in.
  Variant a("X,6"), unused;
  ASSERT_EQ(b_.link->ReadPLCNW(a, unused, Opt<Variant>(Variant(std::int32_t{8})), {}), ResultOk)
      << b_.link->FailureCause();
  std::vector<std::int32_t> got;
  for (std::int16_t k = 1; k <= 8; ++k) got.push_back(b_.link->ReadData(k).ToInt32());
  EXPECT_EQ(got, (std::vector<std::int32_t>{0, 1, 0, 1, 0, 0, 0, 0}));
  auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  ExpectRead(requests[0], kInputs, 0x101, 2);

  // A word read after it gives its words, not bits of them.
  sim_.SetWord(1, 1024, 0x1234);  // V2000
  Variant v("V,2000");
  ASSERT_EQ(b_.link->ReadPLCNW(v, unused, {}, {}), ResultOk) << b_.link->FailureCause();
  std::int16_t first = 1;
  EXPECT_EQ(b_.link->ReadData(first).ToInt32(), 0x1234);

  // More points than ReadData holds: refused with its cause, nothing sent.
  Requests();
  Variant c("C,0");
  EXPECT_EQ(b_.link->ReadPLCNW(c, unused, Opt<Variant>(Variant(std::int32_t{1001})), {}), ResultFailed);
  EXPECT_EQ(b_.link->FailureCause(), "ReadSize 1001 asks for 1001 points, and ReadData holds 1000");
  EXPECT_TRUE(Requests().empty());
}

TEST_F(UdpLinkEcomValues, AnArrayTooSmallFailsTheRead) {
  Variant a("X,0"), three(VariantArray(1, 3));
  EXPECT_EQ(b_.link->ReadPLC(a, three, Variant(std::int32_t{4}), {}, {}), ResultFailed);
  EXPECT_EQ(b_.link->FailureCause(),
            "ReadValue has no room for the 4 values read (an array from index 1 to at least 4 takes them)");
  EXPECT_EQ(Requests().size(), 1u);
  Variant four(VariantArray(1, 4));
  EXPECT_EQ(b_.link->ReadPLC(a, four, Variant(std::int32_t{4}), {}, {}), ResultOk);
  EXPECT_EQ(Values(four), (std::vector<std::int32_t>{1, 0, 1, 0}));
}

// An array with room for every value but of a type one of them does not fit: the text names
// that value, not a lack of room, and the array is left as it was.
TEST_F(UdpLinkEcomValues, AValueTheArraysTypeCannotHoldIsNamed) {
  sim_.SetWord(1, 1024, 5);
  sim_.SetWord(1, 1025, 40000);
  Variant v("V,2000"), integers(VariantArray(1, 2, VarType::Int16));
  integers.Array().Set(1, Variant(std::int16_t{-7}));
  EXPECT_EQ(b_.link->ReadPLC(v, integers, Variant(std::int32_t{2}), {}, {}), ResultFailed);
  EXPECT_EQ(b_.link->FailureCause(), "element 2 of ReadValue cannot hold the value 40000 read (Overflow)");
  EXPECT_EQ(b_.link->CurrentErrors(), "Error: element 2 of ReadValue cannot hold the value 40000 read (Overflow)");
  EXPECT_EQ(Values(integers), (std::vector<std::int32_t>{-7, 0}));
}

TEST_F(UdpLinkEcomValues, FixedPointPairsInOrder) {
  sim_.SetWord(1, 1024, 12);
  sim_.SetWord(1, 1025, 3456);
  sim_.SetWord(1, 1026, 7);
  sim_.SetWord(1, 1027, 5);
  Variant a("V,2000"), pairs(VariantArray(1, 2)), size(std::int32_t{2});
  ASSERT_EQ(b_.link->ReadPLC(a, pairs, size, std::int16_t{2}, {}), ResultOk);
  EXPECT_DOUBLE_EQ(pairs.Array().Get(1).ToDouble(), 12.3456);
  EXPECT_DOUBLE_EQ(pairs.Array().Get(2).ToDouble(), 7.0005);
  EXPECT_EQ(size, Variant(std::int32_t{4}));
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  ExpectRead(requests[0], kRegisters, 1025, 8);
}

TEST_F(UdpLinkEcomValues, WritesAsGivenAndRefusalsThatSendNothing) {
  // WritePLC V,2100 1:[12,3456] 1 ioFloat: 12 and 3456 reach V2100 and V2101.
  VariantArray given(1, 2);
  given.Set(1, Variant(std::int32_t{12}));
  given.Set(2, Variant(std::int32_t{3456}));
  Variant a("V,2100"), values(given);
  std::int16_t size = 1;
  ASSERT_EQ(b_.link->WritePLC(a, values, size, std::int16_t{2}, {}), ResultOk) << b_.link->FailureCause();
  EXPECT_EQ(size, 2);
  EXPECT_EQ(sim_.Word(1, 1088), 12);
  EXPECT_EQ(sim_.Word(1, 1089), 3456);
  auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].write, 1);
  EXPECT_EQ(requests[0].address, 1089);
  EXPECT_EQ(requests[0].data, (std::vector<std::uint8_t>{12, 0, 0x80, 0x0D}));

  // Y3 with Y0..Y7 on: refused, the byte as it was, nothing sent; V2000 keeps its word.
  sim_.SetByte(1, kOutputs, 0x101, 0xFF);
  sim_.SetWord(1, 1024, 4660);
  Variant y3("Y,3"), one(std::int32_t{1}), minus(std::int32_t{-1}), vb("V,2000b3"), v2000("V,2000");
  EXPECT_EQ(b_.link->WritePLC(y3, one, {}, {}, {}), ResultFailed);
  EXPECT_EQ(b_.link->WritePLC(vb, one, {}, {}, {}), ResultFailed);
  EXPECT_EQ(b_.link->WritePLC(v2000, minus, {}, {}, {}), ResultFailed);
  EXPECT_EQ(b_.link->FailureCause(), "Error: value 1 (-1) does not fit a register (a whole number 0..65535)");
  EXPECT_EQ(sim_.Byte(1, kOutputs, 0x101), 0xFF);
  EXPECT_EQ(sim_.Word(1, 1024), 4660);
  EXPECT_TRUE(Requests().empty());
}

// Each bit area ends where the next of its data type begins: X1777 is the last input point
// before SP0 (180h / 181h), Y1777 the last output before C0; nothing past them is read as them.
TEST_F(UdpLinkEcomValues, BitAreasEndWhereTheNextAreaBegins) {
  sim_.SetByte(1, kInputs, 0x180, 0x80);   // X1777
  sim_.SetByte(1, kInputs, 0x181, 0x01);   // SP0
  sim_.SetByte(1, kOutputs, 0x181, 0x01);  // C0
  Variant last("X,1777"), value;
  ASSERT_EQ(b_.link->ReadPLC(last, value, {}, {}, {}), ResultOk) << b_.link->FailureCause();
  EXPECT_EQ(value, Variant(std::int32_t{1}));
  auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  ExpectRead(requests[0], kInputs, 0x180, 1);

  const struct {
    const char* address;
    std::int32_t count;
    const char* cause;
  } refused[] = {
      {"X,2000", 1, "address 'X,2000' not understood: X2000 is beyond X1777, the last X point"},
      {"Y,2000", 1, "address 'Y,2000' not understood: Y2000 is beyond Y1777, the last Y point"},
      {"C,4000", 1, "address 'C,4000' not understood: C4000 is beyond C3777, the last C point"},
      {"X,1777", 2, "address 'X,1777': 2 points from X1777 run past X1777, the last X point"},
  };
  for (const auto& row : refused) {
    Variant a(row.address), got(std::int32_t{-7});
    EXPECT_EQ(b_.link->ReadPLC(a, got, Variant(row.count), {}, {}), ResultFailed) << row.address;
    EXPECT_EQ(b_.link->FailureCause(), row.cause);
    EXPECT_EQ(got, Variant(std::int32_t{-7})) << "nothing handed over";
  }
  EXPECT_TRUE(Requests().empty());
}

TEST_F(UdpLinkEcomValues, TheWholeCcmBufferIsOneRequest) {
  // Every X point, 1024 from X0: one request of the 128 bytes they lie in.
  Variant a("X,0"), points(VariantArray(1, 1024));
  ASSERT_EQ(b_.link->ReadPLC(a, points, Variant(std::int32_t{1024}), {}, {}), ResultOk) << b_.link->FailureCause();
  EXPECT_EQ(Values(points)[7], 1);
  EXPECT_EQ(Values(points)[9], 1);
  auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  ExpectRead(requests[0], kInputs, 0x101, 128);
  // 500 registers are 1000 bytes; 501 do not fit: refused, nothing sent.
  Variant v0("V,0"), words(VariantArray(1, 501));
  ASSERT_EQ(b_.link->ReadPLC(v0, words, Variant(std::int32_t{500}), {}, {}), ResultOk) << b_.link->FailureCause();
  ExpectRead(Requests().at(0), kRegisters, 1, 1000);
  EXPECT_EQ(b_.link->ReadPLC(v0, words, Variant(std::int32_t{501}), {}, {}), ResultFailed);
  EXPECT_EQ(b_.link->CurrentErrors(), "Error: CCM request length 1002 outside 1..1001 bytes");
  EXPECT_TRUE(Requests().empty());
  // A module refuses what runs past its memory, with its status.
  Variant end("V,177776"), two(VariantArray(1, 2));
  EXPECT_EQ(b_.link->ReadPLC(end, two, Variant(std::int32_t{2}), {}, {}), ResultFailed);
  EXPECT_EQ(b_.link->FailureCause(),
            "Error 2 performing PASCAL_HEICCMRequest: rc= 103 (module 1 at " + sim_.ModuleList() +
                " refused the request: status 3, address beyond its memory)");
}

}  // namespace
}  // namespace plc
