#pragma once
// The background scan every serial control shares: the scan-read tick (Timer2) walks the
// register groups of the scan database and sends a read for each group whose period has run
// out; the scan-write tick (Timer3) drains the write queue. The scan is protocol-neutral: it
// reaches the protocol engine only through ScanLine.
//
// The tick stands aside for host transactions: it does nothing while ScanWriteActive (a
// scan-write tick or a host write) is set, skips the whole tick (no group's time advances)
// while CommBusy is true, waits for a busy line before each due group and forces it free after
// 2 seconds (counting one error), and ends as soon as a host write holds the line or a request
// that a handler of the scan's report started is still on it once waited for. A group's
// period is counted in whole timer intervals: with 500 ms ticks a 1200 ms group is read every
// third tick. A line that ticks keep finding busy with one request for 2 seconds is forced free
// too, so one lost reply cannot stop the scan while the control's watchdog is not running (as
// after Show); a line busy with one request after another (a host reading back to back) is not.
//
// A group that names a control is scanned only by the control of that name (its host's display
// name for it, ControlName); a group that names none by every control of the deliverable.
//
// Each scan read ends in one ScanCompletion for the host: the group's index and number with
// the values that read returned, or the reason it failed. The control reports the values when
// its engine completes the read (ScanReadCompleted); a read that ends otherwise (no reply, a
// failed check, the line freed) is reported as failed once the scan sees the line idle or
// busy with a later request. Completions are told apart by the line's request count: one that
// the send of a scan read waited for, or one of a later request, is never taken for the scan's.
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/Variant.h"
#include "frame/WriteQueue.h"
#include "platform/EventLoop.h"
#include "platform/Lifetime.h"

namespace plc {

// One register group, fields in record order.
struct ScanGroup {
  std::int16_t unit = 0;    // -1: the control's UnitAddress
  Variant address;          // reference address of the first register
  std::int16_t period = 0;  // milliseconds between reads
  std::int16_t count = 0;   // registers to read
  std::int16_t group = 0;   // the number SetScanRegGroup matches
  std::int16_t enabled = 0; // -1: scanned
  std::int16_t skip = 0;    // non-zero: the group's time runs, but no request is sent
  std::string control;      // the control that scans it; empty: every control
};

// The end of one scan read, as the host learns it.
struct ScanCompletion {
  std::int16_t index = 0;  // the group's index in the scan database
  std::int16_t group = 0;  // its group number
  VariantArray values;     // what this read returned, from index 1; none when it failed
  std::string error;       // empty: the read succeeded
};

struct ScanDatabase {
  static constexpr std::int32_t kLastGroup = 1000;

  // Groups in use; Empty counts as 0.
  Variant ScanGroupCount;
  // Indices 0..1000; group 0 is never scanned.
  std::vector<ScanGroup> groups = std::vector<ScanGroup>(kLastGroup + 1);

  // Subscript error (9) outside 0..1000.
  ScanGroup& Group(std::int32_t index);
  // Back to the empty state of a fresh thread.
  void Clear();
};

// This thread's scan database of this deliverable (plcframe is linked into each plug-in).
ScanDatabase& ScanTables();

// What the scan needs of a protocol engine.
class ScanLine {
 public:
  virtual ~ScanLine() = default;
  // The line's real open state (the serial child's PortOpen), not the stored flag.
  virtual bool LineOpen() const = 0;
  virtual bool CommBusy() const = 0;
  // A host write holds the line.
  virtual bool WriteActive() const = 0;
  // CommBusy := False.
  virtual void ForceFree() = 0;
  // One failed transaction more in the engine's error count.
  virtual void CountError() = 0;
  virtual std::int16_t UnitAddress() const = 0;
  // Sends the read of a group and returns without waiting; true when it is on its way. A line
  // whose read completes within the call reports it before returning.
  virtual bool SendScanRead(std::int16_t unit, const Variant& address, std::int16_t count) = 0;
  // Counts the requests the engine has begun (0 when it keeps no count): a change after a scan
  // read went out means that read has ended.
  virtual std::uint32_t RequestsBegun() const { return 0; }
  // Why the latest request failed or was not sent, in words; empty when the line cannot tell.
  virtual std::string LastFailure() const { return {}; }
};

class ScanEngine {
 public:
  static constexpr std::int32_t kRtuElapsedEntries = ScanDatabase::kLastGroup + 1;

  // elapsedEntries: entries of ScanElapsed (1001 in RtuLink, 321 in SeqLink); a group with an
  // index beyond them is never read, and says so in a failed ScanCompletion at its period.
  // sharedScanWriteActive: a flag shared by all instances (SeqLink), else the engine keeps its
  // own.
  explicit ScanEngine(ScanLine& line, EventLoop& loop = EventLoop::Current(), ScanDatabase& db = ScanTables(),
                      std::int32_t elapsedEntries = kRtuElapsedEntries, bool* sharedScanWriteActive = nullptr);
  ~ScanEngine();
  ScanEngine(const ScanEngine&) = delete;
  ScanEngine& operator=(const ScanEngine&) = delete;

  // Timer2 tick. interval: the timer's current Interval in ms.
  void ReadTick(std::int32_t interval, bool runMode, bool scanReadEnable);
  // Timer3 tick. One that falls inside a host's waiting call, on any control of the thread,
  // drains the queue when the outermost such call returns instead: its writes would wait for
  // the line that call holds (controls of a kind share their line state on a thread), holding
  // the call's return back behind them.
  void WriteTick();

