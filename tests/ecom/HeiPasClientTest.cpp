// The dlopened libhei_pas.so against a hand-played module on loopback: what the client takes
// as an answer and what it refuses (another sender, an oversized or short datagram, another
// request's answer, an error status), how long one call may block, where its socket listens and
// where it reads its module list, its sequence numbers, its trace, and the codes and words of
// its argument checks.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>

#include "ecom/HeiPasApi.h"
#include "ecom/heipas/Datagram.h"
#include "ecom/heipas/UdpSocket.h"
#include "tests/platform/TempFolder.h"
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

TEST(HeiPasClient, AnAnswerFromAnotherPortIsToldWithTheTimeOut) {
  // A NAT between client and module that rewrites the module's source port: every answer
  // comes from 127.0.0.1:other, is refused, and the failure says so instead of "no answer".
  auto elsewhere = UdpSocket::Bind(kLoopback, 0);
  ASSERT_TRUE(elsewhere);
  const std::string other = "127.0.0.1:" + std::to_string(elsewhere->LocalPort());
  int requests = 0;
  PlayedModule module([&](const UdpSocket&, const UdpSocket::Received& got, const Datagram& d) {
    Datagram reply = d;
    reply.kind = Kind::CcmReply;
    reply.data = {0x34, 0x12};
    elsewhere->SendTo(got.from, heipas::Encode(reply));
    return ++requests < 2;
  });
  OpenDevice o;
  std::uint8_t buffer[2]{};
  EXPECT_EQ(o.api->CcmRequest(o.devices[0], 0, 0x31, 1, 2, buffer), HP_E_TIMEOUT);
  EXPECT_EQ(buffer[0], 0);
  const std::string detail = o.api->ErrorDetail();
  EXPECT_EQ(detail.rfind("no answer from module 4 at 127.0.0.1:", 0), 0u) << detail;
  EXPECT_NE(detail.find("to 2 attempts of 40 ms; 2 datagrams came from elsewhere meanwhile (the last from " + other +
                        "), not taken as the module's answer"),
            std::string::npos)
      << detail;
}

// A search of the modules HEI_PAS_MODULES lists that finds none: the detail it leaves.
std::string DetailOfASearchFindingNone() {
  auto api = Library();
  HEITransport t{.Transport = 4, .Protocol = 3, .Token = 0, .Reserved = {}};
  HEIDevice devices[20]{};
  std::int32_t count = 20;
  EXPECT_EQ(api->Open(2), HP_OK);
  EXPECT_EQ(api->OpenTransport(t, 2, 0), HP_OK);
  EXPECT_EQ(api->QueryDevices(t, devices, count, 2), HP_OK);
  EXPECT_EQ(count, 0);
  std::string detail = api->ErrorDetail();
  api->Close();
  return detail;
}

TEST(HeiPasClient, AQueryThatFoundNoModuleSaysWhatCameInstead) {
  setenv("HEI_PAS_QUERY_MS", "100", 1);
  // A module listed by a broadcast address: the system refuses the send.
  setenv("HEI_PAS_MODULES", "255.255.255.255:28784", 1);
  {
    // The system's words: "Permission denied" where a route exists, "Network is unreachable"
    // on a machine with none.
    const std::string detail = DetailOfASearchFindingNone();
    EXPECT_EQ(detail.rfind("none of the 1 module address(es) listed in HEI_PAS_MODULES answered within 100 ms; the "
                           "query could not be sent to 1 of them (the last, 255.255.255.255:28784: ",
                           0),
              0u)
        << detail;
    EXPECT_EQ(detail.back(), ')') << detail;
  }
  // A module that answers from another port than the one listed (a NAT).
  auto listed = UdpSocket::Bind(kLoopback, 0);
  auto answering = UdpSocket::Bind(kLoopback, 0);
  ASSERT_TRUE(listed && answering);
  setenv("HEI_PAS_MODULES", ("127.0.0.1:" + std::to_string(listed->LocalPort())).c_str(), 1);
  std::thread module([&] {
    auto got = listed->ReceiveUntil(std::chrono::steady_clock::now() + std::chrono::seconds(5));
    if (!got) return;
    const auto d = heipas::Parse(got->bytes);
    if (!d) return;
    Datagram reply{.kind = Kind::QueryReply, .sequence = d->sequence, .moduleId = 4, .deviceType = 1, .name = "M4"};
    answering->SendTo(got->from, heipas::Encode(reply));
  });
  const std::string detail = DetailOfASearchFindingNone();
  module.join();
  EXPECT_EQ(detail,
            "none of the 1 module address(es) listed in HEI_PAS_MODULES answered within 100 ms; 1 answer came from an "
            "address not listed (the last from 127.0.0.1:" +
                std::to_string(answering->LocalPort()) + "), not taken");
  unsetenv("HEI_PAS_QUERY_MS");
  unsetenv("HEI_PAS_MODULES");
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

TEST(HeiPasClient, AModuleListedTwiceIsOneDevice) {
  sim::EcomModuleSim modules({{1, "PRESS", 0}, {2, "OVEN", 0}});
  modules.Start();
  const std::string one = "127.0.0.1:" + std::to_string(modules.Port(0));
  const std::string two = "127.0.0.1:" + std::to_string(modules.Port(1));
  setenv("HEI_PAS_MODULES", (one + "," + two + "," + one).c_str(), 1);
  auto api = Library();
  HEITransport t{.Transport = 4, .Protocol = 3, .Token = 0, .Reserved = {}};
  HEIDevice devices[20]{};
  ASSERT_EQ(api->Open(2), HP_OK);
  ASSERT_EQ(api->OpenTransport(t, 2, 0), HP_OK);
  std::int32_t count = 20;
  ASSERT_EQ(api->QueryDevices(t, devices, count, 2), HP_OK);
  ASSERT_EQ(count, 2) << "module 1 answers twice, once for each entry, and is still one device";
  EXPECT_EQ(devices[0].ModuleId, 1);
  EXPECT_EQ(devices[1].ModuleId, 2);
  api->Close();
  unsetenv("HEI_PAS_MODULES");
}

}  // namespace
}  // namespace plc::ecom

