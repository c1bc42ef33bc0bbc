#include "tools/plclink/SimModbusSlave.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "base/Enums.h"
#include "platform/PluginControl.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "platform/SerialPortMap.h"

namespace plc::plclink {

namespace {

constexpr auto kStartLimit = std::chrono::seconds(5);
// The PLC gives up by itself after this, should its owner never tell it to stop.
constexpr std::int64_t kLifetimeMicros = 120'000'000;

}  // namespace

SimModbusSlave::SimModbusSlave(Options options) {
  stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_ < 0) throw std::system_error(errno, std::generic_category(), "simulated PLC eventfd");
  std::promise<std::string> started;
  std::future<std::string> start = started.get_future();
  thread_ = std::thread([this, options = std::move(options), started = std::move(started)]() mutable {
    Serve(options, started);
  });
  std::string failure = "the simulated PLC did not start in time";
  if (start.wait_for(kStartLimit) == std::future_status::ready) failure = start.get();
  if (!failure.empty()) {
    Stop();  // the thread is joined before the error leaves
    throw std::runtime_error(failure);
  }
}

SimModbusSlave::~SimModbusSlave() { Stop(); }

void SimModbusSlave::Stop() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    if (::write(stop_, &one, sizeof one) < 0) {
      // Only a full counter refuses the write, and then the PLC has seen an earlier one.
    }
    thread_.join();
  }
  if (stop_ >= 0) ::close(stop_);
  stop_ = -1;
}

void SimModbusSlave::Serve(const Options& options, std::promise<std::string>& started) {
  bool announced = false;
  try {
    // This thread's own loop and port mapping: nothing here touches the master's.
    EventLoop& loop = EventLoop::Current();
    SerialPortMap::Current().Map(options.commPort, options.devicePath);
    StandaloneHost host;
    PluginControl plc = PluginControl::Load("rtulink");
    plc->SetHost(&host);
    plc->Initialize();
    plc->InitProperties();
    plc->SetProperty("CommPort", options.commPort);
    plc->SetProperty("Settings", options.settings);
    plc->SetProperty("Address", options.unit);
    plc->SetProperty("ModBusMode", std::int32_t{rtu::SlaveRtu});
    plc->SetEventSink([this](const std::string& name, std::vector<Variant>&) {
      if (name == "CommCompleteEx") ++requests_;
    });
    plc->SetProperty("PortOpen", true);

    bool stop = false;
    EventLoop::Handle watch = loop.WatchFd(stop_, [&stop](short) { stop = true; });
    started.set_value({});
    announced = true;
    const std::int64_t deadline = loop.Now() + kLifetimeMicros;
    while (!stop && loop.Now() < deadline) loop.WaitUntil([&stop] { return stop; }, deadline);
    loop.UnwatchFd(watch);
    plc->SetProperty("PortOpen", false);
    SerialPortMap::Current().Unmap(options.commPort);
  } catch (const RuntimeError& e) {
    if (!announced) started.set_value("the simulated PLC could not start: error " + std::to_string(e.Number()) + ": " + e.what());
  } catch (const std::exception& e) {
    if (!announced) started.set_value(std::string("the simulated PLC could not start: ") + e.what());
  }
}

}  // namespace plc::plclink
