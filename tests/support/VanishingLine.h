#pragma once
// A serial device that vanishes while a port has it open and comes back under the same path,
// as an unplugged adapter or a restarted socat bridge does, with a simulated device on its far
// end whose memory lives on across (the caller owns it). The path is a link to a
// pseudo-terminal: Vanish hangs up the far end and removes the link; Return makes a new
// pseudo-terminal, links the path to it and serves it again.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "tests/support/Pty.h"
#include "tools/plcsim/ServingThread.h"

namespace plc::test {

class VanishingLine {
 public:
  // serve(fd, stopFd): serves the far end until stopFd is readable, as a simulator's loop does.
  using Serve = std::function<void(int& fd, int stopFd)>;

  VanishingLine(const std::string& deviceName, Serve serve) : serve_(std::move(serve)) {
    char dir[] = "/tmp/plc-vanishing-XXXXXX";
    if (!::mkdtemp(dir)) throw std::runtime_error("mkdtemp failed");
    dir_ = dir;
    path_ = dir_ + "/" + deviceName;
  }
  ~VanishingLine() {
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
    serving_.Start(::dup(pty_->FarFd()), serve_);
  }

 private:
  Serve serve_;
  std::string dir_;
  std::string path_;
  std::unique_ptr<Pty> pty_;
  sim::ServingThread serving_;
};

}  // namespace plc::test
