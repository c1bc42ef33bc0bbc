// plclink about and plclink udplink ccm, run as a script runs them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "plclink/Version.h"
#include "tests/support/EcomModules.h"
#include "tests/support/PlclinkCommand.h"
#include "tools/plcsim/EcomModuleSim.h"

namespace plc::test {
namespace {

TEST(PlclinkAbout, PrintsTheAboutBoxTexts) {
  RunResult r = RunPlclink({"about", "rtulink"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_GE(r.OutLines().size(), 3u) << r.out;
  EXPECT_EQ(r.OutLines()[0], "About rtulink");
  EXPECT_EQ(r.OutLines()[1], std::string("Version ") + PLCLINK_VERSION);

  r = RunPlclink({"about", "UDPLINK", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  nlohmann::json about = nlohmann::json::parse(r.out);
  EXPECT_EQ(about["caption"], "About udplink");
  EXPECT_EQ(about["lblVersion"], "Version");
  EXPECT_FALSE(about["labels"].empty());

  r = RunPlclink({"about"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("about needs a CONTROL"), std::string::npos) << r.err;
  r = RunPlclink({"about", "modlink"});
  EXPECT_EQ(r.exitCode, 2);
}

class PlclinkCcm : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = std::make_unique<sim::EcomModuleSim>(std::vector<sim::EcomModuleConfig>{{3, "KILN", 0}});
    test::ServeEcomModules(*sim_);
  }
  void TearDown() override { unsetenv("HEI_PAS_MODULES"); }
  std::unique_ptr<sim::EcomModuleSim> sim_;
};

TEST_F(PlclinkCcm, WritesAndReadsAsTheWindowDoes) {
  RunResult w = RunPlclink({"udplink", "ccm", "--name", "KILN", "--address", "0400", "--size", "4", "--write",
                            "1234 00FF", "--timeout", "50"});
  ASSERT_EQ(w.exitCode, 0) << w.out << w.err;
  EXPECT_EQ(w.OutLines(), (std::vector<std::string>{"Found 1 Device(s)", "Wrote 4 bytes starting at Address 0400",
                                                    "Closed  rc= 0"}));
  EXPECT_EQ(sim_->Word(3, 0x400), 0x1234);
  EXPECT_EQ(sim_->Word(3, 0x401), 0x00FF);

  RunResult r = RunPlclink({"udplink", "ccm", "--id", "3", "--address", "0x0400", "--size", "4", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  nlohmann::json got = nlohmann::json::parse(r.out);
  EXPECT_EQ(got["ok"], true);
  EXPECT_EQ(got["bytes"], (nlohmann::json{0x34, 0x12, 0xFF, 0x00}));
  EXPECT_EQ(got["messages"][1], "Results--> 34 12 FF 00");
}

TEST_F(PlclinkCcm, AMissingModuleFailsAndAWrongFieldIsAUsageError) {
  // A request that did not go through says so on standard error, as plclink's failures do.
  RunResult r = RunPlclink({"udplink", "ccm", "--id", "9"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "No device(s) with Module ID '9' found!\nClosed  rc= 0\n");
  r = RunPlclink({"udplink", "ccm", "--ipx"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Unable to Open Winsock Transport: rc= 3 (IPX is not available on this platform)\nClosed  rc= 0\n");

  r = RunPlclink({"udplink", "ccm", "--address", "G000"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("ccm: Address 'G000': hexadecimal 0000 to 3FFF"), std::string::npos) << r.err;
  EXPECT_EQ(sim_->Answered(), 0) << "nothing was sent";

  r = RunPlclink({"udplink", "ccm", "--type", "timers"});
  EXPECT_EQ(r.exitCode, 2);
  r = RunPlclink({"udplink", "ccm", "--size"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("--size needs a value"), std::string::npos) << r.err;
  r = RunPlclink({"udplink", "ccm", "--help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("usage: plclink udplink ccm"), std::string::npos);
}

}  // namespace
}  // namespace plc::test
