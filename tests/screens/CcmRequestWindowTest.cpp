// udplink's CCM request window: every typed field checked before anything is opened, and the
// whole "Do Request" sequence against simulated ECOM modules through the project's hei_pas.
#include "screens/CcmRequestWindow.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <memory>

#include "ecom/HeiPasApi.h"
#include "tests/support/EcomModules.h"
#include "tools/plcsim/EcomModuleSim.h"

namespace plc::screens {
namespace {

using Clock = std::chrono::steady_clock;

// A loader that must not be reached: a refused field sends nothing.
CcmRequestWindow::ApiLoader Unreachable(int& calls) {
  return [&calls](std::string& why) -> std::unique_ptr<ecom::HeiPasApi> {
    ++calls;
    why = "not to be loaded";
    return nullptr;
  };
}

TEST(CcmFields, EveryWrongFieldIsNamedAndNothingIsSent) {
  struct Case {
    const char* what;
    std::function<void(CcmFields&)> set;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"empty ID", [](CcmFields& f) { f.moduleId = ""; }, "Module ID '': a whole number from 0 to 255"},
      {"ID too big", [](CcmFields& f) { f.moduleId = "256"; }, "Module ID '256': a whole number from 0 to 255"},
      {"negative ID", [](CcmFields& f) { f.moduleId = "-1"; }, "Module ID '-1': a whole number from 0 to 255"},
      {"ID in hex", [](CcmFields& f) { f.moduleId = "0x10"; }, "Module ID '0x10': a whole number from 0 to 255"},
      {"empty name",
       [](CcmFields& f) {
         f.query = CcmQuery::Name;
         f.name = "  ";
       },
       "Name '  ': 1 to 32 printable characters"},
      {"long name",
       [](CcmFields& f) {
         f.query = CcmQuery::Name;
         f.name = std::string(33, 'A');
       },
       "Name 'AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA': 1 to 32 printable characters"},
      {"control character in name",
       [](CcmFields& f) {
         f.query = CcmQuery::Name;
         f.name = "PR\x01SS";
       },
       "Name 'PR\x01SS': 1 to 32 printable characters"},
      {"empty address", [](CcmFields& f) { f.address = ""; }, "Address '': hexadecimal 0000 to 3FFF"},
      {"address past 3FFF", [](CcmFields& f) { f.address = "4000"; }, "Address '4000': hexadecimal 0000 to 3FFF"},
      {"address not hex", [](CcmFields& f) { f.address = "G000"; }, "Address 'G000': hexadecimal 0000 to 3FFF"},
      {"bare 0x", [](CcmFields& f) { f.address = "0x"; }, "Address '0x': hexadecimal 0000 to 3FFF"},
      {"empty size", [](CcmFields& f) { f.size = ""; }, "Size '': bytes, a whole number from 1 to 256"},
      {"size 0", [](CcmFields& f) { f.size = "000"; }, "Size '000': bytes, a whole number from 1 to 256"},
      {"size 257", [](CcmFields& f) { f.size = "257"; }, "Size '257': bytes, a whole number from 1 to 256"},
      {"size with a fraction", [](CcmFields& f) { f.size = "2.5"; }, "Size '2.5': bytes, a whole number from 1 to 256"},
      {"odd size for registers", [](CcmFields& f) { f.size = "3"; },
       "Size 3: registers take two bytes each, so an even size"},
      {"registers past 3FFF",
       [](CcmFields& f) {
         f.address = "3FFF";
         f.size = "4";
       },
       "Size 4 from Address 3FFF runs to 4000, past 3FFF"},
      {"bytes past 3FFF",
       [](CcmFields& f) {
         f.dataType = CcmDataType::Outputs;
         f.address = "3FF0";
         f.size = "17";
       },
       "Size 17 from Address 3FF0 runs to 4000, past 3FFF"},
      {"too few values",
       [](CcmFields& f) {
         f.write = true;
         f.size = "4";
         f.data = "1234";
       },
       "Data: 1 value(s) given, Size 4 asks for 2 registers"},
      {"too many bytes",
       [](CcmFields& f) {
         f.write = true;
         f.dataType = CcmDataType::Inputs;
         f.size = "1";
         f.data = "12 34";
       },
       "Data: 2 value(s) given, Size 1 asks for 1 byte"},
      {"register value beyond a word",
       [](CcmFields& f) {
         f.write = true;
         f.data = "10000";
       },
       "Data value 1 '10000': hexadecimal 0000 to FFFF (one register)"},
      {"byte value beyond a byte",
       [](CcmFields& f) {
         f.write = true;
         f.dataType = CcmDataType::Outputs;
         f.size = "2";
         f.data = "12,1FF";
       },
       "Data value 2 '1FF': hexadecimal 00 to FF (one byte)"},
      {"value not hex",
       [](CcmFields& f) {
         f.write = true;
         f.data = "12G4";
       },
       "Data value 1 '12G4': hexadecimal 0000 to FFFF (one register)"},
  };
  for (const Case& c : cases) {
    int loads = 0;
    CcmRequestWindow window(Unreachable(loads));
    c.set(window.fields);
    EXPECT_FALSE(window.DoRequest()) << c.what;
    EXPECT_EQ(window.Results(), std::vector<std::string>{c.message}) << c.what;
    EXPECT_EQ(loads, 0) << c.what;
  }
}

TEST(CcmFields, AcceptedFormsBecomeTheRequestsBytes) {
  CcmFieldError error;
  CcmFields f;
  f.address = " 0x0400 ";
  f.size = "004";
  f.write = true;
  f.data = "00AB, 1234";
  auto r = CheckCcmFields(f, error);
  ASSERT_TRUE(r) << error.message;
  EXPECT_EQ(r->address, 0x400);
  EXPECT_EQ(r->size, 4);
  EXPECT_EQ(r->data, (std::vector<std::uint8_t>{0xAB, 0x00, 0x34, 0x12})) << "registers go low byte first";
  f.address = "3ffEh";
  f.data = "1 2";
  r = CheckCcmFields(f, error);
  ASSERT_TRUE(r) << error.message;
  EXPECT_EQ(r->address, 0x3FFE);
  f.query = CcmQuery::Name;
  f.name = " OVEN ";
  f.moduleId = "not looked at";
  r = CheckCcmFields(f, error);
  ASSERT_TRUE(r) << error.message;
  EXPECT_EQ(r->name, "OVEN");
}

class CcmAgainstModules : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = std::make_unique<sim::EcomModuleSim>(std::vector<sim::EcomModuleConfig>{{1, "PRESS", 0}, {2, "OVEN", 0}});
    test::ServeEcomModules(*sim_);
    window_.timeoutMs = 50;
  }
  void TearDown() override { unsetenv("HEI_PAS_MODULES"); }

  std::unique_ptr<sim::EcomModuleSim> sim_;
  CcmRequestWindow window_;
};

