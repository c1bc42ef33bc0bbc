#pragma once
// dlgAbout, the About box of every control: what ShowAboutBox asked the host to show, as the
// form holds it once loaded (its caption, the version label lblVersion, the static product
// labels) and its one button, Command1 (OK), which unloads it.
#include <string>
#include <vector>

#include "platform/ComponentHost.h"

namespace plc::screens {

class AboutBox {
 public:
  // Loads the form from the dialog a control asked its host to show.
  explicit AboutBox(const DialogRequest& request);

  const std::string& Caption() const { return caption_; }
  const std::string& VersionLabel() const { return version_; }  // lblVersion
  const std::vector<std::string>& Labels() const { return labels_; }
  // Every text of the form, caption first: what a host without a display shows instead.
  std::vector<std::string> Texts() const;

  bool Loaded() const { return loaded_; }
  // OK: the form unloads.
  void Command1() { loaded_ = false; }

 private:
  std::string caption_;
  std::string version_;
  std::vector<std::string> labels_;
  bool loaded_ = true;
};

}  // namespace plc::screens
