#include "platform/PosixSerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>

#include "base/RuntimeError.h"
#include "platform/SerialPortMap.h"
#include "platform/TermiosLine.h"

namespace plc {

namespace {

// Output waits beyond the line time of the data by this much before a write gives up.
constexpr std::int64_t kWriteSlackMicros = 250'000;
// Checks of a queue that does not drain (flow control holding it) run at least this often.
constexpr std::int64_t kMaxDrainCheckMicros = 100'000;
constexpr std::size_t kReadChunk = 4096;
// One dispatch reads at most this much, so a flooding peer cannot starve the loop.
constexpr std::size_t kReadPerDispatch = 65536;

std::int64_t SteadyMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

int PollMillis(std::int64_t micros) { return static_cast<int>(std::clamp<std::int64_t>((micros + 999) / 1000, 0, 60'000)); }

bool IsPtySlave(int fd) {
  char name[256];
  return ttyname_r(fd, name, sizeof name) == 0 && std::strncmp(name, "/dev/pts/", 9) == 0;
}

}  // namespace

PosixSerialPort::PosixSerialPort(EventLoop& loop) : SerialPort(loop) {}

PosixSerialPort::~PosixSerialPort() {
  *alive_ = false;
  try {
    if (PortOpen()) SetPortOpen(false);
  } catch (...) {
    // A destructor reports nothing; the descriptor is closed below whatever happened.
  }
  CancelLoopWork();
  if (fd_ >= 0) ::close(fd_);
}

std::string PosixSerialPort::DevicePath() const { return fd_ >= 0 ? path_ : SerialPortMap::Current().PathFor(CommPort()); }

bool PosixSerialPort::SupportsSpeed(int baud) { return TermiosSpeed(baud).has_value(); }

void PosixSerialPort::Fail(int number, const std::string& what, int error) const {
  std::string text = "COM" + std::to_string(CommPort()) + " (" + (path_.empty() ? DevicePath() : path_) + "): " + what;
  if (error) text += ": " + std::string(std::strerror(error));
  throw RuntimeError(number, text);
}

void PosixSerialPort::DeviceOpen() {
  std::string path = SerialPortMap::Current().PathFor(CommPort());
  path_ = path;
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int e = errno;
    path_.clear();
    std::string what = "cannot open " + path;
    if (e == ENOENT || e == ENODEV || e == ENXIO || e == ENOTDIR) throw RuntimeError(err::PortInvalid, "COM" + std::to_string(CommPort()) + ": " + what + ": " + std::strerror(e));
    if (e == EBUSY) throw RuntimeError(err::PortAlreadyOpen, "COM" + std::to_string(CommPort()) + ": " + what + ": " + std::strerror(e));
    throw RuntimeError(err::HardwareUnavailable, "COM" + std::to_string(CommPort()) + ": " + what + ": " + std::strerror(e));
  }
  auto failClosed = [&](int number, const std::string& what, int e) {
    ::close(fd);
    Fail(number, what, e);
  };
  if (!isatty(fd)) failClosed(err::PortInvalid, "not a serial device", 0);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int e = errno;
    if (e == EWOULDBLOCK) failClosed(err::PortAlreadyOpen, "the device is in use", 0);
    failClosed(err::HardwareUnavailable, "cannot lock the device", e);
  }
  // Also keep out openers that do not lock. Not fatal: some drivers lack it, and the lock
  // above already keeps out every port of this kind.
  (void)ioctl(fd, TIOCEXCL);

  int bits = 0;
  modemLines_ = ioctl(fd, TIOCMGET, &bits) == 0;
  carrier_ = modemLines_ && (bits & TIOCM_CD) != 0;
  ptySlave_ = IsPtySlave(fd);
  pty_ = !modemLines_ || ptySlave_;
  hungUp_ = false;
  ptyDrainDue_ = 0;
  fd_ = fd;
  Watch();
  if (modemLines_) {
    std::weak_ptr<bool> alive = alive_;
    carrierTimer_ = Loop().AddTimer(Loop().Now() + kCarrierPollMicros, [this, alive] {
      if (alive.expired()) return;
      carrierTimer_ = 0;
      PollCarrier();
    });
  }
}

void PosixSerialPort::DeviceClose() {
  CancelLoopWork();
  if (fd_ < 0) return;
  // What was written is the far end's: a closing acknowledgement must reach it. A UART gets
  // the line time of what it still holds (see WaitForOutputBounded); only what did not go out
  // by then is dropped, rather than holding close() for the driver's closing wait. The bytes
  // written to a pseudo-terminal already wait on its far side, which reads them even after
  // this end closes; a flush here would throw them away, so there is nothing to wait for
  // or to drop.
  if (!ptySlave_) {
    WaitForOutputBounded();
    (void)tcflush(fd_, TCOFLUSH);
  }
  (void)ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
  path_.clear();
  takeBackRefused_.clear();
  hungUp_ = false;
  modemLines_ = false;
  carrier_ = false;
}

void PosixSerialPort::CancelLoopWork() {
  if (watch_) Loop().UnwatchFd(watch_);
  if (carrierTimer_) Loop().CancelTimer(carrierTimer_);
  if (drainTimer_) Loop().CancelTimer(drainTimer_);
  if (hangupTimer_) Loop().CancelTimer(hangupTimer_);
  watch_ = carrierTimer_ = drainTimer_ = hangupTimer_ = 0;
}

// Bounded by twice the line time of the bytes queued at the start, plus kWriteSlackMicros:
// at 9600 baud 4 KiB take at most 8.8 s, a closing acknowledgement a quarter of a second. A
// device that has gone (the ioctl fails) or holds nothing returns at once.
void PosixSerialPort::WaitForOutputBounded() {
  int queued = 0;
  if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
  std::int64_t deadline = SteadyMicros() + 2 * queued * charMicros_ + kWriteSlackMicros;
  while (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) {
    std::int64_t left = deadline - SteadyMicros();
    if (left <= 0) return;
    poll(nullptr, 0, PollMillis(std::min<std::int64_t>(left, std::max<std::int64_t>(queued * charMicros_, 1000))));
  }
}

void PosixSerialPort::DeviceCheckSettings(const SerialSettings& settings) const {
  if (!TermiosSpeed(settings.baud))
    throw RuntimeError(err::InvalidPropertyValue, "The speed " + std::to_string(settings.baud) + " is not available on this system");
}

void PosixSerialPort::DeviceApplySettings(const SerialSettings& settings, std::int32_t handshaking) {
  DeviceCheckSettings(settings);
  const speed_t speed = *TermiosSpeed(settings.baud);
  if (fd_ < 0) return;
  termios old{};
  if (tcgetattr(fd_, &old) != 0) Fail(err::SetCommStateFailed, "cannot read the line settings", errno);
  termios want = LineFor(old, settings, handshaking, speed, pty_);
  if (tcsetattr(fd_, TCSANOW, &want) != 0) Fail(err::SetCommStateFailed, "cannot apply \"" + settings.ToString() + "\"", errno);
  if (!pty_) {
    // tcsetattr succeeds when any part was applied: read back and compare.
    termios got{};
    if (tcgetattr(fd_, &got) != 0) Fail(err::SetCommStateFailed, "cannot read the line settings", errno);
    if (!SameLine(want, got)) {
      (void)tcsetattr(fd_, TCSANOW, &old);
      Fail(err::SetCommStateFailed, "the device does not support \"" + settings.ToString() + "\"", 0);
    }
  }
  charMicros_ = std::max<std::int64_t>(1, (settings.BitsPerCharacter() * 1'000'000LL + settings.baud - 1) / settings.baud);
}

void PosixSerialPort::DeviceSetModemLines(bool dtr, bool rts) {
  if (fd_ < 0 || !modemLines_) return;
  int on = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
  int off = (dtr ? 0 : TIOCM_DTR) | (rts ? 0 : TIOCM_RTS);
  if (on && ioctl(fd_, TIOCMBIS, &on) != 0) Fail(err::SetCommStateFailed, "cannot raise the modem lines", errno);
  if (off && ioctl(fd_, TIOCMBIC, &off) != 0) Fail(err::SetCommStateFailed, "cannot drop the modem lines", errno);
}

bool PosixSerialPort::DeviceCarrier() const {
  if (fd_ < 0 || !modemLines_) return false;
  int bits = 0;
  return ioctl(fd_, TIOCMGET, &bits) == 0 && (bits & TIOCM_CD) != 0;
}

void PosixSerialPort::PollCarrier() {
  if (fd_ < 0 || !modemLines_) return;
  int bits = 0;
  if (ioctl(fd_, TIOCMGET, &bits) == 0) {
    bool cd = (bits & TIOCM_CD) != 0;
    if (cd != carrier_) {
      carrier_ = cd;
      std::weak_ptr<bool> alive = alive_;
      CarrierChanged();
      if (alive.expired() || fd_ < 0) return;  // the handler closed or destroyed the port
    }
  }
  if (carrierTimer_) return;  // the handler re-entered and a poll is already armed
  std::weak_ptr<bool> alive = alive_;
  carrierTimer_ = Loop().AddTimer(Loop().Now() + kCarrierPollMicros, [this, alive] {
    if (alive.expired()) return;
    carrierTimer_ = 0;
    PollCarrier();
  });
}

std::size_t PosixSerialPort::DeviceOutputPending() const {
  if (fd_ < 0) return 0;
  if (pty_) {
    std::int64_t left = ptyDrainDue_ - Loop().Now();
    return left <= 0 ? 0 : static_cast<std::size_t>((left + charMicros_ - 1) / charMicros_);
  }
  int queued = 0;
  if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) return 0;
  return static_cast<std::size_t>(queued);
}

void PosixSerialPort::DeviceDiscardOutput() {
  if (fd_ < 0) return;
  if (tcflush(fd_, TCOFLUSH) != 0) Fail(err::HardwareUnavailable, "cannot discard the output", errno);
  ptyDrainDue_ = 0;
  if (drainTimer_) ArmDrainCheck(0);
}

void PosixSerialPort::DeviceDiscardInput() {
  if (fd_ < 0) return;
  // Nothing waiting in the driver: skip the flush, which on a tty waits for the kernel's
  // buffer work and costs a context switch per transaction.
  int waiting = 0;
  if (ioctl(fd_, FIONREAD, &waiting) == 0 && waiting == 0) return;
  // A flush fails only on a line that has gone (EIO once an adapter is unplugged or a pty's far
  // end closed): no input is left there to keep apart from the next reply, and the write that
  // follows reports the line. Raising here would turn a vanished device into an error of the
  // host's call instead of that call's failure.
  (void)tcflush(fd_, TCIFLUSH);
}

void PosixSerialPort::DeviceWrite(const std::uint8_t* data, std::size_t size) {
  if (fd_ < 0) throw RuntimeError(err::PortNotOpen);
  // A far end that never reads (flow control held, a pty nobody drains) must not hang the
  // caller: allow the line time of what is queued and of this data twice over, then give up.
  std::size_t queued = pty_ ? 0 : DeviceOutputPending();
  // Set when the first write falls short, which is rare: a request goes out in one write.
  std::optional<std::int64_t> deadline;
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd_, data + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    int e = n < 0 ? errno : EAGAIN;
    if (e == EINTR) continue;
    if (e != EAGAIN && e != EWOULDBLOCK) {
      // A device that came back refusing the settings says so, rather than only that it is gone.
      if (hungUp_ && !takeBackRefused_.empty()) Fail(err::WriteFailed, takeBackRefused_, 0);
      Fail(err::WriteFailed, "write failed after " + std::to_string(done) + " of " + std::to_string(size) + " bytes", e);
    }
    if (!deadline) deadline = SteadyMicros() + 2 * static_cast<std::int64_t>(size + queued) * charMicros_ + kWriteSlackMicros;
    std::int64_t left = *deadline - SteadyMicros();
    if (left <= 0)
      Fail(err::WriteFailed, "the line took " + std::to_string(done) + " of " + std::to_string(size) + " bytes and then no more in time" + WhatHolds(), 0);
    pollfd p{fd_, POLLOUT, 0};
    if (poll(&p, 1, PollMillis(left)) < 0 && errno != EINTR) Fail(err::WriteFailed, "cannot wait for the line", errno);
  }
  if (pty_) ptyDrainDue_ = std::max(ptyDrainDue_, Loop().Now()) + static_cast<std::int64_t>(size) * charMicros_;
  if (SThreshold() > 0) ArmDrainCheck(DrainDelay());
}

