#pragma once
// Google Benchmark started with its repetitions interleaved at random, so that load from other
// programs falls on a client and its counterpart alike; the caller's own flags follow and win.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace plc::bench {

// extra: flags put before the caller's own. False when an argument was not understood.
inline bool StartInterleaved(int argc, char** argv, std::vector<std::string> extra = {}) {
  extra.insert(extra.begin(), "--benchmark_enable_random_interleaving=true");
  std::vector<char*> args{argv[0]};
  for (std::string& flag : extra) args.push_back(flag.data());
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  return !benchmark::ReportUnrecognizedArguments(count, args.data());
}

}  // namespace plc::bench
