#pragma once
// A serial line with a fault-injecting relay in the middle: two pseudo-terminals, one for the
// control and one for the simulated PLC, joined by a thread that carries the bytes and acts out
// the armed faults. Both device ends stay open for the line's life, so a port may close and
// reopen its end.
#include <string>
#include <thread>

#include "bench/faults/FaultRelay.h"

namespace plc::faults {

class FaultLine final : public FaultRelay {
 public:
  // Throws std::system_error when the system gives no pseudo-terminal.
  FaultLine(std::uint32_t seed, ScriptTiming timing);
  ~FaultLine() override;
  FaultLine(const FaultLine&) = delete;
  FaultLine& operator=(const FaultLine&) = delete;

  const std::string& ControlPath() const { return control_.path; }
  const std::string& DevicePath() const { return device_.path; }

 private:
  struct End {
    int far = -1;
    int held = -1;  // the device end, held open
    std::string path;
  };
  static void Open(End& end);
  static void Close(End& end);
  void Wake() override;
  void Run();

  End control_;
  End device_;
  int wake_ = -1;
  int stop_ = -1;
  std::thread relay_;
};

}  // namespace plc::faults
