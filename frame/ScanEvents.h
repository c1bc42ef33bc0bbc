#pragma once
// The two events of the background work every control raises: ScanComplete at the end of each
// scan read (which group, the values it returned or why it failed) and WriteQueComplete at the
// end of each queued write (written, or failed after its tries, or refused by a full queue).
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Control.h"
#include "base/Dispatch.h"
#include "frame/ScanEngine.h"
#include "frame/WriteQueue.h"

namespace plc {

template <class T>
void AddScanEvents(DispatchTable<T>& table) {
  table
      .Event("ScanComplete", {{"ScanIndex", "Integer"},
                              {"ScanRegGroup", "Integer"},
                              {"MData", "Variant()"},
                              {"quan", "Integer"},
                              {"ErrorStr", "String"}})
      .Event("WriteQueComplete",
             {{"Add", "Variant"}, {"value", "Long"}, {"Success", "Boolean"}, {"ErrorStr", "String"}});
}

// ScanIndex, ScanRegGroup, MData (the values from index 1; an empty array when the read
// failed), quan, ErrorStr.
inline std::vector<Variant> ScanCompleteArgs(ScanCompletion& c) {
  const auto quan = static_cast<std::int16_t>(c.values.Size());
  std::vector<Variant> args;
  args.reserve(5);
  args.emplace_back(c.index);
  args.emplace_back(c.group);
  args.emplace_back(std::move(c.values));
  args.emplace_back(quan);
  args.emplace_back(std::move(c.error));
  return args;
}

// Add, value, Success, ErrorStr.
inline std::vector<Variant> WriteQueCompleteArgs(WriteQueue::Report& r) {
  return {r.address, Variant(r.value), Variant(r.written), Variant(std::move(r.error))};
}

// What a control gives its scan engine besides itself: a way to raise its events, its
// NumOfWriteRetries, its waiting write of one value for the queue (at the station given where
// the address names none), and its station.
struct ScanHooks {
  std::function<void(const char* event, std::vector<Variant>& args)> raise;
  std::function<std::int16_t()> retries;
  std::function<WriteQueue::Attempt(const Variant& address, std::int32_t value, std::optional<std::int16_t> station)>
      write;
  std::function<std::int16_t()> station;
};

// The scan knows the control by its name in the host; the queue's writes go through the calls a
// host makes, with the host's failure cause kept around each (it is the host's calls' alone).
inline void WireScanEngine(ScanEngine& scan, Control& control, ScanHooks hooks) {
  scan.ControlName = [&control] { return control.Host().AmbientDisplayName(); };
  scan.OnScanComplete = [raise = hooks.raise](ScanCompletion& c) {
    std::vector<Variant> args = ScanCompleteArgs(c);
    raise("ScanComplete", args);
  };
  WriteQueue& queue = scan.Queue();
  queue.Retries = std::move(hooks.retries);
  queue.Station = std::move(hooks.station);
  queue.Write = [&control, write = std::move(hooks.write)](const Variant& address, std::int32_t value,
                                                           std::optional<std::int16_t> station) {
    const Control::KeptFailureCause hostCause(control);
    // A waiting call like the host's: the ticks that fall inside it wait for a host call's end.
    const ScanEngine::HostCall call(true);
    return write(address, value, station);
  };
  queue.OnDone = [raise = std::move(hooks.raise)](WriteQueue::Report& r) {
    std::vector<Variant> args = WriteQueCompleteArgs(r);
    raise("WriteQueComplete", args);
  };
}

// The words a failed write leaves for the queue's report: the control's failure cause, else its
// error text, else a plain statement.
inline std::string WriteFailureText(const std::string& cause, const std::string& errorText) {
  if (!cause.empty()) return cause;
  if (!errorText.empty()) return errorText;
  return "the write was not acknowledged";
}

}  // namespace plc