namespace plc::ecom {
namespace {

using heipas::Datagram;
using heipas::Kind;
using heipas::UdpSocket;

// A reply to a played request, with the fields a test changes.
Datagram ReplyTo(const Datagram& d, std::vector<std::uint8_t> data, std::uint8_t status = 0) {
  Datagram reply = d;
  reply.kind = Kind::CcmReply;
  reply.status = status;
  reply.data = std::move(data);
  return reply;
}

TEST(HeiPasClient, AModuleErrorStatusLeavesTheBufferAsItWas) {
  PlayedModule module([](const UdpSocket& s, const UdpSocket::Received& got, const Datagram& d) {
    s.SendTo(got.from, heipas::Encode(ReplyTo(d, {}, heipas::StatusBadLength)));
    return false;
  });
  OpenDevice o;
  std::uint8_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), 0xA5);
  EXPECT_EQ(o.api->CcmRequest(o.devices[0], 0, 0x31, 1, 4, buffer), HP_E_MODULE_BASE + 2);
  EXPECT_EQ(std::count(std::begin(buffer), std::end(buffer), 0xA5), 8);
  EXPECT_NE(o.api->ErrorDetail().find("refused the request: status 2, length not served"), std::string::npos)
      << o.api->ErrorDetail();
}

TEST(HeiPasClient, AnAnswerToTheRequestBeforeIsNotThisOnes) {
  PlayedModule module([](const UdpSocket& s, const UdpSocket::Received& got, const Datagram& d) {
    Datagram stale = ReplyTo(d, {0xEE, 0xEE});
    stale.sequence = d.sequence - 1;
    s.SendTo(got.from, heipas::Encode(stale));
    s.SendTo(got.from, heipas::Encode(ReplyTo(d, {0x34, 0x12})));
    return false;
  });
  OpenDevice o;
  std::uint8_t buffer[2]{};
  EXPECT_EQ(o.api->CcmRequest(o.devices[0], 0, 0x31, 1, 2, buffer), HP_OK);
  EXPECT_EQ(buffer[0], 0x34);
  EXPECT_EQ(buffer[1], 0x12);
  EXPECT_EQ(o.api->ErrorDetail(), "");
}

TEST(HeiPasClient, TheWholeCcmBufferGoesInOneRequest) {
  // 1001 bytes asked of the inputs, answered byte for byte; 1002 never leave the client.
  int requests = 0;
  PlayedModule module([&](const UdpSocket& s, const UdpSocket::Received& got, const Datagram& d) {
    ++requests;
    std::vector<std::uint8_t> data(d.length);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    s.SendTo(got.from, heipas::Encode(ReplyTo(d, std::move(data))));
    return false;
  });
  OpenDevice o;
  std::uint8_t buffer[1002]{};
  EXPECT_EQ(o.api->CcmRequest(o.devices[0], 0, 0x32, 0x101, 1002, buffer), HP_E_TOO_LONG);
  EXPECT_EQ(o.api->CcmRequest(o.devices[0], 0, 0x32, 0x101, 1001, buffer), HP_OK) << o.api->ErrorDetail();
  EXPECT_EQ(requests, 1);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[1000], static_cast<std::uint8_t>(1000 * 7 + 1));
  EXPECT_EQ(buffer[1001], 0) << "nothing past the length asked";
}

