// plclink demo: restores each of the four controls from a property-bag document and prints
// its properties.
#include "tools/plclink/Demo.h"

#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "core/PluginControl.h"
#include "platform/ComponentHost.h"
#include "platform/IniPropertyBag.h"

namespace plc::plclink {
namespace {

using plc::Variant;

struct DemoControl {
  const char* library;
  const char* section;
  std::vector<std::pair<std::string, Variant>> stored;  // what the document holds
};

const std::vector<DemoControl>& DemoControls() {
  static const std::vector<DemoControl> controls = {
      {"rtulink", "RtuLink1",
       {{"CommPort", std::int16_t{2}}, {"Settings", "19200,e,8,1"}, {"Address", std::int32_t{17}},
        {"ModBusMode", std::int16_t{2}}, {"NumOfReadRetries", std::int16_t{3}},
        {"ScanReadIOTimerInterval", std::int32_t{1000}}}},
      {"seqlink", "SeqLink1",
       {{"CommPort", std::int16_t{3}}, {"Settings", "9600,o,8,1"}, {"ModBusMode", std::int16_t{2}}}},
      {"DfLink", "DfLink1",
       {{"Mode", std::int16_t{1}}, {"PLCType", std::int32_t{3}}, {"Settings", "19200,n,8,1"},
        {"Address", std::int32_t{5}}, {"Node", std::int32_t{2}}}},
      {"udplink", "UdpLink1",
       {{"Protocol", std::int32_t{2}}, {"DeviceTimeOut", std::int16_t{100}}, {"Address", std::int32_t{4}}}},
  };
  return controls;
}

void WriteDocument(const std::string& path) {
  for (const DemoControl& c : DemoControls()) {
    plc::IniPropertyBag bag(path, c.section);
    for (const auto& [key, value] : c.stored) bag.WriteProperty(key, value, Variant());
    bag.Save();
  }
}

void PrintProperties(plc::Control& control) {
  for (const plc::MemberInfo& m : control.Members()) {
    if (m.kind != plc::MemberKind::Property || !m.readable) continue;
    std::cout << "  " << m.name << " = ";
    try {
      std::cout << control.GetProperty(m.name).ToString() << "\n";
    } catch (const plc::RuntimeError& e) {
      std::cout << "<error " << e.Number() << ": " << e.what() << ">\n";
    }
  }
}

}  // namespace

int RunDemo() {
  std::string folder = (std::filesystem::temp_directory_path() / "plclink-XXXXXX").string();
  if (!::mkdtemp(folder.data())) {
    std::cerr << "plclink: cannot create a temporary folder\n";
    return 1;
  }
  const std::string document = folder + "/demo.ini";
  int status = 0;
  try {
    WriteDocument(document);
    for (const DemoControl& c : DemoControls()) {
      plc::PluginControl control = plc::PluginControl::Load(c.library);
      plc::StandaloneHost host;
      control->SetHost(&host);
      plc::IniPropertyBag bag(document, c.section);
      control->Initialize();
      control->ReadProperties(bag);
      control->Show();
      std::cout << control->ClassName() << " (" << control.LibraryPath() << ", section " << c.section << ")\n";
      PrintProperties(*control);
    }
  } catch (const plc::RuntimeError& e) {
    std::cerr << "plclink: error " << e.Number() << ": " << e.what() << "\n";
    status = 1;
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return status;
}

}  // namespace plc::plclink
