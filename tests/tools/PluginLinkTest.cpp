// The four plug-in libraries loaded by name and driven only through dispatch: members listed,
// properties got and set, methods invoked with by-reference write-back, events raised.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/PluginControl.h"
#include "platform/ComponentHost.h"

namespace plc {
namespace {

struct Plugin {
  const char* library;
  const char* className;
};

const Plugin kPlugins[] = {
    {"rtulink", "RtuLink"}, {"seqlink", "SeqLink"}, {"DfLink", "DfLink"}, {"udplink", "UdpLink"}};

bool Has(const std::vector<MemberInfo>& members, const std::string& name, MemberKind kind) {
  return std::any_of(members.begin(), members.end(),
                     [&](const MemberInfo& m) { return m.kind == kind && m.name == name; });
}

class PluginLink : public ::testing::TestWithParam<Plugin> {};

TEST_P(PluginLink, LoadsByNameAndAnswersByName) {
  PluginControl control = PluginControl::Load(GetParam().library);
  EXPECT_EQ(control->ClassName(), GetParam().className);
  StandaloneHost host;
  control->SetHost(&host);
  control->InitProperties();

  const auto& members = control->Members();
  for (const char* name : {"ReadPLC", "WritePLC", "ReadPLCNW", "SendToComm", "ReceiveComm", "ClearCommPort"})
    EXPECT_TRUE(Has(members, name, MemberKind::Method)) << name;
  for (const char* name : {"CommPort", "PortOpen", "Settings", "Address", "CommBusy"})
    EXPECT_TRUE(Has(members, name, MemberKind::Property)) << name;
  EXPECT_TRUE(Has(members, "CommComplete", MemberKind::Event));
  auto readPlc = std::find_if(members.begin(), members.end(), [](const MemberInfo& m) { return m.name == "ReadPLC"; });
  EXPECT_TRUE(readPlc->params.back().optional);
  EXPECT_TRUE(readPlc->params.front().byRef);

  control->SetProperty("numofwriteretries", std::int16_t{6});  // names match without regard to case
  EXPECT_EQ(control->GetProperty("NumOfWriteRetries"), Variant(std::int16_t{6}));
  control->SetProperty("Settings", "4800,o,7,2");
  EXPECT_EQ(control->GetProperty("Settings"), Variant("4800,o,7,2"));
  EXPECT_EQ(host.ChangedKeys().back(), "Settings");

  try {
    control->Invoke("NoSuchMember", {});
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::MemberNotFound);
  }
}

INSTANTIATE_TEST_SUITE_P(Plugins, PluginLink, ::testing::ValuesIn(kPlugins),
                         [](const auto& info) { return std::string(info.param.className); });

TEST(PluginInvoke, ByReferenceArgumentsAreWrittenBackAndOptionalOnesMayBeOmitted) {
  PluginControl rtu = PluginControl::Load("rtulink");
  Variant dec(0.1f), hi(std::int32_t{0}), lo(std::int32_t{0});
  EXPECT_EQ(rtu->Invoke("DecToLongFloat", {&dec, &hi, &lo}), Variant(std::int16_t{0}));
  EXPECT_EQ(hi.ToInt32(), 15820);
  EXPECT_EQ(lo.ToInt32(), 52428);

  Variant address(std::int32_t{1}), data, zero(std::int16_t{0});
  rtu->Invoke("ReadModData", {&address, &data, &zero});
  EXPECT_EQ(zero, Variant(std::int16_t{1}));
  EXPECT_TRUE(rtu->Invoke("ReadModData", {&address, &data}).IsEmpty()) << "the optional count may be omitted";

  PluginControl seq = PluginControl::Load("seqlink");
  seq->InitProperties();
  seq->SetProperty("Address", std::int32_t{4});
  Variant text("V,2000"), value;
  EXPECT_EQ(seq->Invoke("ReadPLCValue", {&text, &value}), Variant(std::int16_t{0}));
  EXPECT_EQ(text, Variant("4;V,2000"));

  PluginControl df = PluginControl::Load("DfLink");
  Variant w1(std::int32_t{16256}), w2(std::int32_t{0});
  EXPECT_EQ(df->Invoke("LongFloatToDec", {&w1, &w2}), Variant(1.0f));
}

TEST(PluginInvoke, EventsReachTheHostsSink) {
  PluginControl udp = PluginControl::Load("udplink");
  std::vector<std::string> seen;
  udp->SetEventSink([&](const std::string& name, std::vector<Variant>&) { seen.push_back(name); });
  udp->Invoke("EventComComplete", {});
  EXPECT_EQ(seen, std::vector<std::string>{"CommComplete"});
}

TEST(PluginInvoke, AMissingLibraryIsFileNotFound) {
  try {
    PluginControl::Load("nosuchplugin");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::FileNotFound);
  }
}

}  // namespace
}  // namespace plc

namespace plc {
namespace {

// A plug-in is found by its control's class name in any case, as hosts spell it.
TEST(PluginByName, AnyCaseOfTheClassNameLoadsThePlugIn) {
  const std::pair<const char*, const char*> names[] = {
      {"seqlink", "SeqLink"}, {"SeqLink", "SeqLink"}, {"DfLink", "DfLink"}, {"dflink", "DfLink"},
      {"RTULINK", "RtuLink"}, {"UdpLink", "UdpLink"}};
  for (const auto& [name, className] : names) {
    PluginControl control = PluginControl::Load(name);
    EXPECT_EQ(control->ClassName(), className) << name;
  }
  EXPECT_THROW(PluginControl::Load("seqlinkx"), RuntimeError);
}

}  // namespace
}  // namespace plc
