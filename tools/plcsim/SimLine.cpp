#include "tools/plcsim/SimLine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/TermiosLine.h"

namespace plc::sim {

namespace {

// A pseudo-terminal, or a device without modem lines, keeps neither parity nor a size below 8.
bool KeepsOnlyBytes(int fd) {
  char name[256];
  int bits = 0;
  bool ptySlave = ::ttyname_r(fd, name, sizeof name) == 0 && std::strncmp(name, "/dev/pts/", 9) == 0;
  return ptySlave || ::ioctl(fd, TIOCMGET, &bits) != 0;
}

}  // namespace

int OpenSimLine(const std::string& path, const SerialSettings& settings) {
  const auto speed = TermiosSpeed(settings.baud);
  if (!speed) throw SimLineError("speed " + std::to_string(settings.baud) + " is not one a serial line can be set to");
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw SimLineError("cannot open " + path + ": " + std::strerror(errno));
  auto refuse = [&](const std::string& why) {
    ::close(fd);
    throw SimLineError(why);
  };
  termios old{};
  if (!::isatty(fd) || ::tcgetattr(fd, &old) != 0) refuse(path + " is not a serial line (a terminal device)");
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    refuse(e == EWOULDBLOCK ? path + " is in use by another program"
                            : "cannot lock " + path + ": " + std::strerror(e));
  }
  // Also keeps out openers that do not lock; some drivers lack it, so it is not required.
  (void)::ioctl(fd, TIOCEXCL);
  const bool bytesOnly = KeepsOnlyBytes(fd);
  termios want = LineFor(old, settings, 0, *speed, bytesOnly);
  // The simulators poll the descriptor and read what is there.
  want.c_cc[VMIN] = 0;
  want.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &want) != 0)
    refuse(path + " does not take \"" + settings.ToString() + "\": " + std::strerror(errno));
  termios got{};
  if (!bytesOnly && (::tcgetattr(fd, &got) != 0 || !SameLine(want, got)))
    refuse(path + " does not take \"" + settings.ToString() + "\"");
  // A PLC switched on hears nothing sent before: requests already waiting on the line are no
  // one's to answer (their master has given up on them).
  (void)::tcflush(fd, TCIFLUSH);
  return fd;
}

}  // namespace plc::sim
