#pragma once
// The thread a simulator serves its device from, and the eventfd that tells it to stop: the
// serving function watches that descriptor beside its device and returns once it is readable.
// The thread owns the device descriptor it is given and closes it once the thread has ended.
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

  // Runs serve(device, stopFd) on a thread and takes device; serve may reopen it, and whatever
  // it holds at the end is closed by Stop. Throws std::runtime_error when no eventfd can be
  // had, having closed device.
  void Start(int device, std::function<void(int& device, int stopFd)> serve) {
    device_ = device;
    try {
      stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      if (stop_ < 0) throw std::runtime_error("simulator: no eventfd for its thread");
      thread_ = std::thread([this, serve = std::move(serve), stop = stop_] { serve(device_, stop); });
    } catch (...) {
      Stop();
      throw;
    }
  }

  // The same without a device of its own.
  void Start(std::function<void(int stopFd)> serve) {
    Start(-1, [serve = std::move(serve)](int&, int stopFd) { serve(stopFd); });
  }

  bool Running() const { return thread_.joinable(); }

  // Signals the thread, waits for it and closes the eventfd and the device; idempotent.
  void Stop() {
    if (thread_.joinable()) {
      std::uint64_t one = 1;
      (void)!::write(stop_, &one, sizeof one);
      thread_.join();
    }
    if (stop_ >= 0) ::close(stop_);
    stop_ = -1;
    if (device_ >= 0) ::close(device_);
    device_ = -1;
  }

 private:
  int stop_ = -1;
  int device_ = -1;  // written by the serving thread only while it runs
  std::thread thread_;
};

}  // namespace plc::sim
