// RtuLink's background work: each scan read's end raised as ScanComplete, the write queue
// drained through its waiting write and reported as WriteQueComplete.
#include "frame/ScanEvents.h"
#include "modbus/RtuLink.h"

namespace plc {

void RtuLink::WireScan() {
  WireScanEngine(scan_, *this,
                 ScanHooks{[this](const char* event, std::vector<Variant>& args) { RaiseEvent(event, args); },
                           [this] { return NumOfWriteRetries(); },
                           [this](const Variant& address, std::int32_t value, std::optional<std::int16_t> unit) {
                             return QueuedWrite(address, value, unit);
                           },
                           [this] { return master_.UnitAddress(); }});
  master_.Events.ScanReadDone = [this](std::int32_t quantity) {
    // A group of more coils than DataBuffer holds takes the rest from the reply.
    if (quantity <= modbus::kDataBufferLast) return scan_.ScanReadCompleted(master_.DataBuffer(), 1, quantity);
    std::vector<Variant> values;
    values.reserve(static_cast<std::size_t>(quantity));
    for (std::int32_t i = 1; i <= quantity; ++i) values.push_back(master_.DecodedValue(i));
    scan_.ScanReadCompleted(std::move(values));
  };
}

// One register (or coil) written as WritePLC writes it, at the unit of its queuing, but as no
// call of the host's: a non-waiting read the host has out stays followed, and its failure is
// still told. The host's failure cause is its own calls'; the queue keeps it around this write.
WriteQueue::Attempt RtuLink::QueuedWrite(const Variant& address, std::int32_t value, std::optional<std::int16_t> unit) {
  std::string text = address.ToString();
  VariantArray values(1, 1);
  values.Set(1, Variant(value));
  const bool written =
      road_.WritePLC(text, values, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>(), unit) == ResultOk;
  WriteQueue::Attempt attempt{written, written ? std::string() : WriteFailureText(road_.Cause(), master_.LastErrorText())};
  return attempt;
}

}  // namespace plc
