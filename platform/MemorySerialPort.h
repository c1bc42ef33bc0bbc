#pragma once
// An in-process serial port for unit tests: the test holds the far end and plays the PLC.
//
// What the control writes is kept for the test (and handed to OnSent as it is written); what
// the test injects arrives as received data on the next dispatch of the loop, as it would
// from a device. The line log records modem-line changes and writes in order, so RS485
// driver switching can be checked.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/SerialPort.h"

namespace plc {

class MemorySerialPort final : public SerialPort {
 public:
  explicit MemorySerialPort(EventLoop& loop = EventLoop::Current());
  ~MemorySerialPort() override;

  // The far end.
  Bytes TakeSent();
  const Bytes& Sent() const { return sent_; }
  std::function<void(const Bytes& chunk)> OnSent;
  void Inject(const Bytes& data);
  void Inject(const std::string& text) { Inject(Bytes(text.begin(), text.end())); }
  // Data that arrives at a later monotonic time (a late or split reply).
  void InjectAt(std::int64_t dueMicros, const Bytes& data);
  void SetCarrier(bool present);
  bool DtrLine() const { return dtrLine_; }
  bool RtsLine() const { return rtsLine_; }
  const std::vector<std::string>& LineLog() const { return log_; }
  void ClearLineLog() { log_.clear(); }

  // Fault injection: the next opens fail with this error number (0: they succeed).
  void FailOpenWith(int errorNumber) { failOpen_ = errorNumber; }
  // Output stays pending until DrainOutput() (by default it drains on the next dispatch).
  void HoldOutput(bool hold) { holdOutput_ = hold; }
  void DrainOutput();

 protected:
  void DeviceOpen() override;
  void DeviceClose() override;
  void DeviceApplySettings(const SerialSettings& settings, std::int32_t handshaking) override;
  void DeviceWrite(const std::uint8_t* data, std::size_t size) override;
  void DeviceSetModemLines(bool dtr, bool rts) override;
  bool DeviceCarrier() const override { return carrier_; }
  std::size_t DeviceOutputPending() const override { return pending_; }
  void DeviceDiscardOutput() override { pending_ = 0; }
  // Injected bytes are at the device at once, as on a real line: discarding the input drops
  // those not yet handed to the port.
  void DeviceDiscardInput() override;

 public:
  // Delivers what has arrived by the deadline without dispatching the loop; on a manual
  // clock it moves the clock to the next arrival, or to the deadline.
  bool WaitForInput(std::int64_t deadlineMicros) override;

 private:
  struct Arrival {
    std::int64_t due;
    Bytes data;
    bool delivered = false;
  };
  void Deliver(const std::shared_ptr<Arrival>& a);
  std::vector<std::shared_ptr<Arrival>> arriving_;

 private:
  Bytes sent_;
  std::size_t pending_ = 0;
  bool holdOutput_ = false;
  bool carrier_ = false;
  bool dtrLine_ = false;
  bool rtsLine_ = false;
  int failOpen_ = 0;
  std::vector<std::string> log_;
  // Callbacks posted to the loop must not outlive the port.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace plc