// Output that does not drain is held by the handshaking the port was given, or by a far end
// that reads nothing (a pseudo-terminal nobody serves); the text says which to look at.
std::string PosixSerialPort::WhatHolds() const {
  const std::int32_t h = Handshaking();
  int bits = 0;
  if ((h == 2 || h == 3) && modemLines_ && ioctl(fd_, TIOCMGET, &bits) == 0 && (bits & TIOCM_CTS) == 0)
    return " (RTS/CTS handshaking: the far end holds CTS low)";
  if (h == 1 || h == 3) return " (XON/XOFF handshaking: the far end sent XOFF and no XON since, or takes no data)";
  if (h == 2) return " (RTS/CTS handshaking: the far end does not let the data go)";
  return " (the far end takes no data)";
}

std::int64_t PosixSerialPort::DrainDelay() const {
  if (pty_) return std::max<std::int64_t>(0, ptyDrainDue_ - Loop().Now());
  return std::clamp<std::int64_t>(static_cast<std::int64_t>(DeviceOutputPending()) * charMicros_, 0, kMaxDrainCheckMicros);
}

void PosixSerialPort::ArmDrainCheck(std::int64_t delayMicros) {
  if (drainTimer_) Loop().CancelTimer(drainTimer_);
  std::weak_ptr<bool> alive = alive_;
  drainTimer_ = Loop().AddTimer(Loop().Now() + delayMicros, [this, alive] {
    if (alive.expired()) return;
    drainTimer_ = 0;
    CheckDrained();
  });
}

