#pragma once
// The three interval timers of a control: Timer1 the reply watchdog, Timer2 the scan-read
// timer, Timer3 the scan-write timer (DfLink uses them for its link instead). Their intervals
// start at the design values; what each tick does belongs to the engines, which set OnTick.
//
// The rules: timers run only in run mode; Show stops all three; a stored control that loads
// in run mode starts the watchdog and each scan timer whose enable flag was stored True;
// setting ScanReadEnable or ScanWriteEnable starts or stops its timer, and at design time
// leaves it stopped.
#include <cstdint>

#include "platform/IntervalTimer.h"

namespace plc {

struct TimerDesign {
  std::int32_t timer1;
  std::int32_t timer2;
  std::int32_t timer3;
};

// RtuLink, SeqLink and UdpLink: watchdog 2000 ms, scan read 500 ms, scan write 250 ms.
inline constexpr TimerDesign kScanTimerDesign{2000, 500, 250};

class LinkTimers {
 public:
  explicit LinkTimers(TimerDesign design) : timer1_(design.timer1), timer2_(design.timer2), timer3_(design.timer3) {}

  IntervalTimer& Timer1() { return timer1_; }
  IntervalTimer& Timer2() { return timer2_; }
  IntervalTimer& Timer3() { return timer3_; }

  void StopAll() {
    timer1_.SetEnabled(false);
    timer2_.SetEnabled(false);
    timer3_.SetEnabled(false);
  }

  // After loading stored properties: in run mode the watchdog and the enabled scan timers
  // run; at design time nothing does.
  void StartForRun(bool runMode, bool scanRead, bool scanWrite) {
    if (!runMode) {
      StopAll();
      return;
    }
    timer1_.SetEnabled(true);
    timer2_.SetEnabled(scanRead);
    timer3_.SetEnabled(scanWrite);
  }

  void FollowScanRead(bool enable, bool runMode) { timer2_.SetEnabled(enable && runMode); }
  void FollowScanWrite(bool enable, bool runMode) { timer3_.SetEnabled(enable && runMode); }

 private:
  IntervalTimer timer1_;
  IntervalTimer timer2_;
  IntervalTimer timer3_;
};

}  // namespace plc
