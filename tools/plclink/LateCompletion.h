#pragma once
// Controls whose transactions end after the call returns: DfLink's WritePLC returns once the
// request is on the line and its ReadPLCNW returns 0 when it sent the request; the reply comes
// later as CommComplete. One plclink run is one process, so a command waits for that end
// before the process closes the port.
#include <cstdint>
#include <optional>
#include <vector>

#include "core/Variant.h"
#include "tools/plclink/ControlSession.h"

namespace plc::plclink {

// Whether a non-waiting read's result means the request went out.
bool NonWaitingReadSent(ControlSession& s, std::int32_t result);

// Lets events run while the control reports CommBusy, up to a few seconds. The arguments of
// a CommComplete raised meanwhile come back (the caller's own event handler still runs).
std::optional<std::vector<Variant>> AwaitLine(ControlSession& s);

}  // namespace plc::plclink
