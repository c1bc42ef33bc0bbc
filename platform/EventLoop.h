#pragma once
// The event loop of one thread: the host's user-interface thread in the controls' world.
//
// An interface, so that the controls run on whichever loop their host has: PollEventLoop (poll
// and a timer queue of its own) for programs without a window, QtEventLoop (qt/) for a Qt
// program's GUI thread. Either owns the wait for ready file descriptors and the timers.
// DoEvents() dispatches what is pending and returns; WaitUntil() blocks in the loop until an
// event arrives or its deadline passes, so a reply is handled the moment it arrives and an
// idle wait costs no CPU. Callbacks may re-enter the loop (a waiting call inside a timer
// tick), exactly as on a UI thread.
#include <cstdint>
#include <functional>

#include "platform/Clock.h"

namespace plc {

class EventLoop {
 public:
  using Handle = std::uint64_t;

  virtual ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // This thread's loop: the one a ScopedCurrentLoop installed, else a default PollEventLoop on
  // the system clock, made on first use.
  static EventLoop& Current();

  Clock& GetClock() const { return clock_; }
  std::int64_t Now() const { return clock_.MonotonicMicros(); }

  // Calls cb(revents) whenever fd is readable (or hung up, or in error); revents as poll(2)
  // reports them for POLLIN.
  virtual Handle WatchFd(int fd, std::function<void(short revents)> cb) = 0;
  virtual void UnwatchFd(Handle h) = 0;

  // One-shot timer due at a monotonic time.
  virtual Handle AddTimer(std::int64_t dueMicros, std::function<void()> cb) = 0;
  virtual void CancelTimer(Handle h) = 0;

  // Runs cb at the next dispatch.
  virtual void Post(std::function<void()> cb) = 0;

  // Dispatches everything ready now and returns without blocking.
  virtual void DoEvents() = 0;

  // Dispatches events until done() holds or the monotonic deadline passes; blocks between
  // events. Returns done().
  virtual bool WaitUntil(const std::function<bool()>& done, std::int64_t deadlineMicros) = 0;

  // Dispatches events for the given time (a host's idle loop, a test's pause).
  void RunFor(std::int64_t micros);

 protected:
  explicit EventLoop(Clock& clock) : clock_(clock) {}

 private:
  Clock& clock_;
};

// Makes a loop the current one of this thread for a scope (tests on a manual clock, a Qt host).
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
