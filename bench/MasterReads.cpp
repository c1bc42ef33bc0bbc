// Waiting reads of holding registers, one after another: RtuLink's ReadPLC("40001") against
// libmodbus's modbus_read_registers, same line, same server, same settings. Every read is
// checked, so a run that measured failures is reported as an error, not as a speed.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "bench/BenchLine.h"
#include "bench/Benchmarks.h"
#include "bench/LibmodbusPeer.h"
#include "tests/peers/PeerMap.h"

namespace plc::bench {
namespace {

constexpr int kCommPort = 51;
constexpr int kIterations = 1000;
constexpr int kRepetitions = 15;  // interleaved at random: the medians hold against load that comes and goes

// This thread's user and system CPU time so far, microseconds.
struct ThreadCpu {
  double user = 0;
  double system = 0;
  static ThreadCpu Now() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    auto micros = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec); };
    return {micros(u.ru_utime), micros(u.ru_stime)};
  }
};

// Reads per second, and the reading thread's user and system CPU per read: where a client's
// time goes besides the line.
void Count(benchmark::State& state, const ThreadCpu& before) {
  ThreadCpu after = ThreadCpu::Now();
  double reads = static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
  state.counters["reads_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["user_us"] = (after.user - before.user) / reads;
  state.counters["sys_us"] = (after.system - before.system) / reads;
}

// The first value, and the tenth when there is one, as the server's map holds them.
bool ValuesMatch(const std::uint16_t* got, int count) {
  return got[0] == kPeerWordValues[0] && (count < 10 || got[9] == kPeerWordValues[9]);
}

void RtuLinkReads(benchmark::State& state, ServedLine& served, int count) {
  HostedRtuLink client(kCommPort, served.line.PathB(), rtu::Rtu);
  ThreadCpu before = ThreadCpu::Now();
  for (auto _ : state) {
    if (client.Read("40001", static_cast<std::int16_t>(count)) != ResultOk) {
      state.SkipWithError("RtuLink ReadPLC failed");
      break;
    }
    std::array<std::uint16_t, 10> first{};
    for (int i = 0; i < std::min(count, 10); ++i)
      first[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(client.Values().Get(i + 1).ToInt32());
    if (!ValuesMatch(first.data(), count)) {
      state.SkipWithError("RtuLink ReadPLC returned other values than the server holds");
      break;
    }
  }
  Count(state, before);
}

void LibmodbusReads(benchmark::State& state, ServedLine& served, int count) {
  LibmodbusRtu client(served.line.PathB());
  std::array<std::uint16_t, 125> values{};
  ThreadCpu before = ThreadCpu::Now();
  for (auto _ : state) {
    if (client.ReadRegisters(0, count, values.data()) != count) {
      state.SkipWithError("modbus_read_registers failed");
      break;
    }
    if (!ValuesMatch(values.data(), count)) {
      state.SkipWithError("modbus_read_registers returned other values than the server holds");
      break;
    }
  }
  Count(state, before);
}

}  // namespace

void RegisterMasterReads(ServedLine& served) {
  for (int count : {1, 100}) {
    std::string size = std::to_string(count);
    benchmark::RegisterBenchmark(("MasterRead/RtuLink/" + size).c_str(),
                                 [&served, count](benchmark::State& s) { RtuLinkReads(s, served, count); })
        ->Iterations(kIterations)->Repetitions(kRepetitions)->UseRealTime()->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("MasterRead/libmodbus/" + size).c_str(),
                                 [&served, count](benchmark::State& s) { LibmodbusReads(s, served, count); })
        ->Iterations(kIterations)->Repetitions(kRepetitions)->UseRealTime()->Unit(benchmark::kMicrosecond);
  }
}

}  // namespace plc::bench