void PosixSerialPort::CheckDrained() {
  if (fd_ < 0 || SThreshold() <= 0) return;
  if (DeviceOutputPending() < static_cast<std::size_t>(SThreshold())) {
    OutputDrained();
    return;
  }
  ArmDrainCheck(std::max<std::int64_t>(DrainDelay(), 1000));
}

void PosixSerialPort::Watch() {
  std::weak_ptr<bool> alive = alive_;
  watch_ = Loop().WatchFd(fd_, [this, alive](short revents) {
    if (!alive.expired()) OnReadable(revents);
  });
}

void PosixSerialPort::OnReadable(short revents) {
  if (fd_ < 0 || hungUp_) return;
  // A read that returns less than asked took all the device had: the next poll tells of more.
  // The common case, a reply in one read, is handed on from the stack.
  std::uint8_t chunk[kReadChunk];
  std::size_t single = 0;
  Bytes got;
  bool hangup = false;
  while (got.size() < kReadPerDispatch) {
    ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n > 0) {
      auto size = static_cast<std::size_t>(n);
      bool drained = size < sizeof chunk;
      if (got.empty() && drained) {
        single = size;
        break;
      }
      got.insert(got.end(), chunk, chunk + size);
      if (drained) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Nothing more now; a hang-up with nothing left to read shows only in revents.
      hangup = got.empty() && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
      break;
    }
    hangup = true;  // 0 bytes at the end of the line, or EIO once the far end has gone
    break;
  }
  std::weak_ptr<bool> alive = alive_;
  int fd = fd_;
  if (single > 0) {
    Received(chunk, single);
  } else if (!got.empty()) {
    Received(got.data(), got.size());
  }
  // The notification may have closed, reopened or destroyed the port.
  if (alive.expired() || fd_ != fd || fd_ < 0) return;
  if (hangup) EnterHangup();
}

