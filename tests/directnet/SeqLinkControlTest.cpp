// SeqLink's surface: its key table, pass-through events with by-reference arguments, and the
// members whose whole behaviour is in the frame.
#include <gtest/gtest.h>

#include "base/RuntimeError.h"
#include "directnet/SeqLink.h"
#include "platform/IniPropertyBag.h"
#include "tests/platform/TempFolder.h"
#include "tests/support/LinkTestBench.h"

namespace plc {
namespace {

using test::LinkTestBench;
using test::RecordingBag;

TEST(SeqLinkKeys, OrderDefaultsAndTheModeKey) {
  LinkTestBench<SeqLink> b;
  RecordingBag bag;
  b.Load(bag);
  EXPECT_EQ(bag.reads, (std::vector<std::string>{"BackColor", "ForeColor", "Enabled", "Font", "BackStyle",
                                                 "BorderStyle", "Baud", "Appearance", "CommPort", "PortOpen",
                                                 "NumOfReadRetries", "NumOfWriteRetries", "Settings", "DTREnable",
                                                 "Address", "ModBusMode", "ScanReadEnable", "ScanWriteEnable",
                                                 "ScanReadIOTimerInterval", "ScanWriteIOTimerInterval"}));
  EXPECT_EQ(b.link->Settings(), "9600,e,8,1");
  EXPECT_EQ(b.link->CommMode(), seq::KSeq);
  b.link->WriteProperties(bag);
  const auto written = bag.WrittenKeys();
  auto at = [&](const char* key) { return std::find(written.begin(), written.end(), key) - written.begin(); };
  EXPECT_EQ(at("WriteUpdateInterval"), at("ModBusMode") + 1);
  EXPECT_LT(at("ScanWriteEnable"), at("ScanReadEnable"));
  EXPECT_TRUE(bag.StoredKeys().empty()) << "SeqLink has no always-stored key";
}

TEST(SeqLinkKeys, RoundTripThroughAFileBackedBag) {
  testing::TempFolder folder;
  const std::string file = folder.File("form.ini");
  const std::vector<std::pair<const char*, Variant>> values = {
      {"Enabled", true},           {"CommPort", std::int16_t{3}},          {"NumOfReadRetries", std::int16_t{0}},
      {"NumOfWriteRetries", std::int16_t{4}}, {"Settings", "38400,n,8,2"}, {"DTREnable", false},
      {"Address", std::int32_t{12}}, {"CommMode", std::int32_t{seq::DIrectNet}}, {"ScanReadEnable", true},
      {"ScanWriteEnable", true},   {"ScanReadIOTimerInterval", std::int32_t{900}},
      {"ScanWriteIOTimerInterval", std::int32_t{40}}};
  {
    LinkTestBench<SeqLink> a;
    a.link->InitProperties();
    for (const auto& [name, value] : values) a.link->SetProperty(name, value);
    IniPropertyBag bag(file, "SeqLink1");
    a.link->WriteProperties(bag);
    bag.Save();
  }
  LinkTestBench<SeqLink> b;
  IniPropertyBag bag(file, "SeqLink1");
  b.Load(bag);
  for (const auto& [name, value] : values) EXPECT_EQ(b.link->GetProperty(name).ToString(), value.ToString()) << name;
  EXPECT_EQ(bag.ReadProperty("Baud", Variant()), Variant()) << "a new control's Baud equals its default";
}

TEST(SeqLinkKeys, ScanReadEnableStoredAsANumberStillMeansTrue) {
  LinkTestBench<SeqLink> b;
  MemoryPropertyBag bag;
  bag.Put("ScanReadEnable", std::int16_t{1});
  b.link->ReadProperties(bag);
  EXPECT_TRUE(b.link->ScanReadEnable());
  EXPECT_TRUE(b.link->Timer2().Enabled());
  b.link->Show();
  EXPECT_FALSE(b.link->Timer2().Enabled());
}

struct ModemEvent {
  std::int16_t event;
  Variant text;
  bool connected;
};

TEST(SeqLinkPassThrough, ReceivedDataAndCarrierChangesReachTheHostWithByReferenceArguments) {
  LinkTestBench<SeqLink> b;
  b.New();
  b.link->SetPortOpen(true);
  std::vector<ModemEvent> seen;
  b.link->SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    ASSERT_EQ(name, "CommEventModem");
    seen.push_back({args[0].ToInt16(), args[1].Array().Get(1), args[2].ToBool()});
    args[2] = Variant(true);  // the handler claims the connection
  });
  std::string text = "ATZ\r";
  b.link->SendToComm(text);
  EXPECT_TRUE(b.link->PassThroughMode());
  EXPECT_EQ(b.port->TakeSent(), Bytes({'A', 'T', 'Z', '\r'}));

