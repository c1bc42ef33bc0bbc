#pragma once
// A DirectNET station on a device that vanishes and comes back under the same path (see
// VanishingLine); the station's memory lives on across.
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/VanishingLine.h"
#include "tools/plcsim/DirectNetSimulator.h"

namespace plc::test {

class VanishingStationLine {
 public:
  explicit VanishingStationLine(std::vector<int> stations)
      : station_(std::move(stations)),
        line_("ttyV0", [this](int& fd, int stopFd) { sim::ServeDirectNet(fd, stopFd, station_, lock_, 0); }) {
    Return();
  }

  // The device path a port opens.
  const std::string& Path() const { return line_.Path(); }
  void Vanish() { line_.Vanish(); }
  void Return() { line_.Return(); }

  template <class F>
  auto WithStation(F f) {
    std::lock_guard<std::mutex> guard(lock_);
    return f(station_);
  }

 private:
  std::mutex lock_;
  sim::DirectNetStation station_;
  VanishingLine line_;  // last: its serving thread stops before the station goes
};

}  // namespace plc::test
