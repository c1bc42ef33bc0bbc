#include "platform/PseudoTerminalLink.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>

namespace plc {

namespace {

using SteadyClock = std::chrono::steady_clock;

// How long the relay waits for room at an end that does not read.
constexpr auto kStallLimit = std::chrono::seconds(2);

std::system_error SystemError(const char* what) { return std::system_error(errno, std::generic_category(), what); }

void MakeRaw(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) throw SystemError("pseudo-terminal tcgetattr");
  ::cfmakeraw(&t);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) throw SystemError("pseudo-terminal tcsetattr");
}

}  // namespace

bool WriteAllBefore(int fd, const std::uint8_t* data, std::size_t size, std::chrono::steady_clock::time_point deadline,
                    int stopFd) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd p[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
    if (::poll(p, 2, static_cast<int>(left)) < 0 && errno != EINTR) return false;
    if (p[1].revents) return false;
  }
  return true;
}

void PseudoTerminalLink::OpenEnd(End& end) {
  char name[256] = {};
  if (::openpty(&end.far, &end.device, name, nullptr, nullptr) != 0) throw SystemError("openpty");
  end.path = name;
  MakeRaw(end.far);
  MakeRaw(end.device);
  int flags = ::fcntl(end.far, F_GETFL);
  if (flags < 0 || ::fcntl(end.far, F_SETFL, flags | O_NONBLOCK) != 0) throw SystemError("pseudo-terminal O_NONBLOCK");
  if (::fcntl(end.far, F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(end.device, F_SETFD, FD_CLOEXEC) != 0)
    throw SystemError("pseudo-terminal FD_CLOEXEC");
}

void PseudoTerminalLink::CloseEnd(End& end) {
  if (end.far >= 0) ::close(end.far);
  if (end.device >= 0) ::close(end.device);
  end.far = end.device = -1;
}

PseudoTerminalLink::PseudoTerminalLink() {
  try {
    OpenEnd(a_);
    OpenEnd(b_);
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_ < 0) throw SystemError("pseudo-terminal link eventfd");
    relay_ = std::thread([this] { Relay(); });
  } catch (...) {
    CloseEnd(a_);
    CloseEnd(b_);
    if (stop_ >= 0) ::close(stop_);
    throw;
  }
}

PseudoTerminalLink::~PseudoTerminalLink() {
  const std::uint64_t one = 1;
  if (::write(stop_, &one, sizeof one) < 0) {
    // An eventfd takes a write unless its counter overflows; the relay then still sees it
    // readable from the earlier write.
  }
  relay_.join();
  ::close(stop_);
  CloseEnd(a_);
  CloseEnd(b_);
}

void PseudoTerminalLink::Relay() {
  std::uint8_t buf[4096];
  pollfd p[3] = {{a_.far, POLLIN, 0}, {b_.far, POLLIN, 0}, {stop_, POLLIN, 0}};
  const int to[2] = {b_.far, a_.far};
  while (true) {
    for (pollfd& each : p) each.revents = 0;
    if (::poll(p, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[2].revents) return;
    for (int i = 0; i < 2; ++i) {
      if (!p[i].revents) continue;
      ssize_t n = ::read(p[i].fd, buf, sizeof buf);
      if (n > 0) {
        WriteAllBefore(to[i], buf, static_cast<std::size_t>(n), SteadyClock::now() + kStallLimit, stop_);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        p[i].fd = -1;  // this end is gone for good: poll skips it from now on
      }
    }
  }
}

}  // namespace plc
