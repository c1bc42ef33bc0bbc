#include "tools/plclink/Shell.h"

#include <algorithm>
#include <iostream>

#include "base/RuntimeError.h"
#include "tools/plclink/Commands.h"
#include "tools/plclink/LineInput.h"
#include "tools/plclink/ShellLine.h"

namespace plc::plclink {

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailed = 1;

// The shell is the host's watchdog between lines, as Show leaves the control without its own
// timers: a transaction that timed out is freed, so the next line is not refused as busy.
void FreeTheLine(ControlSession& session) {
  if (!session.Find("CommBusy", MemberKind::Property)) return;
  if (session.Get().GetProperty("CommBusy").ToBool()) session.Get().SetProperty("CommBusy", Variant(false));
}

}  // namespace

int RunShell(const Options& options, ControlSession& session) {
  LineInput input("plclink " + options.library + "> ");
  int worst = 0;
  while (std::optional<std::string> text = input.Next()) {
    ShellWords split = SplitShellLine(*text);
    int status = 0;
    if (!split.ok()) {
      std::cerr << "plclink: " << split.error << "\n";
      status = kExitUsage;
    } else if (split.words.empty()) {
      continue;
    } else if (split.words.size() == 1 && (split.words[0] == "exit" || split.words[0] == "quit")) {
      break;
    } else if (std::find_if(split.words.begin(), split.words.end(),
                            [](const std::string& w) { return w == "--help" || w == "-h"; }) != split.words.end()) {
      auto topic = HelpTopic(split.words);
      std::cout << (topic ? *CommandUsage(*topic, options.library) : UsageText());
    } else {
      try {
        Options line = ShellLineOptions(options, split.words);
        Output out(line.json, std::cout);
        status = RunOneCommand(line, session, out);
        FreeTheLine(session);
      } catch (const UsageError& e) {
        std::cerr << "plclink: " << e.what() << "\n";
        status = kExitUsage;
      } catch (const RuntimeError& e) {
        std::cerr << "plclink: " << e.what() << " (error " << e.Number() << ")\n";
        status = kExitFailed;
      } catch (const std::exception& e) {
        std::cerr << "plclink: " << e.what() << "\n";
        status = kExitFailed;
      }
    }
    std::cout.flush();
    worst = std::max(worst, status);
  }
  if (input.Interactive()) std::cout << "\n";
  return worst;
}

}  // namespace plc::plclink
