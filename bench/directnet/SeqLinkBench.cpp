// The SeqLink benchmark: waiting reads of 1 and 100 words of V-memory against the DirectNET
// station simulator over linked pseudo-terminals, next to the floor measured in the same run:
// the same four exchanges (enquiry, header, ACK, EOT) done by a bare loop of write() and poll()
// on the same line with the same station. It prints the ratio SeqLink / floor of the time per
// read, and the CPU the reading thread used per read while the station answered one slow byte
// at a time (time SeqLink spends waiting should cost nothing).
#include <benchmark/benchmark.h>

#include "bench/InterleavedStart.h"
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "directnet/Blocks.h"
#include "directnet/LinkState.h"
#include "directnet/SeqLink.h"
#include "platform/ComponentHost.h"
#include "platform/PseudoTerminalLink.h"
#include "tests/support/OpenOnLine.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/DirectNetSimulator.h"

namespace plc::bench {
namespace {

constexpr int kCommPort = 61;
constexpr int kRepetitions = 15;  // interleaved at random: the medians hold against passing load

struct Line {
  test::PtyLink link;
  sim::DirectNetSimulator station{{link.PathB(), {1}}};
  Line() {
    for (std::uint32_t k = 0; k < 100; ++k) station.SetWord(1, 0x0400 + k, static_cast<std::uint16_t>(1000 + k));
  }
};
Line* theLine = nullptr;

double ThreadCpuMicros() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  auto us = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec); };
  return us(u.ru_utime) + us(u.ru_stime);
}

void SeqLinkReads(benchmark::State& state) {
  const auto count = static_cast<std::int16_t>(state.range(0));
  dnet::SeqLinkState() = dnet::LinkState{};
  test::ScopedCommPort mapping(kCommPort, theLine->link.PathA());
  StandaloneHost host;
  SeqLink link;
  test::OpenOnLine(link, host, kCommPort);
  Variant values(VariantArray(1, count));
  const double cpu0 = ThreadCpuMicros();
  for (auto _ : state) {
    Variant address("V,2000"), n(count);
    if (link.ReadPLC(address, values, Opt<Variant>(n), Opt<std::int16_t>(), Opt<std::int32_t>()) != ResultOk ||
        values.Array().Get(count).ToInt32() != 1000 + count - 1) {
      state.SkipWithError("SeqLink ReadPLC failed or read other values");
      break;
    }
  }
  state.counters["cpu_us_per_read"] = (ThreadCpuMicros() - cpu0) / static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
  link.SetPortOpen(false);
}

// The floor: the four exchanges on a raw descriptor, each reply awaited with poll().
bool ReadExactly(int fd, std::size_t n, dnet::Bytes& out) {
  out.clear();
  std::uint8_t buf[512];
  while (out.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0) return false;
    const ssize_t got = ::read(fd, buf, std::min(sizeof buf, n - out.size()));
    if (got <= 0) return false;
    out.insert(out.end(), buf, buf + got);
  }
  return true;
}

bool WriteAll(int fd, const dnet::Bytes& b) {
  return WriteAllBefore(fd, b.data(), b.size(), std::chrono::steady_clock::now() + std::chrono::seconds(2));
}

void BareExchanges(benchmark::State& state) {
  const auto count = static_cast<std::int32_t>(state.range(0));
  const int fd = ::open(theLine->link.PathA().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios t{};
  if (fd < 0 || ::tcgetattr(fd, &t) != 0) {
    state.SkipWithError("cannot open the line");
    return;
  }
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  const dnet::Bytes enquiry = *dnet::Enquiry(1);
  const dnet::Bytes header = *dnet::ReadHeader(0x0400, count);
  dnet::Bytes reply;
  for (auto _ : state) {
    bool ok = WriteAll(fd, enquiry) && ReadExactly(fd, 3, reply) && WriteAll(fd, header) &&
              ReadExactly(fd, static_cast<std::size_t>(2 * count + 9), reply) && dnet::CheckReadReply(reply, 2 * count).Passed() &&
              WriteAll(fd, {dnet::ACK}) && ReadExactly(fd, 1, reply) && reply[0] == dnet::EOT &&
              WriteAll(fd, {dnet::EOT});
    if (!ok) {
      state.SkipWithError("bare exchange failed");
      break;
    }
  }
  ::close(fd);
}

void SlowStationWait(benchmark::State& state) {
  theLine->station.SetFault(sim::StationFault::SlowBytes);
  SeqLinkReads(state);
  theLine->station.SetFault(sim::StationFault::None);
}

class Reporter final : public benchmark::ConsoleReporter {
 public:
  Reporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) failed_ = true;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        const std::string name = run.run_name.function_name + "/" + run.run_name.args;
        seconds_[name] = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        for (const auto& [key, c] : run.counters) counters_[name + ":" + key] = c.value;
      }
    }
  }
  int Summary() const {
    std::printf("\nSeqLink / bare exchanges, time per waiting read (medians; target ratio <= 1.25)\n");
    for (int n : {1, 100}) {
      const std::string ours = "SeqLinkRead/" + std::to_string(n);
      const std::string floor = "BareExchange/" + std::to_string(n);
      if (!seconds_.count(ours) || !seconds_.count(floor)) {
        std::printf("  %3d words: not measured\n", n);
        continue;
      }
      const double a = seconds_.at(ours), b = seconds_.at(floor);
      std::printf("  %3d words: SeqLink %7.0f reads/s  floor %7.0f reads/s  ratio %.2f%s  (SeqLink CPU %.0f us/read)\n", n,
                  1 / a, 1 / b, a / b, a / b <= 1.25 ? "" : "  (above target)",
                  counters_.count(ours + ":cpu_us_per_read") ? counters_.at(ours + ":cpu_us_per_read") : -1.0);
    }
    const std::string slow = "SlowStationWait/1";
    if (seconds_.count(slow))
      std::printf("  waiting on a station that sends one byte each 3 ms: %.1f ms per read, CPU %.0f us per read\n",
                  seconds_.at(slow) * 1e3, counters_.count(slow + ":cpu_us_per_read") ? counters_.at(slow + ":cpu_us_per_read") : -1.0);
    return failed_ ? 1 : 0;
  }

 private:
  std::map<std::string, double> seconds_;
  std::map<std::string, double> counters_;
  bool failed_ = false;
};

}  // namespace
}  // namespace plc::bench

int main(int argc, char** argv) {
  using namespace plc::bench;
  if (!StartInterleaved(argc, argv)) return 2;
  Line line;
  theLine = &line;
  for (int n : {1, 100}) {
    benchmark::RegisterBenchmark("SeqLinkRead", SeqLinkReads)->Arg(n)->Repetitions(kRepetitions)->Iterations(200)
        ->UseRealTime()->Unit(benchmark::kMicrosecond)->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("BareExchange", BareExchanges)->Arg(n)->Repetitions(kRepetitions)->Iterations(200)
        ->UseRealTime()->Unit(benchmark::kMicrosecond)->ReportAggregatesOnly(true);
  }
  benchmark::RegisterBenchmark("SlowStationWait", SlowStationWait)->Arg(1)->Repetitions(kRepetitions)->Iterations(5)
      ->UseRealTime()->Unit(benchmark::kMillisecond)->ReportAggregatesOnly(true);
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.Summary();
}
