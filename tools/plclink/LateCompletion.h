#pragma once
// Controls whose transactions end after the call returns: DfLink's WritePLC returns once the
// request is on the line and its ReadPLCNW returns 0 when it sent the request; the reply comes
// later as CommComplete. One plclink run is one process, so a command waits for that end
// before the process closes the port.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Variant.h"
#include "tools/plclink/ControlSession.h"

namespace plc::plclink {

// CommComplete, CommCompleteEx: the events that end a transaction.
bool IsCompletion(const std::string& event);

// Whether a non-waiting read's result means the request went out.
bool NonWaitingReadSent(ControlSession& s, std::int32_t result);

struct LateEnd {
  bool awaited = false;  // the control was busy: a completion was due
  // The arguments of the CommComplete raised meanwhile (the caller's own handler still ran).
  std::optional<std::vector<Variant>> completion;
  // A completion was due and none came: the request drew no answer.
  bool Missing() const { return awaited && !completion; }
};

// Lets events run while the control reports CommBusy, up to a few seconds.
LateEnd AwaitLine(ControlSession& s);

// Why a command failed whose completion never came.
std::string MissingCompletionText(const std::string& method);

}  // namespace plc::plclink
