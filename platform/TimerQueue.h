#pragma once
// The timers of an event loop: callbacks by handle with the monotonic time they are due. The
// poll loop and the Qt loop keep theirs here and differ only in how they wait for the next.
// Inline: the poll loop asks for the next due time on every wait.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <utility>
#include <vector>

namespace plc {

class TimerQueue {
 public:
  using Handle = std::uint64_t;  // the loop's handle, unique among its timers

  void Add(Handle h, std::int64_t dueMicros, std::function<void()> cb) {
    timers_.emplace(h, Timer{dueMicros, std::move(cb)});
  }
  void Cancel(Handle h) { timers_.erase(h); }
  bool Empty() const { return timers_.empty(); }

  // When the earliest timer is due; the largest time when there is none.
  std::int64_t NextDue() const {
    std::int64_t due = std::numeric_limits<std::int64_t>::max();
    for (const auto& [h, t] : timers_) due = std::min(due, t.due);
    return due;
  }

  // Runs the timers due at nowMicros in handle order, each removed before its callback runs
  // and beforeEach (when given) run between the two. The due ones are chosen first: a callback
  // may add timers (they run at the next call, even when due already) or cancel timers (a
  // cancelled one does not run), and may re-enter the loop. Returns how many ran.
  std::size_t RunDue(std::int64_t nowMicros, const std::function<void()>& beforeEach = {}) {
    std::vector<Handle> due;
    for (const auto& [h, t] : timers_)
      if (t.due <= nowMicros) due.push_back(h);
    std::size_t ran = 0;
    for (Handle h : due) {
      auto it = timers_.find(h);
      if (it == timers_.end()) continue;  // cancelled by an earlier callback
      auto cb = std::move(it->second.cb);
      timers_.erase(it);
      if (beforeEach) beforeEach();
      cb();
      ++ran;
    }
    return ran;
  }

 private:
  struct Timer {
    std::int64_t due;
    std::function<void()> cb;
  };
  std::map<Handle, Timer> timers_;
};

}  // namespace plc
