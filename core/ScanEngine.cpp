#include "core/ScanEngine.h"

#include <limits>

#include "core/ResultCodes.h"
#include "core/RuntimeError.h"
#include "core/WallSeconds.h"

namespace plc {

namespace {
// A line busy this long (wall-clock seconds) is forced free by the scan.
constexpr std::int64_t kBusyLimitSeconds = 2;
}  // namespace

ScanGroup& ScanDatabase::Group(std::int32_t index) {
  if (index < 0 || index > kLastGroup) throw RuntimeError(err::Subscript);
  return groups[static_cast<std::size_t>(index)];
}

void ScanDatabase::Clear() {
  ScanGroupCount = Variant();
  groups.assign(kLastGroup + 1, ScanGroup{});
}

ScanDatabase& ScanTables() {
  thread_local ScanDatabase db;
  return db;
}

ScanEngine::ScanEngine(ScanLine& line, EventLoop& loop, ScanDatabase& db, std::int32_t elapsedEntries,
                       bool* sharedScanWriteActive)
    : line_(line),
      loop_(loop),
      db_(db),
      elapsed_(static_cast<std::size_t>(elapsedEntries > 0 ? elapsedEntries : 0), 0),
      scanWriteActive_(sharedScanWriteActive ? sharedScanWriteActive : &ownScanWriteActive_) {}

std::int32_t& ScanEngine::Elapsed(std::int32_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= elapsed_.size()) throw RuntimeError(err::Subscript);
  return elapsed_[static_cast<std::size_t>(index)];
}

void ScanEngine::ReadTick(std::int32_t interval, bool runMode, bool scanReadEnable) {
  if (ScanWriteActive()) return;
  if (!runMode || !scanReadEnable) return;
  if (!line_.LineOpen()) return;
  // A busy line skips the whole tick: no group's time advances.
  if (line_.CommBusy()) return;
  try {
    ScanGroups(interval);
  } catch (const RuntimeError&) {
    // A subscript or overflow error ends the tick where it stands; the next tick starts afresh.
  }
}

void ScanEngine::ScanGroups(std::int32_t interval) {
  std::int16_t n = db_.ScanGroupCount.ToInt16();
  for (std::int32_t index = 1; index <= n && !line_.WriteActive(); ++index) {
    if (db_.Group(index).enabled != True) continue;
    std::int32_t& elapsed = Elapsed(index);
    if (interval > 0 ? elapsed > std::numeric_limits<std::int32_t>::max() - interval
                     : elapsed < std::numeric_limits<std::int32_t>::min() - interval) {
      throw RuntimeError(err::Overflow);
    }
    elapsed += interval;
    if (elapsed < db_.Group(index).period) continue;

    Variant address = db_.Group(index).address;
    std::int16_t count = db_.Group(index).count;
    std::int64_t start = WallNow(loop_);
    // Wait for the line; serial notifications and the other timers run meanwhile.
    if (line_.CommBusy() &&
        !WaitSeconds(loop_, [this] { return !line_.CommBusy(); }, start, kBusyLimitSeconds)) {
      line_.CountError();
      line_.ForceFree();
    }
    // A host write took the line while we waited: this group is read at the next tick.
    if (line_.WriteActive()) return;
    const ScanGroup& group = db_.Group(index);
    if (group.skip == 0) {
      std::int16_t unit = group.unit == -1 ? line_.UnitAddress() : group.unit;
      line_.SendScanRead(unit, address, count);
    }
    Elapsed(index) = 0;
  }
}

void ScanEngine::WriteTick() {
  SetScanWriteActive(true);
  queue_.WriteQueData();
  SetScanWriteActive(false);
}

void ScanEngine::SetScanRegGroup(std::int16_t ScanRegGroup, bool state) {
  std::int16_t n = db_.ScanGroupCount.ToInt16();
  for (std::int32_t index = 1; index <= n; ++index) {
    ScanGroup& group = db_.Group(index);
    if (group.group == ScanRegGroup) group.enabled = state ? True : False;
  }
}

double ReadData(const VariantArray& DataBuffer, std::int16_t idx) { return DataBuffer.Get(idx).ToDouble(); }

void IOData(const VariantArray& DataBuffer, VariantArray& DataArr, std::int16_t Size) {
  for (std::int32_t i = 1; i <= Size; ++i) DataArr.Set(i, DataBuffer.Get(i - 1));
}

}  // namespace plc
