#pragma once
// The controls on Qt's event loop. A Qt program makes one QtEventLoop on its GUI thread
// before it makes any control: the loop installs itself as the thread's current loop, so the
// controls' ports, timers and posted calls run on Qt's loop while QApplication::exec() runs the
// window, and every wait of a waiting call (ReadPLC, WritePLC...) is a nested Qt loop: the
// window keeps painting and answering while the call waits, as the classic hosts did.
//
// Descriptors are watched by QSocketNotifiers; the timer queue is one precise QTimer armed for
// the earliest timer; posted calls are one queued call that runs them all. It needs a
// QCoreApplication (or QApplication) on this thread and a real clock: Qt's timers run on real
// time, so a manual clock is refused.
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/TimerQueue.h"

namespace plc::qt {

class QtEventLoop final : public EventLoop {
 public:
  // Throws std::logic_error without a QCoreApplication on this thread or with a manual clock.
  explicit QtEventLoop(Clock& clock = TheSystemClock());
  ~QtEventLoop() override;

  Handle WatchFd(int fd, std::function<void(short revents)> cb) override;
  void UnwatchFd(Handle h) override;
  Handle AddTimer(std::int64_t dueMicros, std::function<void()> cb) override;
  void CancelTimer(Handle h) override;
  void Post(std::function<void()> cb) override;
  void DoEvents() override;
  bool WaitUntil(const std::function<bool()>& done, std::int64_t deadlineMicros) override;

  // The nesting depth of waits now running (0: none), for tests and diagnostics.
  int WaitDepth() const { return waitDepth_; }

 private:
  struct Watch {
    int fd;
    std::unique_ptr<QSocketNotifier> notifier;
    // Shared, so that a dispatch holds the callback alive (it may unwatch itself).
    std::shared_ptr<const std::function<void(short)>> cb;
  };
  void Readable(Handle h);
  void RunDueTimers();
  void ArmTimer();
  void RunPosted();

  QObject anchor_;  // the context of the loop's own Qt connections and queued calls
  QTimer timer_;
  Handle next_ = 1;
  std::map<Handle, Watch> watches_;
  TimerQueue timers_;
  std::vector<std::function<void()>> posted_;
  bool postQueued_ = false;
  int waitDepth_ = 0;
  std::unique_ptr<ScopedCurrentLoop> current_;
};

}  // namespace plc::qt
