#pragma once
// The serial port on a real device, through termios.
//
// CommPort n opens the path SerialPortMap gives (/dev/ttyS<n-1> unless mapped), raw, without
// becoming the controlling terminal, non-blocking, and locked against a second opener (flock,
// and TIOCEXCL for openers that do not lock). Received bytes are read on the event loop as they
// arrive; writes go out at once and wait, bounded, when the kernel queue is full.
//
// A pseudo-terminal is a device without modem lines and without parity or character size: it
// accepts any well-formed Settings text (the speed, stop bits and flow control are applied, the
// parity and data bits are the line's business), CDHolding reads False and DTR/RTS changes are
// accepted without effect. A real UART applies every value or reports the error.
//
// Not reported: break, framing, overrun and parity errors (a break is dropped rather than read as
// a 0x00 byte; bytes with a bad parity are passed on as received; the protocols' checksums catch
// them).
#include <cstdint>
#include <memory>
#include <string>

#include "platform/SerialPort.h"

namespace plc {

class PosixSerialPort final : public SerialPort {
 public:
  explicit PosixSerialPort(EventLoop& loop = EventLoop::Current());
  ~PosixSerialPort() override;

  // The device the port has open, or would open now.
  std::string DevicePath() const;
  // Whether the speed (bits per second) exists in termios.
  static bool SupportsSpeed(int baud);
  // While open: the device has modem-control lines (a UART or USB adapter, not a pty).
  bool HasModemLines() const { return modemLines_; }
  bool IsPseudoTerminal() const { return pty_; }
  // While open: the far end hung up (a pty whose other end closed, an unplugged adapter).
  // Reading stops until the device is readable again, or a device is back under the same
  // path (it is then opened and set up in place of the dead one); closing the port clears it.
  bool HungUp() const { return hungUp_; }

  // How often carrier detect is polled while open on a device with modem lines.
  static constexpr std::int64_t kCarrierPollMicros = 100'000;
  // How often a hung-up device is probed for being readable again.
  static constexpr std::int64_t kHangupProbeMicros = 250'000;

  // Polls this descriptor alone until bytes arrive or the deadline passes.
  bool WaitForInput(std::int64_t deadlineMicros) override;

 protected:
  void DeviceOpen() override;
  void DeviceClose() override;
  void DeviceCheckSettings(const SerialSettings& settings) const override;
  void DeviceApplySettings(const SerialSettings& settings, std::int32_t handshaking) override;
  void DeviceWrite(const std::uint8_t* data, std::size_t size) override;
  void DeviceSetModemLines(bool dtr, bool rts) override;
  bool DeviceCarrier() const override;
  std::size_t DeviceOutputPending() const override;
  void DeviceDiscardOutput() override;
  void DeviceDiscardInput() override;

 private:
  void Watch();
  void OnReadable(short revents);
  void EnterHangup();
  void ProbeHangup();
  bool TakeBackDevice();
  void PollCarrier();
  void ArmDrainCheck(std::int64_t delayMicros);
  void CheckDrained();
  std::int64_t DrainDelay() const;
  std::string WhatHolds() const;
  void CancelLoopWork();
  void WaitForOutputBounded();
  [[noreturn]] void Fail(int number, const std::string& what, int error) const;

  int fd_ = -1;
  std::string path_;
  bool pty_ = false;
  bool ptySlave_ = false;  // a /dev/pts device: written bytes are already with the far end
  bool modemLines_ = false;
  bool hungUp_ = false;
  // Why a device that came back under the path was not taken; the next failed write says it.
  std::string takeBackRefused_;
  bool carrier_ = false;
  // Time on the line of one character, from the applied settings.
  std::int64_t charMicros_ = 1042;
  // A pty has no transmit queue to ask: output counts as on the line until this time.
  std::int64_t ptyDrainDue_ = 0;
  EventLoop::Handle watch_ = 0;
  EventLoop::Handle carrierTimer_ = 0;
  EventLoop::Handle drainTimer_ = 0;
  EventLoop::Handle hangupTimer_ = 0;
  // Loop callbacks check this so that none runs on a destroyed port.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace plc
