#pragma once
// The commands of plclink, each on a restored control with the options applied. Each returns
// the exit status: 0 success, 1 a failure result (printed with its ReadErrors text). Usage
// errors throw UsageError, control errors RuntimeError.
#include "tools/plclink/CommandLine.h"
#include "tools/plclink/ControlSession.h"
#include "tools/plclink/Output.h"

namespace plc::plclink {

int RunCommand(const Options& options, ControlSession& session, Output& out);
// One command on a session whose options are already applied (the shell's lines).
int RunOneCommand(const Options& options, ControlSession& session, Output& out);

}  // namespace plc::plclink