TEST(HeiPasClient, OneCallReturnsWithinItsBoundWhateverTheTimeOut) {
  PlayedModule module([](const UdpSocket&, const UdpSocket::Received&, const Datagram&) { return false; });
  auto api = Library();
  HEITransport t{.Transport = 4, .Protocol = 3, .Token = 0, .Reserved = {}};
  HEIDevice devices[20]{};
  std::int32_t count = 20;
  std::int16_t flag = 0;
  ASSERT_EQ(api->Open(2), HP_OK);
  ASSERT_EQ(api->OpenTransport(t, 2, 0), HP_OK);
  ASSERT_EQ(api->QueryDevices(t, devices, count, 2), HP_OK);
  ASSERT_EQ(api->OpenDevice(t, devices[0], 2, 32767, 10, flag), HP_OK);  // 11 attempts of 33 s asked
  std::uint8_t buffer[2]{};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(api->CcmRequest(devices[0], 0, 0x31, 1, 2, buffer), HP_E_TIMEOUT);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(HP_MAX_CALL_MS - 10));
  EXPECT_LT(took, std::chrono::milliseconds(HP_MAX_CALL_MS + 1000));
  EXPECT_EQ(api->ErrorDetail().rfind("no answer from module 4 at 127.0.0.1:", 0), 0u) << api->ErrorDetail();
  EXPECT_NE(api->ErrorDetail().find("to 1 attempt of 32767 ms"), std::string::npos) << api->ErrorDetail();
  api->Close();
}

// The local address (host order) of the UDP socket behind fd, from the kernel's table.
std::optional<std::uint32_t> BoundAddress(int fd) {
  char target[64]{};
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  if (::readlink(link.c_str(), target, sizeof target - 1) <= 0) return std::nullopt;
  std::string inode = target;  // socket:[12345]
  if (inode.rfind("socket:[", 0) != 0) return std::nullopt;
  inode = inode.substr(8, inode.size() - 9);
  std::ifstream table("/proc/self/net/udp");
  std::string line;
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, node;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> node;
    if (node == inode) return ntohl(static_cast<std::uint32_t>(std::stoul(local.substr(0, 8), nullptr, 16)));
  }
  return std::nullopt;
}

// The sockets this process has open (not the listing's own descriptor).
std::set<int> OpenSockets() {
  std::set<int> fds;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(entry.path(), ec).string().rfind("socket:", 0) == 0)
      fds.insert(std::stoi(entry.path().filename()));
  }
  return fds;
}

TEST(HeiPasClient, TheSocketListensOnTheModulesInterfaceOnly) {
  setenv("HEI_PAS_MODULES", "127.0.0.1:28799,127.0.0.2:28799", 1);
  auto api = Library();
  ASSERT_EQ(api->Open(2), HP_OK);
  const auto before = OpenSockets();
  HEITransport t{.Transport = 4, .Protocol = 3, .Token = 0, .Reserved = {}};
  ASSERT_EQ(api->OpenTransport(t, 2, 0), HP_OK);
  std::vector<int> opened;
  for (int fd : OpenSockets())
    if (!before.count(fd)) opened.push_back(fd);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(BoundAddress(opened[0]), std::optional<std::uint32_t>(0x7F000001));
  api->Close();
  unsetenv("HEI_PAS_MODULES");
}

TEST(HeiPasClient, SequenceNumbersStartAtRandom) {
  sim::EcomModuleSim modules({{1, "PRESS", 0}});
  modules.Start();
  modules.Record(true);
  setenv("HEI_PAS_MODULES", modules.ModuleList().c_str(), 1);
  // Each thread has the library's state of its own, as each process does.
  auto query = [] {
    auto api = Library();
    HEITransport t{.Transport = 4, .Protocol = 3, .Token = 0, .Reserved = {}};
    HEIDevice devices[20]{};
    std::int32_t count = 20;
    api->Open(2);
    api->OpenTransport(t, 2, 0);
    EXPECT_EQ(api->QueryDevices(t, devices, count, 2), HP_OK);
    EXPECT_EQ(count, 1);
    api->Close();
  };
  std::thread(query).join();
  std::thread(query).join();
  std::vector<std::uint32_t> sequences;
  for (const auto& r : modules.Recorded()) {
    auto d = heipas::Parse(r.bytes);
    if (r.received && d && d->kind == Kind::Query) sequences.push_back(d->sequence);
  }
  ASSERT_EQ(sequences.size(), 2u);
  EXPECT_NE(sequences[0], sequences[1]);
  EXPECT_NE(sequences[0], 1u);
  EXPECT_NE(sequences[1], 1u);
  unsetenv("HEI_PAS_MODULES");
}

