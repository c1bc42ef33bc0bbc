#pragma once
// A relay that carries a control's traffic to its simulated PLC and back on a thread of its
// own, acting out the fault armed for each transaction (FaultScript). FaultLine relays a serial
// line over pseudo-terminals, FaultDatagrams a UDP path.
#include <poll.h>

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

  // The relay thread's loop, shared by both relays. Its four descriptors are the control's side,
  // the device's side, the wake event and the stop event. Waits until one is ready or the next
  // delivery falls due, taking the wake-ups; false once stopped.
  bool AwaitWork(pollfd (&p)[4]);
  // A request from the control: the script's deliveries queued; true when it goes on to the
  // device.
  bool PassRequest();
  // A reply from the device, handed to the script.
  void TakeReply(const Bytes& reply);
  // Event descriptors (eventfd): one signal, and every signal taken.
  static void Signal(int fd);
  static void Drain(int fd);

  mutable std::mutex mutex_;
  FaultScript script_;

 private:
  std::vector<Delivery> queue_;  // in due order (the script delivers in order)
};

}  // namespace plc::faults
