#pragma once
// The operator panel's table: one row per address with its latest value and, when its latest
// read or write failed, the failure's text.
//
// Values come from non-waiting reads (ReadPLCNW), one request on the line at a time: every
// interval a sweep reads the rows in turn, the next request leaving only once the one before
// completed (its completion event), was refused, or went unanswered for 2 s, so a bus of
// several stations never sees two requests at once; a sweep still running when the next is due
// is not doubled. After an unanswered request the line stays quiet for a second more, with the
// control freed, so that a reply arriving late is dropped rather than taken for the next
// row's. Editing a value writes it (WritePLC) as soon as the line is free, then reads the row
// back.
//
// Toolkit-free: it runs on the thread's event loop (Qt's in plcpanel) and tells a view what
// changed. The host hands the control's events to OnEvent.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Control.h"
#include "platform/EventLoop.h"
#include "platform/IntervalTimer.h"

namespace plc::screens {

struct LiveRow {
  std::string address;
  std::string value{};    // as text; empty until first read
  std::string failure{};  // why the latest read or write failed; empty after a success
  bool onLine = false;    // a request for this row is on the line now
  bool stale = false;     // the value was read before MarkStale and not read since
  std::uint64_t id = 0;   // the table's own name for the row, which outlives its position
};

class LiveTable {
 public:
  // A request with no completion after this long is lost: the row says so and the control is
  // freed (CommBusy = False). The controls themselves give up on a reply within 2 s.
  static constexpr std::int64_t kReplyLimitMicros = 2'000'000;
  // How long the line stays quiet after a lost request before the next one leaves.
  static constexpr std::int64_t kQuietAfterLostMicros = 1'000'000;

  explicit LiveTable(Control& control, EventLoop& loop = EventLoop::Current());
  ~LiveTable();
  LiveTable(const LiveTable&) = delete;
  LiveTable& operator=(const LiveTable&) = delete;

  // Whether address can be a row: false with why for an empty one. The control judges the
  // rest when it reads the row.
  static bool CheckAddress(const std::string& address, std::string& why);
  // Adds a row; false with why where CheckAddress refuses it.
  bool AddRow(const std::string& address, std::string& why);
  void RemoveRow(std::size_t row);
  const std::vector<LiveRow>& Rows() const { return rows_; }

  // Sweeps every intervalMs (at least 1) from now on; Stop ends that (a request on the line
  // still ends as it would).
  void Start(std::int32_t intervalMs);
  void Stop();
  bool Running() const { return ticker_.Enabled(); }
  // One sweep now, unless one is running.
  void Sweep();
  bool Sweeping() const { return sweeping_; }
  // Nothing on the line, nothing waiting to go.
  bool Idle() const { return line_ == Line::Free && !sweeping_ && writes_.empty() && readBacks_.empty(); }

  // The values shown are no live ones any more (the port was closed): each row says so until
  // it is read again.
  void MarkStale();

  // Writes text, a number, to the row's address; false with why when it is none.
  bool Edit(std::size_t row, const std::string& text, std::string& why);

  // The control's events, as its event sink receives them.
  void OnEvent(const std::string& name, std::vector<Variant>& args);

  std::function<void(std::size_t row)> onRowChanged;
  // Every failure, with its row's address in front, for a status line.
  std::function<void(const std::string& text)> onFailure;

 private:
  enum class Line { Free, Reading, Writing };
  struct Write {
    std::uint64_t id;
    std::string address;
    double value;
  };

  void Next();
  void PostNext();
  // Looks at the line again at `at` (one such look at a time).
  void NextAt(std::int64_t at);
  void SendRead(std::size_t row);
  void RunWrite(const Write& w);
  void EndLine(const std::string& failure, const Variant* value);
  // A request is on the line: Lost() after kReplyLimitMicros without its completion.
  void ArmWatchdog();
  void Lost();
  // The control's cause of its last failure (ReadErrors with FailureCause); empty when it
  // gave none.
  std::string WhyFailed();
  // WhyFailed, or a text of the result code when the control gave no cause.
  std::string WhyRefused(std::int32_t result);
  bool NonWaitingReadSent(std::int32_t result) const;
  bool Busy() const;
  void FreeControl();
  std::ptrdiff_t RowOf(std::uint64_t id) const;
  void Changed(std::size_t row);

  Control& control_;
  EventLoop& loop_;
  IntervalTimer ticker_;
  std::vector<LiveRow> rows_;
  std::uint64_t nextId_ = 1;
  Line line_ = Line::Free;
  std::uint64_t lineRow_ = 0;
  EventLoop::Handle watchdog_ = 0;
  EventLoop::Handle retry_ = 0;  // the next look at a control someone else holds, or a quiet line
  std::optional<std::int64_t> busySince_;
  std::int64_t quietUntil_ = 0;  // no request leaves before this (after a lost one)
  bool sweeping_ = false;
  std::size_t sweepAt_ = 0;
  bool nextPosted_ = false;
  std::deque<Write> writes_;
  std::deque<std::uint64_t> readBacks_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace plc::screens
