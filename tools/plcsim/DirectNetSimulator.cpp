#include "tools/plcsim/DirectNetSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "platform/PseudoTerminalLink.h"
#include "platform/SerialSettings.h"
#include "tools/plcsim/StopSignal.h"

namespace plc::sim {

namespace {

speed_t SpeedOf(int baud) {
  switch (baud) {
    case 300: return B300;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
  }
}

int OpenLine(const std::string& path, const std::string& settingsText) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  termios t{};
  if (::tcgetattr(fd, &t) == 0) {
    ::cfmakeraw(&t);
    auto s = ParseSerialSettings(settingsText);
    if (!s) {
      ::close(fd);
      throw std::runtime_error("bad settings " + settingsText);
    }
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    if (s->parity == 'e') t.c_cflag |= PARENB;
    if (s->parity == 'o') t.c_cflag |= PARENB | PARODD;
    if (s->stopBits == 2) t.c_cflag |= CSTOPB;
    ::cfsetispeed(&t, SpeedOf(s->baud));
    ::cfsetospeed(&t, SpeedOf(s->baud));
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
      // A pseudo-terminal refuses some parity settings; it carries bytes all the same.
      termios raw{};
      if (::tcgetattr(fd, &raw) != 0 || (::cfmakeraw(&raw), ::tcsetattr(fd, TCSANOW, &raw)) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot set up " + path + ": " + std::strerror(errno));
      }
    }
  }
  return fd;
}

bool WriteOut(int fd, int stopFd, const StationBytes& bytes) {
  return WriteAllBefore(fd, bytes.data(), bytes.size(), std::chrono::steady_clock::now() + std::chrono::seconds(2),
                        stopFd);
}

}  // namespace

bool ServeDirectNet(int fd, int stopFd, DirectNetStation& station, std::mutex& lock, int slowByteMicros) {
  std::uint8_t buffer[512];
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents != 0) return true;
    if (fds[0].revents & (POLLNVAL)) return false;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;  // end of line, or EIO once a pseudo-terminal's other side is gone
    std::vector<StationBytes> answers;
    bool slow = false;
    {
      std::lock_guard<std::mutex> guard(lock);
      answers = station.Feed(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)));
      slow = station.fault == StationFault::SlowBytes;
    }
    for (const StationBytes& answer : answers) {
      if (!slow) {
        WriteOut(fd, stopFd, answer);
        continue;
      }
      for (std::uint8_t b : answer) {
        WriteOut(fd, stopFd, StationBytes{b});
        ::usleep(static_cast<useconds_t>(slowByteMicros));
      }
    }
  }
}

DirectNetSimulator::DirectNetSimulator(DirectNetOptions options)
    : options_(std::move(options)), station_(options_.stations) {
  serving_.Start(OpenLine(options_.devicePath, options_.settings), [this](int& fd, int stopFd) {
    ServeDirectNet(fd, stopFd, station_, mutex_, options_.slowByteMicros);
  });
}

void DirectNetSimulator::Stop() { serving_.Stop(); }

void DirectNetSimulator::SetFault(StationFault fault) {
  std::lock_guard<std::mutex> guard(mutex_);
  station_.fault = fault;
}

void DirectNetSimulator::SetWord(int station, std::uint32_t address, std::uint16_t value) {
  std::lock_guard<std::mutex> guard(mutex_);
  station_.SetWord(station, address, value);
}

std::uint16_t DirectNetSimulator::Word(int station, std::uint32_t address) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return station_.Word(station, address);
}

int DirectNetSimulator::Completed() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return station_.Completed();
}

int DirectNetSimulator::Enquiries() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return station_.Enquiries();
}

// ---- plcsim directnet -----------------------------------------------------------------------

namespace {

int Usage(std::ostream& out, int status) {
  out << "usage: plcsim directnet --port PATH [--station N]... [--settings 9600,o,8,1]\n"
         "                        [--set ADDR=VALUE]... [--fault none|no-answer|bad-lrc|nak|no-eot|slow]\n"
         "A DirectLOGIC station on a DirectNET / K-sequence line, until SIGINT or SIGTERM.\n"
         "ADDR is a header address in hex (0400 is V2000); --set applies to the first station.\n";
  return status;
}

bool FaultOf(const std::string& text, StationFault& fault) {
  if (text == "none") fault = StationFault::None;
  else if (text == "no-answer") fault = StationFault::NoAnswer;
  else if (text == "bad-lrc") fault = StationFault::BadLrc;
  else if (text == "nak") fault = StationFault::Nak;
  else if (text == "no-eot") fault = StationFault::NoEot;
  else if (text == "slow") fault = StationFault::SlowBytes;
  else return false;
  return true;
}

}  // namespace

int RunDirectNetCommand(int argc, char** argv) {
  DirectNetOptions options;
  options.stations.clear();
  std::vector<std::pair<std::uint32_t, std::uint16_t>> presets;
  StationFault fault = StationFault::None;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
      return argv[++i];
    };
    try {
      if (arg == "--help" || arg == "-h") return Usage(std::cout, 0);
      if (arg == "--port") options.devicePath = next();
      else if (arg == "--station") options.stations.push_back(std::stoi(next()));
      else if (arg == "--settings") options.settings = next();
      else if (arg == "--fault") {
        if (!FaultOf(next(), fault)) return Usage(std::cerr, 2);
      } else if (arg == "--set") {
        const std::string v = next();
        const std::size_t eq = v.find('=');
        if (eq == std::string::npos) return Usage(std::cerr, 2);
        presets.emplace_back(std::stoul(v.substr(0, eq), nullptr, 16),
                             static_cast<std::uint16_t>(std::stoul(v.substr(eq + 1))));
      } else {
        std::cerr << "plcsim directnet: unknown option " << arg << "\n";
        return Usage(std::cerr, 2);
      }
    } catch (const std::exception& e) {
      std::cerr << "plcsim directnet: " << arg << ": " << e.what() << "\n";
      return Usage(std::cerr, 2);
    }
  }
  if (options.devicePath.empty()) return Usage(std::cerr, 2);
  if (options.stations.empty()) options.stations.push_back(1);
  for (int s : options.stations) {
    if (s < 0 || s > 223) {
      std::cerr << "plcsim directnet: station " << s << " outside 0..223\n";
      return 2;
    }
  }

  const int stopFd = StopSignalFd();
  int fd = -1;
  try {
    fd = OpenLine(options.devicePath, options.settings);
  } catch (const std::exception& e) {
    std::cerr << "plcsim directnet: " << e.what() << "\n";
    return 1;
  }
  DirectNetStation station(options.stations);
  station.fault = fault;
  for (auto [address, value] : presets) station.SetWord(options.stations.front(), address, value);
  std::mutex lock;
  std::cout << "READY serving station(s)";
  for (int s : options.stations) std::cout << " " << s;
  std::cout << " on " << options.devicePath << std::endl;
  const bool stopped = ServeDirectNet(fd, stopFd, station, lock, options.slowByteMicros);
  ::close(fd);
  ::close(stopFd);
  std::cerr << "plcsim directnet: " << (stopped ? "" : "the line is gone; ") << station.Completed()
            << " transactions\n";
  return stopped ? 0 : 1;
}

}  // namespace plc::sim
