#pragma once
// The demo of UdpLink in ECOM mode: the control loaded by name and driven only by name,
// through the project's hei_pas, against two simulated ECOM modules on loopback.
#include "tools/plclink/DemoReport.h"

namespace plc::plclink {

// Runs the steps into report; throws on what ends the run early (a module port that cannot be
// bound, a plug-in that will not load).
void RunUdpLinkDemo(DemoReport& report);

}  // namespace plc::plclink
