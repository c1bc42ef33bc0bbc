// The gateway benchmark: 1000 tags over 16 Modbus lines, scanned by one `plclink gateway` on
// one thread into SQLite, next to the line floor measured in the same run on the same lines.
//
// Each line is a pair of linked pseudo-terminals with a libmodbus RTU server (unit 1, holding
// registers 0..63) on a thread of its own. The plant: 16 RtuLink sections, each line read as 4
// groups of 16 registers with period 0 on a 10 ms scan tick, 1000 tags spread over the 64
// groups (no deadband, so every read of every tag is a sample). The floor: one thread keeping
// one request of 16 registers in flight on every line at once, each next request sent the
// moment its reply is complete, bare write() and poll() with no control, no tags and no
// database: what the lines and servers can carry at most.
//
// Printed: group reads per second and tag values per second of both, the gateway's CPU (user +
// system of its process over its wall time) and per read, and the ratio gateway / floor.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "bench/LibmodbusPeer.h"
#include "modbus/Frame.h"
#include "modbus/RtuFrame.h"
#include "tests/platform/TempFolder.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/Pty.h"

namespace plc::bench {
namespace {

constexpr int kLines = 16;
constexpr int kGroupsPerLine = 4;
constexpr int kRegistersPerGroup = 16;
constexpr int kTags = 1000;
constexpr double kSeconds = 10;

using Clock = std::chrono::steady_clock;

// The scan ticks the gateway is run with: the plant's own 10 ms, and 1 ms.
constexpr int kTicksMs[] = {10, 1};

struct Line {
  test::PtyLink link;
  std::unique_ptr<LibmodbusServer> server;
  std::thread thread;
};

struct Plant {
  std::vector<std::unique_ptr<Line>> lines;
  std::atomic<bool> stop{false};

  Plant() {
    for (int i = 0; i < kLines; ++i) {
      auto line = std::make_unique<Line>();
      line->server = std::make_unique<LibmodbusServer>(line->link.PathA(), kGroupsPerLine * kRegistersPerGroup);
      Line* l = line.get();
      line->thread = std::thread([this, l] {
        while (!stop) l->server->ServeOne();
      });
      lines.push_back(std::move(line));
    }
  }
  ~Plant() {
    stop = true;
    for (auto& l : lines) l->thread.join();
  }
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ---- The floor ----------------------------------------------------------------------------

int OpenRaw(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::cfsetspeed(&t, B115200);
  ::tcsetattr(fd, TCSANOW, &t);
  return fd;
}

struct FloorResult {
  double readsPerSecond = 0;
  double cpuMicrosPerRead = 0;
};

FloorResult Floor(Plant& plant, double seconds) {
  const std::vector<std::uint8_t> request =
      modbus::BuildRtuFrame(modbus::Adu{1, 3, {0, 0, 0, static_cast<std::uint8_t>(kRegistersPerGroup)}});
  const std::size_t replyLength = 5 + 2 * kRegistersPerGroup;
  std::vector<pollfd> fds;
  std::vector<std::size_t> got(kLines, 0);
  for (auto& l : plant.lines) fds.push_back({OpenRaw(l->link.PathB()), POLLIN, 0});
  for (auto& f : fds)
    if (::write(f.fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
      throw std::runtime_error("floor: write failed");
  rusage before{}, after{};
  getrusage(RUSAGE_THREAD, &before);
  const auto start = Clock::now();
  long reads = 0;
  std::uint8_t buffer[256];
  while (Seconds(Clock::now() - start) < seconds) {
    if (::poll(fds.data(), fds.size(), 1000) <= 0) throw std::runtime_error("floor: a line stopped answering");
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) got[i] += static_cast<std::size_t>(n);
      if (got[i] < replyLength) continue;
      got[i] = 0;
      ++reads;
      if (::write(fds[i].fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
        throw std::runtime_error("floor: write failed");
    }
  }
  const double took = Seconds(Clock::now() - start);
  getrusage(RUSAGE_THREAD, &after);
  // Let the last requests' replies come and go before the gateway takes the lines.
  ::poll(nullptr, 0, 100);
  for (auto& f : fds) ::close(f.fd);
  auto us = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec); };
  const double cpu = us(after.ru_utime) + us(after.ru_stime) - us(before.ru_utime) - us(before.ru_stime);
  return {static_cast<double>(reads) / took, cpu / static_cast<double>(std::max(reads, 1L))};
}

// ---- The gateway --------------------------------------------------------------------------

void WritePlant(const testing::TempFolder& folder, const Plant& plant, int tickMs) {
  std::ofstream ini(folder.File("plant.ini"));
  ini << "[Gateway]\nDatabases=\".\"\nHistory=\"bench.db\"\nCommitMs=1000\n";
  for (int i = 0; i < kLines; ++i) {
    ini << "\n[Line" << i + 1 << "]\nControl=\"RtuLink\"\nCommPort=" << i + 1
        << "\nSettings=\"115200,n,8,1\"\nAddress=1&\nScanReadIOTimerInterval=" << tickMs << "&\n";
    ::setenv(("QVL_COM" + std::to_string(i + 1)).c_str(), plant.lines[static_cast<std::size_t>(i)]->link.PathB().c_str(),
             1);
  }
  std::ofstream scan(folder.File("scan.csv"));
  scan << "plclink-scan,1\nindex,control,address,count,period\n";
  for (int g = 0; g < kLines * kGroupsPerLine; ++g) {
    scan << g + 1 << ",Line" << g / kGroupsPerLine + 1 << "," << 40001 + (g % kGroupsPerLine) * kRegistersPerGroup
         << "," << kRegistersPerGroup << ",0\n";
  }
  std::ofstream tags(folder.File("tags.csv"));
  tags << "plclink-tags,1\nname,address,scan,element\n";
  for (int t = 0; t < kTags; ++t) {
    const int group = t % (kLines * kGroupsPerLine);
    const int element = t / (kLines * kGroupsPerLine) + 1;
    tags << "T" << t << "," << 40001 + (group % kGroupsPerLine) * kRegistersPerGroup + element - 1 << "," << group + 1
         << "," << element << "\n";
  }
}

struct GatewayResult {
  double readsPerSecond = 0;
  double samples = 0;
  double cpuShare = 0;  // of one core
  double cpuMicrosPerRead = 0;
  std::string summary;
};

GatewayResult RunGateway(const testing::TempFolder& folder, double seconds) {
  const std::string out = folder.File("gateway.out");
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    const std::string s = std::to_string(seconds);
    ::execl(PLC_PLCLINK, PLC_PLCLINK, "gateway", folder.File("plant.ini").c_str(), "--seconds", s.c_str(), nullptr);
    ::_exit(127);
  }
  const auto start = Clock::now();
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const double wall = Seconds(Clock::now() - start);
  GatewayResult r;
  std::ifstream in(out);
  r.summary.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("the gateway failed:\n" + r.summary);
  std::smatch m;
  if (!std::regex_search(r.summary, m, std::regex(R"(reads: (\d+) \((\d+) good, (\d+) failed\), ([0-9.]+) per second)")))
    throw std::runtime_error("no summary from the gateway:\n" + r.summary);
  if (std::stol(m[3]) != 0) throw std::runtime_error("reads failed:\n" + r.summary);
  r.readsPerSecond = std::stod(m[4]);
  if (std::regex_search(r.summary, m, std::regex(R"(samples: (\d+) logged)"))) r.samples = std::stod(m[1]);
  auto us = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec); };
  const double cpu = us(usage.ru_utime) + us(usage.ru_stime);
  r.cpuShare = cpu / (wall * 1e6);
  r.cpuMicrosPerRead = cpu / std::max(1.0, r.readsPerSecond * seconds);
  return r;
}

}  // namespace
}  // namespace plc::bench

