#pragma once
// What a control's help says beyond the command's own synopsis: how many values one request of
// that control carries, the address forms it takes, its defaults, and the environment that
// changes where it finds its port, its plug-in and (UdpLink) its modules.
#include <string>

#include "tools/plclink/CommandLine.h"

namespace plc::plclink {

// The limits of one request for read and write (and poll), for the control whose plug-in is
// library ("rtulink", "seqlink", "DfLink", "udplink"); empty for other commands.
std::string ControlLimitsText(const std::string& library, Command command);
// The address forms of a control's read, write and poll.
std::string AddressFormsText(const std::string& library);
// The property values a new control starts with.
std::string DefaultsText(const std::string& library);
// The environment variables plclink and the controls read.
std::string EnvironmentText(const std::string& library);

}  // namespace plc::plclink
