#include "screens/LiveTable.h"

#include "base/ResultCodes.h"
#include "base/RuntimeError.h"

namespace plc::screens {

namespace {
// How long to wait before trying again when another caller holds the control.
constexpr std::int64_t kBusyRetryMicros = 50'000;

bool IsCompletion(const std::string& event) { return event == "CommComplete" || event == "CommCompleteEx"; }
}  // namespace

LiveTable::LiveTable(Control& control, EventLoop& loop) : control_(control), loop_(loop), ticker_(0, loop) {
  ticker_.OnTick = [this] { Sweep(); };
}

LiveTable::~LiveTable() {
  *alive_ = false;
  if (watchdog_) loop_.CancelTimer(watchdog_);
  if (retry_) loop_.CancelTimer(retry_);
}

bool LiveTable::CheckAddress(const std::string& address, std::string& why) {
  if (address.find_first_not_of(" \t") != std::string::npos) return true;
  why = "an address is needed";
  return false;
}

bool LiveTable::AddRow(const std::string& address, std::string& why) {
  if (!CheckAddress(address, why)) return false;
  rows_.push_back(LiveRow{address});
  rows_.back().id = nextId_++;
  return true;
}

void LiveTable::RemoveRow(std::size_t row) {
  if (row >= rows_.size()) return;
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
  if (sweepAt_ > row) --sweepAt_;
}

std::ptrdiff_t LiveTable::RowOf(std::uint64_t id) const {
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].id == id) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

void LiveTable::Changed(std::size_t row) {
  if (onRowChanged) onRowChanged(row);
}

void LiveTable::Start(std::int32_t intervalMs) {
  ticker_.SetInterval(std::max(intervalMs, 1));
  ticker_.SetEnabled(true);
  Sweep();
}

void LiveTable::Stop() {
  ticker_.SetEnabled(false);
  sweeping_ = false;
}

void LiveTable::Sweep() {
  if (sweeping_) return;
  sweeping_ = true;
  sweepAt_ = 0;
  PostNext();
}

void LiveTable::MarkStale() {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].value.empty() || rows_[i].stale) continue;
    rows_[i].stale = true;
    Changed(i);
  }
}

bool LiveTable::Edit(std::size_t row, const std::string& text, std::string& why) {
  if (row >= rows_.size()) {
    why = "no such row";
    return false;
  }
  if (text.find_first_not_of(" \t") == std::string::npos) {
    why = "a value is needed";
    return false;
  }
  double value = 0;
  try {
    value = Variant(text).ToDouble();
  } catch (const RuntimeError&) {
    why = "'" + text + "' is not a number";
    return false;
  }
  writes_.push_back(Write{rows_[row].id, rows_[row].address, value});
  PostNext();
  return true;
}

// Each step runs from the loop, never inside the control's own call or event.
void LiveTable::PostNext() {
  if (nextPosted_) return;
  nextPosted_ = true;
  std::weak_ptr<bool> alive = alive_;
  loop_.Post([this, alive] {
    if (alive.expired()) return;
    nextPosted_ = false;
    Next();
  });
}

void LiveTable::NextAt(std::int64_t at) {
  if (retry_) return;
  std::weak_ptr<bool> alive = alive_;
  retry_ = loop_.AddTimer(at, [this, alive] {
    if (alive.expired()) return;
    retry_ = 0;
    PostNext();
  });
}

void LiveTable::Next() {
  if (line_ != Line::Free) return;
  if (writes_.empty() && readBacks_.empty() && !(sweeping_ && sweepAt_ < rows_.size())) {
    sweeping_ = false;
    return;
  }
  if (loop_.Now() < quietUntil_) return NextAt(quietUntil_);
  if (Busy()) {
    // Another caller of this control is on the line: wait for it, as long as a reply may take.
    if (!busySince_) busySince_ = loop_.Now();
    if (loop_.Now() - *busySince_ < kReplyLimitMicros) return NextAt(loop_.Now() + kBusyRetryMicros);
    // Held past any reply: a call that sent nothing left the control busy.
    FreeControl();
  }
  busySince_.reset();
  if (!writes_.empty()) {
    Write w = writes_.front();
    writes_.pop_front();
    RunWrite(w);
    return;
  }
  while (!readBacks_.empty()) {
    std::ptrdiff_t row = RowOf(readBacks_.front());
    readBacks_.pop_front();
    if (row >= 0) return SendRead(static_cast<std::size_t>(row));
  }
  if (sweeping_ && sweepAt_ < rows_.size()) SendRead(sweepAt_++);
  else PostNext();
}

bool LiveTable::Busy() const {
  try {
    return control_.GetProperty("CommBusy").ToBool();
  } catch (const RuntimeError&) {
    return false;
  }
}

void LiveTable::FreeControl() {
  try {
    control_.SetProperty("CommBusy", Variant(false));
  } catch (const RuntimeError&) {
  }
}

bool LiveTable::NonWaitingReadSent(std::int32_t result) const {
  // DfLink's ReadPLCNW returns 0 for a request sent; the others -1.
  if (NamesEqual(control_.ClassName(), "DfLink")) return result == ResultFailed;
  return result == ResultOk;
}

std::string LiveTable::WhyFailed() {
  std::string errors;
  try {
    errors = control_.Invoke("ReadErrors", {}).ToString();
  } catch (const RuntimeError&) {
  }
  std::string why = control_.FailureCause();
  if (!errors.empty() && errors != why) why = why.empty() ? errors : errors + " (" + why + ")";
  return why;
}

