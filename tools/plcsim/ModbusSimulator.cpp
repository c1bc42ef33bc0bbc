#include "tools/plcsim/ModbusSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
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

constexpr auto kWriteLimit = std::chrono::seconds(2);
constexpr int kPollMs = 200;
// A far end that has gone (a closed pseudo-terminal) is looked at again after this.
constexpr int kHangupPauseMs = 50;

std::int64_t SteadyMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// Whether bytes wait to be read on fd now.
bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

// Waits up to ms for stopFd; true when it became readable.
bool StopWithin(int stopFd, int ms) {
  pollfd p{stopFd, POLLIN, 0};
  return ::poll(&p, stopFd >= 0 ? 1 : 0, ms) > 0;
}

const char* const kUsage =
    "usage: plcsim modbus --port PATH [--unit N] [--mode rtu|ascii] [--settings TEXT]\n"
    "                     [--set REF=VALUE]... [--fault NAME] [--size N] [--times N]\n"
    "                     [--request-time MS]\n"
    "  a Modbus slave (RTU or ASCII) on a serial device path, as strict as a real one: requests\n"
    "  for another unit are ignored, broadcast writes (unit 0) carried out unanswered, a frame that\n"
    "  fails its check is dropped, and what it cannot serve is answered with exception 1 (function),\n"
    "  2 (address beyond its tables) or 3 (a quantity of 0, or above 125 registers / 2000 bits to\n"
    "  read, 123 registers / 1968 coils to write).\n"
    "  --port PATH       the device (also --device); a pseudo-terminal pair for trying without\n"
    "                    hardware: socat -d -d pty,raw,echo=0 pty,raw,echo=0\n"
    "  --unit N          its unit, 1..247 (1)\n"
    "  --mode rtu|ascii  the framing (rtu)\n"
    "  --settings TEXT   speed, parity, data bits, stop bits (9600,n,8,1)\n"
    "  --set REF=VALUE   a starting value, repeatable; references (xxxx from 0001 to --size):\n"
    "                    0xxxx coils and 1xxxx discrete inputs (0 or 1), 3xxxx input registers and\n"
    "                    4xxxx holding registers (0..65535, decimal or 0x hexadecimal)\n"
    "  --size N          points per table, 1..9999 (9999)\n"
    "  --fault NAME      misbehave on every request:\n"
    "                      silent     no reply\n"
    "                      badcrc     the reply's CRC (LRC in ASCII) is wrong\n"
    "                      exception  exception 4 (slave device failure) to everything\n"
    "                      late       the reply 2.5 s late, after a master has given up\n"
    "                      split      the reply in three pieces 50 ms apart\n"
    "                      noise      three bytes of noise before the reply\n"
    "  --times N         stop after N requests (else at Ctrl-C)\n"
    "  --request-time MS how long a request may take from its first byte to its last before it is\n"
    "                    dropped, as a real slave's frame timer drops it (RTU: the longest frame at\n"
    "                    the line speed plus 50 ms, 320 ms at 9600; ASCII: 1000 between one\n"
    "                    character and the next)\n";

}  // namespace

int OpenModbusSimLine(const std::string& path, const std::string& settingsText) {
  auto settings = ParseSerialSettings(settingsText);
  if (!settings) throw std::runtime_error("'" + settingsText + "' is no settings text such as 9600,n,8,1");
  return OpenSimLine(path, *settings);
}

