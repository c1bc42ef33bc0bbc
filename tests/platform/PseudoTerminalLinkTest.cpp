// Two pseudo-terminals joined back to back: both device paths open like serial devices, and
// what one end writes the other reads whole and in order, also past the tty buffers and after
// an end was closed and opened again.
#include "platform/PseudoTerminalLink.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

namespace plc {
namespace {

using Block = std::vector<std::uint8_t>;

// One end opened by path, the way a port opens its device.
class DeviceEnd {
 public:
  explicit DeviceEnd(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd_, TCSANOW, &t);
  }
  ~DeviceEnd() { ::close(fd_); }
  DeviceEnd(const DeviceEnd&) = delete;
  DeviceEnd& operator=(const DeviceEnd&) = delete;

  void Write(const Block& data) {
    std::size_t done = 0;
    while (done < data.size()) {
      ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 5000) <= 0) throw std::runtime_error("device end would not take the data");
      }
    }
  }
  // What arrives until count bytes came or the line stayed silent for a few seconds.
  Block Read(std::size_t count) {
    Block out;
    std::uint8_t buf[4096];
    while (out.size() < count) {
      ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
      if (n > 0) {
        out.insert(out.end(), buf, buf + n);
        continue;
      }
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 3000) <= 0) break;
    }
    return out;
  }

 private:
  int fd_;
};

Block Pattern(std::size_t size, std::uint8_t seed) {
  Block b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
  return b;
}

TEST(PseudoTerminalLink, EachEndReadsWhatTheOtherWrites) {
  PseudoTerminalLink link;
  ASSERT_NE(link.PathA(), link.PathB());
  DeviceEnd a(link.PathA()), b(link.PathB());
  // Bytes a tty line discipline would otherwise eat or change: NUL, CR, LF, ^C, ^D, XON/XOFF.
  const Block controls = {0x00, 0x0D, 0x0A, 0x03, 0x04, 0x11, 0x13, 0x7F, 0xFF};
  a.Write(controls);
  EXPECT_EQ(b.Read(controls.size()), controls);
  const Block reply = Pattern(200, 9);
  b.Write(reply);
  EXPECT_EQ(a.Read(reply.size()), reply);
}

TEST(PseudoTerminalLink, BlocksLargerThanTheTtyBuffersArriveWholeAndInOrderBothWaysAtOnce) {
  PseudoTerminalLink link;
  DeviceEnd a(link.PathA()), b(link.PathB());
  const Block toB = Pattern(200'000, 1), toA = Pattern(150'000, 77);
  Block gotA, gotB;
  std::thread readerB([&] { gotB = b.Read(toB.size()); });
  std::thread readerA([&] { gotA = a.Read(toA.size()); });
  std::thread writerB([&] { b.Write(toA); });
  a.Write(toB);
  writerB.join();
  readerA.join();
  readerB.join();
  EXPECT_TRUE(gotB == toB) << "got " << gotB.size() << " of " << toB.size();
  EXPECT_TRUE(gotA == toA) << "got " << gotA.size() << " of " << toA.size();
}

TEST(PseudoTerminalLink, AnEndClosedAndOpenedAgainStillTalks) {
  PseudoTerminalLink link;
  DeviceEnd b(link.PathB());
  { DeviceEnd a(link.PathA()); a.Write({1, 2, 3}); }
  EXPECT_EQ(b.Read(3), (Block{1, 2, 3}));
  DeviceEnd a(link.PathA());
  b.Write({4, 5});
  EXPECT_EQ(a.Read(2), (Block{4, 5}));
}

}  // namespace
}  // namespace plc
