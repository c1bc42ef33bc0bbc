// A serial device that vanishes while RtuLink has it open (a USB adapter pulled out): reads and
// writes fail with their result and a cause, never a raised error, and once the device is back
// the port opens again and the next read works.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "modbus/RtuLink.h"
#include "platform/ComponentHost.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/ModbusSimulator.h"

namespace plc {
namespace {

constexpr int kCommPort = 45;

TEST(RtuLinkVanishedDevice, FailsWithACauseAndRecoversWhenTheDeviceReturns) {
  auto pty = std::make_unique<test::Pty>();
  auto mapping = std::make_unique<test::ScopedCommPort>(kCommPort, pty->DevicePath());
  StandaloneHost host;
  RtuLink link;
  link.SetHost(&host);
  link.Initialize();
  link.InitProperties();
  link.SetCommPort(kCommPort);
  link.SetPortOpen(true);

  pty->CloseFar();  // the device is gone
  std::string address = "40001";
  VariantArray values(1, 1);
  auto start = std::chrono::steady_clock::now();
  Result r = ResultOk;
  EXPECT_NO_THROW(r = link.ReadPLC(address, values, Opt<Variant>(), Opt<std::int16_t>()));
  EXPECT_EQ(r, ResultFailed);
  EXPECT_EQ(link.FailureCause().rfind("port 45 failed (is the device still there?): ", 0), 0u) << link.FailureCause();
  EXPECT_LE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2600));
  VariantArray one(1, 1);
  one.Set(1, Variant(5));
  EXPECT_NO_THROW(r = link.WritePLC(address, one, Opt<std::int16_t>(), Opt<std::int16_t>()));
  EXPECT_EQ(r, ResultFailed);
  EXPECT_EQ(link.FailureCause().rfind("port 45 failed (is the device still there?): ", 0), 0u) << link.FailureCause();
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

}  // namespace
}  // namespace plc
