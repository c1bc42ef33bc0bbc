#pragma once
// The serial line every control owns: its serial-port child and the line properties.
//
// Some values live in the control (the CommPort member, the PortOpen flag), others only in the
// child (Settings, DTREnable, RTSEnable, Handshaking), so reading those back gives what the
// child holds. Every set through the property accessors notifies the host with the
// property-bag key; the Load* operations are for restoring from a bag and notify nothing.
//
// A set that the child refuses changes nothing: the child is asked first, and only then is the
// member stored and the host told. So a CommPort refused while the port is open, or a
// PortOpen whose device is missing, leaves the stored values as they were instead of holding
// a value the line never took.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Control.h"
#include "platform/SerialPort.h"

namespace plc {

// The serial port a control gets when its host gives none: the termios port.
std::unique_ptr<SerialPort> DefaultSerialPort();

class SerialLine {
 public:
  struct Rules {
    // PortOpen may be set at design time (DfLink); otherwise that is error 382.
    bool openAtDesignTime = false;
    // CommPort and PortOpen read the child's own values (DfLink) instead of the stored ones.
    bool stateFromChild = false;
  };

  SerialLine(Control& owner, std::unique_ptr<SerialPort> port, Rules rules);

  SerialPort& Child() const { return *port_; }

  std::int16_t CommPort() const;
  void SetCommPort(std::int16_t port);
  void LoadCommPort(std::int16_t port);
  // A new control's value: the member only, the child keeps its own until CommPort is set.
  void InitCommPort(std::int16_t port) { commPort_ = port; }
  std::int16_t StoredCommPort() const { return commPort_; }

  bool PortOpen() const;
  // 382 at design time (unless the rules allow it); the child's error when it cannot open.
  void SetPortOpen(bool open);
  // The flag only: a loaded True does not open the port.
  void LoadPortOpen(bool open) { portOpen_ = open; }
  bool PortOpenFlag() const { return portOpen_; }

  std::string Settings() const { return port_->Settings(); }
  void SetSettings(const std::string& text);
  bool DTREnable() const { return port_->DTREnable(); }
  void SetDTREnable(bool on);
  bool RTSEnable() const { return port_->RTSEnable(); }
  void SetRTSEnable(bool on);
  std::int32_t Handshaking() const { return port_->Handshaking(); }
  void SetHandshaking(std::int32_t mode);  // notifies "ComHandshaking"
  bool CDHolding() const { return port_->CDHolding(); }

  // The raw pass-through operations.
  void SendText(const std::string& text) { port_->Output(Variant(text)); }
  Variant Receive();
  void Clear();

 private:
  Control& owner_;
  std::unique_ptr<SerialPort> port_;
  Rules rules_;
  std::int16_t commPort_ = 1;
  bool portOpen_ = false;
};

}  // namespace plc
