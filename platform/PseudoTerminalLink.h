#pragma once
// A serial line without hardware: two pseudo-terminals joined back to back by a relay thread,
// so that both ends are device paths a port opens by name. What one end writes, the other
// reads, byte for byte and in order.
//
// The link keeps both device ends open itself, so a port may close and reopen its end without
// hanging up the line. Bytes for an end that nobody reads are dropped after a short while
// rather than stalling the other direction for good.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

namespace plc {

// Writes all of data to a non-blocking descriptor, waiting for room until the deadline or
// until stopFd (when not -1) becomes readable. False when it gave up.
bool WriteAllBefore(int fd, const std::uint8_t* data, std::size_t size, std::chrono::steady_clock::time_point deadline,
                    int stopFd = -1);

class PseudoTerminalLink {
 public:
  // Throws std::system_error when the system gives no pseudo-terminal.
  PseudoTerminalLink();
  ~PseudoTerminalLink();  // stops and joins the relay
  PseudoTerminalLink(const PseudoTerminalLink&) = delete;
  PseudoTerminalLink& operator=(const PseudoTerminalLink&) = delete;

  const std::string& PathA() const { return a_.path; }
  const std::string& PathB() const { return b_.path; }

 private:
  struct End {
    int far = -1;     // the relay's side, non-blocking
    int device = -1;  // held open so the line survives a port's close
    std::string path;
  };
  static void OpenEnd(End& end);
  static void CloseEnd(End& end);
  void Relay();

  End a_;
  End b_;
  int stop_ = -1;  // eventfd: readable once the relay is to end
  std::thread relay_;
};

}  // namespace plc
