#pragma once
// RtuLink for C++ hosts: the Modbus control with typed members. The control itself lives in
// its plug-in (librtulink.so, found beside libplcbase or on QVL_PLUGIN_PATH); this class
// loads it and calls its members by name, so only the control interface and Variant cross the
// library boundary. Control() gives every other member by name (see `plclink rtulink members`).
//
// Read and write methods return the control's result codes (plc::ResultOk is -1) and never
// throw for a communication problem; properties throw plc::RuntimeError for a refused value.
#include <cstdint>
#include <string>
#include <utility>

#include "plclink/PlcLink.h"

namespace plclink {

class RtuLink {
 public:
  // Creates a new control (Initialize, InitProperties, Show) in `host`, or in a standalone
  // run-mode host of its own when none is given.
  explicit RtuLink(plc::ComponentHost* host = nullptr) : control_(plc::PluginControl::Load("rtulink")) {
    control_->SetHost(host);
    control_->Initialize();
    control_->InitProperties();
    control_->Show();
  }
  ~RtuLink() {
    try {
      if (PortOpen()) SetPortOpen(false);
    } catch (const plc::RuntimeError&) {
      // Closing is best effort when the host goes away.
    }
  }
  RtuLink(const RtuLink&) = delete;
  RtuLink& operator=(const RtuLink&) = delete;

  plc::Control& Control() { return *control_; }

  // Events: CommCompleteEx (MData, MAdd, quan, ErrorStr, RespStatus) after a non-waiting read
  // or a served request, CommComplete, CommEventModem. Raised on this thread's event loop.
  void OnEvent(plc::EventSink sink) { control_->SetEventSink(std::move(sink)); }

  std::int16_t CommPort() { return control_->GetProperty("CommPort").ToInt16(); }
  void SetCommPort(std::int16_t port) { control_->SetProperty("CommPort", plc::Variant(port)); }
  std::string Settings() { return control_->GetProperty("Settings").ToString(); }
  void SetSettings(const std::string& settings) { control_->SetProperty("Settings", plc::Variant(settings)); }
  std::int32_t Address() { return control_->GetProperty("Address").ToInt32(); }
  void SetAddress(std::int32_t unit) { control_->SetProperty("Address", plc::Variant(unit)); }
  plc::rtu::EnModBusMode ModBusMode() {
    return static_cast<plc::rtu::EnModBusMode>(control_->GetProperty("ModBusMode").ToInt32());
  }
  void SetModBusMode(plc::rtu::EnModBusMode mode) {
    control_->SetProperty("ModBusMode", plc::Variant(static_cast<std::int32_t>(mode)));
  }
  bool PortOpen() { return control_->GetProperty("PortOpen").ToBool(); }
  void SetPortOpen(bool open) { control_->SetProperty("PortOpen", plc::Variant(open)); }

  // Waits for the reply; the values land in `values` from its lower bound.
  plc::Result ReadPLC(const std::string& address, plc::VariantArray& values, std::int16_t count,
                      std::int16_t ioType = plc::ioWord) {
    return Transfer("ReadPLC", address, values, count, ioType);
  }
  // Sends the request and returns; CommCompleteEx brings the values (or the failure).
  plc::Result ReadPLCNW(const std::string& address, plc::VariantArray& values, std::int16_t count,
                        std::int16_t ioType = plc::ioWord) {
    return Transfer("ReadPLCNW", address, values, count, ioType);
  }
  plc::Result WritePLC(const std::string& address, plc::VariantArray& values, std::int16_t count,
                       std::int16_t ioType = plc::ioWord) {
    return Transfer("WritePLC", address, values, count, ioType);
  }
  // The text of the last failures, for a person.
  std::string ReadErrors() { return control_->Invoke("ReadErrors", {}).ToString(); }

 private:
  plc::Result Transfer(const char* method, const std::string& address, plc::VariantArray& values,
                       std::int16_t count, std::int16_t ioType) {
    plc::Variant a(address), v(std::move(values)), n(count), io(ioType);
    plc::Variant result;
    try {
      result = control_->Invoke(method, {&a, &v, &n, &io});
    } catch (...) {
      if (v.IsArray()) values = std::move(v.Array());  // the caller's array is not lost
      throw;
    }
    values = std::move(v.Array());
    return result.ToInt16();
  }

  plc::PluginControl control_;
};

}  // namespace plclink
