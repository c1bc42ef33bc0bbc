#pragma once
// The built plclink program as a command for PeerProcess and RunProgram. Its path comes from
// the test target (PLC_PLCLINK); the plug-ins are found through QVL_PLUGIN_PATH, or beside it.
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/PeerProcess.h"

namespace plc::test {

inline PeerCommand PlclinkCommand(std::vector<std::string> args) {
  return PeerCommand{PLC_PLCLINK, std::move(args), "build the plclink target"};
}

inline RunResult RunPlclink(std::vector<std::string> args) {
  return RunProgram(PlclinkCommand(std::move(args)), std::chrono::seconds(20));
}

// Each line of a --json run as one object; a line that is no JSON object fails the parse.
inline std::vector<nlohmann::json> JsonLines(const RunResult& r) {
  std::vector<nlohmann::json> objects;
  for (const std::string& line : r.OutLines()) objects.push_back(nlohmann::json::parse(line));
  return objects;
}

}  // namespace plc::test
