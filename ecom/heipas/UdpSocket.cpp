#include "ecom/heipas/UdpSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "ecom/heipas/Datagram.h"

namespace heipas {
namespace {

// Datagrams one Drain reads at most: far more than a socket's receive buffer holds.
constexpr int kMaxDrained = 4096;

sockaddr_in SocketAddress(std::uint32_t ipv4, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(ipv4);
  a.sin_port = htons(port);
  return a;
}

}  // namespace

std::optional<UdpSocket> UdpSocket::Bind(std::uint32_t ipv4, std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return std::nullopt;
  UdpSocket s(fd);
  // No SO_REUSEADDR: on UDP it lets a second socket share a port in use (a second simulator,
  // or two modules given one port), and the datagrams then reach only one of them. A UDP port
  // has no TIME_WAIT, so a closed one is free again at once without it.
  const sockaddr_in a = SocketAddress(ipv4, port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) return std::nullopt;
  return s;
}

UdpSocket::~UdpSocket() {
  if (fd_ >= 0) ::close(fd_);
}
UdpSocket::UdpSocket(UdpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

std::uint16_t UdpSocket::LocalPort() const {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

std::optional<std::uint32_t> LocalAddressTowards(const ModuleAddress& to) {
  // Connecting a datagram socket only looks the route up.
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  const sockaddr_in a = SocketAddress(to.ipv4, to.port);
  sockaddr_in local{};
  socklen_t len = sizeof local;
  const bool found = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0;
  ::close(fd);
  if (!found) return std::nullopt;
  return ntohl(local.sin_addr.s_addr);
}

bool UdpSocket::SendTo(const ModuleAddress& to, std::span<const std::uint8_t> bytes) const {
  const sockaddr_in a = SocketAddress(to.ipv4, to.port);
  ssize_t n;
  do {
    n = ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(bytes.size());
}

std::optional<UdpSocket::Received> UdpSocket::ReceiveUntil(Deadline deadline) const {
  // Received on the stack and copied at its size: a reply is a few dozen bytes, and a vector
  // sized for the largest would be zeroed on every receive.
  std::uint8_t buffer[kMaxDatagram + 1];
  while (true) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
    if (n >= 0) {
      Received r;
      r.bytes.assign(buffer, buffer + std::min(static_cast<std::size_t>(n), sizeof buffer));
      r.from = ModuleAddress{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
      return r;
    }
    if (errno == EINTR) continue;
    // A refused earlier send (ICMP port unreachable) surfaces here: it only means no answer.
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNREFUSED) return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    // Rounded up, so a wait below a millisecond does not spin.
    const int rc = ::poll(&p, 1, static_cast<int>(left.count()) + 1);
    if (rc < 0 && errno != EINTR) return std::nullopt;
  }
}

void UdpSocket::Drain() const {
  std::uint8_t scratch[kMaxDatagram + 1];
  // Bounded, so that datagrams arriving as fast as they are read cannot keep it here.
  for (int left = kMaxDrained; left > 0; --left) {
    if (::recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT) < 0 && errno != ECONNREFUSED && errno != EINTR) return;
  }
}

}  // namespace heipas
