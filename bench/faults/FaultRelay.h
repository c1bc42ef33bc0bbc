#pragma once
// A relay that carries a control's traffic to its simulated PLC and back on a thread of its
// own, acting out the fault armed for each transaction (FaultScript). FaultLine relays a serial
// line over pseudo-terminals, FaultDatagrams a UDP path.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "bench/faults/FaultScript.h"

namespace plc::faults {

class FaultRelay {
 public:
  virtual ~FaultRelay() = default;

  // Called by the control's thread around each transaction.
  void Begin(FaultSpec spec);
  // The fault the transaction met; late bytes due now are on their way when it returns (and
  // `released` says whether there were any).
  Fault End(bool* released = nullptr);

  void SetSilent(bool silent);
  std::uint64_t Disturbances() const;

 protected:
  FaultRelay(std::uint32_t seed, ScriptTiming timing) : script_(seed, timing) {}
  // Wakes the relay thread: deliveries were queued from the control's thread.
  virtual void Wake() = 0;
  // Queues deliveries for the relay thread; called with mutex_ held.
  void Queue(std::vector<Delivery>& due);
  // The first delivery due by now, if any (relay thread).
  bool TakeDue(std::int64_t now, Delivery& out);
  // Microseconds until the next delivery falls due; -1: none waiting.
  std::int64_t UntilNext(std::int64_t now) const;
  static std::int64_t Now();

  mutable std::mutex mutex_;
  FaultScript script_;

 private:
  std::vector<Delivery> queue_;  // in due order (the script delivers in order)
};

}  // namespace plc::faults
