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
#include "tools/plcsim/SimArguments.h"
#include "tools/plcsim/SimLine.h"
#include "tools/plcsim/StopSignal.h"

namespace plc::sim {

namespace {

bool WriteOut(int fd, int stopFd, const StationBytes& bytes) {
  return WriteAllBefore(fd, bytes.data(), bytes.size(), std::chrono::steady_clock::now() + std::chrono::seconds(2),
                        stopFd);
}

}  // namespace

int OpenStationLine(const std::string& path, const std::string& settingsText) {
  auto settings = ParseSerialSettings(settingsText);
  if (!settings) throw std::runtime_error("bad settings " + settingsText);
  return OpenSimLine(path, *settings);
}

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
  serving_.Start(OpenStationLine(options_.devicePath, options_.settings), [this](int& fd, int stopFd) {
    ServeDirectNet(fd, stopFd, station_, mutex_, options_.slowByteMicros);
  });
}

void DirectNetSimulator::Stop() { serving_.Stop(); }

void DirectNetSimulator::SetFault(StationFault fault) {
  std::lock_guard<std::mutex> guard(mutex_);
  station_.fault = fault;
}

bool DirectNetSimulator::SetWord(int station, std::uint32_t address, std::uint16_t value) {
  std::lock_guard<std::mutex> guard(mutex_);
  return station_.SetWord(station, address, value);
}

std::uint16_t DirectNetSimulator::Word(int station, std::uint32_t address) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return station_.Word(station, address);
}

void DirectNetSimulator::SetByte(int station, std::uint32_t address, std::uint8_t value) {
  std::lock_guard<std::mutex> guard(mutex_);
  station_.SetByte(station, address, value);
}

std::uint8_t DirectNetSimulator::Byte(int station, std::uint32_t address) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return station_.Byte(station, address);
}

StationImage DirectNetSimulator::Image(int station) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return station_.Image(station);
}

StationCounts DirectNetSimulator::Counts() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return station_.Counts();
}

long DirectNetSimulator::Completed() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return station_.Completed();
}

long DirectNetSimulator::Enquiries() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return station_.Enquiries();
}

// ---- plcsim directnet -----------------------------------------------------------------------

namespace {

constexpr const char* kHelp =
    "usage: plcsim directnet --port PATH [--station N]... [--settings TEXT] [--set ADDR=VALUE]...\n"
    "                        [--fault FAULT]\n"
    "A DirectLOGIC station on a DirectNET / K-sequence line, until SIGINT or SIGTERM. On exit it\n"
    "reports on standard error what it received: bytes, enquiries, headers (and how many it\n"
    "refused), the master's ACKs and closing EOTs, and stray bytes.\n"
    "\n"
    "  --port PATH       the serial device: a real port, or one end of a pseudo-terminal pair\n"
    "  --station N       a station it answers as, 0..223 (repeat for several; default 1)\n"
    "  --settings TEXT   speed, parity, data and stop bits of a real port (default 9600,o,8,1)\n"
    "  --set ADDR=VALUE  before serving, store VALUE (decimal, 0..65535) in the first station as\n"
    "                    a one-word write at header address ADDR (hexadecimal) would\n"
    "  --fault FAULT     misbehave for every request:\n"
    "                      none       answer as a station does (the default)\n"
    "                      no-answer  ignore every enquiry\n"
    "                      bad-lrc    spoil the LRC of every read and write reply\n"
    "                      nak        answer the enquiry with NAK instead of ACK\n"
    "                      no-eot     never send the EOT after the master's ACK\n"
    "                      slow       send every answer one byte at a time, 3 ms apart\n"
    "\n"
    "Memory, by header address (hexadecimal), as SeqLink's address strings map it:\n"
    "  0000-3FFF  words: V0-V37777 (0400 is V2000); T n at n, CT n at 0200 + n\n"
    "  4000-41FF  points, eight to an address: GX 4000, GY 4080, X 4100, Y 4140, C 4180\n"
    "             (X10 is 4101 bit 0). Byte-addressed: a word read at 4140 returns Y0-Y7 in its\n"
    "             low byte and Y10-Y17 (4141) in its high byte; a word write stores the same.\n"
    "  4200-7FFF  words: S n at 4200 + n, SP n at 4280 + n, V41000-V77777\n"
    "  F000-F3FF  set (D) and reset (E) of C n at F000 + n; there is no set/reset elsewhere\n"
    "A header naming memory the station does not have, or running past the end of its area, is\n"
    "answered with NAK, as is one whose LRC or type byte (01) is wrong or that reads no words.\n"
    "Exit status: 0 when stopped, 1 when the line could not be opened or went away, 2 for a\n"
    "usage error.\n";

// The preloads of --set: ADDR=VALUE, each refused with its own text.
std::pair<std::uint32_t, std::uint16_t> Preload(const std::string& text) {
  auto [address, value] = Assignment("--set", text);
  const auto a = static_cast<std::uint32_t>(HexArgument("--set", address, 0xFFFF));
  const auto v = static_cast<std::uint16_t>(DecimalArgument("--set " + address, value, 0, 65535));
  if (!DirectNetStation::Holds(a, 1))
    throw ArgumentError("--set: " + address +
                        " is no memory of the station (words 0000-3FFF and 4200-7FFF, points 4000-41FF; "
                        "a word in 4000-41FF takes two addresses)");
  return {a, v};
}

int Serve(const DirectNetOptions& options, StationFault fault,
          const std::vector<std::pair<std::uint32_t, std::uint16_t>>& presets) {
  const int stopFd = StopSignalFd();
  int fd = -1;
  try {
    fd = OpenStationLine(options.devicePath, options.settings);
  } catch (const std::exception& e) {
    ::close(stopFd);
    std::cerr << "plcsim directnet: --port: " << e.what() << "\n";
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
  std::cerr << "plcsim directnet: " << (stopped ? "" : "the line is gone; ") << CountsText(station.Counts()) << "\n";
  return stopped ? 0 : 1;
}

}  // namespace

int RunDirectNetCommand(int argc, char** argv) {
  return RunChecked("directnet", [&] {
    DirectNetOptions options;
    options.stations.clear();
    std::vector<std::pair<std::uint32_t, std::uint16_t>> presets;
    StationFault fault = StationFault::None;
    ArgumentReader args(argc, argv);
    while (args.Next()) {
      const std::string& option = args.Option();
      if (option == "--help" || option == "-h") {
        std::cout << kHelp;
        return 0;
      }
      if (option == "--port") {
        options.devicePath = args.Value();
        if (options.devicePath.empty()) throw ArgumentError("--port: no device path given");
      } else if (option == "--station") {
        options.stations.push_back(static_cast<int>(DecimalArgument(option, args.Value(), 0, 223)));
      } else if (option == "--settings") {
        const std::string text = args.Value();
        if (!ParseSerialSettings(text)) throw ArgumentError("--settings: '" + text + "' is not like 9600,o,8,1");
        options.settings = text;
      } else if (option == "--fault") {
        fault = static_cast<StationFault>(ChoiceArgument(option, args.Value(), StationFaultNames()));
      } else if (option == "--set") {
        presets.push_back(Preload(args.Value()));
      } else {
        throw ArgumentError("unknown option '" + option + "'");
      }
    }
    if (options.devicePath.empty()) throw ArgumentError("--port PATH is required");
    if (options.stations.empty()) options.stations.push_back(1);
    return Serve(options, fault, presets);
  });
}

}  // namespace plc::sim
