// plclink demo: every control that can run end to end, against its simulated PLC on a
// pseudo-terminal line, with a verdict per control.
#include "tools/plclink/Demo.h"

#include <exception>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "base/RuntimeError.h"
#include "tools/plclink/DemoDfLink.h"
#include "tools/plclink/DemoReport.h"
#include "tools/plclink/DemoRtuLink.h"
#include "tools/plclink/DemoSeqLink.h"
#include "tools/plclink/DemoUdpLink.h"

namespace plc::plclink {
namespace {

struct ControlDemo {
  const char* control;
  // The control's steps against its simulated PLC; empty while it has no simulator.
  std::function<void(DemoReport&)> run;
};

// A control gains its demo here once its engine and simulator exist.
const std::vector<ControlDemo>& ControlDemos() {
  static const std::vector<ControlDemo> demos = {
      {"RtuLink", RunRtuLinkDemo},
      {"SeqLink", RunSeqLinkDemo},
      {"DfLink", RunDfLinkDemo},
      {"UdpLink", RunUdpLinkDemo},
  };
  return demos;
}

// Runs one control's demo; true when every step matched.
bool RunOne(const ControlDemo& demo) {
  DemoReport report(std::cout, demo.control);
  std::cout << demo.control << "\n";
  try {
    demo.run(report);
  } catch (const RuntimeError& e) {
    report.Abort("error " + std::to_string(e.Number()) + ": " + e.what());
  } catch (const std::exception& e) {
    report.Abort(e.what());
  }
  report.PrintVerdict();
  return report.Passed();
}

}  // namespace

int RunDemo() {
  std::cout << "plclink demo: each control against a simulated PLC on a pseudo-terminal line\n\n";
  bool passed = true;
  for (const ControlDemo& demo : ControlDemos()) {
    if (!demo.run) {
      std::cout << demo.control << ": no simulator yet, skipped\n";
      continue;
    }
    passed = RunOne(demo) && passed;
    std::cout << "\n";
  }
  std::cout.flush();
  return passed ? 0 : 1;
}

}  // namespace plc::plclink
