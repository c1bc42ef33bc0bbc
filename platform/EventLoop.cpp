#include "platform/EventLoop.h"

#include <memory>

#include "platform/PollEventLoop.h"

namespace plc {

namespace {
// The per-thread record of which loop is current.
struct ThreadLoops {
  EventLoop* current = nullptr;
  std::unique_ptr<EventLoop> fallback;
};
thread_local ThreadLoops tLoops;
}  // namespace

EventLoop::~EventLoop() = default;

EventLoop& EventLoop::Current() {
  if (tLoops.current) return *tLoops.current;
  if (!tLoops.fallback) tLoops.fallback = std::make_unique<PollEventLoop>(TheSystemClock());
  return *tLoops.fallback;
}

void EventLoop::RunFor(std::int64_t micros) {
  std::int64_t deadline = Now() + micros;
  WaitUntil([] { return false; }, deadline);
}

ScopedCurrentLoop::ScopedCurrentLoop(EventLoop& loop) : previous_(tLoops.current) { tLoops.current = &loop; }
ScopedCurrentLoop::~ScopedCurrentLoop() { tLoops.current = previous_; }

}  // namespace plc
