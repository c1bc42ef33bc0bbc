// plcsim ecom: the simulated ECOM modules as a program, until SIGINT or SIGTERM.
#include <unistd.h>

#include <iostream>
#include <set>
#include <string>

#include "ecom/heipas/ModuleList.h"
#include "tools/plcsim/EcomModuleSim.h"
#include "tools/plcsim/SimArguments.h"
#include "tools/plcsim/StopSignal.h"

namespace plc::sim {
namespace {

void Usage(std::ostream& out) {
  out << "usage: plcsim ecom [--module ID[:NAME][@PORT]]... [--bind A.B.C.D] [--fault KIND]\n"
         "ECOM modules on UDP for the project's hei_pas client (UdpLink in ECOM mode).\n"
         "  --module   a module with its ID (1..255), name (up to 32 bytes) and UDP port (0 or\n"
         "             none: the system chooses); repeatable; default one module 1 \"ECOM1\" on\n"
         "             port 28784\n"
         "  --bind     the IPv4 address the modules listen on (default 127.0.0.1; 0.0.0.0: every\n"
         "             interface, listed for the client as 127.0.0.1)\n"
         "  --fault    every module misbehaves from the start:\n";
  for (const auto& f : EcomFaultNames()) {
    const std::string name = f.name;
    out << "               " << name << std::string(11 - name.size(), ' ') << f.effect << "\n";
  }
  out << "  --version  the version of plcsim\n"
         "Each module holds its PLC's memory as the CCM data types address it, and UdpLink's\n"
         "addresses land there (n = the octal number):\n"
         "  V,n             registers (31h), one word each, at CCM address n + 1 (V0..V77777)\n"
         "  X,n  GX,n  SP,n inputs (32h), a byte of eight points at n/8 + 101h, 1h, 181h\n"
         "  Y,n  GY,n  C,n  outputs (33h), a byte of eight points at n/8 + 101h, 1h, 181h,\n"
         "  S,n  T,n  CT,n  and 281h, 301h, 321h; point n is bit n mod 8 of its byte\n"
         "                  (UdpLink stops each area where the next begins: X and Y at 1777,\n"
         "                  GX, GY and C at 3777, S at 1777, SP at 777, T and CT at 377)\n"
         "A request past the end of memory (registers 8000h, inputs 1C0h, outputs 340h), for\n"
         "address 0 or for no bytes is refused with an error status (the client's code 100 +\n"
         "status), as a module refuses it.\n"
         "Prints each module's address, then READY HEI_PAS_MODULES=... for the client.\n";
}

// ID[:NAME][@PORT]
EcomModuleConfig ParseModule(const std::string& text) {
  EcomModuleConfig c;
  std::string rest = text;
  if (const auto at = rest.find('@'); at != std::string::npos) {
    c.port = static_cast<std::uint16_t>(DecimalArgument("--module " + text + " port", rest.substr(at + 1), 0, 65535));
    rest.resize(at);
  }
  if (const auto colon = rest.find(':'); colon != std::string::npos) {
    c.name = rest.substr(colon + 1);
    rest.resize(colon);
    if (c.name.size() > heipas::kMaxName)
      throw ArgumentError("--module " + text + ": the name is longer than " + std::to_string(heipas::kMaxName) +
                          " bytes");
  }
  c.id = static_cast<std::uint8_t>(DecimalArgument("--module " + text + " ID", rest, 1, 255));
  if (c.name.empty()) c.name = "ECOM" + std::to_string(c.id);
  return c;
}

std::uint32_t ParseBind(const std::string& text) {
  std::string why;
  const auto list = heipas::ParseModuleList(text, &why);
  if (!list || list->size() != 1 || text.find(':') != std::string::npos)
    throw ArgumentError("--bind: '" + text + "' is not one IPv4 address A.B.C.D");
  const std::uint32_t ipv4 = list->front().ipv4;
  if (ipv4 == 0xFFFFFFFF || (ipv4 >> 28) == 0xE)
    throw ArgumentError("--bind: '" + text + "' is a broadcast or multicast address; give one of this machine's "
                        "addresses, or 0.0.0.0 for every interface");
  return ipv4;
}

EcomFault ParseFault(const std::string& text) {
  std::vector<std::string> words;
  for (const auto& f : EcomFaultNames()) words.push_back(f.name);
  return EcomFaultNames()[ChoiceArgument("--fault", text, words)].fault;
}

int Run(int argc, char** argv) {
  std::vector<EcomModuleConfig> modules;
  std::set<int> ids;
  std::uint32_t bind = 0x7F000001;
  EcomFault fault = EcomFault::None;
  ArgumentReader args(argc, argv);
  while (args.Next()) {
    const std::string& option = args.Option();
    if (option == "--help" || option == "-h") {
      Usage(std::cout);
      return 0;
    }
    if (option == "--version") {
      std::cout << SimVersionText() << "\n";
      return 0;
    }
    if (option == "--module") {
      EcomModuleConfig m = ParseModule(args.Value());
      if (!ids.insert(m.id).second)
        throw ArgumentError("--module: ID " + std::to_string(m.id) + " is given twice (each module needs its own)");
      modules.push_back(std::move(m));
    } else if (option == "--bind") {
      bind = ParseBind(args.Value());
    } else if (option == "--fault") {
      fault = ParseFault(args.Value());
    } else {
      throw ArgumentError("unknown option '" + option + "'");
    }
  }
  if (modules.empty()) modules.push_back(EcomModuleConfig{1, "ECOM1", heipas::kDefaultPort});

  const int stopFd = StopSignalFd();
  try {
    EcomModuleSim sim(modules, bind);
    std::string list;
    // Modules on every interface are reached from this machine through loopback.
    const std::uint32_t reached = bind == 0 ? 0x7F000001 : bind;
    for (std::size_t i = 0; i < modules.size(); ++i) {
      const heipas::ModuleAddress a{bind, sim.Port(i)};
      list += (list.empty() ? "" : ",") + heipas::AddressText(heipas::ModuleAddress{reached, sim.Port(i)});
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

}  // namespace

int RunEcomSimulator(int argc, char** argv) {
  return RunChecked("ecom", [&] { return Run(argc, argv); });
}

}  // namespace plc::sim
