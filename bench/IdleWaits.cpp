// A waiting read should cost no CPU while it waits: the server answers each read of 49001
// (its "late" register) after a fixed delay, and the process CPU time used over the run is set
// against the wall time. libmodbus's client runs the same waits as a reference.
#include <benchmark/benchmark.h>

#include <time.h>

#include <array>
#include <chrono>
#include <cstdint>

#include "bench/BenchLine.h"
#include "bench/Benchmarks.h"
#include "bench/LibmodbusPeer.h"
#include "tests/peers/PeerMap.h"

namespace plc::bench {
namespace {

constexpr int kCommPort = 52;
constexpr int kWaits = 10;
constexpr int kRepetitions = 3;

double ProcessCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double WallMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Runs the waits the state asks for and reports CPU and wall time per wait.
template <typename ReadOnce>
void MeasureWaits(benchmark::State& state, ReadOnce readOnce) {
  double cpu0 = ProcessCpuMs();
  double wall0 = WallMs();
  for (auto _ : state) {
    if (!readOnce()) {
      state.SkipWithError("the late read failed");
      return;
    }
  }
  double waits = static_cast<double>(state.iterations());
  state.counters["cpu_ms_per_wait"] = (ProcessCpuMs() - cpu0) / waits;
  state.counters["wall_ms_per_wait"] = (WallMs() - wall0) / waits;
}

void RtuLinkWaits(benchmark::State& state, ServedLine& served) {
  HostedRtuLink client(kCommPort, served.line.PathB(), rtu::Rtu);
  std::string late = std::to_string(40001 + kPeerFaultLate);
  MeasureWaits(state, [&] {
    return client.Read(late, 1) == ResultOk && client.Values().Get(1).ToInt32() == kPeerFaultValues[0];
  });
}

void LibmodbusWaits(benchmark::State& state, ServedLine& served) {
  LibmodbusRtu client(served.line.PathB());
  std::array<std::uint16_t, 1> value{};
  MeasureWaits(state, [&] {
    return client.ReadRegisters(kPeerFaultLate, 1, value.data()) == 1 && value[0] == kPeerFaultValues[0];
  });
}

}  // namespace

void RegisterIdleWaits(ServedLine& lateServed) {
  benchmark::RegisterBenchmark("IdleWait/RtuLink/1", [&lateServed](benchmark::State& s) { RtuLinkWaits(s, lateServed); })
      ->Iterations(kWaits)->Repetitions(kRepetitions)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("IdleWait/libmodbus/1",
                               [&lateServed](benchmark::State& s) { LibmodbusWaits(s, lateServed); })
      ->Iterations(kWaits)->Repetitions(kRepetitions)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
}

}  // namespace plc::bench
