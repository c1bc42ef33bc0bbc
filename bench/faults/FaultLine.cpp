#include "bench/faults/FaultLine.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

#include "platform/PseudoTerminalLink.h"

namespace plc::faults {

namespace {

std::system_error SystemError(const char* what) { return std::system_error(errno, std::generic_category(), what); }

void MakeRaw(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) throw SystemError("fault line: tcgetattr");
  ::cfmakeraw(&t);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) throw SystemError("fault line: tcsetattr");
}

bool WriteAll(int fd, const Bytes& bytes, int stopFd) {
  return WriteAllBefore(fd, bytes.data(), bytes.size(), std::chrono::steady_clock::now() + std::chrono::seconds(2), stopFd);
}

}  // namespace

void FaultLine::Open(End& end) {
  char name[256] = {};
  if (::openpty(&end.far, &end.held, name, nullptr, nullptr) != 0) throw SystemError("fault line: openpty");
  end.path = name;
  MakeRaw(end.far);
  MakeRaw(end.held);
  const int flags = ::fcntl(end.far, F_GETFL);
  if (flags < 0 || ::fcntl(end.far, F_SETFL, flags | O_NONBLOCK) != 0) throw SystemError("fault line: O_NONBLOCK");
  ::fcntl(end.far, F_SETFD, FD_CLOEXEC);
  ::fcntl(end.held, F_SETFD, FD_CLOEXEC);
}

void FaultLine::Close(End& end) {
  if (end.far >= 0) ::close(end.far);
  if (end.held >= 0) ::close(end.held);
  end.far = end.held = -1;
}

FaultLine::FaultLine(std::uint32_t seed, ScriptTiming timing) : FaultRelay(seed, timing) {
  try {
    Open(control_);
    Open(device_);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0 || stop_ < 0) throw SystemError("fault line: eventfd");
    relay_ = std::thread([this] { Run(); });
  } catch (...) {
    Close(control_);
    Close(device_);
    if (wake_ >= 0) ::close(wake_);
    if (stop_ >= 0) ::close(stop_);
    throw;
  }
}

FaultLine::~FaultLine() {
  Signal(stop_);
  relay_.join();
  ::close(wake_);
  ::close(stop_);
  Close(control_);
  Close(device_);
}

void FaultLine::Wake() { Signal(wake_); }

void FaultLine::Run() {
  std::uint8_t buf[4096];
  pollfd p[4] = {{control_.far, POLLIN, 0}, {device_.far, POLLIN, 0}, {wake_, POLLIN, 0}, {stop_, POLLIN, 0}};
  while (AwaitWork(p)) {
    if (p[0].revents) {
      const ssize_t n = ::read(control_.far, buf, sizeof buf);
      if (n > 0) {
        if (PassRequest()) WriteAll(device_.far, Bytes(buf, buf + n), stop_);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        p[0].fd = -1;
      }
    }
    if (p[1].revents) {
      const ssize_t n = ::read(device_.far, buf, sizeof buf);
      if (n > 0) {
        TakeReply(Bytes(buf, buf + n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        p[1].fd = -1;
      }
    }
    Delivery d;
    while (TakeDue(Now(), d)) WriteAll(control_.far, d.bytes, stop_);
  }
}

}  // namespace plc::faults
