// UdpLink's surface: its key table with the ECOM keys, and PortOpen in ECOM and serial modes.
#include <gtest/gtest.h>

#include "base/RuntimeError.h"
#include "ecom/EcomLinkState.h"
#include "ecom/UdpLink.h"
#include "tests/ecom/FakeHeiPas.h"
#include "platform/IniPropertyBag.h"
#include "tests/platform/TempFolder.h"
#include "tests/support/LinkTestBench.h"

namespace plc {
namespace {

using test::LinkTestBench;
using test::RecordingBag;

TEST(UdpLinkKeys, OrderDefaultsAndTheEcomKeys) {
  LinkTestBench<UdpLink> b;
  RecordingBag bag;
  b.Load(bag);
  EXPECT_EQ(bag.reads,
            (std::vector<std::string>{"BackColor", "ForeColor", "Enabled", "Font", "BackStyle", "BorderStyle", "Baud",
                                      "Appearance", "CommPort", "PortOpen", "NumOfReadRetries", "NumOfWriteRetries",
                                      "DeviceTimeOut", "Settings", "DTREnable", "Address", "ModBusMode", "Protocol",
                                      "ScanReadEnable", "ScanWriteEnable", "ScanReadIOTimerInterval",
                                      "ScanWriteIOTimerInterval"}));
  EXPECT_EQ(b.link->Settings(), "9600,e,8,1");
  EXPECT_EQ(b.link->CommMode(), udp::ECOM);
  EXPECT_EQ(b.link->CommProtocol(), udp::UDP_IP);
  EXPECT_EQ(b.link->DeviceTimeOut(), 55);
  b.link->WriteProperties(bag);
  const auto written = bag.WrittenKeys();
  auto at = [&](const char* key) { return std::find(written.begin(), written.end(), key) - written.begin(); };
  EXPECT_EQ(at("WriteUpdateInterval"), at("Protocol") + 1);
  EXPECT_LT(at("ScanWriteEnable"), at("ScanReadEnable"));
  EXPECT_TRUE(bag.StoredKeys().empty());
}

TEST(UdpLinkKeys, RoundTripThroughAFileBackedBag) {
  testing::TempFolder folder;
  const std::string file = folder.File("form.ini");
  const std::vector<std::pair<const char*, Variant>> values = {
      {"Enabled", true},
      {"CommPort", std::int16_t{6}},
      {"NumOfReadRetries", std::int16_t{1}},
      {"NumOfWriteRetries", std::int16_t{1}},
      {"DeviceTimeOut", std::int16_t{200}},
      {"Settings", "9600,o,8,1"},
      {"DTREnable", false},
      {"Address", std::int32_t{30}},
      {"CommMode", std::int32_t{udp::DIrectNet}},
      {"CommProtocol", std::int32_t{udp::IPX}},
      {"ScanReadEnable", true},
      {"ScanWriteEnable", true},
      {"ScanReadIOTimerInterval", std::int32_t{1500}},
      {"ScanWriteIOTimerInterval", std::int32_t{300}}};
  {
    LinkTestBench<UdpLink> a;
    a.link->InitProperties();
    for (const auto& [name, value] : values) a.link->SetProperty(name, value);
    IniPropertyBag bag(file, "UdpLink1");
    a.link->WriteProperties(bag);
    bag.Save();
  }
  LinkTestBench<UdpLink> b;
  IniPropertyBag bag(file, "UdpLink1");
  b.Load(bag);
  for (const auto& [name, value] : values) EXPECT_EQ(b.link->GetProperty(name).ToString(), value.ToString()) << name;
}

TEST(UdpLinkProperties, PortOpenOpensTheSerialChildOnlyInTheSerialModes) {
  ecom::EcomLink().Reset();
  ecom::EcomLink().Loader = ecom::test::FakeLoader(std::make_shared<ecom::test::FakeModules>());
  LinkTestBench<UdpLink> b;
  b.New();
  b.link->SetPortOpen(true);
  EXPECT_FALSE(b.port->PortOpen());
  EXPECT_TRUE(b.link->PortOpen());
  EXPECT_FALSE(b.link->EcomOpen());
  EXPECT_FALSE(b.link->CurrentErrors().empty());
  Variant address("V,2000"), value;
  EXPECT_EQ(b.link->ReadPLC(address, value, {}, {}, {}), ResultEcomNotOpen);

  b.link->SetPortOpen(false);
  b.link->SetCommMode(udp::KSeq);
  b.link->SetPortOpen(true);
  EXPECT_TRUE(b.port->PortOpen());

  b.host.SetUserMode(false);
  b.link->SetCommMode(udp::ECOM);
  EXPECT_THROW(b.link->SetPortOpen(false), RuntimeError);
  EXPECT_TRUE(b.link->PortOpen());
}

TEST(UdpLinkProperties, SmallMembers) {
  LinkTestBench<UdpLink> b;
  b.New();
  std::int16_t idx = 1000;
  EXPECT_EQ(b.link->ReadData(idx), Variant(std::int32_t{0}));
  idx = 1001;
  EXPECT_THROW(b.link->ReadData(idx), RuntimeError);
  std::string oct = "17 ";
  EXPECT_EQ(b.link->CnvOctToDec(oct), 120);
  float w = 0, h = 0;
  b.link->size(w, h);
  EXPECT_EQ(b.link->Height(), 500);
}

}  // namespace
}  // namespace plc
