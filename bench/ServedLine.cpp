#include "bench/BenchLine.h"
#include "bench/Benchmarks.h"

namespace plc::bench {

ServedLine::ServedLine(std::vector<std::string> serverArgs)
    : server(ServerCommand(line.PathA(), std::move(serverArgs))) {}

}  // namespace plc::bench
