#pragma once
// SIGINT and SIGTERM as an event of the loop: they are blocked and read from a signalfd that
// the event loop watches, so Ctrl-C ends a running command between two events, with the
// control's port closed by the normal unwinding.
#include "platform/EventLoop.h"

namespace plc::plclink {

class StopSignals {
 public:
  // Blocks the signals for this process and watches them on the loop.
  explicit StopSignals(EventLoop& loop);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  bool Stopped() const { return stopped_; }

 private:
  EventLoop& loop_;
  int fd_ = -1;
  EventLoop::Handle watch_ = 0;
  bool stopped_ = false;
};

}  // namespace plc::plclink
