#pragma once
// The queue of pending background writes of one control. ForceModData (RtuLink) and ForceData
// (the others) queue one value for an address; the scan-write tick (Timer3), or the host's own
// WriteQueData, drains the queue in order through the control's waiting write.
//
// A write that fails stays at the head and is tried again at the next drain, so a later write
// never overtakes it; once it has failed 1 + NumOfWriteRetries times it is dropped and reported.
// The queue holds at most kCapacity writes: one more is refused, with a text, and not queued.
// Every queued write ends in exactly one report (written, or failed with the reason).
// A write goes to the station the control addressed when it was queued: a host that turns the
// control to another station meanwhile (polling several on one line) does not take it along.
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "base/Variant.h"
#include "platform/Lifetime.h"

namespace plc {

// An address as texts about reads and writes name it (one that is no text says so).
std::string AddressText(const Variant& address);

class WriteQueue {
 public:
  static constexpr std::size_t kCapacity = 256;

  struct Entry {
    Variant address;
    std::int32_t value = 0;
    std::int32_t tries = 0;  // failed attempts so far
    std::optional<std::int16_t> station;  // the control's station as the write was queued
  };
  // What one attempt of the control's write gave: empty cause when it was written.
  struct Attempt {
    bool written = false;
    std::string cause;
  };
  // The end of a queued write (or a refusal): what was written where, and why it failed if it
  // did.
  struct Report {
    Variant address;
    std::int32_t value = 0;
    bool written = false;
    std::int32_t tries = 0;
    std::string error;
  };

  // The control's waiting write of one value, at station where the address names none.
  std::function<Attempt(const Variant& address, std::int32_t value, std::optional<std::int16_t> station)> Write;
  // The control's station now (unset: none is kept, the write takes the one of its time).
  std::function<std::int16_t()> Station;
  // NumOfWriteRetries at the time of the drain (unset: none).
  std::function<std::int16_t()> Retries;
  std::function<void(Report&)> OnDone;

  // Queues the write: empty text. When the queue is full nothing is queued, OnDone is told, and
  // the refusal is returned.
  std::string Force(const Variant& address, std::int32_t value);
  // Drains in order until the queue is empty or its head failed. A drain started from inside a
  // write of this queue (a handler calling WriteQueData) returns at once.
  void WriteQueData();

  bool Draining() const { return draining_; }
  std::size_t Size() const { return entries_.size(); }
  const std::deque<Entry>& Entries() const { return entries_; }
  // Forgets every waiting write without reporting it (the control goes away).
  void Clear() { entries_.clear(); }

 private:
  void Done(const Entry& e, bool written, std::string error);

  std::deque<Entry> entries_;
  bool draining_ = false;
  Lifetime life_;  // a write or a report may unload the control, and this queue with it
};

}  // namespace plc
