#include "tools/plcsim/Df1Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "platform/PseudoTerminalLink.h"
#include "tools/plcsim/StopSignal.h"

namespace plc::sim {

namespace {

constexpr int kReopenPauseMs = 300;
// How long one write may wait for room on the line.
constexpr auto kWriteLimit = std::chrono::seconds(2);

speed_t SpeedOf(int baud) {
  switch (baud) {
    case 9600: return B9600;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B19200;
  }
}

// Waits up to ms for stopFd; true when it became readable.
bool StopWithin(int stopFd, int ms) {
  if (stopFd < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return false;
  }
  pollfd p{stopFd, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}

}  // namespace

int OpenDf1Device(const std::string& path, int baud) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, SpeedOf(baud));
    cfsetospeed(&t, SpeedOf(baud));
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
      int e = errno;
      ::close(fd);
      errno = e;
      return -1;
    }
  }
  return fd;
}

int ServeDf1(Df1SimPlc& plc, int& fd, const Df1SimOptions& options, int stopFd, int maxRequests) {
  std::uint8_t buffer[512];
  for (;;) {
    if (maxRequests > 0 && plc.RequestsSeen() >= maxRequests) return 0;
    pollfd p[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    int n = poll(p, stopFd >= 0 ? 2 : 1, 200);
    if (n < 0 && errno != EINTR) return 1;
    if (stopFd >= 0 && (p[1].revents & POLLIN)) return 0;
    if (n <= 0 || !(p[0].revents & (POLLIN | POLLHUP))) continue;
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) {
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (StopWithin(stopFd, 50)) return 0;  // the master's end is away: wait for it
      continue;
    }
    for (ssize_t i = 0; i < got; ++i) {
      for (const Df1Action& a : plc.Feed(buffer[i])) {
        if (a.delayMs > 0 && StopWithin(stopFd, a.delayMs)) return 0;
        const auto deadline = std::chrono::steady_clock::now() + kWriteLimit;
        if (!WriteAllBefore(fd, a.bytes.data(), a.bytes.size(), deadline)) return 1;
        if (a.closeLine) {
          ::close(fd);
          fd = -1;
          if (StopWithin(stopFd, kReopenPauseMs)) return 0;
          fd = OpenDf1Device(options.devicePath, options.baud);
          if (fd < 0) return 1;
        }
      }
    }
  }
  return 0;
}

Df1Simulator::Df1Simulator(Df1SimOptions options) : options_(std::move(options)), plc_(options_.bcc) {
  const int fd = OpenDf1Device(options_.devicePath, options_.baud);
  if (fd < 0) throw std::runtime_error("simulated DF1 PLC: cannot open " + options_.devicePath + ": " + std::strerror(errno));
  serving_.Start(fd, [this](int& device, int stopFd) { ServeDf1(plc_, device, options_, stopFd, 0); });
}

void Df1Simulator::Stop() { serving_.Stop(); }

int RunDf1Simulator(int argc, char** argv) {
  Df1SimOptions options;
  Df1Fault fault = Df1Fault::None;
  int times = 0;
  auto usage = [](std::ostream& out, int status) {
    out << "usage: plcsim df1 --port PATH [--bcc] [--baud N] [--fault NAME] [--times N]\n"
           "  a DF1 full-duplex PLC (SLC500/MicroLogix typed reads and writes, PLC5 word-range read)\n"
           "  files O0 I1 S2 B3 T4 C5 R6 N7 F8 A9 ST10; CRC check unless --bcc\n"
           "  faults:";
    for (const auto& [name, f] : Df1FaultNames()) out << " " << name;
    out << "\n";
    return status;
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (arg == "--help" || arg == "-h") return usage(std::cout, 0);
    if (arg == "--port" || arg == "--device") options.devicePath = value();
    else if (arg == "--bcc") options.bcc = true;
    else if (arg == "--baud") options.baud = std::atoi(value().c_str());
    else if (arg == "--times") times = std::atoi(value().c_str());
    else if (arg == "--fault") {
      std::string name = value();
      bool known = false;
      for (const auto& [n, f] : Df1FaultNames())
        if (n == name) {
          fault = f;
          known = true;
        }
      if (!known) {
        std::cerr << "plcsim df1: unknown fault '" << name << "'\n";
        return usage(std::cerr, 2);
      }
    } else {
      std::cerr << "plcsim df1: unknown option '" << arg << "'\n";
      return usage(std::cerr, 2);
    }
  }
  if (options.devicePath.empty()) return usage(std::cerr, 2);
  int fd = OpenDf1Device(options.devicePath, options.baud);
  if (fd < 0) {
    std::cerr << "plcsim df1: cannot open " << options.devicePath << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  int stopFd = StopSignalFd();
  Df1SimPlc plc(options.bcc);
  plc.SetFault(fault);
  std::cerr << "plcsim df1: serving on " << options.devicePath << (options.bcc ? " (BCC)" : " (CRC)") << "\n";
  int status = ServeDf1(plc, fd, options, stopFd, times);
  if (fd >= 0) ::close(fd);
  if (stopFd >= 0) ::close(stopFd);
  return status;
}

}  // namespace plc::sim
