// DfLink's surface: its nine keys, the line values read from the serial child, PortOpen at
// design time, and the timer that runs.
#include <gtest/gtest.h>

#include "base/RuntimeError.h"
#include "df1/DfLink.h"
#include "platform/IniPropertyBag.h"
#include "tests/platform/TempFolder.h"
#include "tests/support/LinkTestBench.h"

namespace plc {
namespace {

using test::LinkTestBench;
using test::RecordingBag;

const std::vector<std::string> kKeys = {"Mode",     "PLCType", "Enabled", "CommPort", "DTREnable",
                                        "Settings", "PortOpen", "Address", "Node"};

TEST(DfLinkKeys, OnlyNineKeysAreReadAndWrittenAndMissingOnesTakeTheirDefaults) {
  LinkTestBench<DfLink> b;
  b.port->SetSettings("4800,e,7,1");
  RecordingBag bag;
  b.Load(bag);
  EXPECT_EQ(bag.reads, kKeys);
  EXPECT_EQ(b.link->Settings(), "9600,n,8,1");
  EXPECT_TRUE(b.link->DTREnable());
  EXPECT_EQ(b.link->Mode(), df1::EnCRC);
  EXPECT_EQ(b.link->PLCType(), df1::EnSLC500);
  EXPECT_EQ(b.link->Address().ToInt32(), 1);
  b.link->WriteProperties(bag);
  EXPECT_EQ(bag.WrittenKeys(), kKeys);
  EXPECT_TRUE(bag.StoredKeys().empty());
}

TEST(DfLinkKeys, ANewControlSetsItsSerialChild) {
  LinkTestBench<DfLink> b;
  b.port->SetSettings("4800,e,7,1");
  b.port->SetCommPort(4);
  b.New();
  EXPECT_EQ(b.port->Settings(), "9600,n,8,1");
  EXPECT_EQ(b.port->CommPort(), 1);
  EXPECT_TRUE(b.port->DTREnable());
  EXPECT_EQ(b.link->NumOfReadRetries(), 0);
}

TEST(DfLinkKeys, RoundTripThroughAFileBackedBag) {
  testing::TempFolder folder;
  const std::string file = folder.File("form.ini");
  const std::vector<std::pair<const char*, Variant>> values = {
      {"Mode", std::int32_t{df1::EnBCC}}, {"PLCType", std::int32_t{df1::EnPLC5}}, {"Enabled", true},
      {"CommPort", std::int16_t{2}},      {"DTREnable", false},                   {"Settings", "19200,n,8,1"},
      {"Address", std::int32_t{5}},       {"Node", std::int32_t{9}}};
  {
    LinkTestBench<DfLink> a;
    a.New();
    for (const auto& [name, value] : values) a.link->SetProperty(name, value);
    a.link->SetPortOpen(true);
    IniPropertyBag bag(file, "DfLink1");
    a.link->WriteProperties(bag);
    bag.Save();
  }
  LinkTestBench<DfLink> b;
  IniPropertyBag bag(file, "DfLink1");
  b.Load(bag);
  for (const auto& [name, value] : values) EXPECT_EQ(b.link->GetProperty(name).ToString(), value.ToString()) << name;
  EXPECT_EQ(bag.ReadProperty("PortOpen", false), Variant(true));
  EXPECT_FALSE(b.link->PortOpen()) << "PortOpen reads the child, which loading does not open";
  RecordingBag out;
  b.link->WriteProperties(out);
  EXPECT_EQ(out.stored.Values().at("PortOpen"), Variant(true)) << "the remembered flag is saved again";
}

TEST(DfLinkProperties, PortOpenWorksAtDesignTimeAndReadsTheChild) {
  LinkTestBench<DfLink> b;
  b.New();
  b.host.SetUserMode(false);
  b.link->SetPortOpen(true);
  EXPECT_TRUE(b.port->PortOpen());
  EXPECT_EQ(b.host.ChangedKeys(), std::vector<std::string>{"PortOpen"});
  b.port->SetPortOpen(false);
  EXPECT_FALSE(b.link->PortOpen());
}

TEST(DfLinkProperties, OnlyTheWatchdogRunsAndShowLeavesIt) {
  LinkTestBench<DfLink> b;
  MemoryPropertyBag bag;
  b.Load(bag);  // includes Show, which DfLink does not handle
  EXPECT_FALSE(b.link->Timer1().Enabled());
  EXPECT_TRUE(b.link->Timer2().Enabled());
  EXPECT_EQ(b.link->Timer2().Interval(), 3000);
  EXPECT_FALSE(b.link->Timer3().Enabled());
  EXPECT_FALSE(b.link->Timer4().Enabled());
  b.host.SetUserMode(false);
  b.link->ReadProperties(bag);
  EXPECT_FALSE(b.link->Timer2().Enabled());
}

TEST(DfLinkProperties, SmallMembers) {
  LinkTestBench<DfLink> b;
  b.New();
  std::int16_t idx = 0;
  EXPECT_THROW(b.link->ReadData(idx), RuntimeError);
  idx = 300;
  EXPECT_EQ(b.link->ReadData(idx), 0.0);
  EXPECT_THROW(b.link->SetAddress(Variant(std::int32_t{70000})), RuntimeError);
  EXPECT_EQ(b.link->Address().ToInt32(), 70000);
  b.link->SetPortOpen(true);
  b.port->SetRThreshold(0);
  std::string line = "\x10\x05";
  b.link->SendToComm(line);
  EXPECT_EQ(b.port->TakeSent(), Bytes({0x10, 0x05}));
  EXPECT_EQ(b.port->RThreshold(), 0) << "DfLink writes the text only";
  b.link->Size(1000, 1000);
  EXPECT_EQ(b.link->Width(), 475);
}

// A request the far end never answered is no reason to hand out raw input a byte at a time.
TEST(DfLinkPassThrough, ReceiveCommTakesEverythingAfterAnUnansweredRequest) {
  LinkTestBench<DfLink> b;
  b.New();
  b.link->SetPortOpen(true);
  std::string addr = "N7:0";
  VariantArray values(1, 1);
  EXPECT_NE(b.link->ReadPLC(addr, values, {}), ResultOk);
  b.loop.RunFor(5'000'000);  // the watchdog frees the line
  b.port->TakeSent();
  std::string line = "AT\r";
  b.link->SendToComm(line);
  b.port->Inject(Bytes{'O', 'K', 0x00, 0xFF});
  b.loop.DoEvents();
  const Variant got = b.link->ReceiveComm();
  ASSERT_TRUE(got.IsArray());
  EXPECT_EQ(got.Array().Size(), 4);
  EXPECT_EQ(got.Array().Get(got.Array().Lower() + 3).ToInt32(), 0xFF);
  EXPECT_EQ(b.port->InBufferCount(), 0);
}

// Input is bytes once a request has gone, but nothing received is still the empty text a host
// compares with "".
TEST(DfLinkPassThrough, AnEmptyBufferGivesAnEmptyTextAfterARequest) {
  LinkTestBench<DfLink> b;
  b.New();
  b.link->SetPortOpen(true);
  EXPECT_EQ(b.link->ReceiveComm(), Variant(""));
  std::string addr = "N7:0";
  VariantArray values(1, 1);
  EXPECT_NE(b.link->ReadPLC(addr, values, {}), ResultOk);
  b.loop.RunFor(5'000'000);
  EXPECT_EQ(b.link->ReceiveComm(), Variant(""));
}

}  // namespace
}  // namespace plc
