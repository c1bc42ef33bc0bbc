#pragma once
// What a relay does with each piece of traffic while a fault is armed, free of descriptors and
// threads: the relays (a pseudo-terminal line, a UDP path) feed it what they read and send what
// it returns when it falls due.
//
// The transaction's requests and replies are told apart by direction only: bytes from the
// control after bytes from the device start a new request, bytes from the device after bytes
// from the control start a new reply. The armed fault strikes the reply (or request) whose
// number it names; a transaction that ends before that one came leaves it unused.
#include <cstdint>
#include <vector>

#include "bench/faults/Faults.h"

namespace plc::faults {

// Bytes for the control, not before dueMicros (monotonic).
struct Delivery {
  std::int64_t dueMicros = 0;
  Bytes bytes;
};

struct ScriptTiming {
  std::int64_t delayMicros = 150000;  // Delay: within every control's time-out
  std::int64_t splitGapMicros = 1000;
  bool lateIntoNext = false;  // Late replies arrive during the next exchange instead of between
};

class FaultScript {
 public:
  FaultScript(std::uint32_t seed, ScriptTiming timing) : mangler_(seed), timing_(timing) {}

  // A transaction starts with this fault armed.
  void Begin(FaultSpec spec);
  // It ended (the control's call returned): the fault it met, and, unless late replies are held
  // for the next exchange, the late bytes to deliver now.
  Fault End(std::int64_t now, std::vector<Delivery>& out);

  // A piece of a request from the control: false when it is to be lost. Late bytes held for
  // the next exchange are released behind it into `out`.
  bool Request(std::int64_t now, std::vector<Delivery>& out);
  // A piece of a reply from the device: what the control gets of it, and when.
  void Reply(Bytes piece, std::int64_t now, std::vector<Delivery>& out);

  // A silent line passes nothing either way.
  void SetSilent(bool silent) { silent_ = silent; }
  bool Silent() const { return silent_; }
  // Faults that struck and late replies delivered, since the start: a failure is explained
  // when this moved during its transaction.
  std::uint64_t Disturbances() const { return disturbances_; }

 private:
  enum class Direction { None, Request, Reply };
  void Deliver(std::int64_t due, Bytes bytes, std::vector<Delivery>& out);
  void Release(std::int64_t now, std::vector<Delivery>& out);
  void SendCopy(std::int64_t now, std::vector<Delivery>& out);

  Mangler mangler_;
  ScriptTiming timing_;
  FaultSpec armed_;
  Fault struck_ = Fault::None;  // what the transaction met
  Fault active_ = Fault::None;  // acting on the current burst
  Direction last_ = Direction::None;
  int requests_ = 0;
  int replies_ = 0;
  std::int64_t burstStart_ = 0;
  std::int64_t lastDue_ = 0;
  Bytes held_;  // a late reply
  Bytes copy_;  // a duplicated reply's second copy
  bool silent_ = false;
  std::uint64_t disturbances_ = 0;
};

}  // namespace plc::faults
