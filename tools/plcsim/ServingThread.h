#pragma once
// The thread a simulator serves its device from, and the eventfd that tells it to stop: the
// serving function watches that descriptor beside its device and returns once it is readable.
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <thread>

namespace plc::sim {

class ServingThread {
 public:
  ServingThread() = default;
  ~ServingThread() { Stop(); }
  ServingThread(const ServingThread&) = delete;
  ServingThread& operator=(const ServingThread&) = delete;

  // Runs serve(stopFd) on a thread; throws std::runtime_error when no eventfd can be had.
  void Start(std::function<void(int stopFd)> serve) {
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_ < 0) throw std::runtime_error("simulator: no eventfd for its thread");
    thread_ = std::thread([serve = std::move(serve), fd = stop_] { serve(fd); });
  }

  // Signals the thread, waits for it and closes the eventfd; idempotent.
  void Stop() {
    if (thread_.joinable()) {
      std::uint64_t one = 1;
      (void)!::write(stop_, &one, sizeof one);
      thread_.join();
    }
    if (stop_ >= 0) ::close(stop_);
    stop_ = -1;
  }

 private:
  int stop_ = -1;
  std::thread thread_;
};

}  // namespace plc::sim