  b.port->Inject(Bytes{'O', 'K', 0x00, 0xFF});
  b.loop.DoEvents();
  b.port->Inject("2");
  b.loop.DoEvents();
  b.port->SetCarrier(true);
  b.loop.DoEvents();

  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].event, 2);
  EXPECT_EQ(seen[0].text, Variant(std::string("OK\0\xFF", 4)));
  EXPECT_FALSE(seen[0].connected);
  EXPECT_TRUE(seen[1].connected) << "what the handler assigned is kept for the next event";
  EXPECT_EQ(seen[2].event, 5);
  EXPECT_TRUE(seen[2].text.IsEmpty());
  EXPECT_TRUE(seen[2].connected);
  EXPECT_EQ(b.port->InBufferCount(), 0);
}

TEST(SeqLinkPassThrough, EveryByteReachesTheHostAfterAReadLeftTheLineUnanswered) {
  LinkTestBench<SeqLink> b;
  b.New();
  b.link->SetPortOpen(true);
  std::string received;
  b.link->SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    if (name == "CommEventModem" && args[0].ToInt16() == 2) received += args[1].Array().Get(1).ToString();
  });
  // A read whose station never answers: the link still waits for the enquiry's reply.
  Variant address("1;V,2000");
  Variant value;
  ASSERT_EQ(b.link->ReadPLCNW(address, value, {}, {}), ResultOk);
  std::string text = "ATZ\r";
  b.link->SendToComm(text);
  b.port->Inject("OK\r\nREADY");
  b.loop.DoEvents();
  EXPECT_EQ(received, "OK\r\nREADY");
  EXPECT_EQ(b.port->InBufferCount(), 0);
}

TEST(SeqLinkPassThrough, WithoutPassThroughReceivedDataWaitsForReceiveComm) {
  LinkTestBench<SeqLink> b;
  b.New();
  b.link->SetPortOpen(true);
  int events = 0;
  b.link->SetEventSink([&](const std::string&, std::vector<Variant>&) { ++events; });
  b.port->SetRThreshold(1);
  b.port->Inject("abc");
  b.loop.DoEvents();
  EXPECT_EQ(events, 0);
  EXPECT_EQ(b.link->ReceiveComm(), Variant("abc"));
}

TEST(SeqLinkFrame, SmallMembers) {
  LinkTestBench<SeqLink> b;
  b.New();
  b.link->SetAddress(7);
  Variant address("V,2000");
  Variant value;
  EXPECT_EQ(b.link->ReadPLCValue(address, value, {}, {}, {}), ResultFailed);
  EXPECT_EQ(address, Variant("7;V,2000"));
  Variant withStation("3;V,2000");
  b.link->ReadPLCValue(withStation, value, {}, {}, {});
  EXPECT_EQ(withStation, Variant("3;V,2000"));

  std::int16_t idx = 200;
  EXPECT_TRUE(b.link->ReadData(idx).IsEmpty());
  idx = 201;
  EXPECT_THROW(b.link->ReadData(idx), RuntimeError);

  std::vector<std::string> events;
  b.link->SetEventSink([&](const std::string& name, std::vector<Variant>& args) {
    events.push_back(name);
    EXPECT_TRUE(args.empty());
  });
  b.link->EventComComplete();
  EXPECT_EQ(events, std::vector<std::string>{"CommComplete"});
}

}  // namespace
}  // namespace plc
