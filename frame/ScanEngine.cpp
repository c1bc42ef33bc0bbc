#include "frame/ScanEngine.h"

#include <algorithm>
#include <limits>

#include "base/Dispatch.h"
#include "base/ResultCodes.h"
#include "base/RuntimeError.h"
#include "frame/WallSeconds.h"

namespace plc {

namespace {
// A line busy this long (wall-clock seconds) is forced free by the scan.
constexpr std::int64_t kBusyLimitSeconds = 2;
constexpr const char* kNoReplyText = "no reply within 2 s";
constexpr const char* kPortClosedText = "the port was closed while the read waited for its reply";
// How often a read out while the scan is stopped is looked at.
constexpr std::int64_t kStoppedLookMicros = 500'000;

// The host's waiting calls out on this thread, and the engines whose write tick fell inside
// one: those due now, and those being run as the outermost call returns.
struct HostCallRecord {
  int out = 0;
  int queued = 0;       // of them the writes of queues
  bool ending = false;  // the outermost call is running the due ticks
  std::vector<ScanEngine*> due, running;
};

HostCallRecord& HostCalls() {
  thread_local HostCallRecord record;
  return record;
}

void Unlist(std::vector<ScanEngine*>& list, const ScanEngine* engine) {
  list.erase(std::remove(list.begin(), list.end(), engine), list.end());
}

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

ScanEngine::~ScanEngine() {
  if (watchPending_) loop_.CancelTimer(watchPending_);
  if (!writeTickDue_) return;
  Unlist(HostCalls().due, this);
  Unlist(HostCalls().running, this);
}

std::int32_t& ScanEngine::Elapsed(std::int32_t index) {
  if (index < 0 || index > ScanDatabase::kLastGroup) throw RuntimeError(err::Subscript);
  if (static_cast<std::size_t>(index) >= elapsed_.size()) return beyond_[index];
  return elapsed_[static_cast<std::size_t>(index)];
}

bool ScanEngine::Scans(const ScanGroup& group) const {
  if (group.control.empty()) return true;
  return ControlName && NamesEqual(group.control, ControlName());
}

void ScanEngine::ReadTick(std::int32_t interval, bool runMode, bool scanReadEnable) {
  // Every report lets a host handler run, which may unload the control and this engine with it.
  const Lifetime::Watch watch = life_.Watched();
  // No reply comes through a closed port, and the line may keep its busy flags until it
  // reopens: the read the closing cut off ends now, and says so.
  if (pending_ && !line_.LineOpen() && line_.RequestsBegun() == pending_->requests) ScanReadFailed(kPortClosedText);
  if (watch.Gone()) return;
  SettlePending();
  if (watch.Gone() || ScanWriteActive()) return;
  if (!runMode || !scanReadEnable) return;
  if (!line_.LineOpen()) return;
  // A busy line skips the whole tick (no group's time advances), unless it has stayed busy
  // while there are groups to read; with none, the scan leaves the line alone as it always did.
  if (line_.CommBusy()) {
    if (!HasGroups() || !FreeIfStuck() || watch.Gone()) return;
  } else {
    busySince_.reset();
  }
  try {
    ScanGroups(interval);
  } catch (const RuntimeError&) {
    // A subscript or overflow error ends the tick where it stands; the next tick starts afresh.
  }
}

void ScanEngine::ScanGroups(std::int32_t interval) {
  const Lifetime::Watch watch = life_.Watched();
  std::int16_t n = db_.ScanGroupCount.ToInt16();
  for (std::int32_t index = 1; index <= n && !line_.WriteActive(); ++index) {
    if (db_.Group(index).enabled != True || !Scans(db_.Group(index))) continue;
    std::int32_t& elapsed = Elapsed(index);
    if (interval > 0 ? elapsed > std::numeric_limits<std::int32_t>::max() - interval
                     : elapsed < std::numeric_limits<std::int32_t>::min() - interval) {
      throw RuntimeError(err::Overflow);
    }
    elapsed += interval;
    if (elapsed < db_.Group(index).period) continue;

    if (static_cast<std::size_t>(index) >= elapsed_.size()) {
      // Beyond what this control scans: said at the group's period, as a read that fails, and
      // the groups after it go on. Nothing is pending on its behalf.
      elapsed = 0;
      ScanCompletion beyond{static_cast<std::int16_t>(index), db_.Group(index).group, VariantArray(),
                            "scan group " + std::to_string(index) + " is beyond the " +
                                std::to_string(elapsed_.size() - 1) + " groups this control scans; it is never read"};
      if (OnScanComplete) OnScanComplete(beyond);
      if (watch.Gone()) return;
      continue;
    }
    // The host keeps the line (a host write, or one request after another started by the
    // handlers of what we reported): this group is read at a later tick.
    if (!AwaitLine() || line_.WriteActive()) return;
    // Handlers ran meanwhile: a host that stopped the scan or closed the port has its groups
    // left as they are, read at the first tick once it runs again.
    if (!ScanGoesOn()) return;
    const ScanGroup& group = db_.Group(index);
    const Variant address = group.address;
    const std::int16_t count = group.count;
    if (group.skip == 0) {
      std::int16_t unit = group.unit == -1 ? line_.UnitAddress() : group.unit;
      const std::int16_t number = group.group;
      pending_ = Pending{static_cast<std::int16_t>(index), number, line_.RequestsBegun(), 0};
      bool sent = false;
      std::string why;
      sending_ = true;
      try {
        sent = line_.SendScanRead(unit, address, count);
        if (!sent) why = line_.LastFailure();
      } catch (const RuntimeError& e) {
        why = e.what();
      }
      if (watch.Gone()) return;
      sending_ = false;
      if (!sent) {
        const std::string what = "the read of " + AddressText(address) + " (" + std::to_string(count) +
                                 (count == 1 ? " value" : " values") + ") was not sent";
        ScanReadFailed(why.empty() ? what : what + ": " + why);
        if (watch.Gone()) return;
      } else if (pending_) {
        pending_->requests = line_.RequestsBegun();
        WatchPending();
      }
    }
    Elapsed(index) = 0;
  }
}

bool ScanEngine::AwaitLine() {
  const Lifetime::Watch watch = life_.Watched();
  SettlePending();
  if (watch.Gone()) return false;
  // First the request on the line (the previous group's read, as a rule), then one that a
  // handler of its report may have started; serial notifications and the other timers run
  // meanwhile. A line busy for 2 s is freed, counting one error.
  for (int round = 0; round < 2 && line_.CommBusy(); ++round) {
    const bool freed =
        WaitSeconds(loop_, [this, &watch] { return watch.Gone() || !line_.CommBusy(); }, WallNow(loop_), kBusyLimitSeconds);
    if (watch.Gone()) return false;
    if (!freed) {
      line_.CountError();
      line_.ForceFree();
    }
    // The previous group's read has ended by now, one way or the other; reported, its
    // handler may start a request of the host's, which goes first.
    SettlePending();
    if (watch.Gone()) return false;
  }
  return !line_.CommBusy();
}

void ScanEngine::WatchPending() {
  if (watchPending_) loop_.CancelTimer(watchPending_);
  watchPending_ = loop_.AddTimer(loop_.Now() + kStoppedLookMicros, [this, watch = life_.Watched()] {
    if (watch.Gone()) return;
    watchPending_ = 0;
    SettleWhileStopped();
  });
}

void ScanEngine::SettleWhileStopped() {
  if (!pending_) return;
  // While the timer ticks, its ticks end the read.
  if (ReadTimerRunning && !ReadTimerRunning()) {
    const Lifetime::Watch watch = life_.Watched();
    if (!line_.LineOpen() && line_.RequestsBegun() == pending_->requests) {
      ScanReadFailed(kPortClosedText);
      return;
    }
    SettlePending();
    if (watch.Gone()) return;
    // A read that holds the line 2 s is freed as a tick frees it.
    if (pending_ && line_.CommBusy()) FreeIfStuck();
    if (watch.Gone()) return;
  }
  if (pending_) WatchPending();
}

bool ScanEngine::ScanGoesOn() const {
  return line_.LineOpen() && (!ReadTimerRunning || ReadTimerRunning());
}

bool ScanEngine::HasGroups() const {
  try {
    return db_.ScanGroupCount.ToInt32() > 0;
  } catch (const RuntimeError&) {
    return false;
  }
}

bool ScanEngine::FreeIfStuck() {
  const std::int64_t now = WallNow(loop_);
  const std::uint32_t request = line_.RequestsBegun();
  // The clock runs for one request: a host reading back to back keeps the line busy for good,
  // but never one read for long.
  if (!busySince_ || busySince_->request != request) {
    busySince_ = Busy{now, request};
    return false;
  }
  if (now - busySince_->since < kBusyLimitSeconds) return false;
  busySince_.reset();
  line_.CountError();
  line_.ForceFree();
  SettlePending();
  return true;
}

void ScanEngine::SettlePending(const std::string& reason) {
  if (!pending_) return;
  const bool movedOn = line_.RequestsBegun() != pending_->requests;
  if (line_.CommBusy() && !movedOn) return;
  const std::string why = line_.LastFailure();
  ScanReadFailed(!reason.empty() ? reason : why.empty() ? kNoReplyText : why);
}

void ScanEngine::ScanReadCompleted(const VariantArray& source, std::int32_t first, std::int32_t count) {
  if (!pending_) return;  // (checked again below; this saves the copy)
  std::vector<Variant> values;
  for (std::int32_t k = 0; k < count && source.Contains(first + k); ++k) values.push_back(source.Get(first + k));
  ScanReadCompleted(std::move(values));
}

bool ScanEngine::ScanReadOnLine() const {
  if (!pending_) return false;
  // While the read is being sent, a request that ends is the scan's only when it began inside
  // the send; one that the send waited for is another's.
  if (sending_) return line_.RequestsBegun() != pending_->before;
  return line_.RequestsBegun() == pending_->requests;
}

void ScanEngine::ScanReadCompleted(std::vector<Variant> values) {
  if (!pending_) return;
  if (!ScanReadOnLine()) {
    // A read that completes after a later request began is not this scan's: the scan's own
    // ended before it without values. One that completes while the send waits is another's.
    if (!sending_) SettlePending();
    return;
  }
  ScanCompletion done{pending_->index, pending_->group, VariantArray(), {}};
  if (!values.empty()) {
    done.values = VariantArray(1, static_cast<std::int32_t>(values.size()));
    for (std::size_t k = 0; k < values.size(); ++k) done.values.At(static_cast<std::int32_t>(k + 1)) = std::move(values[k]);
  }
  Report(done);
}

void ScanEngine::ScanReadFailed(const std::string& reason) {
  if (!pending_) return;
  ScanCompletion done{pending_->index, pending_->group, VariantArray(), reason.empty() ? kNoReplyText : reason};
  Report(done);
}

void ScanEngine::Report(ScanCompletion& completion) {
  // Cleared first: the host's handler may start the next read.
  pending_.reset();
  if (OnScanComplete) OnScanComplete(completion);
}

void ScanEngine::WriteTick() {
  // A tick inside this queue's own drain has nothing to add to it: the drain goes on.
  if (queue_.Draining()) return;
  if (HostCalls().out > 0) {
    if (!writeTickDue_) HostCalls().due.push_back(this);
    writeTickDue_ = true;
    return;
  }
  if (writeTickDue_) {  // served now, by this tick
    Unlist(HostCalls().due, this);
    writeTickDue_ = false;
  }
  const Lifetime::Watch watch = life_.Watched();
  SettlePending();
  if (watch.Gone()) return;
  // A flag shared with the other controls of the thread is cleared even when a handler unloaded
  // this one: left set, their queues would never drain again.
  bool* const active = scanWriteActive_;
  const bool shared = active != &ownScanWriteActive_;
  *active = true;
  queue_.WriteQueData();
  if (shared || !watch.Gone()) *active = false;
}

void ScanEngine::HostCallBegan(bool queued) {
  ++HostCalls().out;
  if (queued) ++HostCalls().queued;
}

void ScanEngine::HostCallEnded(bool queued, bool unwinding) {
  HostCallRecord& calls = HostCalls();
  if (queued) --calls.queued;
  --calls.out;
  // A queue's write, and a host call made inside one (its WritePLC), leave the ticks to a later
  // call's end.
  if (queued || calls.out > 0 || calls.queued > 0 || unwinding || calls.ending) return;
  // The ticks due now, once each.
  calls.running.swap(calls.due);
  struct Ending {
    HostCallRecord& calls;
    explicit Ending(HostCallRecord& c) : calls(c) { calls.ending = true; }
    // What a throwing handler left unrun is due again.
    ~Ending() {
      calls.due.insert(calls.due.end(), calls.running.begin(), calls.running.end());
      calls.running.clear();
      calls.ending = false;
    }
    Ending(const Ending&) = delete;
    Ending& operator=(const Ending&) = delete;
  } ending(calls);
  while (!calls.running.empty()) {
    ScanEngine* engine = calls.running.front();
    calls.running.erase(calls.running.begin());
    engine->writeTickDue_ = false;
    if (engine->WriteTimerRunning && !engine->WriteTimerRunning()) continue;
    engine->WriteTick();  // a handler may unload any control
  }
}

void ScanEngine::SetScanRegGroup(std::int16_t ScanRegGroup, bool state) {
  std::int16_t n = db_.ScanGroupCount.ToInt16();
  for (std::int32_t index = 1; index <= n; ++index) {
    ScanGroup& group = db_.Group(index);
    if (group.group == ScanRegGroup && Scans(group)) group.enabled = state ? True : False;
  }
}

double ReadData(const VariantArray& DataBuffer, std::int16_t idx) { return DataBuffer.Get(idx).ToDouble(); }

void IOData(const VariantArray& DataBuffer, VariantArray& DataArr, std::int16_t Size) {
  for (std::int32_t i = 1; i <= Size; ++i) DataArr.Set(i, DataBuffer.Get(i - 1));
}

}  // namespace plc
