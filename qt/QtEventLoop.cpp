#include "qt/QtEventLoop.h"

#include <poll.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <algorithm>
#include <limits>
#include <stdexcept>

namespace plc::qt {

namespace {

// Milliseconds until a monotonic time, rounded up so that a timer never fires before it.
int MillisUntil(std::int64_t dueMicros, std::int64_t nowMicros) {
  const std::int64_t left = std::max<std::int64_t>(0, dueMicros - nowMicros);
  return static_cast<int>(std::min<std::int64_t>((left + 999) / 1000, std::numeric_limits<int>::max()));
}

}  // namespace

QtEventLoop::QtEventLoop(Clock& clock) : EventLoop(clock) {
  if (clock.IsManual()) throw std::logic_error("QtEventLoop: Qt's timers run on real time, not on a manual clock");
  if (!QCoreApplication::instance() || QCoreApplication::instance()->thread() != QThread::currentThread())
    throw std::logic_error("QtEventLoop: make the QApplication first, on this thread");
  timer_.setSingleShot(true);
  timer_.setTimerType(::Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, &anchor_, [this] { RunDueTimers(); });
  current_ = std::make_unique<ScopedCurrentLoop>(*this);
}

QtEventLoop::~QtEventLoop() {
  current_.reset();
  for (auto& [h, w] : watches_) w.notifier->setEnabled(false);
}

EventLoop::Handle QtEventLoop::WatchFd(int fd, std::function<void(short)> cb) {
  const Handle h = next_++;
  auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, &anchor_, [this, h] { Readable(h); });
  watches_.emplace(h, Watch{fd, std::move(notifier), std::make_shared<const std::function<void(short)>>(std::move(cb))});
  return h;
}

void QtEventLoop::UnwatchFd(Handle h) {
  auto it = watches_.find(h);
  if (it == watches_.end()) return;
  // Off the dispatcher now (the descriptor may close next); deleted once back in the loop,
  // since this may run inside the notifier's own signal.
  it->second.notifier->setEnabled(false);
  it->second.notifier.release()->deleteLater();
  watches_.erase(it);
}

// Qt says readable; the callback gets what poll(2) says, as on the poll loop, so that a
// hang-up looks the same on both.
void QtEventLoop::Readable(Handle h) {
  auto it = watches_.find(h);
  if (it == watches_.end()) return;
  pollfd p{it->second.fd, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0 || p.revents == 0) return;
  std::shared_ptr<const std::function<void(short)>> cb = it->second.cb;
  (*cb)(p.revents);
}

EventLoop::Handle QtEventLoop::AddTimer(std::int64_t dueMicros, std::function<void()> cb) {
  const Handle h = next_++;
  timers_.Add(h, dueMicros, std::move(cb));
  ArmTimer();
  return h;
}

void QtEventLoop::CancelTimer(Handle h) {
  timers_.Cancel(h);
  ArmTimer();
}

void QtEventLoop::ArmTimer() {
  if (timers_.Empty()) {
    timer_.stop();
    return;
  }
  timer_.start(MillisUntil(timers_.NextDue(), Now()));
}

void QtEventLoop::RunDueTimers() {
  // Armed for the rest before each callback: a callback that waits must still see later
  // timers fire.
  timers_.RunDue(Now(), [this] { ArmTimer(); });
  ArmTimer();
}

void QtEventLoop::Post(std::function<void()> cb) {
  posted_.push_back(std::move(cb));
  if (postQueued_) return;
  postQueued_ = true;
  QMetaObject::invokeMethod(&anchor_, [this] { RunPosted(); }, ::Qt::QueuedConnection);
}

void QtEventLoop::RunPosted() {
  postQueued_ = false;
  std::vector<std::function<void()>> posted;
  posted.swap(posted_);
  for (auto& cb : posted) cb();
}

void QtEventLoop::DoEvents() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  // A timer due by our clock runs now, even when Qt would take it at its next millisecond.
  RunDueTimers();
}

bool QtEventLoop::WaitUntil(const std::function<bool()>& done, std::int64_t deadlineMicros) {
  if (done()) return true;
  ++waitDepth_;
  QEventLoop nested;
  QTimer wake;  // ends the wait at its deadline when nothing else happens
  wake.setSingleShot(true);
  wake.setTimerType(::Qt::PreciseTimer);
  bool finished = false;
  while (!(finished = done())) {
    const std::int64_t now = Now();
    if (now >= deadlineMicros) break;
    if (!wake.isActive()) wake.start(MillisUntil(deadlineMicros, now));
    nested.processEvents(QEventLoop::WaitForMoreEvents);
  }
  --waitDepth_;
  return finished;
}

}  // namespace plc::qt
