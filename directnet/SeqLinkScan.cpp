// SeqLink's background work: each scan read's end raised as ScanComplete (besides the
// CommComplete its ReadPLCNW raises), the write queue drained through its waiting write and
// reported as WriteQueComplete.
#include "frame/ScanEvents.h"
#include "directnet/SeqLink.h"

namespace plc {

void SeqLink::WireScan() {
  WireScanEngine(scan_, *this,
                 ScanHooks{[this](const char* event, std::vector<Variant>& args) { RaiseEvent(event, args); },
                           [this] { return NumOfWriteRetries(); },
                           [this](const Variant& address, std::int32_t value, std::optional<std::int16_t> station) {
                             return QueuedWrite(address, value, station);
                           },
                           [this] { return UnitAddress(); }});
}

// One word written as WritePLC writes it, at the station of its queuing, but as no call of the
// host's: a non-waiting read the host has out stays followed, and its failure is still told.
WriteQueue::Attempt SeqLink::QueuedWrite(const Variant& address, std::int32_t value,
                                         std::optional<std::int16_t> station) {
  Variant target = address;
  Variant values(value);
  const bool written =
      road_.WritePLC(target, values, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>(), station) == ResultOk;
  WriteQueue::Attempt attempt{written, written ? std::string() : WriteFailureText(road_.Cause(), engine_.State().ErrorText)};
  return attempt;
}

}  // namespace plc
