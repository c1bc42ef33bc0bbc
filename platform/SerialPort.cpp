#include "platform/SerialPort.h"

#include <algorithm>
#include <chrono>

#include "base/Enums.h"
#include "base/RuntimeError.h"

namespace plc {

namespace {
// The receive buffer holds what InBufferCount can report; more is an overflow (1008).
constexpr std::size_t kInBufferLimit = 32767;

std::int64_t WallMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}
}  // namespace

SerialPort::SerialPort(EventLoop& loop) : loop_(loop) {}
SerialPort::~SerialPort() = default;

void SerialPort::SetCommPort(std::int16_t port) {
  if (open_) throw RuntimeError(err::PortOpenNotValid);
  if (port < 1) throw RuntimeError(err::PortInvalid);
  commPort_ = port;
}

void SerialPort::SetSettings(const std::string& text) {
  auto parsed = ParseSerialSettings(text);
  if (!parsed) throw RuntimeError(err::InvalidPropertyValue, "Invalid Settings text \"" + text + "\"");
  DeviceCheckSettings(*parsed);
  if (open_) DeviceApplySettings(*parsed, handshaking_);
  settings_ = *parsed;
}

void SerialPort::SetPortOpen(bool open) {
  if (open == open_) {
    if (open) throw RuntimeError(err::PortAlreadyOpen);
    return;
  }
  if (open) {
    DeviceOpen();
    try {
      DeviceApplySettings(settings_, handshaking_);
      DeviceSetModemLines(dtr_, rts_);
    } catch (...) {
      DeviceClose();
      throw;
    }
    in_.clear();
    open_ = true;
  } else {
    open_ = false;
    DeviceClose();
    in_.clear();
  }
}

void SerialPort::SetHandshaking(std::int32_t mode) {
  if (mode < 0 || mode > 3) throw RuntimeError(err::InvalidPropertyValue);
  if (open_) DeviceApplySettings(settings_, mode);
  handshaking_ = mode;
}

void SerialPort::SetDTREnable(bool on) {
  dtr_ = on;
  if (open_) DeviceSetModemLines(dtr_, rts_);
}

void SerialPort::SetRTSEnable(bool on) {
  rts_ = on;
  if (open_) DeviceSetModemLines(dtr_, rts_);
}

bool SerialPort::CDHolding() const { return open_ && DeviceCarrier(); }

std::int16_t SerialPort::InBufferCount() const { return static_cast<std::int16_t>(in_.size()); }

void SerialPort::SetInBufferCount(std::int16_t count) {
  if (count != 0) throw RuntimeError(err::InvalidPropertyValue);
  in_.clear();
  if (open_) DeviceDiscardInput();
}

std::int16_t SerialPort::OutBufferCount() const {
  return open_ ? static_cast<std::int16_t>(std::min<std::size_t>(DeviceOutputPending(), 32767)) : 0;
}

void SerialPort::SetOutBufferCount(std::int16_t count) {
  if (count != 0) throw RuntimeError(err::InvalidPropertyValue);
  if (open_) DeviceDiscardOutput();
}

void SerialPort::SetRThreshold(std::int16_t n) {
  if (n < 0) throw RuntimeError(err::InvalidPropertyValue);
  rThreshold_ = n;
}

void SerialPort::SetSThreshold(std::int16_t n) {
  if (n < 0) throw RuntimeError(err::InvalidPropertyValue);
  sThreshold_ = n;
}

void SerialPort::SetInputLen(std::int16_t n) {
  if (n < 0) throw RuntimeError(err::InvalidPropertyValue);
  inputLen_ = n;
}

void SerialPort::Output(const Variant& data) {
  if (data.IsArray()) {
    const VariantArray& a = data.Array();
    Bytes bytes;
    bytes.reserve(a.Size());
    for (std::int32_t i = a.Lower(); i <= a.Upper(); ++i) bytes.push_back(a.Get(i).ToByte());
    OutputBytes(bytes);
    return;
  }
  if (!data.IsString()) throw RuntimeError(err::TypeMismatch);
  const std::string& text = data.ToString();
  OutputBytes(Bytes(text.begin(), text.end()));
}

void SerialPort::OutputBytes(const Bytes& data) {
  if (!open_) throw RuntimeError(err::PortNotOpen);
  if (trace_ && !data.empty()) trace_(TraceDirection::Sent, data.data(), data.size(), WallMicros());
  DeviceWrite(data.data(), data.size());
}

Bytes SerialPort::InputBytes() {
  Bytes out;
  InputInto(out);
  return out;
}

void SerialPort::InputInto(Bytes& out) {
  if (!open_) throw RuntimeError(err::PortNotOpen);
  std::size_t n = inputLen_ == 0 ? in_.size() : std::min<std::size_t>(in_.size(), static_cast<std::size_t>(inputLen_));
  out.assign(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(n));
  in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(n));
}

Variant SerialPort::Input() {
  Bytes bytes = InputBytes();
  if (inputMode_ == InputModeKind::Text) return Variant(std::string(bytes.begin(), bytes.end()));
  VariantArray arr(0, static_cast<std::int32_t>(bytes.size()) - 1, VarType::Byte);
  for (std::size_t i = 0; i < bytes.size(); ++i) arr.At(static_cast<std::int32_t>(i)) = Variant(bytes[i]);
  return Variant(std::move(arr));
}

bool SerialPort::WaitForInput(std::int64_t) { return !in_.empty(); }

void SerialPort::Received(const std::uint8_t* data, std::size_t size) {
  if (!open_ || size == 0) return;
  if (trace_) trace_(TraceDirection::Received, data, size, WallMicros());
  bool overflow = false;
  const std::size_t before = in_.size();
  if (!nullDiscard_) {
    // The common case in one insert: a reply arrives as a few large chunks.
    std::size_t room = kInBufferLimit - std::min(in_.size(), kInBufferLimit);
    overflow = size > room;
    in_.insert(in_.end(), data, data + std::min(size, room));
  } else {
    for (std::size_t i = 0; i < size; ++i) {
      if (data[i] == 0) continue;
      if (in_.size() >= kInBufferLimit) {
        overflow = true;
        break;
      }
      in_.push_back(data[i]);
    }
  }
  bufferedTotal_ += in_.size() - before;
  if (overflow) RaiseError(comm::ErRxOver);
  if (rThreshold_ > 0 && in_.size() >= static_cast<std::size_t>(rThreshold_)) Raise(comm::EvReceive);
}

void SerialPort::CarrierChanged() {
  if (open_) Raise(comm::EvCD);
}

void SerialPort::OutputDrained() {
  if (open_ && sThreshold_ > 0 && DeviceOutputPending() < static_cast<std::size_t>(sThreshold_)) Raise(comm::EvSend);
}

void SerialPort::RaiseError(std::int16_t code) {
  if (open_) Raise(code);
}

void SerialPort::Raise(std::int16_t event) {
  commEvent_ = event;
  // A copy: the handler may replace or clear OnComm while it runs.
  if (auto handler = OnComm) handler();
}

}  // namespace plc
