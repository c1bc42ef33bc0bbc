#pragma once
// The About box every deliverable carries (dlgAbout), as ShowAboutBox hands it to the host's
// modal dialog: the caption "About " and the application title; first line the version label,
// "Version " and major.minor.revision of this build, or "Version" alone for a deliverable that
// shows no number; then the product texts.
#include <string>
#include <vector>

#include "platform/ComponentHost.h"

namespace plc {

inline constexpr const char* kAboutForm = "dlgAbout";

DialogRequest AboutBoxDialog(const std::string& applicationTitle, bool showsVersion,
                             const std::vector<std::string>& productTexts);

// "1.0.0": the version of this build, major.minor.revision.
std::string BuildVersionText();

}  // namespace plc
