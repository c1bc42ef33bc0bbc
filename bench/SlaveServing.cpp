// Requests served per second to a libmodbus master that reads 10 holding registers in a loop:
// RtuLink in SlaveRtu, its event loop on a thread of its own, against a libmodbus server
// (modbus_receive and modbus_reply) on a thread of its own, both at end B of the same line.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include "bench/BenchLine.h"
#include "bench/Benchmarks.h"
#include "bench/LibmodbusPeer.h"
#include "platform/EventLoop.h"

namespace plc::bench {
namespace {

constexpr int kCommPort = 53;
constexpr int kRegisters = 10;
constexpr int kIterations = 1000;
constexpr int kRepetitions = 15;  // interleaved at random: the medians hold against load that comes and goes
// The master writes these to holding registers 0.. first, and checks that it reads them back.
constexpr int kImageBase = 7000;

// RtuLink as a slave on its own thread, serving until destroyed. A pipe wakes its loop to stop.
class RtuLinkSlaveThread {
 public:
  explicit RtuLinkSlaveThread(const std::string& device) {
    if (pipe(stop_) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    std::promise<void> ready;
    std::future<void> started = ready.get_future();
    thread_ = std::thread([this, device, &ready] { Run(device, ready); });
    try {
      started.get();
    } catch (...) {
      thread_.join();
      CloseStop();
      throw;
    }
  }
  ~RtuLinkSlaveThread() {
    if (::write(stop_[1], "x", 1) != 1) {
      // The loop also wakes when the pipe closes; join below either way.
      ::close(stop_[1]);
      stop_[1] = -1;
    }
    thread_.join();
    CloseStop();
  }
  RtuLinkSlaveThread(const RtuLinkSlaveThread&) = delete;
  RtuLinkSlaveThread& operator=(const RtuLinkSlaveThread&) = delete;

 private:
  void Run(const std::string& device, std::promise<void>& ready) {
    std::unique_ptr<HostedRtuLink> slave;
    try {
      slave = std::make_unique<HostedRtuLink>(kCommPort, device, rtu::SlaveRtu);
    } catch (...) {
      ready.set_exception(std::current_exception());
      return;
    }
    EventLoop& loop = EventLoop::Current();
    bool stop = false;
    EventLoop::Handle watch = loop.WatchFd(stop_[0], [&stop](short) { stop = true; });
    ready.set_value();
    while (!stop) loop.WaitUntil([&stop] { return stop; }, loop.Now() + 60'000'000);
    loop.UnwatchFd(watch);
  }
  void CloseStop() {
    for (int& fd : stop_) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
  }

  int stop_[2] = {-1, -1};
  std::thread thread_;
};

// libmodbus's own server loop on its own thread; it looks at the stop flag between requests
// and whenever it has been idle a while.
class LibmodbusServerThread {
 public:
  explicit LibmodbusServerThread(const std::string& device) : server_(device, kRegisters) {
    thread_ = std::thread([this] {
      while (!stop_) server_.ServeOne();
    });
  }
  ~LibmodbusServerThread() {
    stop_ = true;
    thread_.join();
  }
  LibmodbusServerThread(const LibmodbusServerThread&) = delete;
  LibmodbusServerThread& operator=(const LibmodbusServerThread&) = delete;

 private:
  LibmodbusServer server_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void MasterLoop(benchmark::State& state, const std::string& device) {
  LibmodbusRtu master(device);
  std::array<std::uint16_t, kRegisters> values{};
  for (int i = 0; i < kRegisters; ++i) values[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(kImageBase + i);
  if (master.WriteRegisters(0, kRegisters, values.data()) != kRegisters) {
    state.SkipWithError("the server did not take the libmodbus master's write");
    return;
  }
  for (auto _ : state) {
    if (master.ReadRegisters(0, kRegisters, values.data()) != kRegisters) {
      state.SkipWithError("the libmodbus master's read failed");
      break;
    }
    if (values[0] != kImageBase || values[kRegisters - 1] != kImageBase + kRegisters - 1) {
      state.SkipWithError("the libmodbus master read other values than the server holds");
      break;
    }
  }
  state.counters["requests_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

template <typename Server>
void Serve(benchmark::State& state, test::PtyLink& line) {
  Server server(line.PathB());
  MasterLoop(state, line.PathA());
}

}  // namespace

void RegisterSlaveServing(test::PtyLink& line) {
  std::string size = std::to_string(kRegisters);
  benchmark::RegisterBenchmark(("SlaveServe/RtuLink/" + size).c_str(),
                               [&line](benchmark::State& s) { Serve<RtuLinkSlaveThread>(s, line); })
      ->Iterations(kIterations)->Repetitions(kRepetitions)->UseRealTime()->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(("SlaveServe/libmodbus/" + size).c_str(),
                               [&line](benchmark::State& s) { Serve<LibmodbusServerThread>(s, line); })
      ->Iterations(kIterations)->Repetitions(kRepetitions)->UseRealTime()->Unit(benchmark::kMicrosecond);
}

}  // namespace plc::bench
