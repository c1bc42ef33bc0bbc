#pragma once
// The commands that run a screen of the controls from the command line, for scripts:
//   plclink about CONTROL [--json]          the About box's texts
//   plclink udplink ccm [options]           one CCM request as the CCM window's Do Request
// Each returns the exit status, or nullopt when args is no such command.
#include <optional>
#include <string>
#include <vector>

namespace plc::plclink {

std::optional<int> RunScreenCommand(const std::vector<std::string>& args);

// The usage of each, for --help.
std::string AboutUsage();
std::string CcmUsage();

}  // namespace plc::plclink
