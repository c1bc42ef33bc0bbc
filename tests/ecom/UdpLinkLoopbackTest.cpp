// UdpLink in ECOM mode through the dlopened libhei_pas.so against simulated modules on
// loopback: every memory type, several modules, and each fault a module can cause, with its
// text, the time it takes and the next request working again.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "ecom/EcomLinkState.h"
#include "ecom/UdpLink.h"
#include "tests/support/EcomModules.h"
#include "tests/support/LinkTestBench.h"
#include "tools/plcsim/EcomModuleSim.h"

namespace plc {
namespace {

using sim::EcomFault;
using sim::EcomModuleSim;
using Clock = std::chrono::steady_clock;

constexpr std::int16_t kTimeoutMs = 50;
// 4 attempts of 50 ms, twice (the transport's one retry), with room for a loaded machine.
constexpr auto kFailureBound = std::chrono::milliseconds(1500);

class UdpLinkLoopback : public ::testing::Test {
 protected:
  void SetUp() override {
    ecom::EcomLink().Reset();
    sim_ = std::make_unique<EcomModuleSim>(std::vector<sim::EcomModuleConfig>{{1, "PRESS", 0}, {2, "OVEN", 0}});
    test::ServeEcomModules(*sim_, "500");
    b_.New();
    b_.link->SetDeviceTimeOut(kTimeoutMs);
  }
  void TearDown() override {
    b_.link.reset();
    ecom::EcomLink().Reset();
    unsetenv("HEI_PAS_MODULES");
  }

  // The press (the fixture's control, module 1) opened, and a second control of the thread for
  // the oven at module 2, not yet opened.
  std::unique_ptr<UdpLink> PressOpenAndOven() {
    b_.link->SetAddress(1);
    b_.link->SetPortOpen(true);
    std::unique_ptr<UdpLink> oven = b_.Make();
    oven->Initialize();
    oven->InitProperties();
    oven->SetAddress(2);
    return oven;
  }
  Result Read(const char* address, Variant& value, std::int32_t size = 1) {
    Variant a(address);
    return b_.link->ReadPLC(a, value, Variant(size), {}, {});
  }
  std::int32_t ReadOne(const char* address) {
    Variant value;
    EXPECT_EQ(Read(address, value), ResultOk) << address << ": " << b_.link->CurrentErrors();
    return value.ToInt32();
  }
  // A read that fails: its text, and how long it took.
  std::chrono::milliseconds FailingRead(const std::string& text) {
    const auto start = Clock::now();
    Variant value;
    EXPECT_EQ(Read("V,0", value), ResultFailed);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_EQ(b_.link->CurrentErrors(), text);
    EXPECT_LT(took, kFailureBound);
    return took;
  }

