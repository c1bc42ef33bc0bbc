#pragma once
// The queue of pending background writes. It has entry points but no storage: nothing in the
// product queues writes yet, so draining it does no work and the force calls accept their
// arguments and change nothing. The scan-write tick brackets WriteQueData with
// ScanWriteActive, which is the tick's only effect.
#include <cstdint>

#include "core/Variant.h"

namespace plc {

class WriteQueue {
 public:
  // Drains the queue (which holds nothing).
  void WriteQueData() {}
  // RtuLink's ForceModData and SeqLink's / UdpLink's ForceData: no effect.
  void ForceModData(const Variant& /*Add*/, std::int32_t /*value*/) {}
  void ForceData(const Variant& /*Add*/, std::int32_t /*value*/) {}
};

}  // namespace plc
