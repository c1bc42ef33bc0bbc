// plcsim ecom as a program: its modules and fault from the command line, its module list for
// the client, a clean end on SIGTERM, and arguments refused with a message naming the option.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <optional>

#include "ecom/EcomLinkState.h"
#include "ecom/UdpLink.h"
#include "tests/support/LinkTestBench.h"
#include "tests/support/PeerProcess.h"

namespace plc {
namespace {

test::PeerCommand Plcsim(std::vector<std::string> args) {
  args.insert(args.begin(), "ecom");
  return test::PeerCommand{PLC_BINARY_DIR "/bin/plcsim", std::move(args), "build the plcsim target"};
}

// The client side of a plcsim ecom process: the module list it printed handed to hei_pas, and a
// UdpLink of a fresh thread state that opens ECOM with the module ID `address`.
struct EcomClient {
  explicit EcomClient(test::PeerProcess& sim, std::int32_t address = 1, std::int16_t deviceTimeOut = 55) {
    const std::string ready = sim.ReadyLine();
    const std::string prefix = "READY HEI_PAS_MODULES=";
    EXPECT_EQ(ready.rfind(prefix, 0), 0u) << ready;
    setenv("HEI_PAS_MODULES", ready.substr(std::min(prefix.size(), ready.size())).c_str(), 1);
    setenv("HEI_PAS_LIBRARY", PLC_BINARY_DIR "/lib/libhei_pas.so", 1);
    ecom::EcomLink().Reset();
    b.emplace();
    b->New();
    b->link->SetAddress(address);
    b->link->SetDeviceTimeOut(deviceTimeOut);
    b->link->SetPortOpen(true);
  }
  ~EcomClient() {
    b.reset();
    ecom::EcomLink().Reset();
    unsetenv("HEI_PAS_MODULES");
  }
  UdpLink& Link() { return *b->link; }

  std::optional<test::LinkTestBench<UdpLink>> b;
};

TEST(PlcsimEcom, ServesTheModulesItIsGivenUntilSigterm) {
  test::PeerProcess sim(Plcsim({"--module", "7:KILN@0", "--module", "8@0", "--fault", "wrong"}));
  {
    EcomClient client(sim, 1, 10);
    UdpLink& link = client.Link();
    ASSERT_EQ(link.CurrentErrors(), "");
    Variant address("8;V,0"), value;
    EXPECT_EQ(link.ReadPLC(address, value, {}, {}, {}), ResultFailed);
    EXPECT_EQ(link.CurrentErrors(), "Error 2 performing PASCAL_HEICCMRequest: rc= 9");
    address = Variant("9;V,0");
    EXPECT_EQ(link.ReadPLC(address, value, {}, {}, {}), ResultFailed);
    EXPECT_EQ(link.CurrentErrors(), "Error: invalid device address 9");
  }
  ::kill(sim.Pid(), SIGTERM);
  const int status = sim.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(PlcsimEcom, ArgumentsAreCheckedAndTheMessageNamesTheOption) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--module", "300"}, "plcsim ecom: --module 300 ID: '300' is outside 1..255"},
      {{"--module", "x"}, "plcsim ecom: --module x ID: 'x' is not a number"},
      {{"--module", "1:PRESS@70000"}, "plcsim ecom: --module 1:PRESS@70000 port: '70000' is outside 0..65535"},
      {{"--module", "2", "--module", "2:OVEN"}, "plcsim ecom: --module: ID 2 is given twice (each module needs its own)"},
      {{"--bind", "127.0.0"}, "plcsim ecom: --bind: '127.0.0' is not one IPv4 address A.B.C.D"},
      {{"--fault", "bogus"},
       "plcsim ecom: --fault: 'bogus' is not one of silent, wrong, corrupt, truncated, refuse, stale, duplicate"},
      {{"--module"}, "plcsim ecom: --module needs a value"},
      {{"--frobnicate"}, "plcsim ecom: unknown option '--frobnicate'"},
  };
  for (const auto& [args, message] : cases) {
    const auto r = test::RunProgram(Plcsim(args), std::chrono::seconds(10));
    EXPECT_EQ(r.exitCode, 2) << message;
    EXPECT_EQ(r.err.rfind(message + "\n", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "") << message;
  }
  const auto help = test::RunProgram(Plcsim({"--help"}), std::chrono::seconds(10));
  EXPECT_EQ(help.exitCode, 0);
  for (const char* word : {"silent", "wrong", "corrupt", "truncated", "refuse", "stale", "duplicate", "V,n", "X,n",
                           "GX,n", "SP,n", "Y,n", "GY,n", "C,n", "S,n", "T,n", "CT,n", "281h", "321h"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

TEST(PlcsimEcom, AFaultFromTheCommandLineReachesTheClient) {
  test::PeerProcess sim(Plcsim({"--module", "3@0", "--fault", "refuse"}));
  {
    EcomClient client(sim, 3);
    UdpLink& link = client.Link();
    ASSERT_EQ(link.CurrentErrors(), "");
    Variant address("V,0"), value(std::int32_t{77});
    EXPECT_EQ(link.ReadPLC(address, value, {}, {}, {}), ResultFailed);
    EXPECT_EQ(link.CurrentErrors(), "Error 2 performing PASCAL_HEICCMRequest: rc= 102");
    EXPECT_EQ(value, Variant(std::int32_t{77}));
  }
  ::kill(sim.Pid(), SIGTERM);
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(PlcsimEcom, TheModuleListItPrintsReachesModulesOnEveryInterface) {
  // Listening on every interface, the modules are reached on this machine through loopback;
  // the list READY hands the client must name an address a datagram can be sent to.
  test::PeerProcess sim(Plcsim({"--module", "4@0", "--bind", "0.0.0.0"}));
  {
    EcomClient client(sim, 4);
    EXPECT_EQ(client.Link().CurrentErrors(), "");
    Variant address("V,0"), value;
    EXPECT_EQ(client.Link().ReadPLC(address, value, {}, {}, {}), ResultOk) << client.Link().CurrentErrors();
  }
  ::kill(sim.Pid(), SIGTERM);
  EXPECT_EQ(sim.Stop(), 0);
  // A broadcast or multicast address is no module's.
  for (const char* bind : {"255.255.255.255", "224.0.0.1"}) {
    const auto r = test::RunProgram(Plcsim({"--bind", bind}), std::chrono::seconds(10));
    EXPECT_EQ(r.exitCode, 2) << bind;
    EXPECT_EQ(r.err.rfind(std::string("plcsim ecom: --bind: '") + bind + "' is a broadcast or multicast address", 0),
              0u)
        << r.err;
  }
}

}  // namespace
}  // namespace plc
