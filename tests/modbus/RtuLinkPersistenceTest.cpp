// RtuLink's persisted properties: key order, defaults, round trip through a file-backed bag.
#include <gtest/gtest.h>

#include <tuple>

#include "base/RuntimeError.h"
#include "modbus/RtuLink.h"
#include "platform/IniPropertyBag.h"
#include "tests/platform/TempFolder.h"
#include "tests/support/LinkTestBench.h"

namespace plc {
namespace {

using test::LinkTestBench;
using test::RecordingBag;

const std::vector<std::string> kReadOrder = {
    "BackColor", "ForeColor", "Enabled", "Font", "BackStyle", "BorderStyle", "Baud", "Appearance",
    "CommPort", "PortOpen", "NumOfReadRetries", "NumOfWriteRetries", "Settings", "DTREnable", "RTSEnable",
    "ComHandshaking", "Address", "ModBusMode", "RS485Mode", "PLCType", "ScanReadEnable", "ScanWriteEnable",
    "ScanReadIOTimerInterval", "ScanWriteIOTimerInterval"};

TEST(RtuLinkKeys, ReadInTableOrderAndWrittenWithTheIntervalBeforeTheSwappedScanFlags) {
  LinkTestBench<RtuLink> b;
  RecordingBag bag;
  b.Load(bag);
  EXPECT_EQ(bag.reads, kReadOrder);

  b.link->WriteProperties(bag);
  std::vector<std::string> writeOrder(kReadOrder.begin(), kReadOrder.begin() + 20);
  writeOrder.insert(writeOrder.end(), {"WriteUpdateInterval", "ScanWriteEnable", "ScanReadEnable",
                                       "ScanReadIOTimerInterval", "ScanWriteIOTimerInterval"});
  EXPECT_EQ(bag.WrittenKeys(), writeOrder);
}

TEST(RtuLinkKeys, AControlLoadedWithAllDefaultsStoresOnlyComHandshaking) {
  LinkTestBench<RtuLink> b;
  MemoryPropertyBag empty;
  b.Load(empty);
  RecordingBag out;
  b.link->WriteProperties(out);
  EXPECT_EQ(out.StoredKeys(), std::vector<std::string>{"ComHandshaking"});
  EXPECT_EQ(out.stored.Values().at("ComHandshaking"), Variant(std::int32_t{0}));
}

TEST(RtuLinkKeys, MissingKeysTakeTheirReadDefaults) {
  LinkTestBench<RtuLink> b;
  b.port->SetSettings("4800,o,7,2");
  b.port->SetDTREnable(false);
  MemoryPropertyBag empty;
  b.Load(empty);
  EXPECT_EQ(b.link->Settings(), "9600,e,8,1");
  EXPECT_TRUE(b.link->DTREnable());
  EXPECT_TRUE(b.link->RTSEnable());
  EXPECT_EQ(b.link->ComHandshaking(), rtu::comNone);
  EXPECT_EQ(b.link->CommPort(), 1);
  EXPECT_EQ(b.link->NumOfReadRetries(), 2);
  EXPECT_EQ(b.link->ScanReadIOTimerInterval(), 500);
  EXPECT_EQ(b.link->ScanWriteIOTimerInterval(), 55);
  EXPECT_EQ(b.link->ModBusMode(), rtu::Rtu);
}

TEST(RtuLinkKeys, ANewControlHasTheInitValuesAndKeepsTheChildsLineSettings) {
  LinkTestBench<RtuLink> b;
  b.port->SetSettings("4800,o,7,2");
  b.New();
  EXPECT_EQ(b.link->NumOfReadRetries(), 2);
  EXPECT_EQ(b.link->NumOfWriteRetries(), 2);
  EXPECT_EQ(b.link->CommPort(), 1);
  EXPECT_EQ(b.link->Address(), 1);
  EXPECT_EQ(b.link->ModBusMode(), rtu::Rtu);
  EXPECT_EQ(b.link->PLCType(), rtu::EnStdModbus);
  EXPECT_FALSE(b.link->PortOpen());
  EXPECT_EQ(b.link->Settings(), "4800,o,7,2");
  EXPECT_EQ(b.link->ScanWriteIOTimerInterval(), 250);  // design value, not the key's default
  EXPECT_TRUE(b.host.ChangedKeys().empty());
}

TEST(RtuLinkKeys, EveryPersistedValueSurvivesAFileBackedRoundTrip) {
  testing::TempFolder folder;
  const std::string file = folder.File("form.ini");
  struct Value {
    const char* name;
    Variant value;
  };
  const std::vector<Value> values = {
      {"Enabled", true},
      {"CommPort", std::int16_t{4}},
      {"PortOpen", true},
      {"NumOfReadRetries", std::int16_t{5}},
      {"NumOfWriteRetries", std::int16_t{7}},
      {"Settings", "19200,o,7,2"},
      {"DTREnable", false},
      {"RTSEnable", false},
      {"ComHandshaking", std::int32_t{rtu::comRTS}},
      {"Address", std::int32_t{17}},
      {"ModBusMode", std::int32_t{rtu::Ascii}},
      {"RS485Mode", std::int32_t{rtu::DTR}},
      {"PLCType", std::int32_t{rtu::EnType2}},
      {"ScanReadEnable", true},
      {"ScanWriteEnable", true},
      {"ScanReadIOTimerInterval", std::int32_t{750}},
      {"ScanWriteIOTimerInterval", std::int32_t{125}},
  };
  Font font{"Courier New", 10, true, false};
  std::map<std::string, Variant> written;
  {
    LinkTestBench<RtuLink> a;
    MemoryPropertyBag look;  // the container values have no accessors; they come from a bag
    look.Put("BackColor", std::int32_t{0xFF00});
    look.Put("ForeColor", std::int32_t{0x00FF});
    look.Put("Font", font);
    look.Put("BackStyle", std::int16_t{1});
    look.Put("BorderStyle", std::int16_t{1});
    look.Put("Baud", std::int32_t{38400});
    look.Put("Appearance", std::int16_t{1});
    a.Load(look);
    for (const Value& v : values) a.link->SetProperty(v.name, v.value);
    IniPropertyBag bag(file, "RtuLink1");
    a.link->WriteProperties(bag);
    bag.Save();
    RecordingBag out;
    a.link->WriteProperties(out);
    written = out.stored.Values();
  }
  LinkTestBench<RtuLink> b;
  IniPropertyBag bag(file, "RtuLink1");
  b.Load(bag);
  for (const Value& v : values) EXPECT_EQ(b.link->GetProperty(v.name).ToString(), v.value.ToString()) << v.name;
  EXPECT_FALSE(b.port->PortOpen()) << "a loaded True does not open the port";
  RecordingBag out;
  b.link->WriteProperties(out);
  EXPECT_EQ(out.stored.Values(), written);
  EXPECT_EQ(written.at("Font"), Variant(font));
  EXPECT_EQ(written.at("Baud"), Variant(std::int32_t{38400}));
  EXPECT_EQ(written.at("WriteUpdateInterval"), Variant(std::int32_t{750}));
}

TEST(RtuLinkKeys, AValueOfTheWrongTypeFailsTheLoadNamingTheKeyAndChangesNothing) {
  LinkTestBench<RtuLink> b;
  b.New();
  MemoryPropertyBag bag;
  bag.Put("CommPort", std::int16_t{6});
  bag.Put("Address", "not a number");
  try {
    b.link->ReadProperties(bag);
    FAIL() << "expected a type mismatch";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::TypeMismatch);
    EXPECT_NE(std::string(e.what()).find("Address"), std::string::npos);
  }
  EXPECT_EQ(b.link->CommPort(), 1);
  EXPECT_EQ(b.port->CommPort(), 1);
}

// A value of the right type that the control or its line refuses fails the load too, and the
// text says which key of the document holds it, not only what was wrong with it.
TEST(RtuLinkKeys, AValueTheControlRefusesFailsTheLoadNamingTheKey) {
  const std::vector<std::tuple<std::string, Variant, int>> refused = {
      {"Address", Variant(std::int32_t{40000}), err::Overflow},
      {"ComHandshaking", Variant(std::int32_t{7}), err::InvalidPropertyValue},
      {"ScanReadIOTimerInterval", Variant(std::int32_t{-5}), err::InvalidPropertyValue},
      {"CommPort", Variant(std::int16_t{0}), err::PortInvalid},
      {"Settings", Variant("9600,x,8,1"), err::InvalidPropertyValue},
  };
  for (const auto& [key, value, number] : refused) {
    LinkTestBench<RtuLink> b;
    MemoryPropertyBag bag;
    bag.Put(key, value);
    try {
      b.Load(bag);
      ADD_FAILURE() << key << " was taken";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.Number(), number) << key;
      EXPECT_NE(std::string(e.what()).find("in property \"" + key + "\""), std::string::npos) << e.what();
    }
  }
}

TEST(RtuLinkKeys, ACorruptDocumentIsRefusedBeforeTheControlSeesIt) {
  testing::TempFolder folder;
  const std::string file = folder.File("form.ini");
  testing::WriteRaw(file, "[RtuLink1]\nCommPort=3\nthis line is no entry\n");
  LinkTestBench<RtuLink> b;
  b.New();
  b.link->SetNumOfReadRetries(9);
  IniPropertyBag bag;
  try {
    bag.Load(file, "RtuLink1");
    b.link->ReadProperties(bag);
    FAIL() << "expected a bad file format";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::BadFileFormat);
  }
  EXPECT_EQ(b.link->NumOfReadRetries(), 9);
  EXPECT_EQ(b.link->CommPort(), 1);
}

}  // namespace
}  // namespace plc
