// plcsim PROTOCOL [OPTIONS]: a simulated PLC answering on a serial device path (or, for ECOM,
// on UDP), so that plclink, other programs and real masters can talk to it.
#include <iostream>
#include <string>

#include "tools/plcsim/DirectNetSimulator.h"
#include "tools/plcsim/EcomModuleSim.h"
#include "tools/plcsim/Df1Simulator.h"
#include "tools/plcsim/ModbusSimulator.h"
#include "tools/plcsim/SimArguments.h"
#include "tools/plcsim/Simulators.h"

namespace plc::sim {

const std::vector<SimulatorCommand>& Simulators() {
  static const std::vector<SimulatorCommand> simulators = {
      // One line per protocol: {"name", "summary", RunFunction},
      {"directnet", "DirectLOGIC station(s), DirectNET / K-sequence", RunDirectNetCommand},
      {"ecom", "ECOM modules over UDP for the hei_pas client", RunEcomSimulator},
      {"df1", "Allen-Bradley DF1 full duplex (SLC500, MicroLogix, PLC5)", RunDf1Simulator},
      {"modbus", "a Modbus slave, RTU or ASCII", RunModbusSimulator},
  };
  return simulators;
}

}  // namespace plc::sim

namespace {

int Usage(std::ostream& out, int status) {
  out << "usage: plcsim PROTOCOL [OPTIONS]   (plcsim PROTOCOL --help for its options)\n"
         "       plcsim [PROTOCOL] --version\n";
  out << "protocols:\n";
  for (const auto& s : plc::sim::Simulators()) out << "  " << s.name << "  " << s.summary << "\n";
  if (plc::sim::Simulators().empty()) out << "  (none built)\n";
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(std::cerr, 2);
  const std::string name = argv[1];
  if (name == "--help" || name == "-h") return Usage(std::cout, 0);
  if (name == "--version" || name == "-V") {
    std::cout << plc::sim::SimVersionText() << "\n";
    return 0;
  }
  for (const auto& s : plc::sim::Simulators()) {
    if (s.name != name) continue;
    // plcsim PROTOCOL --version: the same for every protocol.
    if (argc > 2 && (std::string(argv[2]) == "--version" || std::string(argv[2]) == "-V")) {
      std::cout << plc::sim::SimVersionText() << "\n";
      return 0;
    }
    return s.run(argc - 1, argv + 1);
  }
  std::cerr << "plcsim: unknown protocol '" << name << "'\n";
  return Usage(std::cerr, 2);
}