  std::unique_ptr<EcomModuleSim> sim_;
  test::LinkTestBench<UdpLink> b_;
};

TEST_F(UdpLinkLoopback, EveryMemoryTypeReadAndWritten) {
  b_.link->SetPortOpen(true);
  ASSERT_EQ(b_.link->CurrentErrors(), "");
  ASSERT_TRUE(b_.link->EcomOpen());

  sim_->SetWord(1, 1024, 0x1234);
  EXPECT_EQ(ReadOne("V,2000"), 0x1234);
  VariantArray three(1, 3);
  three.Set(1, Variant(std::int32_t{7}));
  three.Set(2, Variant(std::int32_t{65535}));
  three.Set(3, Variant(std::int32_t{65534}));
  Variant address("V,2001"), values(three);
  ASSERT_EQ(b_.link->WritePLC(address, values, std::int16_t{3}, {}, {}), ResultOk);
  EXPECT_EQ(sim_->Word(1, 1025), 7);
  EXPECT_EQ(sim_->Word(1, 1026), 65535);
  EXPECT_EQ(sim_->Word(1, 1027), 65534);
  Variant back(VariantArray(1, 4));
  ASSERT_EQ(Read("V,2000", back, 4), ResultOk);
  EXPECT_EQ(back.Array().Get(4).ToInt32(), 65534);

  // Each bit type: bit 17 (octal) is bit 7 of the second byte of its block.
  struct Bits {
    const char* type;
    std::uint8_t dataType;
    std::uint16_t base;
  };
  for (const Bits& t : {Bits{"X", 0x32, 0x101}, Bits{"Y", 0x33, 0x101}, Bits{"C", 0x33, 0x181}, Bits{"SP", 0x32, 0x181},
                        Bits{"S", 0x33, 0x281}, Bits{"T", 0x33, 0x301}, Bits{"CT", 0x33, 0x321}, Bits{"GX", 0x32, 0x1},
                        Bits{"GY", 0x33, 0x1}}) {
    sim_->SetByte(1, t.dataType, static_cast<std::uint16_t>(t.base + 1), 0x80);
    const std::string a = std::string(t.type) + ",17", below = std::string(t.type) + ",16";
    EXPECT_EQ(ReadOne(a.c_str()), 1) << a;
    EXPECT_EQ(ReadOne(below.c_str()), 0) << below;
    // A write would send the whole byte of eight points: refused, the byte as it was.
    const std::string next = std::string(t.type) + ",20";  // the third byte of the block
    sim_->SetByte(1, t.dataType, static_cast<std::uint16_t>(t.base + 2), 0x5A);
    Variant w(next), v(std::int32_t{1});
    EXPECT_EQ(b_.link->WritePLC(w, v, {}, {}, {}), ResultFailed) << next;
    EXPECT_EQ(sim_->Byte(1, t.dataType, static_cast<std::uint16_t>(t.base + 2)), 0x5A) << next;
  }
}

TEST_F(UdpLinkLoopback, SeveralModulesByTheirIds) {
  b_.link->SetPortOpen(true);
  sim_->SetWord(1, 0, 111);
  sim_->SetWord(2, 0, 222);
  EXPECT_EQ(ReadOne("1;V,0"), 111);
  EXPECT_EQ(ReadOne("2;V,0"), 222);
  b_.link->SetAddress(2);
  EXPECT_EQ(ReadOne("V,0"), 222);
  Variant value;
  EXPECT_EQ(Read("3;V,0", value), ResultFailed);
  EXPECT_EQ(b_.link->CurrentErrors(), "Error: invalid device address 3");
}

// Two controls of one thread share the transport, not their Address: an address without a
// station goes to the module of the control it is given to, whichever control set its Address
// last.
TEST_F(UdpLinkLoopback, EachControlReadsAndWritesItsOwnStation) {
  std::unique_ptr<UdpLink> oven = PressOpenAndOven();
  sim_->SetWord(1, 0, 111);
  sim_->SetWord(2, 0, 222);
  EXPECT_EQ(ReadOne("V,0"), 111);
  Variant a("V,0"), value;
  ASSERT_EQ(oven->ReadPLC(a, value, Variant(std::int32_t{1}), {}, {}), ResultOk) << oven->FailureCause();
  EXPECT_EQ(value.ToInt32(), 222);
  EXPECT_EQ(ReadOne("V,0"), 111);
  Variant w("V,1"), v(std::int32_t{5});
  ASSERT_EQ(b_.link->WritePLC(w, v, {}, {}, {}), ResultOk) << b_.link->FailureCause();
  EXPECT_EQ(sim_->Word(1, 1), 5);
  EXPECT_EQ(sim_->Word(2, 1), 0);
  ASSERT_EQ(oven->ReadPLCNW(a, value, Variant(std::int32_t{1}), {}), ResultOk) << oven->FailureCause();
  std::int16_t one = 1;
  EXPECT_EQ(oven->ReadData(one).ToInt32(), 222);
}

// Two controls of one thread, one per module, each opened by its host: the press's host closing
// its port leaves the oven's open, as the oven's own PortOpen still says.
TEST_F(UdpLinkLoopback, OneControlClosingLeavesAnotherOpenOne) {
  std::unique_ptr<UdpLink> oven = PressOpenAndOven();
  oven->SetDeviceTimeOut(kTimeoutMs);
  oven->SetPortOpen(true);
  ASSERT_TRUE(oven->EcomOpen());
  sim_->SetWord(2, 0, 222);

  b_.link->SetPortOpen(false);
  EXPECT_TRUE(oven->PortOpen());
  Variant a("V,0"), value;
  ASSERT_EQ(oven->ReadPLC(a, value, Variant(std::int32_t{1}), {}, {}), ResultOk) << oven->FailureCause();
  EXPECT_EQ(value.ToInt32(), 222);

  // The last port of the thread to close closes the transport.
  oven->SetPortOpen(false);
  EXPECT_EQ(oven->ReadPLC(a, value, Variant(std::int32_t{1}), {}, {}), ResultEcomNotOpen);
  EXPECT_FALSE(oven->EcomOpen());
}

TEST_F(UdpLinkLoopback, NoModuleAnswering) {
  sim_->SetFault(1, EcomFault::Silent);
  sim_->SetFault(2, EcomFault::Silent);
  const auto start = Clock::now();
  b_.link->SetPortOpen(true);
  EXPECT_LT(Clock::now() - start, kFailureBound);
  EXPECT_EQ(b_.link->CurrentErrors(), "No ECOM Devices: rc= 0");
  Variant value;
  EXPECT_EQ(Read("V,0", value), ResultEcomNotOpen);
  EXPECT_EQ(b_.link->FailureCause(),
            "ECOM is not open: No ECOM Devices: rc= 0 (none of the 2 module address(es) listed in HEI_PAS_MODULES "
            "answered within 500 ms)");
  sim_->SetFault(1, EcomFault::None);
  b_.link->SetPortOpen(true);
  EXPECT_EQ(b_.link->CurrentErrors(), "");
  EXPECT_EQ(ReadOne("V,0"), 0);
}

TEST_F(UdpLinkLoopback, EachModuleFaultHasItsTextAndTheNextRequestWorks) {
  b_.link->SetPortOpen(true);
  sim_->SetWord(1, 0, 4321);
  const std::vector<std::pair<EcomFault, std::string>> faults = {
      {EcomFault::Silent, "Error 2 performing PASCAL_HEICCMRequest: rc= 7"},
      {EcomFault::Corrupt, "Error 2 performing PASCAL_HEICCMRequest: rc= 8"},
      {EcomFault::Truncated, "Error 2 performing PASCAL_HEICCMRequest: rc= 8"},
      {EcomFault::WrongModule, "Error 2 performing PASCAL_HEICCMRequest: rc= 9"},
  };
  for (const auto& [fault, text] : faults) {
    sim_->SetFault(1, fault);
    const auto took = FailingRead(text);
    EXPECT_GE(took, std::chrono::milliseconds(8 * kTimeoutMs - 10)) << text;  // every attempt waited
    sim_->SetFault(1, EcomFault::None);
    EXPECT_EQ(ReadOne("V,0"), 4321) << text;
    EXPECT_EQ(b_.link->CurrentErrors(), "");
  }
}

TEST_F(UdpLinkLoopback, AnErrorStatusAStaleAnswerAndADuplicate) {
  b_.link->SetPortOpen(true);
  sim_->SetWord(1, 0, 4321);
  sim_->SetWord(1, 1, 1234);
  // An error status ends each attempt at once: no time-out waited.
  sim_->SetFault(1, EcomFault::Refuse);
  const auto took = FailingRead("Error 2 performing PASCAL_HEICCMRequest: rc= 102");
  EXPECT_LT(took, std::chrono::milliseconds(2 * kTimeoutMs));
  EXPECT_NE(b_.link->FailureCause().find("refused the request: status 2"), std::string::npos) << b_.link->FailureCause();
  sim_->SetFault(1, EcomFault::None);
  EXPECT_EQ(ReadOne("V,0"), 4321);
  // An answer to the request before, with other data, is passed over for this one's.
  sim_->SetFault(1, EcomFault::Stale);
  EXPECT_EQ(ReadOne("V,0"), 4321);
  EXPECT_EQ(ReadOne("V,1"), 1234);
  // Every answer twice: the second copy is not taken for the next request's answer.
  sim_->SetFault(1, EcomFault::Duplicate);
  EXPECT_EQ(ReadOne("V,0"), 4321);
  EXPECT_EQ(ReadOne("V,1"), 1234);
  EXPECT_EQ(ReadOne("V,0"), 4321);
}

TEST_F(UdpLinkLoopback, AFailingFirstRequestThenAGoodRetry) {
  b_.link->SetPortOpen(true);
  sim_->SetWord(1, 0, 77);
  sim_->SetFault(1, EcomFault::Silent, 4);  // the library's four attempts of the first request
  EXPECT_EQ(ReadOne("V,0"), 77);
  EXPECT_EQ(b_.link->CurrentErrors(), "");
}

TEST_F(UdpLinkLoopback, TheSimulatorRestartedWhileTheControlRuns) {
  b_.link->SetPortOpen(true);
  const std::uint16_t port1 = sim_->Port(0), port2 = sim_->Port(1);
  sim_.reset();
  FailingRead("Error 2 performing PASCAL_HEICCMRequest: rc= 7");
  sim_ = std::make_unique<EcomModuleSim>(std::vector<sim::EcomModuleConfig>{{1, "PRESS", port1}, {2, "OVEN", port2}});
  sim_->Start();
  sim_->SetWord(1, 0, 5);
  EXPECT_EQ(ReadOne("V,0"), 5);
}

TEST_F(UdpLinkLoopback, IpxAndAMissingLibraryFailTheOpen) {
  b_.link->SetCommProtocol(udp::IPX);
  b_.link->SetPortOpen(true);
  EXPECT_EQ(b_.link->CurrentErrors(), "Unable to Open Winsock Transport: rc= 3");
  EXPECT_FALSE(b_.link->EcomOpen());
  b_.link->SetCommProtocol(udp::UDP_IP);
  b_.link->SetPortOpen(true);
  EXPECT_TRUE(b_.link->EcomOpen());

  b_.link.reset();
  ecom::EcomLink().Reset();
  setenv("HEI_PAS_LIBRARY", "/nonexistent/libhei_pas.so", 1);
  b_.link = b_.Make();
  b_.New();
  b_.link->SetPortOpen(true);
  EXPECT_EQ(b_.link->CurrentErrors().rfind("Unable to Initialize the driver: rc= -1 (", 0), 0u)
      << b_.link->CurrentErrors();
  EXPECT_FALSE(b_.link->EcomOpen());
}

TEST_F(UdpLinkLoopback, RepeatedOpensLeakNoSockets) {
  auto openFds = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator{});
  };
  b_.link->SetPortOpen(true);
  const auto fds = openFds();
  for (int i = 0; i < 5; ++i) b_.link->SetPortOpen(true);
  EXPECT_EQ(openFds(), fds);
  b_.link->SetPortOpen(false);
  EXPECT_EQ(openFds(), fds - 1);
  EXPECT_FALSE(b_.link->EcomOpen());
}

