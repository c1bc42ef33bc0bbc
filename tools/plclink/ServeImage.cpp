#include "tools/plclink/ServeImage.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/Enums.h"
#include "platform/PluginControl.h"
#include "base/ResultCodes.h"
#include "modbus/Pdu.h"
#include "platform/PseudoTerminalLink.h"
#include "platform/SerialPortMap.h"
#include "tools/plclink/ServedRequests.h"

namespace plc::plclink {

namespace {

void Put(std::map<std::int32_t, std::int32_t>& image, const std::string& where, const std::string& refText,
         const std::string& valueText) {
  auto ref = ParseWholeNumber(refText);
  auto value = ParseWholeNumber(valueText);
  bool coil = ref && *ref >= 1 && *ref <= 9999;
  bool holding = ref && *ref >= 40001 && *ref <= 49999;
  if (!coil && !holding)
    throw UsageError(where + ": serve preloads holding registers (40001..49999) and coils (00001..09999), not '" +
                     refText + "'; RtuLink has no member that sets its input registers or discrete inputs");
  if (!value) throw UsageError(where + ": '" + valueText + "' is not a number");
  if (coil && *value != 0 && *value != 1) throw UsageError(where + ": coil " + refText + " takes 0 or 1, not " + valueText);
  // Refused as a master's write of it would be: -1 is no register value, not 65535.
  if (holding && (*value < 0 || *value > 65535))
    throw UsageError(where + ": " + valueText + " does not fit a register (0..65535)");
  image[static_cast<std::int32_t>(*ref)] = static_cast<std::int32_t>(*value);
}

int FreePort(SerialPortMap& map, int from) {
  while (map.Mapped(from)) ++from;
  return from;
}

// Maps two free port numbers to the ends of a line for one scope.
struct MappedLine {
  PseudoTerminalLink line;
  SerialPortMap& map = SerialPortMap::Current();
  int slavePort = FreePort(map, 1);
  int masterPort = 0;
  MappedLine() {
    map.Map(slavePort, line.PathA());
    masterPort = FreePort(map, slavePort + 1);
    map.Map(masterPort, line.PathB());
  }
  ~MappedLine() {
    map.Unmap(masterPort);
    map.Unmap(slavePort);
  }
  MappedLine(const MappedLine&) = delete;
  MappedLine& operator=(const MappedLine&) = delete;
};

void Write(Control& master, std::int32_t first, const std::vector<std::int32_t>& values) {
  VariantArray array(1, static_cast<std::int32_t>(values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) array.Set(static_cast<std::int32_t>(i + 1), Variant(values[i]));
  Variant address(ReferenceText(first));
  Variant data(std::move(array)), count(static_cast<std::int16_t>(values.size()));
  std::int16_t result = master.Invoke("WritePLC", {&address, &data, &count}).ToInt16();
  if (result != ResultOk)
    throw RuntimeError(err::InvalidCall, "preloading " + address.ToString() + " failed: " +
                                             master.Invoke("ReadErrors", {}).ToString());
}

}  // namespace

std::map<std::int32_t, std::int32_t> ImageValues(const Options& o) {
  std::map<std::int32_t, std::int32_t> image;
  if (o.imageFile) {
    std::ifstream file(*o.imageFile);
    if (!file) throw UsageError("--load: cannot read " + *o.imageFile);
    // A folder opens as a stream and reads as nothing, which would serve no image at all.
    std::error_code ignored;
    if (std::filesystem::is_directory(*o.imageFile, ignored))
      throw UsageError("--load: cannot read " + *o.imageFile + ": it is a directory");
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
      line = line.substr(0, line.find('#'));
      std::istringstream words(line);
      std::string ref;
      if (!(words >> ref)) continue;
      std::string where = *o.imageFile + ":" + std::to_string(number);
      auto first = ParseWholeNumber(ref);
      if (!first) throw UsageError(where + ": '" + ref + "' is not a reference");
      std::int64_t at = *first;
      bool any = false;
      for (std::string value; words >> value; ++at, any = true) Put(image, where, std::to_string(at), value);
      if (!any) throw UsageError(where + ": " + ref + " has no value");
    }
  }
  for (const std::string& set : o.preset) {
    std::size_t eq = set.find('=');
    Put(image, "--set " + set, set.substr(0, eq), set.substr(eq + 1));
  }
  return image;
}

void PreloadImage(ControlSession& session, const Options& o, const std::map<std::int32_t, std::int32_t>& image) {
  if (image.empty()) return;
  Control& slave = session.Get();
  const Variant ownPort = slave.GetProperty("CommPort");
  const bool ascii = slave.GetProperty("ModBusMode").ToInt32() == rtu::SlaveAscii;
  MappedLine line;
  slave.SetProperty("CommPort", Variant(static_cast<std::int16_t>(line.slavePort)));
  slave.SetProperty("PortOpen", Variant(true));
  {
    StandaloneHost host;
    PluginControl master = PluginControl::Load(o.library);
    master->SetHost(&host);
    master->Initialize();
    master->InitProperties();
    master->SetProperty("ModBusMode", Variant(static_cast<std::int32_t>(ascii ? rtu::Ascii : rtu::Rtu)));
    master->SetProperty("Settings", slave.GetProperty("Settings"));
    master->SetProperty("Address", slave.GetProperty("Address"));
    master->SetProperty("CommPort", Variant(static_cast<std::int16_t>(line.masterPort)));
    master->SetProperty("PortOpen", Variant(true));
    // Runs of consecutive holding registers go out together; coils one at a time.
    std::vector<std::int32_t> run;
    std::int32_t runStart = 0;
    auto flush = [&] {
      if (!run.empty()) Write(*master, runStart, run);
      run.clear();
    };
    for (const auto& [ref, value] : image) {
      if (ref < 40001) {
        flush();
        Write(*master, ref, {value});
        continue;
      }
      if (!run.empty() && (ref != runStart + static_cast<std::int32_t>(run.size()) ||
                           run.size() == modbus::kMaxWriteRegisters))
        flush();
      if (run.empty()) runStart = ref;
      run.push_back(value);
    }
    flush();
    master->SetProperty("PortOpen", Variant(false));
  }
  slave.SetProperty("PortOpen", Variant(false));
  slave.SetProperty("CommPort", ownPort);
}

}  // namespace plc::plclink
