#include "frame/WriteQueue.h"

#include <algorithm>
#include <exception>

#include "base/RuntimeError.h"

namespace plc {

std::string AddressText(const Variant& address) {
  try {
    return address.ToString();
  } catch (const RuntimeError&) {
    return "(an address that is no text)";
  }
}

std::string WriteQueue::Force(const Variant& address, std::int32_t value) {
  if (entries_.size() >= kCapacity) {
    std::string refusal = "write queue full (" + std::to_string(kCapacity) + " writes waiting): " +
                          AddressText(address) + " = " + std::to_string(value) + " not queued";
    Done(Entry{address, value, 0, std::nullopt}, false, refusal);
    return refusal;
  }
  entries_.push_back(Entry{address, value, 0, Station ? std::optional<std::int16_t>(Station()) : std::nullopt});
  return {};
}

void WriteQueue::WriteQueData() {
  if (draining_ || !Write) return;
  // Whatever ends the drain (a handler's exception included), the next drain must run.
  // A handler that unloads the control ends the drain, and nothing of the queue is touched.
  struct Draining {
    bool& flag;
    Lifetime::Watch watch;
    Draining(bool& f, Lifetime::Watch w) : flag(f), watch(w) { flag = true; }
    ~Draining() {
      if (!watch.Gone()) flag = false;
    }
    Draining(const Draining&) = delete;
    Draining& operator=(const Draining&) = delete;
  } draining(draining_, life_.Watched());
  while (!draining.watch.Gone() && !entries_.empty()) {
    const Entry tried = entries_.front();
    Attempt attempt;
    try {
      attempt = Write(tried.address, tried.value, tried.station);
    } catch (const std::exception& e) {
      // A write that throws failed; it counts as a try like any other failure.
      attempt = Attempt{false, e.what()};
    }
    if (draining.watch.Gone()) return;
    // The write let events run: a handler may have cleared the queue meanwhile.
    if (entries_.empty()) break;
    Entry& head = entries_.front();
    if (attempt.written) {
      const Entry done = head;
      entries_.pop_front();
      Done(done, true, {});
      continue;
    }
    ++head.tries;
    const std::int32_t allowed = 1 + std::max<std::int32_t>(0, Retries ? Retries() : 0);
    if (head.tries < allowed) break;  // tried again at the next drain, still first
    const Entry failed = head;
    entries_.pop_front();
    const std::string cause = attempt.cause.empty() ? "the write failed" : attempt.cause;
    Done(failed, false,
         AddressText(failed.address) + " = " + std::to_string(failed.value) + " not written after " +
             std::to_string(failed.tries) + (failed.tries == 1 ? " try: " : " tries: ") + cause);
  }
}

void WriteQueue::Done(const Entry& e, bool written, std::string error) {
  if (!OnDone) return;
  Report report{e.address, e.value, written, written ? e.tries + 1 : e.tries, std::move(error)};
  OnDone(report);
}

}  // namespace plc