bool PosixSerialPort::WaitForInput(std::int64_t deadlineMicros) {
  while (Peek().empty() && fd_ >= 0) {
    std::int64_t left = deadlineMicros - Loop().Now();
    if (left <= 0) break;
    if (hungUp_) {
      // Nothing more can come: the rest of the wait is the silence of a dead line.
      poll(nullptr, 0, PollMillis(left));
      if (Loop().GetClock().IsManual()) Loop().GetClock().AdvanceTo(deadlineMicros);
      continue;
    }
    pollfd p{fd_, POLLIN, 0};
    int n = poll(&p, 1, PollMillis(left));
    if (n < 0 && errno != EINTR) break;
    if (n > 0) OnReadable(p.revents);
    if (n == 0 && Loop().GetClock().IsManual()) Loop().GetClock().AdvanceTo(deadlineMicros);
  }
  return !Peek().empty();
}

void PosixSerialPort::EnterHangup() {
  // The descriptor stays ready while hung up: stop watching it, or the loop would spin, and
  // look again at a low rate.
  if (watch_) Loop().UnwatchFd(watch_);
  watch_ = 0;
  hungUp_ = true;
  std::weak_ptr<bool> alive = alive_;
  hangupTimer_ = Loop().AddTimer(Loop().Now() + kHangupProbeMicros, [this, alive] {
    if (alive.expired()) return;
    hangupTimer_ = 0;
    ProbeHangup();
  });
}

