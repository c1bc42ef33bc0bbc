#include "tools/plclink/ScreenCommands.h"

#include <iostream>
#include <nlohmann/json.hpp>

#include "platform/PluginControl.h"
#include "base/RuntimeError.h"
#include "screens/AboutBox.h"
#include "screens/CcmRequestWindow.h"
#include "tools/plclink/CommandLine.h"

namespace plc::plclink {

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Usage(const std::string& what, const std::string& usage) {
  std::cerr << "plclink: " << what << "\n" << usage;
  return kExitUsage;
}

bool Wanted(const std::vector<std::string>& args, const char* flag) {
  for (const std::string& a : args)
    if (a == flag) return true;
  return false;
}

int About(const std::vector<std::string>& args) {
  if (Wanted(args, "--help") || Wanted(args, "-h")) {
    std::cout << AboutUsage();
    return 0;
  }
  bool json = false;
  std::optional<std::string> library;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--json") json = true;
    else if (!library && (library = LibraryFor(args[i]))) continue;
    else return Usage("about: unexpected '" + args[i] + "'", AboutUsage());
  }
  if (!library) return Usage("about needs a CONTROL (rtulink, seqlink, DfLink or udplink)", AboutUsage());
  PluginControl control = PluginControl::Load(*library);
  StandaloneHost host;
  std::optional<DialogRequest> shown;
  host.onDialog = [&shown](const DialogRequest& d) { shown = d; };
  control->SetHost(&host);
  control->Invoke("ShowAboutBox", {});
  control->SetHost(nullptr);
  if (!shown) {
    std::cerr << "plclink: " << control->ClassName() << " showed no About box\n";
    return kExitFailed;
  }
  screens::AboutBox form(*shown);
  if (json) {
    std::cout << nlohmann::json{{"caption", form.Caption()}, {"lblVersion", form.VersionLabel()},
                                {"labels", form.Labels()}}
                     .dump()
              << "\n";
  } else {
    for (const std::string& text : form.Texts()) std::cout << text << "\n";
  }
  return 0;
}

int Ccm(const std::vector<std::string>& args) {
  if (Wanted(args, "--help") || Wanted(args, "-h")) {
    std::cout << CcmUsage();
    return 0;
  }
  screens::CcmRequestWindow window;
  screens::CcmFields& f = window.fields;
  bool json = false;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    std::optional<std::string> v;
    if (a == "--json") {
      json = true;
    } else if (a == "--ipx") {
      f.protocol = screens::CcmProtocol::UseIPX;
    } else if (a == "--id" && (v = value())) {
      f.query = screens::CcmQuery::ModuleId;
      f.moduleId = *v;
    } else if (a == "--name" && (v = value())) {
      f.query = screens::CcmQuery::Name;
      f.name = *v;
    } else if (a == "--type" && (v = value())) {
      if (*v == "registers" || *v == "31") f.dataType = screens::CcmDataType::Registers;
      else if (*v == "inputs" || *v == "32") f.dataType = screens::CcmDataType::Inputs;
      else if (*v == "outputs" || *v == "33") f.dataType = screens::CcmDataType::Outputs;
      else return Usage("ccm: --type wants registers, inputs or outputs (31, 32, 33), not '" + *v + "'", CcmUsage());
    } else if (a == "--address" && (v = value())) {
      f.address = *v;
    } else if (a == "--size" && (v = value())) {
      f.size = *v;
    } else if (a == "--write" && (v = value())) {
      f.write = true;
      f.data = *v;
    } else if (a == "--timeout" && (v = value())) {
      auto ms = ParseWholeNumber(*v);
      if (!ms || *ms < 1 || *ms > 65535)
        return Usage("ccm: --timeout wants milliseconds from 1 to 65535, not '" + *v + "'", CcmUsage());
      window.timeoutMs = static_cast<std::uint16_t>(*ms);
    } else if (a.rfind("--", 0) == 0 && !v) {
      const bool known = a == "--id" || a == "--name" || a == "--type" || a == "--address" || a == "--size" ||
                         a == "--write" || a == "--timeout";
      return Usage("ccm: " + (known ? a + " needs a value" : "unknown option '" + a + "'"), CcmUsage());
    } else {
      return Usage("ccm: unexpected '" + a + "'", CcmUsage());
    }
  }
  screens::CcmFieldError error;
  auto request = screens::CheckCcmFields(f, error);
  if (!request) return Usage("ccm: " + error.message, CcmUsage());
  request->timeoutMs = window.timeoutMs;
  screens::CcmOutcome outcome = window.Run(*request);
  if (json) {
    std::cout << nlohmann::json{{"ok", outcome.ok}, {"messages", outcome.messages}, {"bytes", outcome.bytes}}.dump()
              << "\n";
  } else {
    // A request that did not go through is a failure: its messages, the failing step's among
    // them, go where every failure of plclink goes.
    std::ostream& out = outcome.ok ? std::cout : std::cerr;
    for (const std::string& line : outcome.messages) out << line << "\n";
  }
  return outcome.ok ? 0 : kExitFailed;
}

}  // namespace

std::string AboutUsage() {
  return "usage: plclink about CONTROL [--json]\n\n"
         "The texts of the control's About box: its caption, the version label and the product\n"
         "texts (--json: {\"caption\", \"lblVersion\", \"labels\"}).\n";
}

std::string CcmUsage() {
  return "usage: plclink udplink ccm [--id N | --name NAME] [--ipx] [--type T] [--address HEX] [--size N]\n"
         "                           [--write DATA] [--timeout MS] [--json]\n\n"
         "One CCM request to an ECOM module, as the CCM window's Do Request runs it: the library\n"
         "and a transport opened, the module queried by ID or name, opened, its device definition\n"
         "read, the request, and everything closed again; each step's message is printed.\n"
         "  --id N          the module ID, 0 to 255 (default 1)\n"
         "  --name NAME     the module's name instead, 1 to 32 characters\n"
         "  --ipx           IPX instead of IP (this hei_pas has none: rc= 3)\n"
         "  --type T        registers, inputs or outputs (31, 32, 33; default registers)\n"
         "  --address HEX   0000 to 3FFF (default 0000): the V-memory word for registers (0400 is\n"
         "                  V2000), else the byte\n"
         "  --size N        bytes, 1 to 256 (default 2), even for registers\n"
         "  --write DATA    write instead of read: hexadecimal values, one word per register or one\n"
         "                  byte per input or output byte, as many as the size asks for\n"
         "  --timeout MS    per attempt (default 55); the library tries four times\n"
         "  --json          {\"ok\", \"messages\", \"bytes\"}\n"
         "The modules are found as UdpLink finds them (HEI_PAS_MODULES, HEI_PAS_CONFIG).\n"
         "exit status: 0 the request went through, 1 it did not (its messages then go to standard\n"
         "error), 2 a field or option refused.\n";
}

std::optional<int> RunScreenCommand(const std::vector<std::string>& args) {
  try {
    if (!args.empty() && args[0] == "about") return About(args);
    if (args.size() > 1 && LibraryFor(args[0]) == std::optional<std::string>("udplink") && args[1] == "ccm")
      return Ccm(args);
  } catch (const RuntimeError& e) {
    std::cerr << "plclink: " << e.what() << " (error " << e.Number() << ")\n";
    return kExitFailed;
  }
  return std::nullopt;
}

}  // namespace plc::plclink
