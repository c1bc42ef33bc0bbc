// plcsim ecom as a program: its modules and fault from the command line, its module list for
// the client, and a clean end on SIGTERM.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include "ecom/EcomLinkState.h"
#include "ecom/UdpLink.h"
#include "tests/support/LinkTestBench.h"
#include "tests/support/PeerProcess.h"

namespace plc {
namespace {

TEST(PlcsimEcom, ServesTheModulesItIsGivenUntilSigterm) {
  test::PeerProcess sim(test::PeerCommand{PLC_BINARY_DIR "/bin/plcsim",
                                          {"ecom", "--module", "7:KILN@0", "--module", "8@0", "--fault", "wrong"},
                                          "build the plcsim target"});
  const std::string ready = sim.ReadyLine();
  const std::string prefix = "READY HEI_PAS_MODULES=";
  ASSERT_EQ(ready.rfind(prefix, 0), 0u) << ready;
  setenv("HEI_PAS_MODULES", ready.substr(prefix.size()).c_str(), 1);
  setenv("HEI_PAS_LIBRARY", PLC_BINARY_DIR "/lib/libhei_pas.so", 1);
  {
    ecom::EcomLink().Reset();
    test::LinkTestBench<UdpLink> b;
    b.New();
    b.link->SetDeviceTimeOut(10);
    b.link->SetPortOpen(true);
    ASSERT_EQ(b.link->CurrentErrors(), "");
    Variant address("8;V,0"), value;
    EXPECT_EQ(b.link->ReadPLC(address, value, {}, {}, {}), ResultFailed);
    EXPECT_EQ(b.link->CurrentErrors(), "Error 2 performing PASCAL_HEICCMRequest: rc= 9");
    address = Variant("9;V,0");
    EXPECT_EQ(b.link->ReadPLC(address, value, {}, {}, {}), ResultFailed);
    EXPECT_EQ(b.link->CurrentErrors(), "Error: invalid device address 9");
  }
  ecom::EcomLink().Reset();
  unsetenv("HEI_PAS_MODULES");
  ::kill(sim.Pid(), SIGTERM);
  const int status = sim.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace plc
