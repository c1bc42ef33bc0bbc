// plclink: a host for the link controls that knows none of their headers. It loads each
// control's plug-in library by name and drives it through its members by name.
#include <iostream>
#include <string>
#include <vector>

#include "base/RuntimeError.h"
#include "tools/plclink/Commands.h"
#include "tools/plclink/CommandLine.h"
#include "tools/plclink/ControlSession.h"
#include "tools/plclink/Demo.h"
#include "tools/plclink/Gateway.h"
#include "tools/plclink/Output.h"
#include "tools/plclink/ScreenCommands.h"
#include "tools/plclink/Trend.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailed = 1;

// The error, the synopsis, and where to read more: the command's own help when one was named.
int UsageFailure(const std::string& what, const std::vector<std::string>& args = {}) {
  auto topic = plc::plclink::HelpTopic(args);
  std::cerr << "plclink: " << what << "\n"
            << plc::plclink::UsageText().substr(0, plc::plclink::UsageText().find("\n\n")) << "\n"
            << (topic ? "run 'plclink CONTROL " + *topic + " --help' for its operands and options\n"
                      : std::string("run 'plclink --help' for the commands and options\n"));
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace plc::plclink;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (auto status = RunScreenCommand(args)) return *status;
  // The plant commands drive no single control and have usages of their own.
  if (!args.empty() && (args[0] == "gateway" || args[0] == "trend")) {
    const bool gateway = args[0] == "gateway";
    std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const std::string& a : rest) {
      if (a == "-h" || a == "--help") {
        std::cout << (gateway ? GatewayUsage() : TrendUsage());
        return 0;
      }
    }
    return gateway ? RunGateway(rest) : RunTrend(rest);
  }
  for (const std::string& a : args) {
    if (a == "--") break;
    if (a == "-h" || a == "--help") {
      auto topic = HelpTopic(args);
      auto library = args.empty() ? std::nullopt : LibraryFor(args[0]);
      std::cout << (topic ? *CommandUsage(*topic, library.value_or("")) : UsageText());
      return 0;
    }
    if (a == "-V" || a == "--version") {
      std::cout << VersionText() << "\n";
      return 0;
    }
  }
  if (!args.empty() && args[0] == "demo") {
    if (args.size() > 1) return UsageFailure("demo takes no options");
    return RunDemo();
  }
  try {
    Options options = ParseCommandLine(args);
    Output out(options.json, std::cout);
    ControlSession session(options);
    return RunCommand(options, session, out);
  } catch (const UsageError& e) {
    return UsageFailure(e.what(), args);
  } catch (const plc::RuntimeError& e) {
    std::cerr << "plclink: " << e.what() << " (error " << e.Number() << ")\n";
    return kExitFailed;
  } catch (const std::exception& e) {
    std::cerr << "plclink: " << e.what() << "\n";
    return kExitFailed;
  }
}
