#pragma once
// Time, only through this interface, so that every time-out is testable on a manual clock.
//
// Monotonic time drives the event loop's timers and waits. The wall clock's whole seconds, as
// they tick, are what the protocol time-outs of the Modbus and DirectNET engines measure (a
// 2-second wait lasts between 1 and 2 seconds): counted on the monotonic clock from the wall
// clock's phase when the clock was made, so a wall clock set back or forward (by hand, by
// NTP) neither holds a wait for the hour it went back nor cuts it short. Seconds since
// midnight, with fractions, is what the DF1 link times.
#include <cstdint>

namespace plc {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t MonotonicMicros() const = 0;
  // Date-time in whole seconds since the epoch.
  virtual std::int64_t WallSeconds() const = 0;
  // Local seconds since midnight, with fractions.
  virtual double SecondsSinceMidnight() const = 0;
  // A manual clock does not move by itself: the event loop moves it to the next due event
  // instead of blocking.
  virtual bool IsManual() const { return false; }
  virtual void AdvanceTo(std::int64_t /*monotonicMicros*/) {}

  // The wall clock's whole seconds, counted on from the monotonic clock.
  std::int64_t CountedSeconds() const { return (MonotonicMicros() + countOffset_) / 1'000'000; }
  // Monotonic time at which CountedSeconds() reads seconds.
  std::int64_t MonotonicAtCount(std::int64_t seconds) const { return seconds * 1'000'000 - countOffset_; }

 protected:
  // Wall microseconds less monotonic microseconds, read once when the clock is made.
  void SetCountOffset(std::int64_t micros) { countOffset_ = micros; }

 private:
  std::int64_t countOffset_ = 0;
};

class SystemClock final : public Clock {
 public:
  SystemClock();
  std::int64_t MonotonicMicros() const override;
  std::int64_t WallSeconds() const override;
  double SecondsSinceMidnight() const override;
};

// A clock that tests move. Wall time is a fixed start plus the monotonic time elapsed.
class ManualClock final : public Clock {
 public:
  // Starts at monotonic 0 and at the given wall time (microseconds since the epoch, taken as
  // local time for SecondsSinceMidnight).
  explicit ManualClock(std::int64_t wallStartMicros = 1'700'000'000'000'000);
  std::int64_t MonotonicMicros() const override { return now_; }
  std::int64_t WallSeconds() const override;
  double SecondsSinceMidnight() const override;
  bool IsManual() const override { return true; }
  void AdvanceTo(std::int64_t monotonicMicros) override;
  void Advance(std::int64_t micros) { AdvanceTo(now_ + micros); }
  // Sets the wall clock forward (or back, when negative) as a person or NTP would; the
  // monotonic time stays.
  void StepWall(std::int64_t micros) { wallStart_ += micros; }

 private:
  std::int64_t wallStart_;
  std::int64_t now_ = 0;
};

// The clock of this thread's default event loop.
SystemClock& TheSystemClock();

}  // namespace plc
