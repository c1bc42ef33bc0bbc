// The Modbus benchmark: RtuLink against libmodbus, as master and as slave, on linked
// pseudo-terminals, in one run. After Google Benchmark's own table it prints the ratios of
// RtuLink's rate to libmodbus's (medians of the repetitions) and the CPU a waiting read used.
//
// Repetitions are interleaved at random by default, so that load from other programs on the
// machine falls on both sides of each comparison alike; any benchmark flag may be given.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "bench/Benchmarks.h"
#include "bench/InterleavedStart.h"

namespace plc::bench {
namespace {

struct Measured {
  double secondsPerIteration = 0;
  std::map<std::string, double> counters;
};

// The console table, plus the median (or the only run) of every benchmark kept by name.
class RatioReporter final : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal: the table is often pasted into notes.
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const std::string& name = run.run_name.function_name;
      if (run.error_occurred) {
        failed_[name] = run.error_message;
        continue;
      }
      bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (!median && !single) continue;
      Measured m;
      m.secondsPerIteration = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      for (const auto& [key, counter] : run.counters) m.counters[key] = counter.value;
      measured_[name] = m;
    }
  }

  const Measured* Find(const std::string& name) const {
    auto it = measured_.find(name);
    return it == measured_.end() ? nullptr : &it->second;
  }
  const std::map<std::string, std::string>& Failed() const { return failed_; }

 private:
  std::map<std::string, Measured> measured_;
  std::map<std::string, std::string> failed_;
};

struct Pair {
  const char* what;
  std::string rtuLink;
  std::string libmodbus;
};

// Prints each ratio; false when a side of a pair did not run.
bool PrintRatios(const RatioReporter& reporter) {
  const std::vector<Pair> pairs{
      {"master: waiting reads of 1 register     ", "MasterRead/RtuLink/1", "MasterRead/libmodbus/1"},
      {"master: waiting reads of 100 registers  ", "MasterRead/RtuLink/100", "MasterRead/libmodbus/100"},
      {"slave: reads of 10 registers served     ", "SlaveServe/RtuLink/10", "SlaveServe/libmodbus/10"},
  };
  bool complete = true;
  std::printf("\nRtuLink / libmodbus, requests per second (medians; target ratio >= 1.0)\n");
  for (const Pair& p : pairs) {
    const Measured* ours = reporter.Find(p.rtuLink);
    const Measured* theirs = reporter.Find(p.libmodbus);
    if (!ours || !theirs) {
      std::printf("  %s  not measured\n", p.what);
      complete = false;
      continue;
    }
    double ourRate = 1.0 / ours->secondsPerIteration;
    double theirRate = 1.0 / theirs->secondsPerIteration;
    std::printf("  %s  RtuLink %8.0f/s  libmodbus %8.0f/s  ratio %.2f%s\n", p.what, ourRate, theirRate,
                ourRate / theirRate, ourRate / theirRate >= 1.0 ? "" : "  (below target)");
  }
  std::printf("\nWaiting reads answered after %d ms: process CPU against wall time per wait (medians)\n",
              kLateReplyMs);
  for (const char* client : {"RtuLink", "libmodbus"}) {
    const Measured* m = reporter.Find(std::string("IdleWait/") + client + "/1");
    if (!m || !m->counters.count("cpu_ms_per_wait")) {
      std::printf("  %-10s not measured\n", client);
      complete = false;
      continue;
    }
    double cpu = m->counters.at("cpu_ms_per_wait");
    double wall = m->counters.at("wall_ms_per_wait");
    std::printf("  %-10s CPU %7.3f ms per wait, wall %7.1f ms per wait (CPU %.2f%% of wall)\n", client, cpu, wall,
                100.0 * cpu / wall);
  }
  for (const auto& [name, why] : reporter.Failed()) std::printf("FAILED %s: %s\n", name.c_str(), why.c_str());
  return complete && reporter.Failed().empty();
}

int Run(int argc, char** argv) {
  if (!StartInterleaved(argc, argv)) return 2;

  ServedLine served;
  ServedLine lateServed({"--late-ms", std::to_string(kLateReplyMs)});
  test::PtyLink slaveLine;
  RegisterMasterReads(served);
  RegisterIdleWaits(lateServed);
  RegisterSlaveServing(slaveLine);

  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return PrintRatios(reporter) ? 0 : 1;
}

}  // namespace
}  // namespace plc::bench

int main(int argc, char** argv) {
  try {
    return plc::bench::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "modbus_bench: %s\n", e.what());
    return 1;
  }
}
