#pragma once
// The event loop of one thread: the host's user-interface thread in the controls' world.
//
// It owns the wait for ready file descriptors (poll) and the timer queue. DoEvents() dispatches
// what is pending and returns; WaitUntil() blocks in poll until an event arrives or its deadline
// passes, so a reply is handled the moment it arrives and an idle wait costs no CPU. Callbacks
// may re-enter the loop (a waiting call inside a timer tick), exactly as on a UI thread.
//
// On a manual clock the loop never blocks: when nothing is ready it moves the clock to the next
// due timer or deadline, so time-out paths run in microseconds and deterministically.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/Clock.h"

namespace plc {

class EventLoop {
 public:
  using Handle = std::uint64_t;

  explicit EventLoop(Clock& clock);
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // This thread's loop: the one a ScopedCurrentLoop installed, else a default one on the
  // system clock, made on first use.
  static EventLoop& Current();

  Clock& GetClock() const { return clock_; }
  std::int64_t Now() const { return clock_.MonotonicMicros(); }

  // Calls cb(revents) whenever fd is readable (or hung up, or in error).
  Handle WatchFd(int fd, std::function<void(short revents)> cb);
  void UnwatchFd(Handle h);

  // One-shot timer due at a monotonic time.
  Handle AddTimer(std::int64_t dueMicros, std::function<void()> cb);
  void CancelTimer(Handle h);

  // Runs cb at the next dispatch.
  void Post(std::function<void()> cb);

  // Dispatches everything ready now and returns without blocking.
  void DoEvents();

  // Dispatches events until done() holds or the monotonic deadline passes; blocks between
  // events. Returns done().
  bool WaitUntil(const std::function<bool()>& done, std::int64_t deadlineMicros);

  // Dispatches events for the given time (a host's idle loop, a test's pause).
  void RunFor(std::int64_t micros);

 private:
  struct Watch {
    int fd;
    // Shared, so that a dispatch holds the callback alive without copying its captures (the
    // callback may unwatch itself).
    std::shared_ptr<const std::function<void(short)>> cb;
  };
  struct Timer {
    std::int64_t due;
    std::function<void()> cb;
  };

  // Runs posted callbacks and due timers; returns true if anything ran.
  bool DispatchReady();
  // Waits up to timeoutMicros (-1: forever) for a descriptor and dispatches the ready ones.
  bool PollOnce(std::int64_t timeoutMicros);
  std::int64_t NextTimerDue() const;

  Clock& clock_;
  Handle next_ = 1;
  std::map<Handle, Watch> watches_;
  std::map<Handle, Timer> timers_;
  std::vector<std::function<void()>> posted_;
};

// Makes a loop the current one of this thread for a scope (tests on a manual clock).
class ScopedCurrentLoop {
 public:
  explicit ScopedCurrentLoop(EventLoop& loop);
  ~ScopedCurrentLoop();
  ScopedCurrentLoop(const ScopedCurrentLoop&) = delete;
  ScopedCurrentLoop& operator=(const ScopedCurrentLoop&) = delete;

 private:
  EventLoop* previous_;
};

}  // namespace plc
