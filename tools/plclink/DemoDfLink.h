#pragma once
// The demo of DfLink: the control, loaded by name and driven only by name, against the
// simulated DF1 PLC on a pseudo-terminal line.
#include "tools/plclink/DemoReport.h"

namespace plc::plclink {

void RunDfLinkDemo(DemoReport& report);

}  // namespace plc::plclink