int ServeModbus(ModbusSimSlave& slave, int fd, int stopFd, int maxRequests) {
  std::uint8_t buffer[512];
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(slave.Lock());
      if (maxRequests > 0 && slave.RequestsServed() >= maxRequests) return 0;
    }
    // A held frame is ended by the line's silence, which no byte signals: wake for it.
    int waitMs = kPollMs;
    {
      std::lock_guard<std::mutex> hold(slave.Lock());
      if (auto due = slave.SilenceDueMicros())
        waitMs = static_cast<int>(std::clamp<std::int64_t>((*due - SteadyMicros() + 999) / 1000, 0, kPollMs));
    }
    pollfd p[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    int n = ::poll(p, stopFd >= 0 ? 2 : 1, waitMs);
    if (n < 0 && errno != EINTR) return 1;
    if (stopFd >= 0 && (p[1].revents & POLLIN)) return 0;
    ssize_t got = 0;
    if (n > 0 && (p[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      got = ::read(fd, buffer, sizeof buffer);
      if (got <= 0) {
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (StopWithin(stopFd, kHangupPauseMs)) return 0;  // the master's end is away: wait for it
        continue;
      }
    }
    std::vector<ModbusSimSend> sends;
    {
      std::lock_guard<std::mutex> hold(slave.Lock());
      const std::int64_t now = SteadyMicros();
      auto due = slave.SilenceDueMicros();
      if (got == 0 && (!due || now < *due)) continue;
      sends = slave.Feed(modbus::ByteView(buffer, static_cast<std::size_t>(got)), now);
    }
    bool early = false;
    for (const ModbusSimSend& s : sends) {
      if (s.delayMs > 0 && StopWithin(stopFd, s.delayMs)) return 0;
      // Bytes from the master before the reply is out: it did not wait for it.
      if (!early && Readable(fd)) {
        early = true;
        std::lock_guard<std::mutex> hold(slave.Lock());
        slave.NoteEarlySend();
      }
      if (!WriteAllBefore(fd, s.bytes.data(), s.bytes.size(), std::chrono::steady_clock::now() + kWriteLimit, stopFd))
        return 1;
    }
  }
}

ModbusSimulator::ModbusSimulator(const ModbusSimOptions& options)
    : slave_(options.unit, options.framing, options.tableSize) {
  int fd = OpenModbusSimLine(options.devicePath, options.settings);
  if (auto line = ParseSerialSettings(options.settings)) {
    slave_.SetRequestTimeLimit(ModbusSimSlave::RequestTimeLimitMicros(*line, options.framing));
    slave_.SetFrameSilence(ModbusSimSlave::FrameSilenceMicros(*line));
  }
  serving_.Start(fd, [this](int& device, int stopFd) { ServeModbus(slave_, device, stopFd, 0); });
}

int RunModbusSimulator(int argc, char** argv) {
  return RunChecked("modbus", [&]() -> int {
    ModbusSimOptions options;
    std::vector<std::pair<std::int32_t, std::int32_t>> presets;
    ModbusFault fault = ModbusFault::None;
    long times = 0;
    long requestTimeMs = 0;
    ArgumentReader args(argc, argv);
    while (args.Next()) {
      const std::string& o = args.Option();
      if (o == "--help" || o == "-h") {
        std::cout << kUsage;
        return 0;
      }
      if (o == "--port" || o == "--device") {
        options.devicePath = args.Value();
        if (options.devicePath.empty()) throw ArgumentError(o + ": an empty path names no device");
      } else if (o == "--unit") {
        options.unit = static_cast<std::uint8_t>(DecimalArgument(o, args.Value(), 1, 247));
      } else if (o == "--mode") {
        options.framing = ChoiceArgument(o, args.Value(), {"rtu", "ascii"}) == 0 ? modbus::Framing::Rtu
                                                                                : modbus::Framing::Ascii;
      } else if (o == "--settings") {
        options.settings = args.Value();
        if (!ParseSerialSettings(options.settings))
          throw ArgumentError(o + ": '" + options.settings + "' is no settings text such as 9600,n,8,1");
      } else if (o == "--size") {
        options.tableSize = static_cast<std::size_t>(DecimalArgument(o, args.Value(), 1, 9999));
      } else if (o == "--set") {
        auto [ref, value] = Assignment(o, args.Value());
        long r = DecimalArgument(o + " " + ref, ref, 1, 49999);
        bool hex = value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X');
        long v = hex ? static_cast<long>(HexArgument(o + " " + ref, value, 0xFFFF))
                     : DecimalArgument(o + " " + ref, value, 0, 65535);
        presets.emplace_back(static_cast<std::int32_t>(r), static_cast<std::int32_t>(v));
      } else if (o == "--fault") {
        std::vector<std::string> names;
        for (const auto& [name, f] : ModbusFaultNames()) names.push_back(name);
        fault = ModbusFaultNames()[ChoiceArgument(o, args.Value(), names)].second;
      } else if (o == "--times") {
        times = DecimalArgument(o, args.Value(), 1, 1'000'000'000);
      } else if (o == "--request-time") {
        requestTimeMs = DecimalArgument(o, args.Value(), 1, 60'000);
      } else {
        throw ArgumentError("unknown option '" + o + "'");
      }
    }
    if (options.devicePath.empty()) throw ArgumentError("--port PATH is required");
    ModbusSimSlave slave(options.unit, options.framing, options.tableSize);
    for (const auto& [ref, value] : presets) {
      if (!slave.Set(ref, value))
        throw ArgumentError("--set " + std::to_string(ref) + ": no such point (references 0xxxx, 1xxxx, 3xxxx, 4xxxx up to "
                            "xxxx = " + std::to_string(options.tableSize) + "; coils and inputs take 0 or 1)");
    }
    slave.SetFault(fault);
    slave.SetFrameSilence(
        ModbusSimSlave::FrameSilenceMicros(ParseSerialSettings(options.settings).value_or(SerialSettings{})));
    slave.SetRequestTimeLimit(requestTimeMs > 0 ? requestTimeMs * 1000
                                                : ModbusSimSlave::RequestTimeLimitMicros(
                                                      ParseSerialSettings(options.settings).value_or(SerialSettings{}),
                                                      options.framing));
    int fd = -1;
    try {
      fd = OpenModbusSimLine(options.devicePath, options.settings);
    } catch (const std::runtime_error& e) {
      std::cerr << "plcsim modbus: " << e.what() << "\n";
      return 1;
    }
    int stopFd = StopSignalFd();
    std::cerr << "plcsim modbus: unit " << int{options.unit} << " serving on " << options.devicePath
              << (options.framing == modbus::Framing::Ascii ? " (ASCII)" : " (RTU)") << "\n";
    int status = ServeModbus(slave, fd, stopFd, static_cast<int>(times));
    ::close(fd);
    if (stopFd >= 0) ::close(stopFd);
    return status;
  });
}

}  // namespace plc::sim
