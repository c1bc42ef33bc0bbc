#pragma once
// The demo of UdpLink in a serial mode (KSeq): the control loaded by name, against the
// simulated DirectNET station on a pseudo-terminal, with header addresses as they stand.
#include "tools/plclink/DemoReport.h"

namespace plc::plclink {

void RunUdpSerialDemo(DemoReport& report);

}  // namespace plc::plclink
