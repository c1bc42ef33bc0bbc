#pragma once
// Third-party test peers as child processes: a server that runs beside a test and talks over
// its stdin and stdout (PeerProcess), and a program that runs to completion (RunProgram).
//
// A peer that is missing or dies before it is ready throws PeerError, whose text says what to
// install; a test never skips for want of a peer. No call sleeps: every wait polls a pipe or
// the child's process descriptor with a bounded timeout.
#include <sys/types.h>

#include <chrono>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace plc::test {

class PeerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PeerCommand {
  std::string program;             // a path, or a bare name looked up on PATH
  std::vector<std::string> args;   // without the program name
  std::string installHint;         // e.g. "install mbpoll"; part of every PeerError
};

// The full path of an executable program; throws PeerError naming installHint when there is
// none.
std::string LocateProgram(const std::string& program, const std::string& installHint);

// The libmodbus server and client, and the pymodbus ASCII server and client under
// /usr/bin/python3, as built or kept by this tree (tests/peers/programs). args are appended.
PeerCommand RtuServerCommand(std::vector<std::string> args);
PeerCommand RtuClientCommand(std::vector<std::string> args);
PeerCommand AsciiServerCommand(std::vector<std::string> args);
PeerCommand AsciiClientCommand(std::vector<std::string> args);
PeerCommand MbpollCommand(std::vector<std::string> args);

class PeerProcess {
 public:
  using Millis = std::chrono::milliseconds;

  // Starts the program and waits up to readyTimeout for a line starting with "READY". Throws
  // PeerError (with the lines it printed) when it cannot start, exits first, or stays silent.
  explicit PeerProcess(const PeerCommand& command, Millis readyTimeout = Millis(10000));
  ~PeerProcess();  // Stop()
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  pid_t Pid() const { return pid_; }
  const std::string& ReadyLine() const { return readyLine_; }

  // Writes one line (a newline is added) to the peer's stdin; throws PeerError once the peer
  // stopped reading.
  void SendLine(std::string_view line);
  // The next line the peer printed and no earlier call took; nothing after the timeout or at
  // end of output.
  std::optional<std::string> ReadLine(Millis timeout);
  // The first line not yet taken that starts with prefix; lines before it that do not match
  // stay for later calls. Throws PeerError (with the lines seen) on timeout or end of output.
  std::string WaitForLine(std::string_view prefix, Millis timeout);
  // SendLine, then WaitForLine(replyPrefix).
  std::string Request(std::string_view line, std::string_view replyPrefix, Millis timeout = Millis(5000));

  // True until the child has exited (it is reaped then).
  bool Running();
  // Ends the peer: closes its stdin, waits up to grace, then SIGTERM and up to grace again,
  // then SIGKILL; reaps it. Returns its wait status (as waitpid gives it). Idempotent.
  int Stop(Millis grace = Millis(2000));

 private:
  bool FillLines(std::chrono::steady_clock::time_point deadline);
  bool WaitExit(Millis timeout);
  std::string Describe() const;

  std::string name_;
  std::string installHint_;
  pid_t pid_ = -1;
  int pidFd_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  bool outputEnded_ = false;
  std::optional<int> status_;
  std::string partial_;
  std::deque<std::string> lines_;
  std::vector<std::string> seen_;  // the last lines printed, for error messages
  std::string readyLine_;
};

struct RunResult {
  int exitCode = -1;       // the exit status; -1 when killed by a signal or timed out
  bool timedOut = false;
  std::string out;
  std::string err;
  std::vector<std::string> OutLines() const;
};

// Runs the program to its end with stdin empty, capturing stdout and stderr. Past the timeout
// the program is killed and timedOut set. Throws PeerError when it cannot start.
RunResult RunProgram(const PeerCommand& command, std::chrono::milliseconds timeout);

}  // namespace plc::test
