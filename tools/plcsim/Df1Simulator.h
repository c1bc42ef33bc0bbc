#pragma once
// The simulated DF1 PLC on a serial device path (a pseudo-terminal end, or a real port), on
// a thread of its own: for tests, the benchmark and plclink's demo. RunDf1Simulator is the
// plcsim command that does the same in the foreground.
#include <cstdint>
#include <string>

#include "tools/plcsim/Df1SimPlc.h"
#include "tools/plcsim/ServingThread.h"

namespace plc::sim {

struct Df1SimOptions {
  std::string devicePath;
  bool bcc = false;
  int baud = 19200;
  // Bytes leave at the baud rate, as on a real line (a pseudo-terminal has no speed of its own).
  bool pace = false;
  int turnaroundMs = 5;
  int ackTimeoutMs = 1000;

  Df1SimSettings Settings() const;
};

class Df1Simulator {
 public:
  // Returns once the device is open; throws std::runtime_error when it cannot be opened.
  explicit Df1Simulator(Df1SimOptions options);
  Df1Simulator(const Df1Simulator&) = delete;
  Df1Simulator& operator=(const Df1Simulator&) = delete;

  Df1SimPlc& Plc() { return plc_; }
  // Ends the thread and closes the device; idempotent.
  void Stop();

 private:
  Df1SimOptions options_;
  Df1SimPlc plc_;
  ServingThread serving_;  // owns the device; last: it stops before the PLC goes
};

// Whether a speed is one the line can be set to.
bool IsDf1Speed(int baud);

// Opens a serial device for the PLC at the speed, 8 data bits, no parity (OpenSimLine);
// SimLineError when it cannot.
int OpenDf1Device(const std::string& path, int baud);

// Serves the PLC on fd until stopFd (when not -1) becomes readable or, with maxRequests > 0,
// that many requests were answered and their replies acknowledged (or given up). A
// CloseMidReply fault closes the device and opens it again after a pause; fd is updated.
// Returns 0, or 1 when the device fails.
int ServeDf1(Df1SimPlc& plc, int& fd, const Df1SimOptions& options, int stopFd, long maxRequests);

// plcsim df1 --port PATH [--bcc] [--baud N] [--pace] [--turnaround MS] [--ack-timeout MS]
//            [--fault NAME] [--times N]
int RunDf1Simulator(int argc, char** argv);

}  // namespace plc::sim
