#pragma once
// The demo of RtuLink: a master RtuLink, loaded by name and driven only by name, against the
// simulated Modbus PLC on a pseudo-terminal line.
#include "tools/plclink/DemoReport.h"

namespace plc::plclink {

// Runs the steps into report; throws on what ends the run early (no pseudo-terminal, a port
// that will not open, a PLC that does not start).
void RunRtuLinkDemo(DemoReport& report);

}  // namespace plc::plclink
