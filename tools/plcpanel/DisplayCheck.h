#pragma once
// Whether plcpanel has somewhere to show its window, asked before Qt is started: Qt itself,
// without a display, ends the program with advice to reinstall it.
#include <string>
#include <vector>

namespace plc::plcpanel {

// What the environment says, as plcpanel reads it (nullptr: unset).
struct DisplayEnvironment {
  const char* platform = nullptr;  // QT_QPA_PLATFORM
  const char* x11 = nullptr;       // DISPLAY
  const char* wayland = nullptr;   // WAYLAND_DISPLAY
};

DisplayEnvironment CurrentDisplayEnvironment();

// Empty when the window can be shown (a display for the platform Qt will use, or a platform
// that needs none, such as offscreen or vnc); else why not and what to do. args are the
// program's arguments, where Qt's own -platform NAME may be.
std::string MissingDisplay(const std::vector<std::string>& args, const DisplayEnvironment& env);

}  // namespace plc::plcpanel