// The module list from the environment only as the test sets it; restored afterwards.
class ModuleListPlaces : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"HEI_PAS_MODULES", "HEI_PAS_CONFIG", "XDG_CONFIG_HOME", "HOME"}) {
      const char* v = std::getenv(name);
      saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
      unsetenv(name);
    }
    setenv("HOME", home_.Path().c_str(), 1);
    ASSERT_TRUE(api_);
    ASSERT_EQ(api_->Open(2), HP_OK);
  }
  void TearDown() override {
    api_->Close();
    for (const auto& [name, value] : saved_) {
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
  }
  int OpenTransport() {
    HEITransport t{.Transport = 4, .Protocol = 3, .Token = 0, .Reserved = {}};
    const int rc = api_->OpenTransport(t, 2, 0);
    if (rc == HP_OK) api_->CloseTransport(t);
    return rc;
  }
  static void Write(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
  }

  testing::TempFolder home_, work_;
  std::unique_ptr<HeiPasApi> api_ = Library();
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(ModuleListPlaces, NeverTheCurrentDirectoryButTheUsersConfiguration) {
  // A broken list in the current directory is not read.
  Write(work_.File("hei_pas.conf"), "not-an-address\n");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(work_.Path());
  EXPECT_EQ(OpenTransport(), HP_OK);
  // The user's configuration is: ~/.config/hei_pas.conf, or under XDG_CONFIG_HOME.
  Write(home_.File(".config/hei_pas.conf"), "127.0.0.1:1 # the press\n10.0.0.300\n");
  EXPECT_EQ(OpenTransport(), HP_E_CONFIG);
  EXPECT_EQ(api_->ErrorDetail(), "the module list " + home_.File(".config/hei_pas.conf") +
                                     ": entry '10.0.0.300' is not A.B.C.D or A.B.C.D:PORT");
  setenv("XDG_CONFIG_HOME", work_.File("xdg").c_str(), 1);
  Write(work_.File("xdg/hei_pas.conf"), "127.0.0.1:28799\n");
  EXPECT_EQ(OpenTransport(), HP_OK);
  std::filesystem::current_path(cwd);
}

TEST_F(ModuleListPlaces, AFileIsReadOnlyWhenItIsASmallRegularFile) {
  setenv("HEI_PAS_CONFIG", "/dev/zero", 1);
  EXPECT_EQ(OpenTransport(), HP_E_CONFIG);
  EXPECT_EQ(api_->ErrorDetail(), "the module list /dev/zero is not a regular file");
  Write(work_.File("big.conf"), std::string(70000, '#'));
  setenv("HEI_PAS_CONFIG", work_.File("big.conf").c_str(), 1);
  EXPECT_EQ(OpenTransport(), HP_E_CONFIG);
  EXPECT_EQ(api_->ErrorDetail(), "the module list " + work_.File("big.conf") + " is longer than 65536 bytes");
  setenv("HEI_PAS_CONFIG", work_.File("missing.conf").c_str(), 1);
  EXPECT_EQ(OpenTransport(), HP_E_CONFIG);
  EXPECT_EQ(api_->ErrorDetail(),
            "the module list " + work_.File("missing.conf") + " cannot be opened: No such file or directory");
  Write(work_.File("good.conf"), "# the press\n127.0.0.1:28799\n");
  setenv("HEI_PAS_CONFIG", work_.File("good.conf").c_str(), 1);
  EXPECT_EQ(OpenTransport(), HP_OK);
  EXPECT_EQ(api_->ErrorDetail(), "");
}

TEST(HeiPasClient, ARecordThatIsNotTheLibrarysIsRefused) {
  auto api = Library();
  ASSERT_EQ(api->Open(2), HP_OK);
  HEIDevice garbage;
  std::memset(&garbage, 0xFF, sizeof garbage);
  std::uint8_t buffer[64]{};
  std::int16_t length = 4;
  EXPECT_EQ(api->CcmRequest(garbage, 0, 0x31, 1, 2, buffer), HP_E_NOT_OPEN);
  EXPECT_EQ(api->ReadDeviceDef(garbage, buffer, 42), HP_E_NOT_OPEN);
  EXPECT_EQ(api->ReadSetupData(garbage, 0x20, buffer, length), HP_E_NOT_OPEN);
  EXPECT_EQ(api->CloseDevice(garbage), HP_E_NOT_OPEN);
  EXPECT_EQ(api->ErrorDetail(), "the device, its transport or the library is not open");
  api->Close();
}

TEST(HeiPasClient, AFloodOfForeignDatagramsDoesNotHoldTheCallPastItsTime) {
  // A broadcast storm or a babbling device sends to the client's port faster than a host that
  // traces every datagram takes them: the call still ends at its attempts' time.
  auto elsewhere = UdpSocket::Bind(kLoopback, 0);
  ASSERT_TRUE(elsewhere);
  std::atomic<bool> stop{false};
  std::thread flood;
  PlayedModule module([&](const UdpSocket&, const UdpSocket::Received& got, const Datagram& d) {
    const auto to = got.from;
    const auto bytes = heipas::Encode(ReplyTo(d, {1, 0}));
    flood = std::thread([&stop, &elsewhere, to, bytes] {
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(6);
      while (!stop && std::chrono::steady_clock::now() < end) {
        elsewhere->SendTo(to, bytes);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    });
    return false;
  });
  OpenDevice o;
  o.api->SetTrace([](TraceDirection, const std::uint8_t*, std::size_t, std::int64_t) {
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  });
  std::uint8_t buffer[2]{};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(o.api->CcmRequest(o.devices[0], 0, 0x31, 1, 2, buffer), HP_E_TIMEOUT);
  const auto took = std::chrono::steady_clock::now() - start;
  stop = true;
  if (flood.joinable()) flood.join();
  EXPECT_LT(took, std::chrono::milliseconds(HP_MAX_CALL_MS)) << "2 attempts of 40 ms";
  EXPECT_EQ(buffer[0], 0);
  EXPECT_NE(std::string(o.api->ErrorDetail()).find("came from elsewhere meanwhile"), std::string::npos)
      << o.api->ErrorDetail();
  o.api->SetTrace(nullptr);
}

TEST(HeiPasClient, TheTraceSeesEveryDatagram) {
  PlayedModule module([](const UdpSocket& s, const UdpSocket::Received& got, const Datagram& d) {
    s.SendTo(got.from, heipas::Encode(ReplyTo(d, {1, 0})));
    return false;
  });
  auto api = Library();
  std::vector<std::pair<TraceDirection, std::vector<std::uint8_t>>> seen;
  ASSERT_EQ(api->Open(2), HP_OK);
  api->SetTrace([&](TraceDirection dir, const std::uint8_t* data, std::size_t size, std::int64_t) {
    seen.emplace_back(dir, std::vector<std::uint8_t>(data, data + size));
  });
  HEITransport t{.Transport = 4, .Protocol = 3, .Token = 0, .Reserved = {}};
  HEIDevice devices[20]{};
  std::int32_t count = 20;
  std::int16_t flag = 0;
  ASSERT_EQ(api->OpenTransport(t, 2, 0), HP_OK);
  ASSERT_EQ(api->QueryDevices(t, devices, count, 2), HP_OK);
  ASSERT_EQ(api->OpenDevice(t, devices[0], 2, 500, 0, flag), HP_OK);
  std::uint8_t buffer[2]{};
  ASSERT_EQ(api->CcmRequest(devices[0], 0, 0x31, 1, 2, buffer), HP_OK);
  ASSERT_EQ(seen.size(), 4u);
  const std::vector<std::pair<TraceDirection, Kind>> expected = {
      {TraceDirection::Sent, Kind::Query},
      {TraceDirection::Received, Kind::QueryReply},
      {TraceDirection::Sent, Kind::Ccm},
      {TraceDirection::Received, Kind::CcmReply}};
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].first, expected[i].first) << i;
    const auto d = heipas::Parse(seen[i].second);
    ASSERT_TRUE(d) << i;
    EXPECT_EQ(d->kind, expected[i].second) << i;
  }
  // Closing ends the trace: nothing reaches a hook that may be gone.
  api->Close();
  ASSERT_EQ(api->Open(2), HP_OK);
  ASSERT_EQ(api->OpenTransport(t, 2, 0), HP_OK);
  count = 20;
  api->QueryDevices(t, devices, count, 2);
  EXPECT_EQ(seen.size(), 4u);
  api->Close();
}

}  // namespace
}  // namespace plc::ecom
