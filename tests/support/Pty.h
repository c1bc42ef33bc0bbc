#pragma once
// Pseudo-terminals for tests, so that ports run on a real tty line without hardware.
//
// Pty is one pair: a port opens the device end by its path (found at run time), the test plays
// the far end. PtyLink joins two pairs with a relay thread, giving two device paths that talk to
// each other, for a peer program that opens a device by path (libmodbus, pymodbus, mbpoll)
// against a port of ours. ScopedCommPort points a CommPort number at a path for one scope.
#include <termios.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/PseudoTerminalLink.h"

namespace plc::test {

using PtyBytes = std::vector<std::uint8_t>;

class Pty {
 public:
  // Throws std::runtime_error when the system gives no pseudo-terminal.
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  // The device a port opens, e.g. /dev/pts/3.
  const std::string& DevicePath() const { return path_; }
  // The far end's descriptor (non-blocking), for tests that poll it themselves.
  int FarFd() const { return far_; }
  bool FarOpen() const { return far_ >= 0; }

  // The line settings the device holds now (what a port applied). The helper keeps the device
  // end open itself, so the line also survives a port closing and reopening it.
  termios DeviceTermios() const;

  // Writes everything at the far end; throws std::runtime_error if the line takes it not all
  // within the timeout.
  void Write(const PtyBytes& data, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  void Write(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Reads at the far end until count bytes came or the timeout passed; returns what came.
  PtyBytes Read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  std::string ReadText(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Reads what arrives until the line has been quiet for the given time.
  PtyBytes ReadUntilQuiet(std::chrono::milliseconds quiet = std::chrono::milliseconds(100));

  // Hangs up the far end: the device end then reads end of line and writes fail.
  void CloseFar();

 private:
  int far_ = -1;
  int device_ = -1;
  std::string path_;
};

// Maps a CommPort number to a path for this scope; restores the earlier mapping after.
class ScopedCommPort {
 public:
  ScopedCommPort(int commPort, const std::string& path);
  ~ScopedCommPort();
  ScopedCommPort(const ScopedCommPort&) = delete;
  ScopedCommPort& operator=(const ScopedCommPort&) = delete;

 private:
  int commPort_;
  std::optional<std::string> previous_;
};

// Two device paths joined back to back: what one side writes, the other reads.
class PtyLink {
 public:
  const std::string& PathA() const { return link_.PathA(); }
  const std::string& PathB() const { return link_.PathB(); }

 private:
  PseudoTerminalLink link_;
};

}  // namespace plc::test
