#include "bench/faults/FaultDatagrams.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace plc::faults {

namespace {

std::system_error SystemError(const char* what) { return std::system_error(errno, std::generic_category(), what); }

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

int BoundSocket(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw SystemError("fault datagrams: socket");
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(fd);
    throw SystemError("fault datagrams: bind");
  }
  port = ntohs(a.sin_port);
  return fd;
}

}  // namespace

FaultDatagrams::FaultDatagrams(std::uint32_t seed, ScriptTiming timing, std::uint16_t modulePort)
    : FaultRelay(seed, timing), modulePort_(modulePort) {
  std::uint16_t unused = 0;
  try {
    front_ = BoundSocket(port_);
    back_ = BoundSocket(unused);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0 || stop_ < 0) throw SystemError("fault datagrams: eventfd");
    relay_ = std::thread([this] { Run(); });
  } catch (...) {
    for (int fd : {front_, back_, wake_, stop_})
      if (fd >= 0) ::close(fd);
    throw;
  }
}

FaultDatagrams::~FaultDatagrams() {
  Signal(stop_);
  relay_.join();
  for (int fd : {front_, back_, wake_, stop_}) ::close(fd);
}

void FaultDatagrams::Wake() { Signal(wake_); }

void FaultDatagrams::Run() {
  std::uint8_t buf[65536];
  sockaddr_in client{};
  bool haveClient = false;
  const sockaddr_in module = Loopback(modulePort_);
  pollfd p[4] = {{front_, POLLIN, 0}, {back_, POLLIN, 0}, {wake_, POLLIN, 0}, {stop_, POLLIN, 0}};
  while (AwaitWork(p)) {
    if (p[0].revents) {
      socklen_t len = sizeof client;
      const ssize_t n = ::recvfrom(front_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&client), &len);
      if (n >= 0) {
        haveClient = true;
        if (PassRequest()) ::sendto(back_, buf, static_cast<std::size_t>(n), 0, reinterpret_cast<const sockaddr*>(&module), sizeof module);
      }
    }
    if (p[1].revents) {
      const ssize_t n = ::recv(back_, buf, sizeof buf, 0);
      if (n >= 0) TakeReply(Bytes(buf, buf + n));
    }
    Delivery d;
    while (TakeDue(Now(), d))
      if (haveClient)
        ::sendto(front_, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<const sockaddr*>(&client), sizeof client);
  }
}

}  // namespace plc::faults