int main(int argc, char** argv) {
  using namespace plc::bench;
  double seconds = kSeconds;
  if (argc > 2 && std::string(argv[1]) == "--seconds") seconds = std::atof(argv[2]);
  try {
    plc::testing::TempFolder folder;
    Plant plant;
    const double tagsPerGroup = static_cast<double>(kTags) / (kLines * kGroupsPerLine);
    std::printf("gateway_bench: %d tags over %d Modbus lines (%d groups of %d registers, period 0), %.0f s each\n",
                kTags, kLines, kLines * kGroupsPerLine, kRegistersPerGroup, seconds);
    const FloorResult floor = Floor(plant, seconds);
    std::printf("  floor (bare requests, one thread):   %7.0f group reads/s %8.0f tag values/s %6.1f us CPU/read\n",
                floor.readsPerSecond, floor.readsPerSecond * tagsPerGroup, floor.cpuMicrosPerRead);
    for (int tick : kTicksMs) {
      WritePlant(folder, plant, tick);
      const GatewayResult gateway = RunGateway(folder, seconds);
      std::printf("  plclink gateway, %2d ms scan tick:   %7.0f group reads/s %8.0f tag values/s %6.1f us CPU/read, "
                  "%3.0f%% of a core; gateway / floor %.2f, %.0f samples logged\n",
                  tick, gateway.readsPerSecond, gateway.readsPerSecond * tagsPerGroup, gateway.cpuMicrosPerRead,
                  100 * gateway.cpuShare, gateway.readsPerSecond / floor.readsPerSecond, gateway.samples);
      if (std::getenv("PLC_BENCH_VERBOSE")) std::printf("%s\n", gateway.summary.c_str());
      std::remove(folder.File("bench.db").c_str());
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gateway_bench: %s\n", e.what());
    return 1;
  }
}
