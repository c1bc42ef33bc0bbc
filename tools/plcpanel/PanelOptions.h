#pragma once
// plcpanel's command line: the control and the options plclink takes for it (port, settings,
// mode, address, --bag document...), then the addresses the table starts with, and the
// panel's own options.
//
//   plcpanel CONTROL [plclink options] [--interval MS] [--screenshots DIR] [ADDRESS...]
#include <optional>
#include <string>
#include <vector>

#include "tools/plclink/CommandLine.h"

namespace plc::plcpanel {

struct PanelOptions {
  plclink::Options control;            // what plclink would take (command: members)
  std::vector<std::string> addresses;  // the table's first rows
  int intervalMs = 1000;
  std::optional<std::string> screenshots;  // take the screenshots into this folder and quit
};

// Throws plclink::UsageError naming what is wrong.
PanelOptions ParsePanelOptions(const std::vector<std::string>& args);

std::string PanelUsage();

}  // namespace plc::plcpanel
