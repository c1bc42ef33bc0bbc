// DfLink's background work, as the serial controls have it: Timer1 is the scan-read tick, which
// sends each due group as a non-waiting read of the control's Address; Timer3 drains the write
// queue. A scan read's closing is raised as ScanComplete and a queued write's as
// WriteQueComplete, not as CommComplete: the host asked for neither.
#include "base/RuntimeError.h"
#include "frame/ScanEvents.h"
#include "frame/WallSeconds.h"
#include "df1/DfLink.h"

namespace plc {

namespace df1 {

class DfScanLine final : public ScanLine {
 public:
  explicit DfScanLine(DfLink& link) : link_(link) {}

  bool LineOpen() const override { return link_.PortOpen(); }
  bool CommBusy() const override { return State().Busy || !State().LineFree; }
  // A write on the line (it holds the driver until its reply).
  bool WriteActive() const override { return State().CancelWait; }
  void ForceFree() override { link_.engine_.SetCommBusy(false); }
  // DfLink keeps no count of failed transactions.
  void CountError() override {}
  std::int16_t UnitAddress() const override {
    try {
      return link_.Address().ToInt16();
    } catch (const RuntimeError&) {
      return -1;
    }
  }
  std::uint32_t RequestsBegun() const override { return static_cast<std::uint32_t>(State().RequestsSent); }
  // Why the read was not sent; once sent, a read that ended with no closing (the scan freed the
  // line) had no reply.
  std::string LastFailure() const override {
    if (!failure_.empty() || sent_.empty()) return failure_;
    return "no reply from station " + std::to_string(UnitAddress()) + " to " + sent_ + " within 2 s";
  }

  bool SendScanRead(std::int16_t unit, const Variant& address, std::int16_t count) override {
    failure_.clear();
    sent_.clear();
    if (unit != UnitAddress()) {
      failure_ = "DfLink reads from its Address (" + std::to_string(UnitAddress()) + "), not unit " +
                 std::to_string(unit);
      return false;
    }
    const std::string text = address.ToString();
    const std::uint64_t before = State().RequestsSent;
    const Control::KeptFailureCause hostCause(link_);
    const Result result = link_.NonWaitingRead(text, Opt<std::int16_t>(count), false);
    if (State().RequestsSent != before) {
      sent_ = State().OnLine ? State().OnLine->What() : "the read of " + text;
      return true;
    }
    failure_ = link_.FailureCause();
    if (!failure_.empty()) return false;
    if (result == ResultNoTag) failure_ = "no tag named '" + text + "'";
    else if (result == ResultBadAddress) failure_ = "address '" + text + "' not understood";
    return false;
  }

 private:
  Df1State& State() const { return link_.engine_.State(); }

  DfLink& link_;
  std::string failure_;
  std::string sent_;  // the read on its way, as texts name it
};

}  // namespace df1

std::unique_ptr<ScanLine> DfLink::MakeScanLine(DfLink& link) { return std::make_unique<df1::DfScanLine>(link); }

void DfLink::WireScan() {
  WireScanEngine(scan_, *this,
                 ScanHooks{[this](const char* event, std::vector<Variant>& args) { RaiseEvent(event, args); },
                           [this] { return NumOfWriteRetries(); },
                           [this](const Variant& address, std::int32_t value, std::optional<std::int16_t> station) {
                             return QueuedWrite(address, value, station);
                           },
                           [this] { return engine_.Copies().Address; }});
  timers_.Timer1().OnTick = [this] { scan_.ReadTick(timers_.Timer1().Interval(), RunMode(), ScanReadEnable()); };
  timers_.Timer3().OnTick = [this] { scan_.WriteTick(); };
  scan_.WriteTimerRunning = [this] { return timers_.Timer3().Running(); };
  scan_.ReadTimerRunning = [this] { return timers_.Timer1().Running(); };
}

void DfLink::SetScanReadEnable(bool value) {
  scanReadEnable_ = value;
  timers_.Timer1().SetEnabled(value && RunMode());
}

void DfLink::SetScanWriteEnable(bool value) {
  scanWriteEnable_ = value;
  timers_.Timer3().SetEnabled(value && RunMode());
}

bool DfLink::ScanClosed(const df1::LinkClosing& closing, const df1::Transaction& t) {
  if (queuedWrite_ && !queuedWrite_->closed && t.number == queuedWrite_->number) {
    queuedWrite_->closed = true;
    queuedWrite_->closing = closing;
    return true;
  }
  if (!scan_.ScanReadOnLine()) return false;
  if (closing.status == ResultOk) {
    scan_.ScanReadCompleted(engine_.State().DataBuffer, 1, t.count);
  } else {
    scan_.ScanReadFailed(!closing.cause.empty() ? closing.cause
                         : !closing.text.empty() ? closing.text
                                                 : "the read failed (status " + std::to_string(closing.status) + ")");
  }
  return true;
}

// One element written as WritePLC writes it, to the station of its queuing, then its reply
// awaited (DfLink's write returns once the request is sent). The host's failure cause is its own
// calls'; the queue keeps it around this write.
WriteQueue::Attempt DfLink::QueuedWrite(const Variant& address, std::int32_t value,
                                        std::optional<std::int16_t> station) {
  std::string text = address.ToString();
  VariantArray values(1, 1);
  values.Set(1, Variant(value));
  WriteQueue::Attempt attempt;
  // The write waits for the line first; a scan read closing meanwhile is the scan's. Once the
  // write is sent, only its own closing is its: a read a handler sends after a write that is
  // never answered raises the host's CommComplete.
  Opt<std::int16_t> one(std::int16_t{1});
  if (Write(text, values, one, false, station) != ResultOk) {
    attempt = {false, WriteFailureText(FailureCause(), "the write of " + text + " was not sent")};
  } else {
    queuedWrite_.emplace();
    queuedWrite_->number = engine_.State().RequestsSent;
    EventLoop& loop = engine_.Loop();
    WaitSeconds(loop, [this] { return queuedWrite_->closed; }, WallNow(loop), df1::kWriteWaitSeconds);
    if (!queuedWrite_->closed) {
      attempt = {false, "no reply to the write of " + text + " within 2 s"};
    } else if (queuedWrite_->closing.status != ResultOk) {
      attempt = {false, WriteFailureText(queuedWrite_->closing.cause, queuedWrite_->closing.text)};
    } else {
      attempt = {true, {}};
    }
  }
  queuedWrite_.reset();
  return attempt;
}

}  // namespace plc
