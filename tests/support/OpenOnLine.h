#pragma once
// A serial control set up as a host sets one up on a device path: its host, new properties,
// whatever the test configures (a mode before the port opens), the port number that the test
// has mapped to the device, the settings, the port opened and the watchdog timer running.
#include <functional>
#include <string>

#include "platform/ComponentHost.h"

namespace plc::test {

template <class Control>
void OpenOnLine(Control& link, ComponentHost& host, int commPort, const std::string& settings = "9600,n,8,1",
                const std::function<void(Control&)>& configure = {}) {
  link.SetHost(&host);
  link.InitProperties();
  if (configure) configure(link);
  link.SetCommPort(commPort);
  link.SetSettings(settings);
  link.SetPortOpen(true);
  link.Timer1().SetEnabled(true);
}

}  // namespace plc::test
