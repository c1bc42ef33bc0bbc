#pragma once
// A control under demonstration: loaded by name, on a port number mapped to one end of a
// pseudo-terminal line, its wire traced into the report, driven through its members by name
// only. Each demo sets the control's properties itself, then opens the port.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/PluginControl.h"
#include "platform/ComponentHost.h"
#include "tools/plclink/DemoReport.h"

namespace plc::plclink {

class DemoControl {
 public:
  // Events named completionEvent are counted and their arguments kept.
  DemoControl(const std::string& library, std::int16_t commPort, const std::string& devicePath,
              const DemoReport& report, std::string completionEvent);
  // Closes the port and unmaps its number.
  ~DemoControl();
  DemoControl(const DemoControl&) = delete;
  DemoControl& operator=(const DemoControl&) = delete;

  // The control itself, for its properties.
  Control* operator->() const { return control_.operator->(); }

  // Sets PortOpen once the demo has set the rest.
  void Open();

  // Invokes a member; the arguments, as the control left them, stay readable through Args().
  Variant Call(const char* member, std::vector<Variant> args);
  const std::vector<Variant>& Args() const { return args_; }

  int Completions() const { return static_cast<int>(completions_.size()); }
  // Waits, within a bound, for more than seen completions; true once one came.
  bool AwaitCompletion(int seen);
  // The arguments completion index (from 0) came with; index below Completions().
  const std::vector<Variant>& CompletionArgs(int index) const { return completions_[static_cast<std::size_t>(index)]; }
  // The arguments of the next completion, waiting for it within a bound; empty when none came.
  std::vector<Variant> NextCompletion();

  // ReadErrors as text.
  std::string Errors();
  // A failed call's result text, then what ReadErrors holds, if anything.
  std::string Failure(const std::string& resultText);

 private:
  // Before the control, so that they outlive it: the host, and what its event sink writes.
  StandaloneHost host_;
  std::string completionEvent_;
  std::vector<std::vector<Variant>> completions_;
  PluginControl control_;
  std::int16_t commPort_;
  std::vector<Variant> args_;
};

}  // namespace plc::plclink
