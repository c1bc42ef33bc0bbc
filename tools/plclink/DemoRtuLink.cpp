#include "tools/plclink/DemoRtuLink.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Enums.h"
#include "core/PluginControl.h"
#include "core/ResultCodes.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "platform/PseudoTerminalLink.h"
#include "platform/SerialPortMap.h"
#include "tools/plclink/SimModbusSlave.h"

namespace plc::plclink {

namespace {

// Port numbers the two line ends are mapped to, each on its own thread.
constexpr std::int16_t kMasterCommPort = 11;
constexpr std::int16_t kPlcCommPort = 12;
// Parity none: a pseudo-terminal refuses some parity changes.
constexpr const char* kSettings = "19200,n,8,1";
constexpr std::int32_t kUnit = 1;
// A non-waiting read's event comes well within this, or never.
constexpr std::int64_t kEventWaitMicros = 3'000'000;

const std::vector<std::int32_t> kRegisters = {12, 345, 4660, 40000, 65535};
const std::vector<std::int32_t> kCoils = {1, 0, 1, 1, 0, 0, 1, 0};
constexpr double kFixedPoint = 12.3456;

std::string NumbersText(const std::vector<std::int32_t>& values) {
  std::string text;
  for (std::int32_t v : values) text += (text.empty() ? "" : " ") + std::to_string(v);
  return text;
}

Variant ArrayOf(const std::vector<std::int32_t>& values) {
  VariantArray array(1, static_cast<std::int32_t>(values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) array.Set(static_cast<std::int32_t>(i + 1), Variant(values[i]));
  return Variant(std::move(array));
}

bool Matches(const VariantArray& got, const std::vector<std::int32_t>& want) {
  for (std::size_t i = 0; i < want.size(); ++i) {
    auto index = static_cast<std::int32_t>(i + 1);
    if (!got.Contains(index) || got.Get(index).ToDouble() != want[i]) return false;
  }
  return true;
}

std::string ResultText(const Variant& result) {
  switch (result.ToInt16()) {
    case ResultOk: return "result -1 (ok)";
    case ResultBusy: return "result 966 (busy)";
    default: return "result " + result.ToString() + " (failed)";
  }
}

// The master: the control under demonstration, driven through its members by name only.
class RtuMaster {
 public:
  RtuMaster(const std::string& devicePath, const DemoReport& report) : control_(PluginControl::Load("rtulink")) {
    SerialPortMap::Current().Map(kMasterCommPort, devicePath);
    host_.SetSerialTrace(report.WireTrace());
    control_->SetHost(&host_);
    control_->Initialize();
    control_->InitProperties();
    control_->SetProperty("CommPort", kMasterCommPort);
    control_->SetProperty("Settings", kSettings);
    control_->SetProperty("Address", kUnit);
    control_->SetProperty("ModBusMode", std::int32_t{rtu::Rtu});
    control_->SetEventSink([this](const std::string& name, std::vector<Variant>& args) {
      if (name == "CommCompleteEx") commCompleteEx_.push_back(args);
    });
    control_->SetProperty("PortOpen", true);
  }
  ~RtuMaster() {
    try {
      control_->SetProperty("PortOpen", false);
    } catch (const RuntimeError&) {
      // Closing a line that failed changes nothing worth reporting at the end of the run.
    }
    SerialPortMap::Current().Unmap(kMasterCommPort);
  }
  RtuMaster(const RtuMaster&) = delete;
  RtuMaster& operator=(const RtuMaster&) = delete;

  Variant Write(const std::string& address, Variant values, std::int16_t size, std::int16_t ioType = ioWord) {
    Variant a(address), n(size), io(ioType);
    return control_->Invoke("WritePLC", {&a, &values, &n, &io});
  }
  Variant Read(const std::string& address, Variant& values, std::int16_t size, std::int16_t ioType = ioWord) {
    Variant a(address), n(size), io(ioType);
    return control_->Invoke("ReadPLC", {&a, &values, &n, &io});
  }
  Variant ReadNoWait(const std::string& address, std::int16_t size) {
    Variant a(address), unused(VariantArray(1, 1)), n(size);
    return control_->Invoke("ReadPLCNW", {&a, &unused, &n});
  }
  // The first CommCompleteEx since the last call, waiting for it within a bound.
  std::vector<Variant> AwaitCommCompleteEx() {
    commCompleteEx_.clear();
    EventLoop& loop = EventLoop::Current();
    loop.WaitUntil([this] { return !commCompleteEx_.empty(); }, loop.Now() + kEventWaitMicros);
    if (commCompleteEx_.empty()) {
      control_->SetProperty("CommBusy", false);  // free the line for whatever follows
      return {};
    }
    return commCompleteEx_.front();
  }
  std::string ReadErrors() { return control_->Invoke("ReadErrors", {}).ToString(); }

 private:
  StandaloneHost host_;  // before the control: it outlives it
  PluginControl control_;
  std::vector<std::vector<Variant>> commCompleteEx_;
};

std::string Failure(const Variant& result, RtuMaster& master) {
  std::string errors = master.ReadErrors();
  return ResultText(result) + (errors.empty() ? "" : ", ReadErrors \"" + errors + "\"");
}

void WriteAndReadBack(DemoReport& report, RtuMaster& master, const std::string& address, const char* table,
                      const std::vector<std::int32_t>& values) {
  const auto size = static_cast<std::int16_t>(values.size());
  Variant written = master.Write(address, ArrayOf(values), size);
  bool wrote = written.ToInt16() == ResultOk;
  report.Step(wrote, "WritePLC " + address + " x" + std::to_string(size) + " (" + table + ") = " + NumbersText(values),
              wrote ? ResultText(written) : Failure(written, master));

  Variant back(VariantArray(1, size));
  Variant read = master.Read(address, back, size);
  bool same = read.ToInt16() == ResultOk && Matches(back.Array(), values);
  report.Step(same, "ReadPLC  " + address + " x" + std::to_string(size) + " reads back",
              read.ToInt16() == ResultOk ? ValuesText(back.Array(), 1, size) : Failure(read, master));
}

void FixedPointRoundTrip(DemoReport& report, RtuMaster& master) {
  const std::string address = "40011";
  VariantArray one(1, 1);
  one.Set(1, Variant(kFixedPoint));
  Variant written = master.Write(address, Variant(std::move(one)), 1, ioFloat);
  report.Step(written.ToInt16() == ResultOk, "WritePLC " + address + " as ioFloat = 12.3456 (whole, then ten-thousandths)",
              written.ToInt16() == ResultOk ? ResultText(written) : Failure(written, master));

  Variant back(VariantArray(1, 1));
  Variant read = master.Read(address, back, 1, ioFloat);
  bool same = read.ToInt16() == ResultOk && std::fabs(back.Array().Get(1).ToDouble() - kFixedPoint) < 1e-9;
  report.Step(same, "ReadPLC  " + address + " as ioFloat reads back",
              read.ToInt16() == ResultOk ? back.Array().Get(1).ToString() : Failure(read, master));
}

void NonWaitingRead(DemoReport& report, RtuMaster& master) {
  const std::vector<std::int32_t> want(kRegisters.begin() + 1, kRegisters.begin() + 4);
  Variant sent = master.ReadNoWait("40002", static_cast<std::int16_t>(want.size()));
  if (sent.ToInt16() != ResultOk) {
    report.Step(false, "ReadPLCNW 40002 x3", Failure(sent, master));
    return;
  }
  std::vector<Variant> args = master.AwaitCommCompleteEx();
  if (args.size() < 5 || !args[0].IsArray()) {
    report.Step(false, "ReadPLCNW 40002 x3 returned at once, then CommCompleteEx", "no event within 3 s");
    return;
  }
  const VariantArray& data = args[0].Array();
  bool same = Matches(data, want);
  report.Step(same, "ReadPLCNW 40002 x3 returned at once, then CommCompleteEx",
              "MData(" + ValuesText(data, 1, static_cast<std::int32_t>(want.size())) + ") MAdd=" + args[1].ToString() +
                  " quan=" + args[2].ToString() + " ErrorStr=\"" + args[3].ToString() + "\" RespStatus=" +
                  args[4].ToString());
}

}  // namespace

void RunRtuLinkDemo(DemoReport& report) {
  PseudoTerminalLink line;
  SimModbusSlave plc({line.PathB(), kPlcCommPort, kSettings, kUnit});
  {
    RtuMaster master(line.PathA(), report);
    report.Note("master: RtuLink (Rtu, unit " + std::to_string(kUnit) + ", " + kSettings + ") on " + line.PathA() +
                " as CommPort " + std::to_string(kMasterCommPort));
    report.Note("PLC:    simulated, an RtuLink of its own in SlaveRtu on its own thread, on " + line.PathB());
    WriteAndReadBack(report, master, "40001", "holding registers", kRegisters);
    WriteAndReadBack(report, master, "00001", "coils", kCoils);
    FixedPointRoundTrip(report, master);
    NonWaitingRead(report, master);
  }
  plc.Stop();  // joined: its count is final
  report.Note("the simulated PLC saw " + std::to_string(plc.RequestsSeen()) + " requests");
}

}  // namespace plc::plclink
