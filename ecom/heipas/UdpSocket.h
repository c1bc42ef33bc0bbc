#pragma once
// A UDP socket on IPv4 for the hei_pas client and the module simulator: bounded sends and
// receives with a deadline, nothing else.
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ecom/heipas/ModuleList.h"

namespace heipas {

class UdpSocket {
 public:
  using Deadline = std::chrono::steady_clock::time_point;
  struct Received {
    // At most kMaxDatagram + 1 bytes: one more marks an oversized datagram, which Parse refuses.
    std::vector<std::uint8_t> bytes;
    ModuleAddress from;
  };

  UdpSocket() = default;
  // Bound to ipv4:port (host order; port 0: the system chooses). nullopt when it fails.
  static std::optional<UdpSocket> Bind(std::uint32_t ipv4, std::uint16_t port);
  ~UdpSocket();
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  int Fd() const { return fd_; }
  std::uint16_t LocalPort() const;
  bool SendTo(const ModuleAddress& to, std::span<const std::uint8_t> bytes) const;
  // The next datagram, or nullopt once the deadline has passed (or the socket failed).
  std::optional<Received> ReceiveUntil(Deadline deadline) const;
  // Drops the datagrams already waiting (at most a few thousand, should more keep coming).
  void Drain() const;

 private:
  explicit UdpSocket(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// The address of the interface this host would send to `to` from (host order), found from the
// routing table without sending anything; nullopt when there is no route.
std::optional<std::uint32_t> LocalAddressTowards(const ModuleAddress& to);

}  // namespace heipas
