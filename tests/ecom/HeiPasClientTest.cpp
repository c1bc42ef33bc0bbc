// The dlopened libhei_pas.so against a hand-played module on loopback: what the client takes
// as an answer and what it refuses (another sender, an oversized or short datagram), and the
// codes of its argument checks.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <thread>

#include "ecom/HeiPasApi.h"
#include "ecom/heipas/Datagram.h"
#include "ecom/heipas/UdpSocket.h"
#include "tools/plcsim/EcomModuleSim.h"

namespace plc::ecom {
namespace {

using heipas::Datagram;
using heipas::Kind;
using heipas::UdpSocket;

constexpr std::uint32_t kLoopback = 0x7F000001;

std::unique_ptr<HeiPasApi> Library() {
  setenv("HEI_PAS_LIBRARY", PLC_BINARY_DIR "/lib/libhei_pas.so", 1);
  std::string why;
  auto api = LoadHeiPasLibrary(why);
  EXPECT_TRUE(api) << why;
  return api;
}

// A module played by the test: answers the query as module 4, then runs `onRequest` for each
// CCM request until it returns false.
class PlayedModule {
 public:
  explicit PlayedModule(std::function<bool(const UdpSocket&, const UdpSocket::Received&, const Datagram&)> onRequest)
      : socket_(*UdpSocket::Bind(kLoopback, 0)), onRequest_(std::move(onRequest)) {
    setenv("HEI_PAS_MODULES", ("127.0.0.1:" + std::to_string(socket_.LocalPort())).c_str(), 1);
    thread_ = std::thread([this] { Run(); });
  }
  ~PlayedModule() { thread_.join(); }

 private:
  void Run() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (auto got = socket_.ReceiveUntil(deadline)) {
      auto d = heipas::Parse(got->bytes);
      if (!d) continue;
      if (d->kind == Kind::Query) {
        Datagram reply{.kind = Kind::QueryReply, .sequence = d->sequence, .moduleId = 4, .deviceType = 1, .name = "M4"};
        socket_.SendTo(got->from, heipas::Encode(reply));
      } else if (!onRequest_(socket_, *got, *d)) {
        return;
      }
    }
  }
  UdpSocket socket_;
  std::function<bool(const UdpSocket&, const UdpSocket::Received&, const Datagram&)> onRequest_;
  std::thread thread_;
};

struct OpenDevice {
  std::unique_ptr<HeiPasApi> api = Library();
  HEITransport transport{.Transport = 4, .Protocol = 3, .Token = 0, .Reserved = {}};
  HEIDevice devices[20]{};
  OpenDevice() {
    std::int32_t count = 20;
    std::int16_t flag = 0;
    EXPECT_EQ(api->Open(2), HP_OK);
    EXPECT_EQ(api->OpenTransport(transport, 2, 0), HP_OK);
    EXPECT_EQ(api->QueryDevices(transport, devices, count, 2), HP_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(api->OpenDevice(transport, devices[0], 2, 40, 1, flag), HP_OK);
  }
  ~OpenDevice() { api->Close(); }
};

TEST(HeiPasClient, OnlyAnExactAnswerFromTheModuleAskedCounts) {
  int requests = 0;
  PlayedModule module([&](const UdpSocket& s, const UdpSocket::Received& got, const Datagram& d) {
    Datagram reply = d;
    reply.kind = Kind::CcmReply;
    reply.data = {0x34, 0x12};
    if (++requests == 1) {
      // Another sender with a perfect answer, an oversized and a short datagram, then the answer.
      Datagram forged = reply;
      forged.data = {0xEE, 0xEE};
      UdpSocket::Bind(kLoopback, 0)->SendTo(got.from, heipas::Encode(forged));
      s.SendTo(got.from, std::vector<std::uint8_t>(heipas::kMaxDatagram + 100, 0x45));
      s.SendTo(got.from, std::vector<std::uint8_t>{0x45, 0x43, 1});
      s.SendTo(got.from, heipas::Encode(reply));
      return true;
    }
    // Second request: only refusable datagrams, on every attempt.
    auto bytes = heipas::Encode(reply);
    bytes.resize(bytes.size() - 1);
    s.SendTo(got.from, bytes);
    return requests < 3;
  });
  OpenDevice o;
  std::uint8_t buffer[1001]{};
  EXPECT_EQ(o.api->CcmRequest(o.devices[0], 0, 0x31, 1, 2, buffer), HP_OK);
  EXPECT_EQ(buffer[0], 0x34);
  EXPECT_EQ(buffer[1], 0x12);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(o.api->CcmRequest(o.devices[0], 0, 0x31, 1, 2, buffer), HP_E_BAD_REPLY);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));  // 2 attempts of 40 ms
}