  // Brackets a host's waiting call (calls nest); the outermost one on the thread runs the write
  // ticks that fell inside it as it returns, so a host that calls back to back still has its
  // queues drained. A queue's own write (queued) holds ticks off the same way but runs none: a
  // handler they raise could throw into the drain, which would count it as the write's failure
  // and write it again.
  class HostCall {
   public:
    explicit HostCall(bool queued = false) : queued_(queued), exceptions_(std::uncaught_exceptions()) {
      HostCallBegan(queued_);
    }
    // A host handler a tick raises may throw, as from any tick; a call that is itself
    // unwinding leaves the ticks to the next call's end.
    ~HostCall() noexcept(false) { HostCallEnded(queued_, std::uncaught_exceptions() > exceptions_); }
    HostCall(const HostCall&) = delete;
    HostCall& operator=(const HostCall&) = delete;

   private:
    bool queued_;
    int exceptions_;
  };

  // For groups 1..ScanGroupCount that this control scans and whose number is ScanRegGroup:
  // enabled := state. An index above 1000 fails with a subscript error (groups before it stay
  // changed).
  void SetScanRegGroup(std::int16_t ScanRegGroup, bool state);

  // Whether the control's scan-write timer still runs (unset: it does). A tick kept for the end
  // of a host's call is dropped when the host stopped the timer meanwhile: its writes wait for
  // WriteQueData or the timer's next tick, as after any stop.
  std::function<bool()> WriteTimerRunning;
  // Whether the control's scan-read timer still runs (unset: it does). The tick lets host
  // handlers run before each group; one that stops the scan or closes the port ends the tick
  // there, and the groups after it are not read.
  std::function<bool()> ReadTimerRunning;
  // The name the control has in its host; groups naming another control are not its own.
  std::function<std::string()> ControlName;
  // Raised at the end of each scan read.
  std::function<void(ScanCompletion&)> OnScanComplete;
  // The control's engine completed a read: when it was this scan's, its values are source's
  // elements first..first+count-1. Any other read is none of the scan's business.
  void ScanReadCompleted(const VariantArray& source, std::int32_t first, std::int32_t count);
  // The same with the values already in order.
  void ScanReadCompleted(std::vector<Variant> values);
  // The scan read in flight failed, and the line knows why at once.
  void ScanReadFailed(const std::string& reason);
  bool ScanReadPending() const { return pending_.has_value(); }
  // The request that ends now is this scan's read: pending, and begun by the send (not one the
  // send waited for), with no later request begun since.
  bool ScanReadOnLine() const;
  // Whether this control scans the group.
  bool Scans(const ScanGroup& group) const;

  bool ScanWriteActive() const { return *scanWriteActive_; }
  // A host write sets it for its whole run.
  void SetScanWriteActive(bool on) { *scanWriteActive_ = on; }

  // Milliseconds accumulated per group since its last read, index = group index.
  const std::vector<std::int32_t>& ScanElapsed() const { return elapsed_; }
  WriteQueue& Queue() { return queue_; }
  ScanDatabase& Database() { return db_; }

 private:
  struct Pending {
    std::int16_t index;
    std::int16_t group;
    std::uint32_t before;    // RequestsBegun as the send began
    std::uint32_t requests;  // RequestsBegun once it was sent
  };

  void ScanGroups(std::int32_t interval);
  // Waits for the line before a group's read; false when the host still holds it.
  bool AwaitLine();
  // The scan still runs on an open line.
  bool ScanGoesOn() const;
  // A read out when the host stops the scan still ends in its completion: while it is out, the
  // engine looks at it as a tick would, every half second the scan-read timer does not tick.
  void WatchPending();
  void SettleWhileStopped();
  std::int32_t& Elapsed(std::int32_t index);
  // A line found busy by ticks with the same request for 2 seconds is forced free; true when it
  // was (the tick goes on).
  bool FreeIfStuck();
  bool HasGroups() const;
  // Reports the pending read as failed when the line has moved on without completing it.
  void SettlePending(const std::string& reason = {});
  void Report(ScanCompletion& completion);
  static void HostCallBegan(bool queued);
  static void HostCallEnded(bool queued, bool unwinding);

  ScanLine& line_;
  EventLoop& loop_;
  ScanDatabase& db_;
  std::vector<std::int32_t> elapsed_;
  // The time of groups beyond ScanElapsed, which are only ever told they are not read.
  std::map<std::int32_t, std::int32_t> beyond_;
  bool ownScanWriteActive_ = false;
  bool* scanWriteActive_;
  WriteQueue queue_;
  std::optional<Pending> pending_;
  bool sending_ = false;  // inside SendScanRead
  struct Busy {
    std::int64_t since;      // wall seconds when ticks first found the line busy with it
    std::uint32_t request;   // RequestsBegun then
  };
  std::optional<Busy> busySince_;
  EventLoop::Handle watchPending_ = 0;
  bool writeTickDue_ = false;  // listed with the thread's host calls: a tick fell inside one
  Lifetime life_;  // a report lets a host handler run, which may unload the control
};

// ReadData(idx): element idx of the value buffer as a double (Empty gives 0). Subscript error
// outside the buffer's bounds, type mismatch for a non-numeric element.
double ReadData(const VariantArray& DataBuffer, std::int16_t idx);

// IOData(DataArr, Size): DataArr(i) := DataBuffer(i - 1) for i = 1..Size, so the first value
// of a read (DataBuffer(1)) lands in DataArr(2). A missing index on either side is a subscript
// error after the elements before it were copied; a Size below 1 copies nothing.
void IOData(const VariantArray& DataBuffer, VariantArray& DataArr, std::int16_t Size);

}  // namespace plc