void PosixSerialPort::ProbeHangup() {
  if (fd_ < 0) return;
  pollfd p{fd_, POLLIN, 0};
  int n = poll(&p, 1, 0);
  bool stillDown = n < 0 || (n > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
  if (stillDown && !TakeBackDevice()) {
    hungUp_ = false;  // EnterHangup sets it again
    EnterHangup();
    return;
  }
  hungUp_ = false;
  Watch();
}

// A device that went away may come back under the same path: an adapter plugged in again, a
// bridge such as socat restarted. A working tty there replaces the dead descriptor, with the
// line settings and modem lines applied again; until then nothing changes.
bool PosixSerialPort::TakeBackDevice() {
  if (path_.empty()) return false;
  int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  pollfd p{fd, POLLIN, 0};
  const bool down = poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  if (down || !isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  (void)ioctl(fd, TIOCEXCL);
  // The device is taken only with the line settings applied: one that runs at its own would
  // leave every later call failing as "no reply" with nothing pointing at the settings.
  const int oldFd = fd_;
  const bool oldModemLines = modemLines_, oldCarrier = carrier_, oldPtySlave = ptySlave_, oldPty = pty_;
  fd_ = fd;
  int bits = 0;
  const bool hadModemLines = modemLines_;
  modemLines_ = ioctl(fd, TIOCMGET, &bits) == 0;
  carrier_ = modemLines_ && (bits & TIOCM_CD) != 0;
  ptySlave_ = IsPtySlave(fd);
  pty_ = !modemLines_ || ptySlave_;
  try {
    DeviceApplySettings(LineSettings(), Handshaking());
    DeviceSetModemLines(DTREnable(), RTSEnable());
  } catch (const RuntimeError& e) {
    ::close(fd);
    fd_ = oldFd;
    modemLines_ = oldModemLines;
    carrier_ = oldCarrier;
    ptySlave_ = oldPtySlave;
    pty_ = oldPty;
    takeBackRefused_ = std::string("the device is back but was not taken: ") + e.what();
    return false;
  }
  ::close(oldFd);
  takeBackRefused_.clear();
  ptyDrainDue_ = 0;
  if (modemLines_ && !hadModemLines && !carrierTimer_) PollCarrier();
  return true;
}

}  // namespace plc
