#pragma once
// The register image `serve` starts from: values from a file and from --set, written into the
// slave before it answers anyone.
#include <cstdint>
#include <map>

#include "tools/plclink/CommandLine.h"
#include "tools/plclink/ControlSession.h"

namespace plc::plclink {

// Reference to value, from --load FILE (lines "REF VALUE...": consecutive references from
// REF; # starts a comment) and then each --set REF=VALUE, a later one replacing an earlier.
// Only holding registers (4xxxx, -32768..65535) and coils (0xxxx, 0 or 1): UsageError for
// anything else, naming the file and line.
std::map<std::int32_t, std::int32_t> ImageValues(const Options& o);

// Writes the values into the slave control's register image. RtuLink has no member that sets
// its image, so they go in as a master writes them: a second RtuLink on a pseudo-terminal
// line joined to the slave's port sends the writes (WritePLC, up to 123 registers at a time),
// which the slave serves like any other. The slave's port is closed again and its CommPort
// restored. RuntimeError when a write fails.
void PreloadImage(ControlSession& slave, const Options& o, const std::map<std::int32_t, std::int32_t>& image);

}  // namespace plc::plclink
