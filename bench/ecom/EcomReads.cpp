// The ECOM benchmark: waiting reads of 1 and 100 V-memory words by UdpLink through the
// dlopened libhei_pas.so against a simulated module on loopback, next to the floor: the same
// CCM request and reply as bare UDP from a plain socket to the same module, in the same run.
// After Google Benchmark's table it prints UdpLink's time per read over the floor's (medians).
#include <benchmark/benchmark.h>

#include "bench/InterleavedStart.h"
#include <stdlib.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "ecom/EcomLinkState.h"
#include "ecom/UdpLink.h"
#include "ecom/heipas/Datagram.h"
#include "ecom/heipas/UdpSocket.h"
#include "tools/plcsim/EcomModuleSim.h"

namespace {

using Clock = std::chrono::steady_clock;

plc::sim::EcomModuleSim* theModule = nullptr;
plc::UdpLink* theLink = nullptr;

void UdpLinkRead(benchmark::State& state) {
  const auto words = static_cast<std::int32_t>(state.range(0));
  plc::Variant address("V,0");
  plc::Variant values(plc::VariantArray(1, words));
  for (auto _ : state) {
    if (theLink->ReadPLC(address, values, plc::Variant(words), {}, {}) != plc::ResultOk) {
      state.SkipWithError(("ReadPLC failed: " + theLink->CurrentErrors()).c_str());
      return;
    }
  }
  state.counters["reads_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The floor: one CCM read as bare UDP, the reply parsed, nothing else.
void BareUdpRead(benchmark::State& state) {
  const auto words = static_cast<std::uint16_t>(state.range(0));
  auto socket = heipas::UdpSocket::Bind(0x7F000001, 0);
  const heipas::ModuleAddress module{0x7F000001, theModule->Port(0)};
  heipas::Datagram request{.kind = heipas::Kind::Ccm, .moduleId = 1, .dataType = 0x31, .address = 1,
                           .length = static_cast<std::uint16_t>(2 * words)};
  for (auto _ : state) {
    ++request.sequence;
    socket->SendTo(module, heipas::Encode(request));
    auto got = socket->ReceiveUntil(Clock::now() + std::chrono::seconds(1));
    if (!got || !heipas::Parse(got->bytes)) {
      state.SkipWithError("no reply");
      return;
    }
  }
  state.counters["reads_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

class MedianReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians[run.run_name.function_name + "/" + run.run_name.args] = run.GetAdjustedRealTime();
    }
  }
  std::map<std::string, double> medians;
};

}  // namespace

int main(int argc, char** argv) {
  setenv("HEI_PAS_LIBRARY", PLC_HEI_PAS_LIBRARY, 0);
  plc::sim::EcomModuleSim module({{1, "BENCH", 0}});
  module.Start();
  setenv("HEI_PAS_MODULES", module.ModuleList().c_str(), 1);
  theModule = &module;
  auto link = std::make_unique<plc::UdpLink>();
  link->InitProperties();
  link->SetPortOpen(true);
  if (!link->EcomOpen()) {
    std::fprintf(stderr, "ecom_bench: the ECOM open failed: %s\n", link->CurrentErrors().c_str());
    return 1;
  }
  theLink = link.get();
  for (int words : {1, 100}) {
    benchmark::RegisterBenchmark("EcomRead/UdpLink", UdpLinkRead)->Arg(words)->UseRealTime()->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("EcomRead/BareUdp", BareUdpRead)->Arg(words)->UseRealTime()->Unit(benchmark::kMicrosecond);
  }
  if (!plc::bench::StartInterleaved(argc, argv, {"--benchmark_repetitions=9", "--benchmark_report_aggregates_only=true"}))
    return 2;
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nUdpLink over the bare UDP floor (median time per waiting read; target <= 1.25):\n");
  for (const char* words : {"1", "100"}) {
    const auto link = reporter.medians.find(std::string("EcomRead/UdpLink/") + words);
    const auto bare = reporter.medians.find(std::string("EcomRead/BareUdp/") + words);
    if (link == reporter.medians.end() || bare == reporter.medians.end() || bare->second <= 0) continue;
    std::printf("  %3s word(s): %.2f us vs %.2f us, ratio %.3f\n", words, link->second, bare->second,
                link->second / bare->second);
  }
  theLink = nullptr;
  link.reset();
  plc::ecom::EcomLink().Reset();
  benchmark::Shutdown();
  return 0;
}