TEST(HeiPasClient, ArgumentChecksAndIpx) {
  PlayedModule module([](const UdpSocket&, const UdpSocket::Received&, const Datagram&) { return false; });
  OpenDevice o;
  std::uint8_t buffer[1001]{};
  EXPECT_EQ(o.api->CcmRequest(o.devices[0], 0, 0x31, 1, 1002, buffer), HP_E_TOO_LONG);
  EXPECT_EQ(o.api->CcmRequest(o.devices[0], 0, 0x34, 1, 2, buffer), HP_E_BAD_ARGUMENT);
  std::int16_t length = 2;
  EXPECT_EQ(o.api->ReadSetupData(o.devices[0], 0x20, buffer, length), HP_E_BUFFER_SMALL);
  EXPECT_EQ(o.api->ReadSetupData(o.devices[0], 0x21, buffer, length), HP_E_SETUP_TYPE);
  HEITransport ipx{.Transport = 4, .Protocol = 2, .Token = 0, .Reserved = {}};
  EXPECT_EQ(o.api->OpenTransport(ipx, 2, 0), HP_E_NO_IPX);
  // A device whose transport is closed is refused, not used.
  EXPECT_EQ(o.api->CloseTransport(o.transport), HP_OK);
  EXPECT_EQ(o.api->CcmRequest(o.devices[0], 0, 0x31, 1, 2, buffer), HP_E_NOT_OPEN);
  // Let the played module's thread end: it stops at its first request.
  HEITransport t{.Transport = 4, .Protocol = 3, .Token = 0, .Reserved = {}};
  std::int32_t count = 20;
  std::int16_t flag = 0;
  ASSERT_EQ(o.api->OpenTransport(t, 2, 0), HP_OK);
  ASSERT_EQ(o.api->QueryDevices(t, o.devices, count, 2), HP_OK);
  ASSERT_EQ(o.api->OpenDevice(t, o.devices[0], 2, 10, 0, flag), HP_OK);
  EXPECT_EQ(o.api->CcmRequest(o.devices[0], 0, 0x31, 1, 2, buffer), HP_E_TIMEOUT);
}

TEST(HeiPasClient, QueriesByModuleIdAndNameAndTheirSetupAndDefinition) {
  sim::EcomModuleSim modules({{1, "PRESS", 0}, {2, "OVEN", 0}, {3, "OVEN", 0}});
  modules.Start();
  setenv("HEI_PAS_MODULES", modules.ModuleList().c_str(), 1);
  auto api = Library();
  HEITransport t{.Transport = 4, .Protocol = 3, .Token = 0, .Reserved = {}};
  HEIDevice devices[20]{};
  ASSERT_EQ(api->Open(2), HP_OK);
  ASSERT_EQ(api->OpenTransport(t, 2, 0), HP_OK);

  std::int32_t count = 20;
  const std::uint8_t id = 2;
  ASSERT_EQ(api->QueryDeviceData(t, devices, count, 2, HP_DATA_MODULE_ID, &id, 1), HP_OK);
  ASSERT_EQ(count, 1);
  std::uint8_t setup[256]{};
  std::int16_t length = 4;
  ASSERT_EQ(api->ReadSetupData(devices[0], 0x20, setup, length), HP_OK);
  EXPECT_EQ(setup[0], 2);
  EXPECT_EQ(length, 4);
  std::uint8_t definition[44]{};
  ASSERT_EQ(api->ReadDeviceDef(devices[0], definition, 42), HP_OK);
  EXPECT_EQ(definition[2], 1);  // an ECOM
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(definition + 3), definition[1]), "OVEN");

  count = 20;
  const char name[8] = "OVEN   ";
  ASSERT_EQ(api->QueryDeviceData(t, devices, count, 2, HP_DATA_NAME, reinterpret_cast<const std::uint8_t*>(name), 7),
            HP_OK);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(devices[0].ModuleId, 2);
  EXPECT_EQ(devices[1].ModuleId, 3);
  count = 1;  // less room than modules: the first in list order
  ASSERT_EQ(api->QueryDevices(t, devices, count, 2), HP_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(devices[0].ModuleId, 1);
  api->Close();
  unsetenv("HEI_PAS_MODULES");
}

}  // namespace
}  // namespace plc::ecom
