#include "tests/support/PeerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace plc::test {
namespace {

using Clock = std::chrono::steady_clock;

#ifndef PLC_PEER_RTU_SERVER
#define PLC_PEER_RTU_SERVER "modbus_rtu_server"
#endif
#ifndef PLC_PEER_RTU_CLIENT
#define PLC_PEER_RTU_CLIENT "modbus_rtu_client"
#endif
#ifndef PLC_PEER_ASCII_SERVER
#define PLC_PEER_ASCII_SERVER "pymodbus_ascii_server.py"
#endif
#ifndef PLC_PEER_ASCII_CLIENT
#define PLC_PEER_ASCII_CLIENT "pymodbus_ascii_client.py"
#endif

constexpr std::size_t kSeenKept = 20;

int MillisUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 1'000'000 ? 1'000'000 : static_cast<int>(left);
}

// A descriptor that polls readable once the child has exited; -1 where the kernel has none.
// Through syscall(): the glibc header of this vintage declares it without C linkage for C++.
int OpenPidFd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

bool IsExecutable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

PeerCommand Command(std::string program, std::vector<std::string> args, std::string hint) {
  return PeerCommand{std::move(program), std::move(args), std::move(hint)};
}

// A child with the given descriptors as 0, 1 and 2 (-1: inherit); every other descriptor of
// ours is close-on-exec.
pid_t Spawn(const std::string& path, const PeerCommand& command, int in, int out, int err) {
  std::vector<std::string> storage;
  storage.push_back(path);
  storage.insert(storage.end(), command.args.begin(), command.args.end());
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
  if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
  // The child starts with default signal handling and nothing blocked, whatever the test did.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    throw PeerError("cannot start " + path + ": " + std::strerror(rc) + " (" + command.installHint + ")");
  }
  return pid;
}

struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int Release() {
    int f = fd;
    fd = -1;
    return f;
  }
};

void MakePipe(Fd& readEnd, Fd& writeEnd) {
  int p[2];
  if (::pipe2(p, O_CLOEXEC) != 0) throw PeerError(std::string("pipe: ") + std::strerror(errno));
  readEnd.fd = p[0];
  writeEnd.fd = p[1];
}

}  // namespace

std::string LocateProgram(const std::string& program, const std::string& installHint) {
  if (program.find('/') != std::string::npos) {
    if (IsExecutable(program)) return program;
    throw PeerError("test peer " + program + " is missing: " + installHint);
  }
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t begin = 0;
  while (begin <= dirs.size()) {
    std::size_t end = dirs.find(':', begin);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(begin, end - begin);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
    if (IsExecutable(candidate)) return candidate;
    begin = end + 1;
  }
  throw PeerError("test peer " + program + " is not on PATH: " + installHint);
}

PeerCommand RtuServerCommand(std::vector<std::string> args) {
  return Command(PLC_PEER_RTU_SERVER, std::move(args),
                 "build the target modbus_rtu_server (it needs libmodbus-dev)");
}

PeerCommand RtuClientCommand(std::vector<std::string> args) {
  return Command(PLC_PEER_RTU_CLIENT, std::move(args),
                 "build the target modbus_rtu_client (it needs libmodbus-dev)");
}

PeerCommand AsciiServerCommand(std::vector<std::string> args) {
  // The system's python: pymodbus comes from its packages, not from whatever python3 is first
  // on PATH. -u: every line reaches the test as it is printed.
  args.insert(args.begin(), {"-u", PLC_PEER_ASCII_SERVER});
  return Command("/usr/bin/python3", std::move(args),
                 "install python3, python3-pymodbus and python3-serial-asyncio");
}

PeerCommand AsciiClientCommand(std::vector<std::string> args) {
  args.insert(args.begin(), {"-u", PLC_PEER_ASCII_CLIENT});
  return Command("/usr/bin/python3", std::move(args), "install python3, python3-pymodbus and python3-serial");
}

PeerCommand MbpollCommand(std::vector<std::string> args) {
  return Command("mbpoll", std::move(args), "install mbpoll");
}

PeerProcess::PeerProcess(const PeerCommand& command, Millis readyTimeout)
    : name_(command.program), installHint_(command.installHint) {
  const std::string path = LocateProgram(command.program, command.installHint);
  // stdin is a socket so that writing to a peer that has gone raises no SIGPIPE (MSG_NOSIGNAL).
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
    throw PeerError(std::string("socketpair: ") + std::strerror(errno));
  }
  Fd inOurs(sv[0]), inChild(sv[1]);
  Fd outOurs, outChild;
  MakePipe(outOurs, outChild);
  pid_ = Spawn(path, command, inChild.fd, outChild.fd, -1);
  inChild.Close();  // the child's ends: output ends when the child's copy closes
  outChild.Close();
  pidFd_ = OpenPidFd(pid_);
  stdin_ = inOurs.Release();
  stdout_ = outOurs.Release();
  try {
    readyLine_ = WaitForLine("READY", readyTimeout);
  } catch (const PeerError& e) {
    Stop(Millis(500));
    throw PeerError(std::string(e.what()) + "; if the peer is missing: " + installHint_);
  }
}

PeerProcess::~PeerProcess() { Stop(); }

std::string PeerProcess::Describe() const {
  std::string text = name_;
  if (!seen_.empty()) {
    text += "; it printed:";
    for (const auto& line : seen_) text += "\n  " + line;
  } else {
    text += "; it printed nothing";
  }
  return text;
}

