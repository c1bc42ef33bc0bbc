#include "tools/plcsim/StopSignal.h"

#include <signal.h>
#include <sys/signalfd.h>

namespace plc::sim {

int StopSignalFd() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  // Only ever polled, never read: non-blocking costs nothing.
  return signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
}

}  // namespace plc::sim
