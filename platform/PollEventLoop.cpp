#include "platform/PollEventLoop.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <limits>

namespace plc {

EventLoop::Handle PollEventLoop::WatchFd(int fd, std::function<void(short)> cb) {
  Handle h = next_++;
  watches_.emplace(h, Watch{fd, std::make_shared<const std::function<void(short)>>(std::move(cb))});
  return h;
}

void PollEventLoop::UnwatchFd(Handle h) { watches_.erase(h); }

EventLoop::Handle PollEventLoop::AddTimer(std::int64_t dueMicros, std::function<void()> cb) {
  Handle h = next_++;
  timers_.Add(h, dueMicros, std::move(cb));
  return h;
}

void PollEventLoop::CancelTimer(Handle h) { timers_.Cancel(h); }

void PollEventLoop::Post(std::function<void()> cb) { posted_.push_back(std::move(cb)); }

bool PollEventLoop::DispatchReady() {
  bool ran = false;
  // Callbacks may post, add or cancel timers, or re-enter the loop: work on snapshots.
  std::vector<std::function<void()>> posted;
  posted.swap(posted_);
  for (auto& cb : posted) {
    cb();
    ran = true;
  }
  if (timers_.Empty()) return ran;  // no clock to read
  if (timers_.RunDue(Now()) > 0) ran = true;
  return ran;
}

bool PollEventLoop::PollOnce(std::int64_t timeoutMicros) {
  // A loop watches a descriptor or two; the arrays live on the stack (so a callback that
  // re-enters the loop gets its own), with a heap fallback for many watches.
  constexpr std::size_t kOnStack = 8;
  std::array<pollfd, kOnStack> stackFds{};
  std::array<Handle, kOnStack> stackHandles{};
  std::vector<pollfd> heapFds;
  std::vector<Handle> heapHandles;
  pollfd* fds = stackFds.data();
  Handle* handles = stackHandles.data();
  if (watches_.size() > kOnStack) {
    heapFds.resize(watches_.size());
    heapHandles.resize(watches_.size());
    fds = heapFds.data();
    handles = heapHandles.data();
  }
  std::size_t count = 0;
  for (const auto& [h, w] : watches_) {
    fds[count] = pollfd{w.fd, POLLIN, 0};
    handles[count] = h;
    ++count;
  }
  int timeoutMs = timeoutMicros < 0 ? -1 : static_cast<int>(std::min<std::int64_t>((timeoutMicros + 999) / 1000, 1 << 30));
  if (count == 0 && timeoutMs != 0 && !GetClock().IsManual()) {
    poll(nullptr, 0, timeoutMs);
    return false;
  }
  int n = poll(fds, count, timeoutMs);
  if (n <= 0) return false;
  bool ran = false;
  for (std::size_t i = 0; i < count; ++i) {
    if (!fds[i].revents) continue;
    auto it = watches_.find(handles[i]);
    if (it == watches_.end()) continue;  // unwatched by an earlier callback
    std::shared_ptr<const std::function<void(short)>> cb = it->second.cb;
    (*cb)(fds[i].revents);
    ran = true;
  }
  return ran;
}

void PollEventLoop::DoEvents() {
  DispatchReady();
  PollOnce(0);
  DispatchReady();
}

bool PollEventLoop::WaitUntil(const std::function<bool()>& done, std::int64_t deadlineMicros) {
  while (!done()) {
    bool ran = DispatchReady();
    if (done()) return true;
    std::int64_t now = Now();
    if (now >= deadlineMicros) return done();
    if (ran || !posted_.empty()) {
      PollOnce(0);
      continue;
    }
    std::int64_t until = std::min(deadlineMicros, timers_.NextDue());
    if (GetClock().IsManual()) {
      if (!PollOnce(0)) GetClock().AdvanceTo(until);
    } else {
      PollOnce(std::max<std::int64_t>(0, until - now));
    }
  }
  return true;
}

}  // namespace plc
