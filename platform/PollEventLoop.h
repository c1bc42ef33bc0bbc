#pragma once
// The event loop of a program without a window: poll(2) on the watched descriptors and a
// timer queue of its own.
//
// On a manual clock the loop never blocks: when nothing is ready it moves the clock to the next
// due timer or deadline, so time-out paths run in microseconds and deterministically.
#include <map>
#include <memory>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/TimerQueue.h"

namespace plc {

class PollEventLoop final : public EventLoop {
 public:
  explicit PollEventLoop(Clock& clock) : EventLoop(clock) {}

  Handle WatchFd(int fd, std::function<void(short revents)> cb) override;
  void UnwatchFd(Handle h) override;
  Handle AddTimer(std::int64_t dueMicros, std::function<void()> cb) override;
  void CancelTimer(Handle h) override;
  void Post(std::function<void()> cb) override;
  void DoEvents() override;
  bool WaitUntil(const std::function<bool()>& done, std::int64_t deadlineMicros) override;

 private:
  struct Watch {
    int fd;
    // Shared, so that a dispatch holds the callback alive without copying its captures (the
    // callback may unwatch itself).
    std::shared_ptr<const std::function<void(short)>> cb;
  };
  // Runs posted callbacks and due timers; returns true if anything ran.
  bool DispatchReady();
  // Waits up to timeoutMicros (-1: forever) for a descriptor and dispatches the ready ones.
  bool PollOnce(std::int64_t timeoutMicros);

  Handle next_ = 1;
  std::map<Handle, Watch> watches_;
  TimerQueue timers_;
  std::vector<std::function<void()>> posted_;
};

}  // namespace plc
