// DfLink's waiting reads of 1 and 100 N-file words per second against the simulated DF1 PLC
// over linked pseudo-terminals, next to the floor measured in the same run: a bare program
// writing the same request, reading DLE ACK and the reply, and acknowledging it, on the same
// line with the same PLC. Then the CPU a waiting read uses while the PLC answers late.
//
// Rounds of the two clients alternate, so that passing load hits both alike; the medians are
// compared.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "df1/DfLink.h"
#include "df1/Frame.h"
#include "df1/Requests.h"
#include "platform/ComponentHost.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/Df1Simulator.h"

namespace {

using namespace plc;
constexpr std::int16_t kCommPort = 61;
constexpr int kRounds = 15;
constexpr int kReadsPerRound = 200;
constexpr int kLateReads = 5;

double Seconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double ThreadCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The bare client: the request frame precomputed, a raw descriptor, poll and read.
class BareClient {
 public:
  BareClient(const std::string& path, int words) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("bare client: cannot open " + path);
    df1::ParsedAddress n7{df1::kCodeInteger, 7, 0, df1::kNoBit, 0};
    // One frame per transaction number, as the PLC drops a repeated one; 16 (0x10) is left
    // out, whose doubled DLE would make its reply a byte longer. Its own source (5): the PLC
    // keeps the last number of each source, and DfLink's is 0.
    for (std::int32_t tns = 1; tns <= df1::kLastTns; ++tns)
      if (tns != 0x10) requests_.push_back(*df1::StuffAndCheck(*df1::ReadPayload({1, 5, tns}, n7, words, 1), 2));
    // DLE ACK, DLE STX, 6 header bytes, the data (no DLE in zeros), DLE ETX, CRC.
    expected_ = 2 + 2 + 6 + 2 * static_cast<std::size_t>(words) + 2 + 2;
  }
  ~BareClient() { ::close(fd_); }
  bool ReadOnce() {
    const df1::Bytes& request = requests_[next_++ % requests_.size()];
    if (::write(fd_, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return false;
    std::size_t got = 0;
    std::uint8_t buf[1024];
    while (got < expected_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) return false;
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n > 0) got += static_cast<std::size_t>(n);
    }
    const std::uint8_t ack[] = {0x10, 0x06};
    return ::write(fd_, ack, 2) == 2;
  }

 private:
  int fd_ = -1;
  std::vector<df1::Bytes> requests_;
  std::size_t next_ = 0;
  std::size_t expected_ = 0;
};

// The PLC answers without a turnaround delay: the figures are those of the two clients.
sim::Df1SimOptions PlcOptions(const std::string& path) {
  sim::Df1SimOptions o{path, false, 115200};
  o.turnaroundMs = 0;
  return o;
}

struct Rig {
  test::PtyLink line;
  sim::Df1Simulator plc{PlcOptions(line.PathB())};
  test::ScopedCommPort mapped{kCommPort, line.PathA()};
  StandaloneHost host;
  DfLink link;
  Rig() {
    df1::TheDf1State().Reset();
    link.SetHost(&host);
    link.Initialize();
    link.InitProperties();
    link.SetCommPort(kCommPort);
    link.SetSettings("115200,n,8,1");
    link.SetNode(Variant(std::int32_t{0}));
  }
};

struct Round {
  double wall;  // seconds per read
  double cpu;   // seconds of the reading thread's CPU per read
};

// One round of DfLink's waiting reads.
Round DfLinkRound(Rig& rig, std::int16_t words) {
  rig.link.SetPortOpen(true);
  VariantArray values(1, words, VarType::Double);
  std::string address = "N7:0";
  double start = Seconds(), cpu = ThreadCpuSeconds();
  for (int i = 0; i < kReadsPerRound; ++i)
    if (rig.link.ReadPLC(address, values, Opt<std::int16_t>(words)) != ResultOk) throw std::runtime_error("DfLink read failed");
  Round r{(Seconds() - start) / kReadsPerRound, (ThreadCpuSeconds() - cpu) / kReadsPerRound};
  rig.link.SetPortOpen(false);
  return r;
}

Round BareRound(Rig& rig, int words) {
  BareClient bare(rig.line.PathA(), words);
  double start = Seconds(), cpu = ThreadCpuSeconds();
  for (int i = 0; i < kReadsPerRound; ++i)
    if (!bare.ReadOnce()) throw std::runtime_error("bare read failed");
  return {(Seconds() - start) / kReadsPerRound, (ThreadCpuSeconds() - cpu) / kReadsPerRound};
}

}  // namespace

int main() {
  Rig rig;
  std::printf("DfLink waiting reads against the simulated DF1 PLC on linked pseudo-terminals (CRC)\n");
  std::printf("%d rounds of %d reads per client, alternating; medians\n\n", kRounds, kReadsPerRound);
  std::printf("%-6s %14s %14s %11s %8s   %16s %16s %9s\n", "words", "DfLink reads/s", "bare reads/s", "time ratio",
              "target", "DfLink CPU us/rd", "bare CPU us/rd", "CPU ratio");
  for (std::int16_t words : {std::int16_t{1}, std::int16_t{100}}) {
    std::vector<double> ours, floor, oursCpu, floorCpu;
    for (int r = 0; r < kRounds; ++r) {
      Round o = DfLinkRound(rig, words), f = BareRound(rig, words);
      ours.push_back(o.wall);
      floor.push_back(f.wall);
      oursCpu.push_back(o.cpu);
      floorCpu.push_back(f.cpu);
    }
    double o = Median(ours), f = Median(floor), oc = Median(oursCpu), fc = Median(floorCpu);
    std::printf("%-6d %14.0f %14.0f %10.2fx %8s   %16.1f %16.1f %8.2fx\n", words, 1 / o, 1 / f, o / f,
                o / f <= 1.25 ? "met" : "MISSED", oc * 1e6, fc * 1e6, oc / fc);
  }

  // A waiting read while the PLC answers 200 ms late: the thread's CPU per wait.
  rig.link.SetPortOpen(true);
  VariantArray one(1, 1, VarType::Double);
  std::string address = "N7:0";
  double cpu0 = ThreadCpuSeconds(), wall0 = Seconds();
  for (int i = 0; i < kLateReads; ++i) {
    rig.plc.Plc().InjectNext(sim::Df1Fault::Delayed);
    if (rig.link.ReadPLC(address, one, Opt<std::int16_t>()) != ResultOk) throw std::runtime_error("late read failed");
  }
  double cpu = (ThreadCpuSeconds() - cpu0) / kLateReads * 1000, wall = (Seconds() - wall0) / kLateReads * 1000;
  rig.link.SetPortOpen(false);
  std::printf("\nlate reply (200 ms): %.1f ms wall and %.3f ms CPU of the reading thread per read\n", wall, cpu);
  return 0;
}