// The control that opened the transport goes, with the host whose trace it gave, while another
// UdpLink of the thread keeps the transport open: no datagram is traced into what went.
TEST_F(UdpLinkLoopback, AControlThatGoesTakesItsTraceWithIt) {
  // (The fixture's control was made before the thread's record was reset, which forgot it.)
  std::unique_ptr<UdpLink> other = b_.Make();
  other->Initialize();
  other->InitProperties();
  auto traced = std::make_shared<int>(0);
  auto tracingHost = std::make_unique<StandaloneHost>();
  tracingHost->SetSerialTrace([traced](TraceDirection, const std::uint8_t*, std::size_t, std::int64_t) { ++*traced; });
  std::unique_ptr<UdpLink> opener = b_.Make();
  opener->SetHost(tracingHost.get());
  opener->Initialize();
  opener->InitProperties();
  opener->SetDeviceTimeOut(kTimeoutMs);
  opener->SetPortOpen(true);
  ASSERT_EQ(opener->CurrentErrors(), "");
  Variant a("V,2000"), value;
  ASSERT_EQ(opener->ReadPLC(a, value, Variant(std::int32_t{1}), {}, {}), ResultOk);
  EXPECT_GT(*traced, 0) << "the opener's host traces the datagrams";

  opener.reset();
  tracingHost.reset();
  const int before = *traced;
  sim_->SetWord(1, 1024, 77);
  ASSERT_EQ(other->ReadPLC(a, value, Variant(std::int32_t{1}), {}, {}), ResultOk) << other->FailureCause();
  EXPECT_EQ(value, Variant(std::int32_t{77})) << "the transport stays open for the other control";
  EXPECT_EQ(*traced, before);
}

}  // namespace
}  // namespace plc