std::string LiveTable::WhyRefused(std::int32_t result) {
  std::string why = WhyFailed();
  return why.empty() ? "result " + std::to_string(result) + ", and the control gave no cause" : why;
}

void LiveTable::ArmWatchdog() {
  std::weak_ptr<bool> alive = alive_;
  watchdog_ = loop_.AddTimer(loop_.Now() + kReplyLimitMicros, [this, alive] {
    if (alive.expired()) return;
    watchdog_ = 0;
    Lost();
  });
}

void LiveTable::SendRead(std::size_t row) {
  const std::uint64_t id = rows_[row].id;
  line_ = Line::Reading;
  lineRow_ = id;
  rows_[row].onLine = true;
  Changed(row);
  ArmWatchdog();
  Variant address(rows_[row].address), values(VariantArray(1, 1)), size(std::int16_t{1});
  std::int32_t result = 0;
  std::string failure;
  try {
    result = control_.Invoke("ReadPLCNW", {&address, &values, &size}).ToInt32();
    if (!NonWaitingReadSent(result)) failure = WhyRefused(result);
  } catch (const RuntimeError& e) {
    failure = e.what();
  }
  // A control may complete the read inside the call (UdpLink over ECOM): then it is over.
  if (line_ == Line::Reading && lineRow_ == id && !failure.empty()) {
    // Nothing went out, yet a control may stay busy after a refused read (DfLink until its
    // watchdog, which a new control does not run): the line is ours and free.
    FreeControl();
    EndLine(failure, nullptr);
  }
}

void LiveTable::RunWrite(const Write& w) {
  std::ptrdiff_t row = RowOf(w.id);
  line_ = Line::Writing;
  lineRow_ = w.id;
  if (row >= 0) {
    rows_[static_cast<std::size_t>(row)].onLine = true;
    Changed(static_cast<std::size_t>(row));
  }
  VariantArray one(1, 1);
  one.Set(1, Variant(w.value));
  Variant address(w.address), values(std::move(one)), size(std::int16_t{1});
  std::string failure;
  bool later = false;
  try {
    std::int32_t result = control_.Invoke("WritePLC", {&address, &values, &size}).ToInt32();
    if (result != ResultOk) failure = WhyRefused(result);
    // A write acknowledged later (DfLink) holds the control until its completion.
    else later = control_.GetProperty("CommBusy").ToBool();
  } catch (const RuntimeError& e) {
    failure = e.what();
  }
  if (later && line_ == Line::Writing) return ArmWatchdog();
  if (line_ == Line::Writing) EndLine(failure, nullptr);
}

void LiveTable::OnEvent(const std::string& name, std::vector<Variant>& args) {
  if (!IsCompletion(name) || line_ == Line::Free) return;
  std::string failure;
  Variant value;
  bool hasValue = false;
  if (args.size() >= 5) {
    // MData, its address, count, ErrorStr, RespStatus (RtuLink's CommCompleteEx, DfLink's
    // CommComplete).
    const std::int32_t status = args[4].ToInt32();
    if (status != ResultOk) {
      const std::string text = args[3].ToString();
      failure = (text.empty() ? "" : text + " ") + "(status " + std::to_string(status) + ")";
    } else if (line_ == Line::Reading && args[0].IsArray() && args[0].Array().Contains(1)) {
      value = args[0].Array().Get(1);
      hasValue = true;
    }
  } else if (line_ == Line::Reading) {
    // A completion without arguments (SeqLink, UdpLink) leaves the values in ReadData.
    try {
      Variant one(std::int16_t{1});
      value = control_.Invoke("ReadData", {&one});
      hasValue = true;
    } catch (const RuntimeError& e) {
      failure = e.what();
    }
  }
  EndLine(failure, hasValue ? &value : nullptr);
}

void LiveTable::Lost() {
  // The control's own cause where it has one; else what to look at.
  std::string why = "no completion within 2 s";
  const std::string cause = WhyFailed();
  if (!cause.empty()) why += ": " + cause;
  else why += ", and the control gave no cause: check that the station is on the line, its address and the settings";
  // Freed, the control drops a reply that still comes; the quiet second lets it come.
  FreeControl();
  quietUntil_ = loop_.Now() + kQuietAfterLostMicros;
  EndLine(why, nullptr);
}

void LiveTable::EndLine(const std::string& failure, const Variant* value) {
  if (watchdog_) loop_.CancelTimer(watchdog_);
  watchdog_ = 0;
  const bool wrote = line_ == Line::Writing;
  line_ = Line::Free;
  std::ptrdiff_t at = RowOf(lineRow_);
  if (at >= 0) {
    LiveRow& row = rows_[static_cast<std::size_t>(at)];
    row.onLine = false;
    row.failure = failure;
    if (value) {
      try {
        row.value = value->ToString();
      } catch (const RuntimeError&) {
        row.value = "?";
      }
      row.stale = false;
    }
    Changed(static_cast<std::size_t>(at));
    if (!failure.empty() && onFailure) onFailure(row.address + ": " + failure);
    // What was written is read back, so the table shows what the PLC holds.
    if (wrote && failure.empty()) readBacks_.push_back(lineRow_);
  }
  PostNext();
}

}  // namespace plc::screens
