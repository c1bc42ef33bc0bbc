#include "tests/support/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/PseudoTerminalLink.h"
#include "platform/SerialPortMap.h"

namespace plc::test {

using namespace std::chrono_literals;

namespace {

std::runtime_error SystemError(const std::string& what) { return std::runtime_error(what + ": " + std::strerror(errno)); }

void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) throw SystemError("pty tcgetattr");
  cfmakeraw(&t);
  if (tcsetattr(fd, TCSANOW, &t) != 0) throw SystemError("pty tcsetattr");
}

int MillisLeft(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}


}  // namespace

Pty::Pty() {
  char name[256] = {};
  if (openpty(&far_, &device_, name, nullptr, nullptr) != 0) throw SystemError("openpty");
  path_ = name;
  MakeRaw(far_);
  MakeRaw(device_);
  int flags = fcntl(far_, F_GETFL);
  if (flags < 0 || fcntl(far_, F_SETFL, flags | O_NONBLOCK) != 0) throw SystemError("pty O_NONBLOCK");
}

Pty::~Pty() {
  CloseFar();
  if (device_ >= 0) ::close(device_);
}

termios Pty::DeviceTermios() const {
  termios t{};
  if (tcgetattr(device_, &t) != 0) throw SystemError("pty tcgetattr " + path_);
  return t;
}

void Pty::Write(const PtyBytes& data, std::chrono::milliseconds timeout) {
  if (far_ < 0) throw std::runtime_error("pty write: the far end is closed");
  if (!WriteAllBefore(far_, data.data(), data.size(), std::chrono::steady_clock::now() + timeout))
    throw std::runtime_error("pty write to " + path_ + " did not complete in time");
}

void Pty::Write(const std::string& text, std::chrono::milliseconds timeout) { Write(PtyBytes(text.begin(), text.end()), timeout); }

PtyBytes Pty::Read(std::size_t count, std::chrono::milliseconds timeout) {
  PtyBytes out;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::uint8_t buf[4096];
  while (far_ >= 0 && out.size() < count) {
    ssize_t n = ::read(far_, buf, std::min(sizeof buf, count - out.size()));
    if (n > 0) {
      out.insert(out.end(), buf, buf + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno != EAGAIN) break;  // the device end is closed for good
    int left = MillisLeft(deadline);
    if (left == 0) break;
    pollfd p{far_, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) break;
  }
  return out;
}

std::string Pty::ReadText(std::size_t count, std::chrono::milliseconds timeout) {
  PtyBytes b = Read(count, timeout);
  return std::string(b.begin(), b.end());
}

PtyBytes Pty::ReadUntilQuiet(std::chrono::milliseconds quiet) {
  PtyBytes out;
  while (true) {
    PtyBytes more = Read(4096, quiet);
    if (more.empty()) return out;
    out.insert(out.end(), more.begin(), more.end());
  }
}

void Pty::CloseFar() {
  if (far_ >= 0) ::close(far_);
  far_ = -1;
}

ScopedCommPort::ScopedCommPort(int commPort, const std::string& path)
    : commPort_(commPort), previous_(SerialPortMap::Current().Mapped(commPort)) {
  SerialPortMap::Current().Map(commPort, path);
}

ScopedCommPort::~ScopedCommPort() {
  if (previous_) SerialPortMap::Current().Map(commPort_, *previous_);
  else SerialPortMap::Current().Unmap(commPort_);
}

}  // namespace plc::test
