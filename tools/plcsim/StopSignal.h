#pragma once
// How the plcsim commands learn they are to end: SIGINT and SIGTERM are blocked and arrive as
// a descriptor that turns readable, which the serving loop watches beside its device.

namespace plc::sim {

// Blocks SIGINT and SIGTERM for the calling thread and returns a non-blocking signalfd for
// them (-1 when none can be had). The caller closes it.
int StopSignalFd();

}  // namespace plc::sim
