#pragma once
// What a control asks of the program that hosts it: the ambient user mode (design or run),
// the ambient font, the property-changed notification (naming the property-bag key, so the
// host knows its document is dirty) and modal dialogs.
#include <functional>
#include <string>
#include <vector>

#include "base/Variant.h"
#include "platform/SerialPort.h"

namespace plc {

struct DialogRequest {
  std::string title;
  std::vector<std::string> lines;
  // The form it is, for a host that has a view of its own for it ("dlgAbout"); empty for a
  // plain message. A host without such a view shows the title and the lines.
  std::string form{};
};

class ComponentHost {
 public:
  virtual ~ComponentHost() = default;
  // True in run mode, false at design time.
  virtual bool UserMode() const = 0;
  virtual Font AmbientFont() const = 0;
  virtual void PropertyChanged(const std::string& key) = 0;
  // Shows a dialog and returns when the person closed it.
  virtual void ShowModal(const DialogRequest& dialog) = 0;
  // The ambient line trace: a host that wants to see what goes on the wire returns a hook,
  // and every serial port a control of this host opens reports to it. Empty by default.
  virtual TraceHook SerialTrace() const { return {}; }
  // The name the host knows the control by (a form's control name, a plant document's
  // section); empty when it gives none. The scan reads the groups that name it.
  virtual std::string AmbientDisplayName() const { return {}; }
};

// A host for programs without a form designer: run mode unless told otherwise; it records
// the changed keys and hands dialogs to a callback (or prints nothing when there is none).
class StandaloneHost final : public ComponentHost {
 public:
  bool UserMode() const override { return userMode_; }
  void SetUserMode(bool run) { userMode_ = run; }
  Font AmbientFont() const override { return font_; }
  void SetAmbientFont(Font font) { font_ = std::move(font); }
  void PropertyChanged(const std::string& key) override {
    changed_.push_back(key);
    if (onChanged) onChanged(key);
  }
  void ShowModal(const DialogRequest& dialog) override {
    if (onDialog) onDialog(dialog);
  }
  TraceHook SerialTrace() const override { return trace_; }
  void SetSerialTrace(TraceHook hook) { trace_ = std::move(hook); }
  std::string AmbientDisplayName() const override { return displayName_; }
  void SetDisplayName(std::string name) { displayName_ = std::move(name); }

  const std::vector<std::string>& ChangedKeys() const { return changed_; }
  void ClearChangedKeys() { changed_.clear(); }
  std::function<void(const std::string&)> onChanged;
  std::function<void(const DialogRequest&)> onDialog;

 private:
  bool userMode_ = true;
  Font font_;
  TraceHook trace_;
  std::string displayName_;
  std::vector<std::string> changed_;
};

}  // namespace plc