TEST_F(CcmAgainstModules, ReadsRegistersOfTheModuleFoundByItsId) {
  sim_->SetWord(2, 0x400, 0x1234);  // V2000: word 400h, sent as CCM address 401h
  sim_->SetWord(2, 0x401, 0x0056);
  window_.fields.moduleId = "2";
  window_.fields.address = "0400";
  window_.fields.size = "4";
  EXPECT_TRUE(window_.DoRequest()) << window_.ResultText();
  EXPECT_EQ(window_.Results(), (std::vector<std::string>{"Found 1 Device(s)", "Results--> 34 12 56 00",
                                                         "Registers--> 1234 0056", "Closed  rc= 0"}));
}

TEST_F(CcmAgainstModules, WritesRegistersAndOutputsOfTheModuleFoundByItsName) {
  window_.fields.query = CcmQuery::Name;
  window_.fields.name = "PRESS";
  window_.fields.write = true;
  window_.fields.address = "0010";
  window_.fields.size = "4";
  window_.fields.data = "ABCD 0001";
  EXPECT_TRUE(window_.DoRequest()) << window_.ResultText();
  EXPECT_EQ(window_.Results(), (std::vector<std::string>{"Found 1 Device(s)", "Wrote 4 bytes starting at Address 0010",
                                                         "Closed  rc= 0"}));
  EXPECT_EQ(sim_->Word(1, 0x10), 0xABCD);
  EXPECT_EQ(sim_->Word(1, 0x11), 0x0001);
  EXPECT_EQ(sim_->Word(2, 0x10), 0) << "the other module is untouched";

  window_.ClearResults();
  window_.fields.dataType = CcmDataType::Outputs;
  window_.fields.address = "0101";
  window_.fields.size = "2";
  window_.fields.data = "5A A5";
  EXPECT_TRUE(window_.DoRequest()) << window_.ResultText();
  EXPECT_EQ(sim_->Byte(1, 0x33, 0x101), 0x5A);
  EXPECT_EQ(sim_->Byte(1, 0x33, 0x102), 0xA5);

  window_.ClearResults();
  window_.fields.write = false;
  window_.fields.dataType = CcmDataType::Outputs;
  EXPECT_TRUE(window_.DoRequest()) << window_.ResultText();
  EXPECT_EQ(window_.Results()[1], "Results--> 5A A5");
}