void PeerProcess::SendLine(std::string_view line) {
  std::string data(line);
  data += '\n';
  std::size_t done = 0;
  while (done < data.size()) {
    if (stdin_ < 0) throw PeerError("stdin of " + name_ + " is closed");
    ssize_t n = ::send(stdin_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw PeerError("cannot write to " + Describe() + ": " + std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
}

// Reads what stdout has into lines_, waiting until the deadline for at least one new line.
// Returns false when the deadline passed or output ended with no new line.
bool PeerProcess::FillLines(Clock::time_point deadline) {
  const std::size_t before = lines_.size();
  while (lines_.size() == before && !outputEnded_) {
    pollfd p{stdout_, POLLIN, 0};
    int rc = ::poll(&p, 1, MillisUntil(deadline));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return false;
    char buf[4096];
    ssize_t n = ::read(stdout_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      outputEnded_ = true;
      if (!partial_.empty()) lines_.push_back(std::move(partial_));
      partial_.clear();
      break;
    }
    partial_.append(buf, static_cast<std::size_t>(n));
    std::size_t nl;
    while ((nl = partial_.find('\n')) != std::string::npos) {
      std::string line = partial_.substr(0, nl);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      partial_.erase(0, nl + 1);
      seen_.push_back(line);
      if (seen_.size() > kSeenKept) seen_.erase(seen_.begin());
      lines_.push_back(std::move(line));
    }
  }
  return lines_.size() > before;
}

std::optional<std::string> PeerProcess::ReadLine(Millis timeout) {
  if (lines_.empty()) FillLines(Clock::now() + timeout);
  if (lines_.empty()) return std::nullopt;
  std::string line = std::move(lines_.front());
  lines_.pop_front();
  return line;
}

std::string PeerProcess::WaitForLine(std::string_view prefix, Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  std::size_t checked = 0;
  while (true) {
    for (; checked < lines_.size(); ++checked) {
      if (lines_[checked].compare(0, prefix.size(), prefix) == 0) {
        std::string line = std::move(lines_[checked]);
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(checked));
        return line;
      }
    }
    if (!FillLines(deadline)) {
      const char* why = outputEnded_ ? "ended its output" : "timed out";
      throw PeerError("waiting for a line starting with \"" + std::string(prefix) + "\": " + why + ": " +
                      Describe());
    }
  }
}

std::string PeerProcess::Request(std::string_view line, std::string_view replyPrefix, Millis timeout) {
  SendLine(line);
  return WaitForLine(replyPrefix, timeout);
}

bool PeerProcess::WaitExit(Millis timeout) {
  if (status_) return true;
  if (pid_ < 0) return true;
  const auto deadline = Clock::now() + timeout;
  while (true) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      status_ = status;
      return true;
    }
    if (r < 0 && errno != EINTR) {
      status_ = -1;
      return true;
    }
    int left = MillisUntil(deadline);
    if (left == 0) return false;
    if (pidFd_ >= 0) {
      pollfd p{pidFd_, POLLIN, 0};
      ::poll(&p, 1, left);
    } else {
      // No process descriptors on this kernel: look again in short steps.
      ::poll(nullptr, 0, left < 20 ? left : 20);
    }
  }
}

bool PeerProcess::Running() { return !WaitExit(Millis(0)); }

int PeerProcess::Stop(Millis grace) {
  if (pid_ >= 0 && !status_) {
    if (stdin_ >= 0) ::shutdown(stdin_, SHUT_WR);
    if (!WaitExit(grace)) {
      ::kill(pid_, SIGTERM);
      if (!WaitExit(grace)) {
        ::kill(pid_, SIGKILL);
        WaitExit(Millis(60000));
      }
    }
  }
  for (int* fd : {&stdin_, &stdout_, &pidFd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  return status_.value_or(-1);
}

std::vector<std::string> RunResult::OutLines() const {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < out.size()) {
    std::size_t nl = out.find('\n', begin);
    if (nl == std::string::npos) nl = out.size();
    lines.push_back(out.substr(begin, nl - begin));
    begin = nl + 1;
  }
  return lines;
}

RunResult RunProgram(const PeerCommand& command, std::chrono::milliseconds timeout) {
  const std::string path = LocateProgram(command.program, command.installHint);
  Fd inRead, inWrite, outRead, outWrite, errRead, errWrite;
  MakePipe(inRead, inWrite);
  MakePipe(outRead, outWrite);
  MakePipe(errRead, errWrite);
  pid_t pid = Spawn(path, command, inRead.fd, outWrite.fd, errWrite.fd);
  inRead.Close();
  inWrite.Close();  // stdin at its end from the start
  outWrite.Close();
  errWrite.Close();

  RunResult result;
  const auto deadline = Clock::now() + timeout;
  while (outRead.fd >= 0 || errRead.fd >= 0) {
    pollfd p[2] = {{outRead.fd, POLLIN, 0}, {errRead.fd, POLLIN, 0}};
    int rc = ::poll(p, 2, MillisUntil(deadline));
    if (rc < 0 && errno == EINTR) continue;
    if (rc == 0) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (p[i].fd < 0 || !p[i].revents) continue;
      char buf[4096];
      ssize_t n = ::read(p[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        (i == 0 ? outRead : errRead).Close();
      }
    }
  }
  // Output closed: the program is ending. Wait for it within what is left of the timeout.
  Fd pidFd(OpenPidFd(pid));
  int status = 0;
  pid_t reaped;
  while (true) {
    reaped = ::waitpid(pid, &status, WNOHANG);
    if (reaped < 0 && errno == EINTR) continue;
    if (reaped != 0) break;
    int left = MillisUntil(deadline);
    if (left == 0 && !result.timedOut) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
    }
    // After SIGKILL the end comes at once; without a process descriptor look in short steps.
    int wait = (left == 0 || pidFd.fd < 0) ? 20 : left;
    pollfd p{pidFd.fd, POLLIN, 0};
    ::poll(&p, pidFd.fd >= 0 ? 1 : 0, wait);
  }
  if (reaped == pid && !result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

}  // namespace plc::test
