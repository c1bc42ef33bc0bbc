#include "tools/plcpanel/DisplayCheck.h"

#include <algorithm>
#include <cstdlib>

namespace plc::plcpanel {

namespace {

bool Set(const char* value) { return value && *value; }

}  // namespace

DisplayEnvironment CurrentDisplayEnvironment() {
  return {std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY")};
}

std::string MissingDisplay(const std::vector<std::string>& args, const DisplayEnvironment& env) {
  std::string platforms = Set(env.platform) ? env.platform : "";
  for (std::size_t i = 0; i + 1 < args.size(); ++i)
    if (args[i] == "-platform" || args[i] == "--platform") platforms = args[i + 1];
  // Qt tries the platforms of a list such as "wayland;xcb" in turn; none named: the desktop's.
  bool needsX11 = false, needsWayland = false;
  std::size_t at = 0;
  do {
    const std::size_t end = std::min(platforms.find(';', at), platforms.size());
    const std::string entry = platforms.substr(at, end - at);
    const std::string name = entry.substr(0, entry.find(':'));  // without options ("vnc:size=...")
    const bool x11 = name.empty() || name == "xcb";
    const bool wayland = name.empty() || name.rfind("wayland", 0) == 0;
    if (!x11 && !wayland) return {};  // offscreen, vnc, minimal, eglfs, linuxfb...: no display needed
    if ((x11 && Set(env.x11)) || (wayland && Set(env.wayland))) return {};
    needsX11 = needsX11 || x11;
    needsWayland = needsWayland || wayland;
    at = end + 1;
  } while (at <= platforms.size());
  const std::string missing = needsX11 && needsWayland ? "DISPLAY and WAYLAND_DISPLAY are unset"
                              : needsX11               ? "DISPLAY is unset"
                                                       : "WAYLAND_DISPLAY is unset";
  return "no display to show the window on (" + missing +
         "): run plcpanel on a desktop, or set QT_QPA_PLATFORM=offscreen (no picture, e.g. with --screenshots) or "
         "QT_QPA_PLATFORM=vnc (a VNC viewer shows it)";
}

}  // namespace plc::plcpanel