TEST_F(CcmAgainstModules, AModuleThatIsNotThereIsSaidByIdAndByName) {
  window_.fields.moduleId = "7";
  EXPECT_FALSE(window_.DoRequest());
  EXPECT_EQ(window_.Results(), (std::vector<std::string>{"No device(s) with Module ID '7' found!", "Closed  rc= 0"}));
  window_.ClearResults();
  window_.fields.query = CcmQuery::Name;
  window_.fields.name = "MIXER";
  EXPECT_FALSE(window_.DoRequest());
  EXPECT_EQ(window_.Results(), (std::vector<std::string>{"No device(s) with Name 'MIXER' found!", "Closed  rc= 0"}));
}

TEST_F(CcmAgainstModules, ACorruptAnswerFailsTheRequestWithItsCodeAndTheNextOneWorks) {
  // Every attempt the library makes (the first and its three retries) gets a spoiled answer.
  sim_->SetFault(1, sim::EcomFault::Corrupt, 4);
  sim_->SetWord(1, 0, 77);
  const auto start = Clock::now();
  EXPECT_FALSE(window_.DoRequest());
  const auto took = Clock::now() - start;
  // The code, and the library's reason for it, as UdpLink gives them.
  ASSERT_EQ(window_.Results().size(), 3u) << window_.ResultText();
  EXPECT_EQ(window_.Results()[0], "Found 1 Device(s)");
  EXPECT_EQ(window_.Results()[1].rfind("Error performing PASCAL_HEICCMRequest: rc= 8 (module 1 at 127.0.0.1:", 0), 0u)
      << window_.Results()[1];
  EXPECT_NE(window_.Results()[1].find("failed its check"), std::string::npos) << window_.Results()[1];
  EXPECT_EQ(window_.Results()[2], "Closed  rc= 0");
  EXPECT_LT(took, std::chrono::seconds(3));
  window_.ClearResults();
  EXPECT_TRUE(window_.DoRequest()) << window_.ResultText();
  EXPECT_EQ(window_.Results()[1], "Results--> 4D 00");
}

TEST_F(CcmAgainstModules, IpxIsRefusedByTheTransportAndTheLibraryClosed) {
  window_.fields.protocol = CcmProtocol::UseIPX;
  EXPECT_FALSE(window_.DoRequest());
  EXPECT_EQ(window_.Results(),
            (std::vector<std::string>{"Unable to Open Winsock Transport: rc= 3 (IPX is not available on this platform)",
                                      "Closed  rc= 0"}));
}

TEST(CcmRequestWindow, ALibraryThatCannotBeLoadedIsSaid) {
  CcmRequestWindow window([](std::string& why) -> std::unique_ptr<ecom::HeiPasApi> {
    why = "libhei_pas.so: cannot open shared object file";
    return nullptr;
  });
  EXPECT_FALSE(window.DoRequest());
  EXPECT_EQ(window.Results(),
            std::vector<std::string>{
                "Unable to Initialize the driver: rc= -1 (libhei_pas.so: cannot open shared object file)"});
}

}  // namespace
}  // namespace plc::screens
