// plclink udplink in ECOM mode, a fresh process against simulated modules on loopback: it
// finds the project's hei_pas beside itself, writes and reads back, and names a failure.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "tests/support/PlclinkCommand.h"
#include "tools/plcsim/EcomModuleSim.h"

namespace plc {
namespace {

TEST(PlclinkEcom, WriteReadAndAFailureInAFreshProcess) {
  sim::EcomModuleSim modules({{1, "PRESS", 0}, {2, "OVEN", 0}});
  modules.Start();
  setenv("HEI_PAS_MODULES", modules.ModuleList().c_str(), 1);
  unsetenv("HEI_PAS_LIBRARY");
  modules.SetByte(2, 0x32, 0x102, 0x80);

  auto run = [](std::vector<std::string> args) {
    args.insert(args.begin(), {"udplink", "--mode", "ECOM", "--json"});
    return test::RunPlclink(args);
  };
  auto write = run({"write", "2;V,2000", "7", "65535"});
  ASSERT_EQ(write.exitCode, 0) << write.err;
  EXPECT_EQ(modules.Word(2, 1024), 7);
  EXPECT_EQ(modules.Word(2, 1025), 65535);

  auto read = run({"read", "2;V,2000", "2"});
  ASSERT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(test::JsonLines(read).at(0)["values"], nlohmann::json::array({7, 65535}));
  auto bit = run({"read", "2;X,17"});
  EXPECT_EQ(test::JsonLines(bit).at(0)["values"], nlohmann::json::array({1}));

  auto missing = run({"read", "5;V,0"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.out.find("Error: invalid device address 5"), std::string::npos) << missing.out << missing.err;
  unsetenv("HEI_PAS_MODULES");
}

}  // namespace
}  // namespace plc
