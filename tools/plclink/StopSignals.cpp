#include "tools/plclink/StopSignals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace plc::plclink {

StopSignals::StopSignals(EventLoop& loop) : loop_(loop) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  // A shell starts background jobs with SIGINT ignored, and an ignored signal is dropped
  // rather than queued: the defaults come back so that the signalfd sees both.
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0)
    throw std::runtime_error(std::string("cannot block SIGINT and SIGTERM: ") + std::strerror(errno));
  fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0) throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));
  watch_ = loop_.WatchFd(fd_, [this](short) {
    signalfd_siginfo info;
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) stopped_ = true;
  });
}

StopSignals::~StopSignals() {
  loop_.UnwatchFd(watch_);
  ::close(fd_);
  // A signal that came meanwhile stays pending while blocked; leaving them blocked means the
  // process still exits through main's normal return.
}

}  // namespace plc::plclink
