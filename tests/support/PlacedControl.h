#pragma once
// A control loaded from its plug-in by name and placed as a host places it: a run-mode host of
// its own, Initialize, InitProperties and Show, on the event loop current when it is made. Its
// port, when open, is closed on the way out.
#include "platform/PluginControl.h"
#include "base/RuntimeError.h"
#include "platform/ComponentHost.h"

namespace plc::test {

struct PlacedControl {
  explicit PlacedControl(const char* library) : control(PluginControl::Load(library)) {
    control->SetHost(&host);
    control->Initialize();
    control->InitProperties();
    control->Show();
  }
  ~PlacedControl() {
    try {
      if (control->GetProperty("PortOpen").ToBool()) control->SetProperty("PortOpen", false);
    } catch (const RuntimeError&) {
      // Closing is best effort when the test ends.
    }
  }
  PlacedControl(const PlacedControl&) = delete;
  PlacedControl& operator=(const PlacedControl&) = delete;

  Control& operator*() { return *control; }
  Control* operator->() { return &*control; }
  Variant Get(const char* name) { return control->GetProperty(name); }

  StandaloneHost host;
  PluginControl control;
};

}  // namespace plc::test
