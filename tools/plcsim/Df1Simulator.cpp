#include "tools/plcsim/Df1Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "platform/PseudoTerminalLink.h"
#include "tools/plcsim/SimArguments.h"
#include "tools/plcsim/SimLine.h"
#include "tools/plcsim/StopSignal.h"

namespace plc::sim {

namespace {

constexpr int kReopenPauseMs = 300;
// How long one write may wait for room on the line.
constexpr auto kWriteLimit = std::chrono::seconds(2);
// The longest a poll sleeps, so that a stop is never missed for long.
constexpr std::int64_t kPollSliceMicros = 200'000;

constexpr std::pair<int, speed_t> kSpeeds[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},
                                               {9600, B9600},   {19200, B19200}, {38400, B38400},
                                               {57600, B57600}, {115200, B115200}};

std::int64_t NowMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
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

// The PLC's writes in the order they are due (equal times keep the order they came in).
class Outbox {
 public:
  void Add(std::vector<Df1Action> actions) {
    for (Df1Action& a : actions) {
      auto at = std::upper_bound(queue_.begin(), queue_.end(), a.atMicros,
                                 [](std::int64_t t, const Df1Action& x) { return t < x.atMicros; });
      queue_.insert(at, std::move(a));
    }
  }
  bool Empty() const { return queue_.empty(); }
  std::int64_t NextDue() const { return queue_.front().atMicros; }
  Df1Action Take() {
    Df1Action a = std::move(queue_.front());
    queue_.pop_front();
    return a;
  }

 private:
  std::deque<Df1Action> queue_;
};

}  // namespace

Df1SimSettings Df1SimOptions::Settings() const {
  Df1SimSettings s;
  s.bcc = bcc;
  s.turnaroundMicros = std::int64_t{turnaroundMs} * 1000;
  s.ackTimeoutMicros = std::int64_t{ackTimeoutMs} * 1000;
  // Start, eight data bits and a stop bit.
  s.byteMicros = pace && baud > 0 ? (10'000'000 + baud - 1) / baud : 0;
  return s;
}

bool IsDf1Speed(int baud) {
  for (const auto& [rate, code] : kSpeeds)
    if (rate == baud) return true;
  return false;
}

int OpenDf1Device(const std::string& path, int baud) {
  // DF1 runs eight data bits, no parity, one stop bit.
  return OpenSimLine(path, SerialSettings{baud, 'n', 8, 1});
}

int ServeDf1(Df1SimPlc& plc, int& fd, const Df1SimOptions& options, int stopFd, long maxRequests) {
  std::uint8_t buffer[512];
  Outbox outbox;
  for (;;) {
    std::int64_t now = NowMicros();
    while (!outbox.Empty() && outbox.NextDue() <= now) {
      Df1Action a = outbox.Take();
      const auto deadline = std::chrono::steady_clock::now() + kWriteLimit;
      if (!WriteAllBefore(fd, a.bytes.data(), a.bytes.size(), deadline, stopFd)) return 1;
      if (a.closeLine) {
        ::close(fd);
        fd = -1;
        if (StopWithin(stopFd, kReopenPauseMs)) return 0;
        try {
          fd = OpenDf1Device(options.devicePath, options.baud);
        } catch (const SimLineError&) {
          return 1;
        }
      }
      now = NowMicros();
    }
    if (maxRequests > 0 && plc.Counts().answered >= maxRequests && plc.Idle() && outbox.Empty()) return 0;
    std::int64_t wake = now + kPollSliceMicros;
    if (!outbox.Empty()) wake = std::min(wake, outbox.NextDue());
    if (auto due = plc.NextDeadline()) wake = std::min(wake, *due);
    const std::int64_t waitMicros = std::max<std::int64_t>(0, wake - now);
    timespec timeout{static_cast<time_t>(waitMicros / 1'000'000), static_cast<long>(waitMicros % 1'000'000) * 1000};
    pollfd p[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    int n = ppoll(p, stopFd >= 0 ? 2 : 1, &timeout, nullptr);
    if (n < 0 && errno != EINTR) return 1;
    if (stopFd >= 0 && (p[1].revents & POLLIN)) return 0;
    if (n > 0 && (p[0].revents & (POLLIN | POLLHUP))) {
      ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got > 0) {
        const std::int64_t at = NowMicros();
        for (ssize_t i = 0; i < got; ++i) outbox.Add(plc.Feed(buffer[i], at));
      } else if (!(got < 0 && (errno == EAGAIN || errno == EINTR))) {
        if (StopWithin(stopFd, 50)) return 0;  // the master's end is away: wait for it
      }
    }
    if (auto due = plc.NextDeadline(); due && *due <= NowMicros()) outbox.Add(plc.Expire(NowMicros()));
  }
}

Df1Simulator::Df1Simulator(Df1SimOptions options) : options_(std::move(options)), plc_(options_.Settings()) {
  int fd = -1;
  try {
    fd = OpenDf1Device(options_.devicePath, options_.baud);
  } catch (const SimLineError& e) {
    throw std::runtime_error(std::string("simulated DF1 PLC: ") + e.what());
  }
  serving_.Start(fd, [this](int& device, int stopFd) { ServeDf1(plc_, device, options_, stopFd, 0); });
}

