// The simulated ECOM module as a client meets it on UDP, one CCM datagram at a time: what its
// PLC's memory holds and where it ends, as a DirectLOGIC lays it out.
#include <gtest/gtest.h>

#include "ecom/heipas/Datagram.h"
#include "ecom/heipas/UdpSocket.h"
#include "tools/plcsim/EcomModuleSim.h"

namespace plc::sim {
namespace {

using heipas::Datagram;
using heipas::Kind;

constexpr std::uint32_t kLoopback = 0x7F000001;

class EcomModuleSimDatagrams : public ::testing::Test {
 protected:
  void SetUp() override { sim_.Start(); }

  // The status of the module's answer to a read of length bytes at address.
  int ReadStatus(std::uint8_t dataType, std::uint16_t address, std::uint16_t length) {
    Datagram request{.kind = Kind::Ccm, .sequence = ++sequence_, .moduleId = 1};
    request.dataType = dataType;
    request.address = address;
    request.length = length;
    client_.SendTo(heipas::ModuleAddress{kLoopback, sim_.Port(0)}, heipas::Encode(request));
    const auto got = client_.ReceiveUntil(std::chrono::steady_clock::now() + std::chrono::seconds(2));
    if (!got) return -1;
    const auto reply = heipas::Parse(got->bytes);
    if (!reply || reply->sequence != sequence_) return -2;
    return reply->status;
  }

  EcomModuleSim sim_{{EcomModuleConfig{1, "ECOM1", 0}}};
  heipas::UdpSocket client_ = *heipas::UdpSocket::Bind(kLoopback, 0);
  std::uint32_t sequence_ = 100;
};

TEST_F(EcomModuleSimDatagrams, RegistersEndWithV77777) {
  // V0 is register 1, V77777 register 8000h: the last word a DirectLOGIC has.
  EXPECT_EQ(ReadStatus(0x31, 1, 2), int{heipas::StatusOk});
  EXPECT_EQ(ReadStatus(0x31, 0x8000, 2), int{heipas::StatusOk});
  EXPECT_EQ(ReadStatus(0x31, 0x7FFF, 4), int{heipas::StatusOk});
  // V100000 and beyond are no memory: refused, alone or as the end of a longer read.
  EXPECT_EQ(ReadStatus(0x31, 0x8001, 2), int{heipas::StatusBadAddress});
  EXPECT_EQ(ReadStatus(0x31, 0xFFFF, 2), int{heipas::StatusBadAddress});
  EXPECT_EQ(ReadStatus(0x31, 0x8000, 4), int{heipas::StatusBadAddress});
}

TEST_F(EcomModuleSimDatagrams, PointsEndWithTheirLastArea) {
  // Inputs: GX0 at 1h .. SP777 at 1C0h; outputs: GY0 at 1h .. CT377 at 340h, a byte of eight
  // points each. Nothing lies at 0 or past the last area.
  EXPECT_EQ(ReadStatus(0x32, 1, 0x1C0), int{heipas::StatusOk});
  EXPECT_EQ(ReadStatus(0x33, 1, 0x340), int{heipas::StatusOk});
  EXPECT_EQ(ReadStatus(0x32, 0x1C0, 1), int{heipas::StatusOk});
  EXPECT_EQ(ReadStatus(0x33, 0x340, 1), int{heipas::StatusOk});
  EXPECT_EQ(ReadStatus(0x32, 0, 1), int{heipas::StatusBadAddress});
  EXPECT_EQ(ReadStatus(0x33, 0, 1), int{heipas::StatusBadAddress});
  EXPECT_EQ(ReadStatus(0x32, 0x1C1, 1), int{heipas::StatusBadAddress});
  EXPECT_EQ(ReadStatus(0x32, 0x1C0, 2), int{heipas::StatusBadAddress});
  EXPECT_EQ(ReadStatus(0x33, 0x341, 1), int{heipas::StatusBadAddress});
  EXPECT_EQ(ReadStatus(0x33, 0x301, 0x41), int{heipas::StatusBadAddress});
  EXPECT_EQ(ReadStatus(0x32, 0x101, 1001), int{heipas::StatusBadAddress});
}

}  // namespace
}  // namespace plc::sim

namespace plc::sim {
namespace {

// A port another module (of this simulator or of one still running) holds is not shared: the
// second would take the first one's datagrams, and the client would find only one of them.
TEST(EcomModuleSimPorts, APortInUseIsRefused) {
  EcomModuleSim first({EcomModuleConfig{1, "ECOM1", 0}});
  const std::uint16_t port = first.Port(0);
  EXPECT_THROW(EcomModuleSim({EcomModuleConfig{2, "ECOM2", port}}), std::runtime_error);
  EXPECT_FALSE(heipas::UdpSocket::Bind(kLoopback, port));
  // Two modules of one simulator given the same port.
  const std::uint16_t other = heipas::UdpSocket::Bind(kLoopback, 0)->LocalPort();  // free again at once
  EXPECT_THROW(EcomModuleSim({EcomModuleConfig{1, "ECOM1", 0}, EcomModuleConfig{2, "ECOM2", other},
                              EcomModuleConfig{3, "ECOM3", other}}),
               std::runtime_error);
}

}  // namespace
}  // namespace plc::sim
