#include "frame/SerialLine.h"

#include "base/RuntimeError.h"
#include "platform/PosixSerialPort.h"

namespace plc {

std::unique_ptr<SerialPort> DefaultSerialPort() { return std::make_unique<PosixSerialPort>(); }

SerialLine::SerialLine(Control& owner, std::unique_ptr<SerialPort> port, Rules rules)
    : owner_(owner), port_(port ? std::move(port) : DefaultSerialPort()), rules_(rules) {}

std::int16_t SerialLine::CommPort() const { return rules_.stateFromChild ? port_->CommPort() : commPort_; }

void SerialLine::SetCommPort(std::int16_t port) {
  port_->SetCommPort(port);
  commPort_ = port;
  owner_.Host().PropertyChanged("CommPort");
}

void SerialLine::LoadCommPort(std::int16_t port) {
  port_->SetCommPort(port);
  commPort_ = port;
}

bool SerialLine::PortOpen() const { return rules_.stateFromChild ? port_->PortOpen() : portOpen_; }

void SerialLine::SetPortOpen(bool open) {
  if (!rules_.openAtDesignTime && !owner_.Host().UserMode()) throw RuntimeError(err::NotAtDesignTime);
  // The host's trace, when it has one, follows every open; a port a test traced itself keeps
  // its own hook.
  if (open) {
    if (TraceHook hook = owner_.Host().SerialTrace()) port_->SetTrace(std::move(hook));
  }
  port_->SetPortOpen(open);
  portOpen_ = open;
  owner_.Host().PropertyChanged("PortOpen");
}

void SerialLine::SetSettings(const std::string& text) {
  port_->SetSettings(text);
  owner_.Host().PropertyChanged("Settings");
}

void SerialLine::SetDTREnable(bool on) {
  port_->SetDTREnable(on);
  owner_.Host().PropertyChanged("DTREnable");
}

void SerialLine::SetRTSEnable(bool on) {
  port_->SetRTSEnable(on);
  owner_.Host().PropertyChanged("RTSEnable");
}

void SerialLine::SetHandshaking(std::int32_t mode) {
  port_->SetHandshaking(mode);
  owner_.Host().PropertyChanged("ComHandshaking");
}

Variant SerialLine::Receive() {
  // Nothing received is the empty text hosts compare with, also while the port hands out
  // byte arrays (DfLink sets that input mode for its replies).
  if (port_->PortOpen() && port_->InBufferCount() == 0) return Variant(std::string());
  return port_->Input();
}

void SerialLine::Clear() {
  port_->SetInBufferCount(0);
  port_->SetOutBufferCount(0);
}

}  // namespace plc
