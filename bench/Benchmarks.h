#pragma once
// The benchmarks of this program, registered against the lines main() sets up, so that the
// clients compared with each other share one line and one server. Each benchmark opens its
// client on end B of the line for the run and closes it after, as both clients want the
// device to themselves.
//
// Names pair up as <what>/RtuLink/<size> and <what>/libmodbus/<size>; main prints the ratios.
#include <string>
#include <vector>

#include "tests/support/PeerProcess.h"
#include "tests/support/Pty.h"

namespace plc::bench {

// A linked pty pair with the libmodbus RTU server on end A.
struct ServedLine {
  explicit ServedLine(std::vector<std::string> serverArgs = {});
  test::PtyLink line;
  test::PeerProcess server;
};

// Waiting reads of 1 and of 100 holding registers: MasterRead/<client>/<n>.
void RegisterMasterReads(ServedLine& served);

// Waiting reads that the server answers late: IdleWait/<client>/1, with the process CPU and
// wall time per wait as counters cpu_ms_per_wait and wall_ms_per_wait.
constexpr int kLateReplyMs = 200;
void RegisterIdleWaits(ServedLine& lateServed);

// Requests a libmodbus master gets served per second, by RtuLink in SlaveRtu and by a
// libmodbus server, each on its own thread at end B: SlaveServe/<server>/10.
void RegisterSlaveServing(test::PtyLink& line);

}  // namespace plc::bench
