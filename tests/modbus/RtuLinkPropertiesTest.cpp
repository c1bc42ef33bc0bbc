// RtuLink's property accessors: where each value lives, what a set notifies, the timer rules,
// the register image and the errors that reach the host.
#include <gtest/gtest.h>

#include "base/RuntimeError.h"
#include "modbus/RtuLink.h"
#include "tests/support/LinkTestBench.h"
#include "tests/support/ErrorOf.h"

namespace plc {
namespace {

using test::LinkTestBench;

using test::ErrorOf;

TEST(RtuLinkProperties, EverySetOfAPersistedPropertyNotifiesItsKey) {
  const std::vector<std::pair<const char*, Variant>> sets = {
      {"Enabled", true}, {"CommPort", std::int16_t{2}}, {"PortOpen", true}, {"Settings", "19200,n,8,1"},
      {"DTREnable", false}, {"RTSEnable", false}, {"ComHandshaking", std::int32_t{1}},
      {"NumOfReadRetries", std::int16_t{3}}, {"NumOfWriteRetries", std::int16_t{3}},
      {"Address", std::int32_t{9}}, {"ModBusMode", std::int32_t{2}}, {"RS485Mode", std::int32_t{1}},
      {"PLCType", std::int32_t{2}}, {"ScanReadEnable", true}, {"ScanWriteEnable", true},
      {"ScanReadIOTimerInterval", std::int32_t{100}}, {"ScanWriteIOTimerInterval", std::int32_t{100}}};
  LinkTestBench<RtuLink> b;
  b.New();
  for (const auto& [name, value] : sets) {
    b.host.ClearChangedKeys();
    b.link->SetProperty(name, value);
    std::string key = name;
    EXPECT_EQ(b.host.ChangedKeys(), std::vector<std::string>{key}) << name;
  }
}

TEST(RtuLinkProperties, LineValuesLiveInTheChildAndCommPortInTheControl) {
  LinkTestBench<RtuLink> b;
  b.New();
  b.port->SetSettings("2400,m,7,1");
  b.port->SetHandshaking(3);
  EXPECT_EQ(b.link->Settings(), "2400,m,7,1");
  EXPECT_EQ(b.link->ComHandshaking(), rtu::comRTSXOnXOff);
  b.link->SetCommPort(5);
  EXPECT_EQ(b.port->CommPort(), 5);
  b.link->SetPortOpen(true);
  b.port->SetCarrier(true);
  EXPECT_TRUE(b.link->CDHolding());
  EXPECT_EQ(ErrorOf([&] { b.link->SetProperty("CDHolding", false); }), err::ReadOnlyProperty);
}

TEST(RtuLinkProperties, TimersRunOnlyInRunModeAndShowStopsThem) {
  LinkTestBench<RtuLink> b;
  MemoryPropertyBag bag;
  bag.Put("ScanReadEnable", true);
  bag.Put("ScanWriteEnable", true);
  b.link->Initialize();
  b.link->ReadProperties(bag);
  EXPECT_TRUE(b.link->Timer1().Enabled());
  EXPECT_TRUE(b.link->Timer2().Enabled());
  EXPECT_TRUE(b.link->Timer3().Enabled());
  b.link->Show();
  EXPECT_FALSE(b.link->Timer1().Enabled());
  EXPECT_FALSE(b.link->Timer2().Enabled());
  EXPECT_FALSE(b.link->Timer3().Enabled());
  EXPECT_TRUE(b.link->ScanReadEnable());

  b.link->SetScanReadEnable(true);
  EXPECT_TRUE(b.link->Timer2().Enabled());
  b.link->SetScanReadEnable(false);
  EXPECT_FALSE(b.link->Timer2().Enabled());

  b.host.SetUserMode(false);
  b.link->SetScanReadEnable(true);
  b.link->SetScanWriteEnable(true);
  EXPECT_FALSE(b.link->Timer2().Enabled());
  EXPECT_FALSE(b.link->Timer3().Enabled());
  b.link->ReadProperties(bag);
  EXPECT_FALSE(b.link->Timer1().Enabled());
  EXPECT_FALSE(b.link->Timer2().Enabled());
}

TEST(RtuLinkProperties, ASlaveModeLoadedAtRunTimeRunsNoTimers) {
  LinkTestBench<RtuLink> b;
  MemoryPropertyBag bag;
  bag.Put("ModBusMode", std::int16_t{rtu::SlaveRtu});
  bag.Put("ScanReadEnable", true);
  b.link->Initialize();
  b.link->ReadProperties(bag);
  EXPECT_FALSE(b.link->Timer1().Enabled());
  EXPECT_FALSE(b.link->Timer2().Enabled());
  EXPECT_EQ(b.link->RegisterImage().size(), 50001u);
  EXPECT_EQ(b.port->RThreshold(), 1);
}

TEST(RtuLinkProperties, ModBusModeRecreatesAClearedRegisterImageAndSetsTheSlaveThresholds) {
  LinkTestBench<RtuLink> b;
  b.New();
  EXPECT_EQ(b.link->RegisterImage().size(), 6u);
  b.port->SetInputLen(8);
  b.port->SetRThreshold(8);
  b.link->SetModBusMode(rtu::SlaveRtu);
  const auto& image = b.link->RegisterImage();
  EXPECT_EQ(image.size(), 50001u);
  EXPECT_TRUE(std::all_of(image.begin(), image.end(), [](std::uint16_t r) { return r == 0; }));
  EXPECT_EQ(b.port->RThreshold(), 1);
  EXPECT_EQ(b.port->InputLen(), 0);
  b.link->SetModBusMode(rtu::Rtu);
  EXPECT_EQ(b.link->RegisterImage().size(), 6u);
  b.link->SetModBusMode(rtu::SlaveAscii);
  EXPECT_EQ(b.link->RegisterImage().size(), 50001u);
}

TEST(RtuLinkProperties, AnAddressBeyondSixteenBitsIsStoredThenOverflows) {
  LinkTestBench<RtuLink> b;
  b.New();
  EXPECT_EQ(ErrorOf([&] { b.link->SetAddress(40000); }), err::Overflow);
  EXPECT_EQ(b.link->Address(), 40000);
  EXPECT_EQ(b.link->UnitAddress(), 1);
  EXPECT_EQ(b.host.ChangedKeys(), std::vector<std::string>{"Address"});
  b.link->SetAddress(-32768);
  EXPECT_EQ(b.link->UnitAddress(), -32768);
}

TEST(RtuLinkProperties, PortOpenAtDesignTimeIsRefusedAndChangesNothing) {
  LinkTestBench<RtuLink> b;
  b.New();
  b.host.SetUserMode(false);
  EXPECT_EQ(ErrorOf([&] { b.link->SetPortOpen(true); }), err::NotAtDesignTime);
  EXPECT_FALSE(b.link->PortOpen());
  EXPECT_FALSE(b.port->PortOpen());
  EXPECT_TRUE(b.host.ChangedKeys().empty());
}

TEST(RtuLinkProperties, RefusedLineSetsKeepWhatWasStored) {
  LinkTestBench<RtuLink> b;
  b.New();
  b.link->SetSettings("19200,n,8,1");
  b.host.ClearChangedKeys();
  EXPECT_EQ(ErrorOf([&] { b.link->SetSettings("19200,x,8,1"); }), err::InvalidPropertyValue);
  EXPECT_EQ(ErrorOf([&] { b.link->SetSettings("fast"); }), err::InvalidPropertyValue);
  EXPECT_EQ(b.link->Settings(), "19200,n,8,1");

  b.port->FailOpenWith(err::PortAlreadyOpen);
  EXPECT_EQ(ErrorOf([&] { b.link->SetPortOpen(true); }), err::PortAlreadyOpen);
  EXPECT_FALSE(b.link->PortOpen()) << "a port that did not open must not read as open";
  b.port->FailOpenWith(0);

  b.link->SetPortOpen(true);
  b.host.ClearChangedKeys();
  EXPECT_EQ(ErrorOf([&] { b.link->SetCommPort(3); }), err::PortOpenNotValid);
  EXPECT_EQ(b.link->CommPort(), 1);
  EXPECT_EQ(b.port->CommPort(), 1);
  EXPECT_TRUE(b.host.ChangedKeys().empty());
}

TEST(RtuLinkProperties, SizePaintAndResizeKeepTheFixedDrawnSize) {
  LinkTestBench<RtuLink> b;
  b.link->Initialize();
  EXPECT_EQ(b.link->Width(), 825);
  EXPECT_EQ(b.link->Height(), 450);
  float w = 1000, h = 1000;
  b.link->Size(w, h);
  EXPECT_EQ(b.link->Width(), 475);
  EXPECT_EQ(b.link->Height(), 500);
}

TEST(RtuLinkProperties, RawLineOperationsPassThroughTheChild) {
  LinkTestBench<RtuLink> b;
  b.New();
  b.link->SetPortOpen(true);
  std::string text = "AT\r\n";
  b.link->SendToComm(text);
  EXPECT_EQ(b.port->TakeSent(), Bytes({'A', 'T', '\r', '\n'}));
  EXPECT_EQ(b.port->RThreshold(), 1);
  EXPECT_EQ(b.link->ReceiveComm(), Variant(""));
  // Raw mode: what arrives goes to the host through CommEventModem, not left in the buffer.
  std::vector<std::string> modem;
  b.link->SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    if (name == "CommEventModem") modem.push_back(args.at(1).Array().Get(0).ToString());
  });
  b.port->Inject("OK\r\n");
  b.loop.DoEvents();
  EXPECT_EQ(modem, std::vector<std::string>{"OK\r\n"});
  EXPECT_EQ(b.link->ReceiveComm(), Variant(""));
  b.port->Inject("junk");
  b.loop.DoEvents();
  b.link->ClearCommPort();
  EXPECT_EQ(b.port->InBufferCount(), 0);
  EXPECT_EQ(b.link->ReceiveComm(), Variant(""));
}

TEST(RtuLinkProperties, DataBufferBoundsAndIODataShiftByOne) {
  LinkTestBench<RtuLink> b;
  std::int16_t idx = 0;
  EXPECT_EQ(b.link->ReadData(idx), 0.0);
  idx = 501;
  EXPECT_EQ(ErrorOf([&] { b.link->ReadData(idx); }), err::Subscript);
  VariantArray arr(1, 3);
  arr.Set(2, 7);
  std::int16_t size = 4;
  EXPECT_EQ(ErrorOf([&] { b.link->IOData(arr, size); }), err::Subscript);
  EXPECT_TRUE(arr.Get(2).IsEmpty()) << "elements before the bad index were copied";
}

}  // namespace
}  // namespace plc
