// plcsim ecom: the simulated ECOM modules as a program, until SIGINT or SIGTERM.
#include <unistd.h>

#include <iostream>
#include <optional>
#include <string>

#include "ecom/heipas/ModuleList.h"
#include "tools/plcsim/EcomModuleSim.h"
#include "tools/plcsim/StopSignal.h"

namespace plc::sim {
namespace {

int Usage(std::ostream& out, int status) {
  out << "usage: plcsim ecom [--module ID[:NAME][@PORT]]... [--bind A.B.C.D] [--fault KIND]\n"
         "  --module   a module with its ID (1..255), name and UDP port (0 or none: the system\n"
         "             chooses); repeatable; default one module 1 \"ECOM1\" on port 28784\n"
         "  --bind     the address the modules listen on (default 127.0.0.1)\n"
         "  --fault    silent, wrong (answers as another module), corrupt or truncated, on every\n"
         "             module from the start\n"
         "Prints each module's address, then READY HEI_PAS_MODULES=... for the client.\n";
  return status;
}

std::optional<EcomModuleConfig> ParseModule(const std::string& text) {
  EcomModuleConfig c;
  std::string rest = text;
  if (const auto at = rest.find('@'); at != std::string::npos) {
    try {
      const unsigned long port = std::stoul(rest.substr(at + 1));
      if (port > 65535) return std::nullopt;
      c.port = static_cast<std::uint16_t>(port);
    } catch (const std::exception&) {
      return std::nullopt;
    }
    rest.resize(at);
  }
  if (const auto colon = rest.find(':'); colon != std::string::npos) {
    c.name = rest.substr(colon + 1);
    rest.resize(colon);
  }
  try {
    const unsigned long id = std::stoul(rest);
    if (id < 1 || id > 255 || c.name.size() > heipas::kMaxName) return std::nullopt;
    c.id = static_cast<std::uint8_t>(id);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (c.name.empty()) c.name = "ECOM" + std::to_string(c.id);
  return c;
}

std::optional<EcomFault> ParseFault(const std::string& text) {
  if (text == "silent") return EcomFault::Silent;
  if (text == "wrong") return EcomFault::WrongModule;
  if (text == "corrupt") return EcomFault::Corrupt;
  if (text == "truncated") return EcomFault::Truncated;
  return std::nullopt;
}

}  // namespace

int RunEcomSimulator(int argc, char** argv) {
  std::vector<EcomModuleConfig> modules;
  std::uint32_t bind = 0x7F000001;
  EcomFault fault = EcomFault::None;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return Usage(std::cout, 0);
    if (i + 1 >= argc) return Usage(std::cerr, 2);
    const std::string value = argv[++i];
    if (arg == "--module") {
      auto m = ParseModule(value);
      if (!m) {
        std::cerr << "plcsim ecom: bad module '" << value << "'\n";
        return 2;
      }
      modules.push_back(*m);
    } else if (arg == "--bind") {
      auto list = heipas::ParseModuleList(value);
      if (!list || list->size() != 1) {
        std::cerr << "plcsim ecom: bad address '" << value << "'\n";
        return 2;
      }
      bind = list->front().ipv4;
    } else if (arg == "--fault") {
      auto f = ParseFault(value);
      if (!f) return Usage(std::cerr, 2);
      fault = *f;
    } else {
      return Usage(std::cerr, 2);
    }
  }
  if (modules.empty()) modules.push_back(EcomModuleConfig{1, "ECOM1", heipas::kDefaultPort});

  const int stopFd = StopSignalFd();
  try {
    EcomModuleSim sim(modules, bind);
    std::string list;
    for (std::size_t i = 0; i < modules.size(); ++i) {
      const heipas::ModuleAddress a{bind, sim.Port(i)};
      list += (list.empty() ? "" : ",") + heipas::AddressText(a);
      std::cout << "ecom module " << int{modules[i].id} << " \"" << modules[i].name << "\" at "
                << heipas::AddressText(a) << "\n";
      if (fault != EcomFault::None) sim.SetFault(modules[i].id, fault);
    }
    // One line a client (or a test waiting for READY) takes the module list from.
    std::cout << "READY HEI_PAS_MODULES=" << list << std::endl;
    sim.Serve(stopFd);
  } catch (const std::exception& e) {
    std::cerr << "plcsim ecom: " << e.what() << "\n";
    ::close(stopFd);
    return 1;
  }
  ::close(stopFd);
  return 0;
}

}  // namespace plc::sim
