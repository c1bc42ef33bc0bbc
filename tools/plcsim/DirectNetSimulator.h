#pragma once
// The simulated DirectNET station on a line: DirectNetStation served on a serial device path
// (a pseudo-terminal for tests and the demo, or a real port), on a thread of its own, or as
// the command `plcsim directnet --port PATH [--station N]...`.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/plcsim/DirectNetStation.h"
#include "tools/plcsim/ServingThread.h"

namespace plc::sim {

struct DirectNetOptions {
  std::string devicePath;
  std::vector<int> stations{1};
  std::string settings = "9600,o,8,1";  // applied to a real port; a pseudo-terminal ignores speed
  int slowByteMicros = 3000;            // pause between bytes under StationFault::SlowBytes
};

class DirectNetSimulator {
 public:
  // Opens the device and starts serving; throws std::runtime_error when it cannot.
  explicit DirectNetSimulator(DirectNetOptions options);
  DirectNetSimulator(const DirectNetSimulator&) = delete;
  DirectNetSimulator& operator=(const DirectNetSimulator&) = delete;

  // Ends the thread and closes the device; idempotent.
  void Stop();
  void SetFault(StationFault fault);
  // As DirectNetStation's: what a one-word write stores (false where there is no memory), what
  // a one-word read returns, the eight points of a bit-area address, a station's whole memory.
  bool SetWord(int station, std::uint32_t address, std::uint16_t value);
  std::uint16_t Word(int station, std::uint32_t address) const;
  void SetByte(int station, std::uint32_t address, std::uint8_t value);
  std::uint8_t Byte(int station, std::uint32_t address) const;
  StationImage Image(int station) const;
  StationCounts Counts() const;
  long Completed() const;
  long Enquiries() const;

 private:
  DirectNetOptions options_;
  mutable std::mutex mutex_;
  DirectNetStation station_;
  ServingThread serving_;  // owns the device; last: it stops before the station goes
};

// Serves on fd until stopFd is readable (true) or the line is gone (false); lock guards station.
bool ServeDirectNet(int fd, int stopFd, DirectNetStation& station, std::mutex& lock, int slowByteMicros);

// Opens a serial device for a station with settingsText (OpenSimLine); throws
// std::runtime_error when it cannot: a bad text, a device in use, settings it does not take.
int OpenStationLine(const std::string& path, const std::string& settingsText);

// plcsim directnet ...
int RunDirectNetCommand(int argc, char** argv);

}  // namespace plc::sim
