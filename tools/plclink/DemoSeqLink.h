#pragma once
// The demo of SeqLink: the control, loaded by name and driven only by name, against the
// simulated DirectNET station on a pseudo-terminal line.
#include "tools/plclink/DemoReport.h"

namespace plc::plclink {

// Runs the steps into report; throws on what ends the run early (no pseudo-terminal, a port
// that will not open, a station that does not start).
void RunSeqLinkDemo(DemoReport& report);

}  // namespace plc::plclink
