#pragma once
// An interval timer that ticks on the event loop, as a form's timer does: while Enabled and
// Interval > 0 it calls OnTick every Interval milliseconds. Setting Interval or Enabled
// restarts the count. A tick is never re-entered: a tick that runs long (a waiting call
// inside it) delays the next one instead of nesting it.
#include <cstdint>
#include <functional>

#include "platform/EventLoop.h"
#include "platform/Lifetime.h"

namespace plc {

class IntervalTimer {
 public:
  explicit IntervalTimer(std::int32_t intervalMs = 0, EventLoop& loop = EventLoop::Current());
  ~IntervalTimer();
  IntervalTimer(const IntervalTimer&) = delete;
  IntervalTimer& operator=(const IntervalTimer&) = delete;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  std::int32_t Interval() const { return interval_; }
  void SetInterval(std::int32_t ms);  // negative values are refused (380)
  // Whether it ticks: Enabled with an Interval above 0.
  bool Running() const { return enabled_ && interval_ > 0; }

  std::function<void()> OnTick;

 private:
  void Arm();
  void Disarm();
  void Fire();

  EventLoop& loop_;
  bool enabled_ = false;
  bool ticking_ = false;
  std::int32_t interval_;
  EventLoop::Handle pending_ = 0;
  Lifetime life_;  // a tick's handler may destroy the timer
};

}  // namespace plc
