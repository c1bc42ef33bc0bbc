#pragma once
// The simulators plcsim can run, one entry per protocol. Each runs until it is told to stop
// (SIGINT or SIGTERM) or, where it takes one, until its --times count is served.
#include <string>
#include <vector>

namespace plc::sim {

struct SimulatorCommand {
  std::string name;     // the first argument of plcsim
  std::string summary;  // one line for the usage
  // argv[0] is the protocol name; returns the process exit status.
  int (*run)(int argc, char** argv);
};

const std::vector<SimulatorCommand>& Simulators();

}  // namespace plc::sim
