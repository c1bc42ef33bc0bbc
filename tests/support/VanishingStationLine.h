#pragma once
// A serial device that vanishes while a port has it open and comes back under the same path,
// as an unplugged adapter or a restarted socat bridge does, with a DirectNET station on its far
// end whose memory lives on across. The path is a link to a pseudo-terminal: Vanish hangs up the
// far end and removes the link; Return makes a new pseudo-terminal and links the path to it.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "tests/support/Pty.h"
#include "tools/plcsim/DirectNetSimulator.h"
#include "tools/plcsim/ServingThread.h"

namespace plc::test {

class VanishingStationLine {
 public:
  explicit VanishingStationLine(std::vector<int> stations) : station_(std::move(stations)) {
    char dir[] = "/tmp/plc-vanishing-XXXXXX";
    if (!::mkdtemp(dir)) throw std::runtime_error("mkdtemp failed");
    dir_ = dir;
    path_ = dir_ + "/ttyV0";
    Return();
  }
  ~VanishingStationLine() {
    serving_.Stop();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // The device path a port opens.
  const std::string& Path() const { return path_; }

  void Vanish() {
    serving_.Stop();
    pty_->CloseFar();
    std::filesystem::remove(path_);
  }

  void Return() {
    pty_ = std::make_unique<Pty>();
    std::filesystem::create_symlink(pty_->DevicePath(), path_);
    serving_.Start(::dup(pty_->FarFd()), [this](int& fd, int stopFd) { sim::ServeDirectNet(fd, stopFd, station_, lock_, 0); });
  }

  template <class F>
  auto WithStation(F f) {
    std::lock_guard<std::mutex> guard(lock_);
    return f(station_);
  }

 private:
  std::string dir_;
  std::string path_;
  std::mutex lock_;
  sim::DirectNetStation station_;
  std::unique_ptr<Pty> pty_;
  sim::ServingThread serving_;
};

}  // namespace plc::test
