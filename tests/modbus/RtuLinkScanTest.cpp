// RtuLink's background scan and write queue against the project's Modbus slave (an RtuLink in
// SlaveRtu, as `plclink rtulink serve` runs it), each end of the line 5 ms from the other, on
// the manual clock. The watchdog is off, as after Show: the scan frees a stuck line itself.
#include <gtest/gtest.h>

#include "modbus/RtuLink.h"
#include "tests/support/LinkTestBench.h"
#include "tests/support/ScanChecks.h"

namespace plc {
namespace {

constexpr std::int64_t kLatency = 5'000;

class RtuScanRig final : public test::ScanSubject {
 public:
  RtuScanRig() {
    b_.New();
    b_.link->SetPortOpen(true);
    auto port = std::make_unique<MemorySerialPort>(b_.loop);
    slavePort_ = port.get();
    slave_ = std::make_unique<RtuLink>(std::move(port));
    slave_->SetHost(&b_.host);
    slave_->Initialize();
    slave_->InitProperties();
    slave_->SetModBusMode(rtu::SlaveRtu);
    slave_->SetPortOpen(true);
    b_.port->OnSent = [this](const Bytes& chunk) {
      if (answer_) slavePort_->InjectAt(b_.loop.Now() + kLatency, chunk);
    };
    slavePort_->OnSent = [this](const Bytes& chunk) { b_.port->InjectAt(b_.loop.Now() + kLatency, chunk); };
  }

  Control& Link() override { return *b_.link; }
  EventLoop& Loop() override { return b_.loop; }
  std::string Address(int k) const override { return std::to_string(40001 + k); }
  Variant GroupAddress(int k) const override { return Variant(std::int32_t{40001 + k}); }
  // Written as a master writes it: the slave has no other door to its image.
  void SetValue(int k, std::int32_t value) override {
    VariantArray values(1, 1);
    values.Set(1, Variant(value));
    std::string address = Address(k);
    ASSERT_EQ(b_.link->WritePLC(address, values, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>()), ResultOk);
  }
  std::int32_t Value(int k) override { return slave_->RegisterImage().at(static_cast<std::size_t>(40001 + k)); }
  void Answer(bool on) override { answer_ = on; }
  const char* ForceMember() const override { return "ForceModData"; }

 private:
  test::LinkTestBench<RtuLink> b_;
  MemorySerialPort* slavePort_ = nullptr;
  std::unique_ptr<RtuLink> slave_;
  bool answer_ = true;
};

TEST(RtuLinkScan, PeriodsKeptAndValuesRead) {
  RtuScanRig r;
  test::ExpectPeriodsKeptAndValuesRead(r);
}

TEST(RtuLinkScan, SetScanRegGroupStopsAndResumes) {
  RtuScanRig r;
  test::ExpectSetScanRegGroupStopsAndResumes(r);
}

TEST(RtuLinkScan, HostReadServedFirst) {
  RtuScanRig r;
  test::ExpectHostReadServedFirst(r);
}

TEST(RtuLinkScan, StuckGroupFreed) {
  RtuScanRig r;
  test::ExpectStuckGroupFreed(r);
}

TEST(RtuLinkScan, WriteQueueDrainsInOrderAndRetries) {
  RtuScanRig r;
  test::ExpectWriteQueueDrainsInOrderAndRetries(r);
}

TEST(RtuLinkScan, WriteQueueBounded) {
  RtuScanRig r;
  test::ExpectWriteQueueBounded(r);
}

}  // namespace
}  // namespace plc
