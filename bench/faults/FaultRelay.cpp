#include "bench/faults/FaultRelay.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace plc::faults {

std::int64_t FaultRelay::Now() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void FaultRelay::Begin(FaultSpec spec) {
  std::lock_guard lock(mutex_);
  script_.Begin(spec);
}

Fault FaultRelay::End(bool* released) {
  std::vector<Delivery> due;
  Fault struck;
  {
    std::lock_guard lock(mutex_);
    struck = script_.End(Now(), due);
    Queue(due);
  }
  if (released) *released = !due.empty();
  if (!due.empty()) Wake();
  return struck;
}

void FaultRelay::SetSilent(bool silent) {
  std::lock_guard lock(mutex_);
  script_.SetSilent(silent);
}

std::uint64_t FaultRelay::Disturbances() const {
  std::lock_guard lock(mutex_);
  return script_.Disturbances();
}

void FaultRelay::Queue(std::vector<Delivery>& due) {
  for (auto& d : due) queue_.push_back(std::move(d));
}

bool FaultRelay::TakeDue(std::int64_t now, Delivery& out) {
  std::lock_guard lock(mutex_);
  if (queue_.empty() || queue_.front().dueMicros > now) return false;
  out = std::move(queue_.front());
  queue_.erase(queue_.begin());
  return true;
}

std::int64_t FaultRelay::UntilNext(std::int64_t now) const {
  std::lock_guard lock(mutex_);
  if (queue_.empty()) return -1;
  return queue_.front().dueMicros > now ? queue_.front().dueMicros - now : 0;
}

bool FaultRelay::AwaitWork(pollfd (&p)[4]) {
  const std::int64_t wait = UntilNext(Now());
  for (pollfd& each : p) each.revents = 0;
  const int timeout = wait < 0 ? -1 : static_cast<int>((wait + 999) / 1000);
  if (::poll(p, 4, timeout) < 0 && errno != EINTR) return false;
  if (p[3].revents) return false;
  if (p[2].revents) Drain(p[2].fd);
  return true;
}

bool FaultRelay::PassRequest() {
  std::vector<Delivery> due;
  std::lock_guard lock(mutex_);
  const bool pass = script_.Request(Now(), due);
  Queue(due);
  return pass;
}

void FaultRelay::TakeReply(const Bytes& reply) {
  std::vector<Delivery> due;
  std::lock_guard lock(mutex_);
  script_.Reply(reply, Now(), due);
  Queue(due);
}

void FaultRelay::Signal(int fd) {
  const std::uint64_t one = 1;
  (void)!::write(fd, &one, sizeof one);
}

void FaultRelay::Drain(int fd) {
  std::uint64_t n;
  while (::read(fd, &n, sizeof n) > 0) {
  }
}

}  // namespace plc::faults
