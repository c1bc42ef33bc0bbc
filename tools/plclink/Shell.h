#pragma once
// plclink CONTROL [options] shell: one command per line of standard input, with the syntax of
// the command line after the control's options, on the one control, its port kept open from
// the first command that opens it to the end. For scripts, multi-step checks and a person at a
// panel. A line that fails says why on standard error and the next line runs; the exit status
// is the worst of the lines (2 a usage error, 1 a failure, 0 all succeeded).
#include "tools/plclink/CommandLine.h"
#include "tools/plclink/ControlSession.h"

namespace plc::plclink {

int RunShell(const Options& options, ControlSession& session);

}  // namespace plc::plclink
