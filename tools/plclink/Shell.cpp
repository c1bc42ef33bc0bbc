#include "tools/plclink/Shell.h"

#include <signal.h>

#include <algorithm>
#include <ctime>
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

// A line that stops on Ctrl-C (poll, serve) blocks SIGINT and SIGTERM while it runs and leaves
// them blocked, as a one-shot command wants up to its exit. Between a shell's lines they are
// what they were before the line: a signal the line took no more (it came as the line ended)
// is dropped, and a Ctrl-C at the prompt ends the shell again rather than waiting, blocked, to
// stop the next poll at its start.
class LineSignals {
 public:
  LineSignals() {
    sigemptyset(&stops_);
    sigaddset(&stops_, SIGINT);
    sigaddset(&stops_, SIGTERM);
    ::sigprocmask(SIG_BLOCK, nullptr, &mask_);
    ::sigaction(SIGINT, nullptr, &interrupt_);
    ::sigaction(SIGTERM, nullptr, &terminate_);
  }
  ~LineSignals() {
    sigset_t ours = stops_;  // those the line blocked, not those blocked before it
    if (sigismember(&mask_, SIGINT) == 1) sigdelset(&ours, SIGINT);
    if (sigismember(&mask_, SIGTERM) == 1) sigdelset(&ours, SIGTERM);
    const timespec now{0, 0};
    while (!sigisemptyset(&ours) && ::sigtimedwait(&ours, nullptr, &now) > 0) {
    }
    ::sigaction(SIGINT, &interrupt_, nullptr);
    ::sigaction(SIGTERM, &terminate_, nullptr);
    ::sigprocmask(SIG_SETMASK, &mask_, nullptr);
  }
  LineSignals(const LineSignals&) = delete;
  LineSignals& operator=(const LineSignals&) = delete;

 private:
  sigset_t stops_;
  sigset_t mask_;
  struct sigaction interrupt_ {};
  struct sigaction terminate_ {};
};

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
        LineSignals signals;
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
