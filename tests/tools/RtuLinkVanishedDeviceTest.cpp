// A serial device that vanishes while RtuLink has it open (a USB adapter pulled out): reads and
// writes fail with their result and a cause, never a raised error, and once the device is back
// the port opens again and the next read works.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "modbus/RtuLink.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/ModbusSimulator.h"
#include "tests/support/VanishingLine.h"

namespace plc {
namespace {

constexpr int kCommPort = 45;

// A new RtuLink, as a host places it, with its port open on kCommPort.
void OpenOnPort(StandaloneHost& host, RtuLink& link) {
  link.SetHost(&host);
  link.Initialize();
  link.InitProperties();
  link.SetCommPort(kCommPort);
  link.SetPortOpen(true);
}

// A call on the vanished device: its failure result and the port's cause, never a raised error.
template <class Call>
void ExpectPortGone(RtuLink& link, Call call) {
  Result r = ResultOk;
  EXPECT_NO_THROW(r = call());
  EXPECT_EQ(r, ResultFailed);
  EXPECT_EQ(link.FailureCause().rfind("port 45 failed (is the device still there?): ", 0), 0u) << link.FailureCause();
}

TEST(RtuLinkVanishedDevice, FailsWithACauseAndRecoversWhenTheDeviceReturns) {
  auto pty = std::make_unique<test::Pty>();
  auto mapping = std::make_unique<test::ScopedCommPort>(kCommPort, pty->DevicePath());
  StandaloneHost host;
  RtuLink link;
  OpenOnPort(host, link);

  pty->CloseFar();  // the device is gone
  std::string address = "40001";
  VariantArray values(1, 1);
  auto start = std::chrono::steady_clock::now();
  ExpectPortGone(link, [&] { return link.ReadPLC(address, values, Opt<Variant>(), Opt<std::int16_t>()); });
  EXPECT_LE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2600));
  VariantArray one(1, 1);
  one.Set(1, Variant(5));
  ExpectPortGone(link, [&] { return link.WritePLC(address, one, Opt<std::int16_t>(), Opt<std::int16_t>()); });
  EXPECT_FALSE(link.CommBusy().ToBool());

  // The device comes back (on another path here, as a pseudo-terminal cannot return on its
  // own): the host closes the port and opens it again.
  EXPECT_NO_THROW(link.SetPortOpen(false));
  test::PtyLink line;
  sim::ModbusSimulator slave(sim::ModbusSimOptions{line.PathA(), 1, modbus::Framing::Rtu, "9600,n,8,1", 9999});
  {
    std::lock_guard<std::mutex> hold(slave.Slave().Lock());
    slave.Slave().Set(40001, 77);
  }
  mapping.reset();
  test::ScopedCommPort back(kCommPort, line.PathB());
  link.SetPortOpen(true);
  EXPECT_EQ(link.ReadPLC(address, values, Opt<Variant>(), Opt<std::int16_t>()), ResultOk) << link.FailureCause();
  EXPECT_EQ(values.Get(1).ToInt32(), 77);
  link.SetPortOpen(false);
}

// A device path that vanishes and comes back as itself, with the Modbus simulator on its far
// end keeping its tables across.
class VanishingModbusLine {
 public:
  VanishingModbusLine() {
    std::lock_guard<std::mutex> hold(slave_.Lock());
    slave_.Set(40001, 77);
  }
  const std::string& Path() const { return line_.Path(); }
  void Vanish() { line_.Vanish(); }
  void Return() { line_.Return(); }

 private:
  sim::ModbusSimSlave slave_{1, modbus::Framing::Rtu, 100};
  test::VanishingLine line_{"ttyM0", [this](int& fd, int stopFd) { sim::ServeModbus(slave_, fd, stopFd, 0); }};
};

TEST(RtuLinkVanishedDevice, TakesTheDeviceBackUnderTheSamePathWithoutTheHost) {
  VanishingModbusLine line;
  line.Return();
  test::ScopedCommPort mapping(kCommPort, line.Path());
  StandaloneHost host;
  RtuLink link;
  OpenOnPort(host, link);
  std::string address = "40001";
  VariantArray values(1, 1);
  ASSERT_EQ(link.ReadPLC(address, values, Opt<Variant>(), Opt<std::int16_t>()), ResultOk) << link.FailureCause();

  line.Vanish();
  for (int i = 0; i < 2; ++i) {  // each call fails at once, the second as the first
    auto start = std::chrono::steady_clock::now();
    ExpectPortGone(link, [&] { return link.ReadPLC(address, values, Opt<Variant>(), Opt<std::int16_t>()); });
    EXPECT_LE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  }

  // Back under the same path: the port takes it at its next look, the host does nothing.
  line.Return();
  values.Set(1, Variant(0));
  Result r = ResultFailed;
  const auto start = std::chrono::steady_clock::now();
  while (r != ResultOk && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
    EventLoop::Current().WaitUntil([] { return false; }, EventLoop::Current().Now() + 100'000);
    r = link.ReadPLC(address, values, Opt<Variant>(), Opt<std::int16_t>());
  }
  EXPECT_EQ(r, ResultOk) << link.FailureCause();
  EXPECT_EQ(values.Get(1).ToInt32(), 77);
  EXPECT_TRUE(link.PortOpen());
  link.SetPortOpen(false);
}

}  // namespace
}  // namespace plc
