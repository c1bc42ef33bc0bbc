#pragma once
// A UDP path with a fault-injecting relay in the middle: the control sends its datagrams to the
// relay's port instead of the module's, and the relay's thread carries them on and the answers
// back, acting out the armed faults on whole datagrams.
#include <cstdint>
#include <thread>

#include "bench/faults/FaultRelay.h"

namespace plc::faults {

class FaultDatagrams final : public FaultRelay {
 public:
  // Relays to the module at 127.0.0.1:modulePort. Throws std::system_error when no socket can
  // be had.
  FaultDatagrams(std::uint32_t seed, ScriptTiming timing, std::uint16_t modulePort);
  ~FaultDatagrams() override;
  FaultDatagrams(const FaultDatagrams&) = delete;
  FaultDatagrams& operator=(const FaultDatagrams&) = delete;

  // The port the control is to send to, on 127.0.0.1.
  std::uint16_t Port() const { return port_; }

 private:
  void Wake() override;
  void Run();

  int front_ = -1;  // faces the control
  int back_ = -1;   // faces the module
  std::uint16_t port_ = 0;
  std::uint16_t modulePort_ = 0;
  int wake_ = -1;
  int stop_ = -1;
  std::thread relay_;
};

}  // namespace plc::faults
