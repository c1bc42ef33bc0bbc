#pragma once
// RtuLink in a slave mode on one end of a tty line, for peer masters that run to completion on
// the other end. The control lives on the test's thread; Serve runs the master beside it and
// keeps this thread's loop turning, so its requests are answered, until the master exits.
#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <vector>

#include "modbus/RtuLink.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/Pty.h"

namespace plc::test {

class SlaveOnLine {
  // Before the control: it is closed in the destructor and its host must outlive it.
  ScopedCommPort mapping_;
  StandaloneHost host_;

 public:
  static constexpr int kCommPort = 43;

  SlaveOnLine(const std::string& path, rtu::EnModBusMode mode, const std::string& settings, std::int32_t unit = 1)
      : mapping_(kCommPort, path) {
    link.SetHost(&host_);
    link.Initialize();
    link.InitProperties();
    link.SetCommPort(kCommPort);
    link.SetSettings(settings);
    link.SetAddress(unit);
    link.SetModBusMode(mode);
    link.SetPortOpen(true);
    link.SetEventSink([this](const std::string& name, std::vector<Variant>& args) {
      if (name == "CommCompleteEx") functions.push_back(args[1].ToInt32());
    });
  }
  ~SlaveOnLine() { link.SetPortOpen(false); }
  SlaveOnLine(const SlaveOnLine&) = delete;
  SlaveOnLine& operator=(const SlaveOnLine&) = delete;

  RunResult Serve(const PeerCommand& command, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    // A missing peer throws here, on this thread, with what to install.
    LocateProgram(command.program, command.installHint);
    auto master = std::async(std::launch::async, [command, timeout] { return RunProgram(command, timeout); });
    EventLoop& loop = EventLoop::Current();
    auto finished = [&master] { return master.wait_for(std::chrono::seconds(0)) == std::future_status::ready; };
    while (!finished()) loop.WaitUntil(finished, loop.Now() + 20'000);
    return master.get();
  }

  std::int32_t Image(std::size_t reference) const { return link.RegisterImage().at(reference); }

  RtuLink link;
  // The function of every CommCompleteEx, in order.
  std::vector<std::int32_t> functions;
};

}  // namespace plc::test
