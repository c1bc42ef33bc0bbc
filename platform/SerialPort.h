#pragma once
// The serial-port component: the one way the controls drive a line.
//
// This base class holds what every port shares: the properties, the receive buffer, the
// thresholds and the notifications. A derived class supplies the device (a termios descriptor,
// an in-memory pair). Notifications (OnComm, with CommEvent telling why) run on the event loop,
// never inside a call the control makes: receive (2) when new data has arrived and at least
// RThreshold characters wait, send (1) when SThreshold > 0 and the output has drained below
// it, carrier-detect change (5).
//
// A trace hook, off by default, sees every chunk written and read with its time.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/Variant.h"
#include "platform/EventLoop.h"
#include "platform/SerialSettings.h"

namespace plc {

using Bytes = std::vector<std::uint8_t>;

enum class InputModeKind : std::int16_t { Text = 0, Binary = 1 };
enum class TraceDirection { Sent, Received };
using TraceHook = std::function<void(TraceDirection, const std::uint8_t* data, std::size_t size, std::int64_t wallMicros)>;

class SerialPort {
 public:
  explicit SerialPort(EventLoop& loop = EventLoop::Current());
  virtual ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  std::int16_t CommPort() const { return commPort_; }
  void SetCommPort(std::int16_t port);  // 8000 while open, 8002 below 1
  std::string Settings() const { return settings_.ToString(); }
  const SerialSettings& LineSettings() const { return settings_; }
  // Malformed text: 380; a device that cannot apply the values: its error. The old settings
  // stay on any error.
  void SetSettings(const std::string& text);
  bool PortOpen() const { return open_; }
  void SetPortOpen(bool open);

  std::int32_t Handshaking() const { return handshaking_; }
  void SetHandshaking(std::int32_t mode);  // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both; else 380
  bool DTREnable() const { return dtr_; }
  void SetDTREnable(bool on);
  bool RTSEnable() const { return rts_; }
  void SetRTSEnable(bool on);
  bool CDHolding() const;

  std::int16_t InBufferCount() const;
  void SetInBufferCount(std::int16_t count);  // 0 discards what was received; else 380
  std::int16_t OutBufferCount() const;
  void SetOutBufferCount(std::int16_t count);  // 0 discards unsent output; else 380
  std::int16_t RThreshold() const { return rThreshold_; }
  void SetRThreshold(std::int16_t n);
  std::int16_t SThreshold() const { return sThreshold_; }
  void SetSThreshold(std::int16_t n);
  std::int16_t InputLen() const { return inputLen_; }
  void SetInputLen(std::int16_t n);
  InputModeKind InputMode() const { return inputMode_; }
  void SetInputMode(InputModeKind mode) { inputMode_ = mode; }
  bool NullDiscard() const { return nullDiscard_; }
  void SetNullDiscard(bool on) { nullDiscard_ = on; }

  // Sends a text (one byte per character) or an array of bytes. 8018 when the port is closed.
  void Output(const Variant& data);
  void OutputBytes(const Bytes& data);
  // Takes at most InputLen (0: all) received characters: a text, or in binary input mode an
  // array of bytes from index 0.
  Variant Input();
  Bytes InputBytes();
  // InputBytes into a buffer the caller keeps, in place of what it held: a control taking
  // every reply this way allocates nothing per chunk.
  void InputInto(Bytes& out);
  // Received bytes without taking them.
  const std::deque<std::uint8_t>& Peek() const { return in_; }
  // Every byte ever put into the receive buffer, counted: with Peek, a reader that only looks
  // finds the bytes new since it last looked, whatever others took meanwhile.
  std::uint64_t BufferedTotal() const { return bufferedTotal_; }
  // Waits on the device alone, without dispatching the event loop, until received bytes are
  // buffered or the loop clock reaches deadlineMicros; true when bytes wait. For a link that
  // must hold the thread while it reads a reply. A line whose far end has gone waits out the
  // deadline as a silent line would. Receive notifications still follow RThreshold.
  virtual bool WaitForInput(std::int64_t deadlineMicros);

  std::int16_t CommEvent() const { return commEvent_; }
  std::function<void()> OnComm;

  void SetTrace(TraceHook hook) { trace_ = std::move(hook); }

 protected:
  // The device. DeviceOpen throws RuntimeError when the device is missing or busy.
  virtual void DeviceOpen() = 0;
  virtual void DeviceClose() = 0;
  // Throws RuntimeError for values this kind of device can never apply; checked on every
  // Settings set, open or closed, so that a bad text is refused when it is set.
  virtual void DeviceCheckSettings(const SerialSettings& /*settings*/) const {}
  // Throws RuntimeError when the device cannot apply the settings.
  virtual void DeviceApplySettings(const SerialSettings& settings, std::int32_t handshaking) = 0;
  virtual void DeviceWrite(const std::uint8_t* data, std::size_t size) = 0;
  virtual void DeviceSetModemLines(bool dtr, bool rts) = 0;
  virtual bool DeviceCarrier() const = 0;
  virtual std::size_t DeviceOutputPending() const = 0;
  virtual void DeviceDiscardOutput() = 0;
  virtual void DeviceDiscardInput() {}

  EventLoop& Loop() const { return loop_; }
  // Derived classes call these from loop callbacks.
  void Received(const std::uint8_t* data, std::size_t size);
  void CarrierChanged();
  void OutputDrained();
  void RaiseError(std::int16_t code);

 private:
  void Raise(std::int16_t event);

  EventLoop& loop_;
  std::int16_t commPort_ = 1;
  SerialSettings settings_;
  bool open_ = false;
  std::int32_t handshaking_ = 0;
  bool dtr_ = false;
  bool rts_ = false;
  std::int16_t rThreshold_ = 0;
  std::int16_t sThreshold_ = 0;
  std::int16_t inputLen_ = 0;
  InputModeKind inputMode_ = InputModeKind::Text;
  bool nullDiscard_ = false;
  std::int16_t commEvent_ = 0;
  std::deque<std::uint8_t> in_;
  std::uint64_t bufferedTotal_ = 0;
  TraceHook trace_;
};

}  // namespace plc