void Df1Simulator::Stop() { serving_.Stop(); }

namespace {

int Usage(std::ostream& out) {
  out << "usage: plcsim df1 --port PATH [--bcc] [--baud N] [--pace] [--turnaround MS] [--ack-timeout MS]\n"
         "                 [--fault NAME] [--times N]\n"
         "  A DF1 full-duplex processor as strict as an SLC500: SLC500/MicroLogix typed reads (A2h) and\n"
         "  writes (AAh), the PLC5 word-range read (01h); CRC-16 check unless --bcc.\n"
         "  It answers a request with DLE ACK (DLE NAK for a bad check), drops a repeat of the last\n"
         "  request of a source (same command and transaction number), sends its reply after the\n"
         "  turnaround delay, then waits for the master's DLE ACK: DLE NAK makes it resend, silence past\n"
         "  the ACK time-out makes it ask with DLE ENQ (3 times at most each).\n"
         "  --port PATH        the serial device (--device is the same); it must be a terminal\n"
         "  --baud N           line speed: 1200, 2400, 4800, 9600, 19200 (default), 38400, 57600, 115200\n"
         "  --pace             send every byte at the --baud pace, as a real line does\n"
         "  --turnaround MS    from a request to its reply (default 5)\n"
         "  --ack-timeout MS   how long a reply waits for its DLE ACK (default 1000)\n"
         "  --times N          end once N requests are answered and acknowledged\n"
         "  --fault NAME       for every request:\n";
  for (const Df1FaultName& f : Df1FaultNames()) {
    std::string name = f.name;
    name.resize(18, ' ');
    out << "      " << name << f.help << "\n";
  }
  out << "  Files (a request of another file type is refused with STS F0h, EXT STS 17h):\n"
      << Df1DataTable::Layout()
      << "  Addresses as a master sends them: N7:0, B3:2/3 (or B3/35), T4:1.ACC (T4:1.2), T4:1/DN, C5:0.PRE,\n"
         "  R6:0.LEN, F8:0, I:1/3, O:0, S:1, ST10:0.\n"
         "  Prints READY when serving and, on SIGINT, SIGTERM or the end of --times, what it received.\n";
  return 0;
}

std::vector<std::string> FaultWords() {
  std::vector<std::string> words;
  for (const Df1FaultName& f : Df1FaultNames()) words.push_back(f.name);
  return words;
}

}  // namespace

int RunDf1Simulator(int argc, char** argv) {
  return RunChecked("df1", [&]() -> int {
    Df1SimOptions options;
    Df1Fault fault = Df1Fault::None;
    long times = 0;
    ArgumentReader args(argc, argv);
    while (args.Next()) {
      const std::string option = args.Option();
      if (option == "--help" || option == "-h") return Usage(std::cout);
      if (option == "--port" || option == "--device") {
        options.devicePath = args.Value();
        if (options.devicePath.empty()) throw ArgumentError(option + ": the path is empty");
      } else if (option == "--bcc") {
        options.bcc = true;
      } else if (option == "--pace") {
        options.pace = true;
      } else if (option == "--baud") {
        const std::string text = args.Value();
        options.baud = static_cast<int>(DecimalArgument(option, text, 1, 4'000'000));
        if (!IsDf1Speed(options.baud))
          throw ArgumentError(option + ": '" + text + "' is not a line speed (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)");
      } else if (option == "--turnaround") {
        options.turnaroundMs = static_cast<int>(DecimalArgument(option, args.Value(), 0, 10'000));
      } else if (option == "--ack-timeout") {
        options.ackTimeoutMs = static_cast<int>(DecimalArgument(option, args.Value(), 10, 60'000));
      } else if (option == "--times") {
        times = DecimalArgument(option, args.Value(), 1, 1'000'000'000);
      } else if (option == "--fault") {
        fault = Df1FaultNames()[ChoiceArgument(option, args.Value(), FaultWords())].fault;
      } else {
        throw ArgumentError("unknown option '" + option + "'");
      }
    }
    if (options.devicePath.empty()) throw ArgumentError("--port PATH is required");
    int fd = -1;
    try {
      fd = OpenDf1Device(options.devicePath, options.baud);
    } catch (const SimLineError& e) {
      // A device that cannot be used is no usage error: exit 1, as the other protocols.
      std::cerr << "plcsim df1: --port: cannot serve '" << options.devicePath << "': " << e.what() << "\n";
      return 1;
    }
    int stopFd = StopSignalFd();
    Df1SimPlc plc(options.Settings());
    plc.SetFault(fault);
    std::cout << "READY serving " << options.devicePath << (options.bcc ? " (BCC)" : " (CRC)") << std::endl;
    int status = ServeDf1(plc, fd, options, stopFd, times);
    if (fd >= 0) ::close(fd);
    if (stopFd >= 0) ::close(stopFd);
    std::cout << "plcsim df1: " << CountsText(plc.Counts()) << std::endl;
    return status;
  });
}

}  // namespace plc::sim
