#include "tools/plclink/DemoDfLink.h"

#include <cstdint>
#include <string>
#include <vector>

#include "core/PluginControl.h"
#include "core/ResultCodes.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "platform/PseudoTerminalLink.h"
#include "platform/SerialPortMap.h"
#include "tools/plcsim/Df1Simulator.h"

namespace plc::plclink {

namespace {

constexpr std::int16_t kCommPort = 13;
constexpr const char* kSettings = "19200,n,8,1";
constexpr std::int64_t kEventWaitMicros = 3'000'000;

std::string ResultText(std::int32_t result) {
  if (result == ResultOk) return "result -1 (ok)";
  return "result " + std::to_string(result);
}

class DfMaster {
 public:
  DfMaster(const std::string& devicePath, const DemoReport& report) : control_(PluginControl::Load("DfLink")) {
    SerialPortMap::Current().Map(kCommPort, devicePath);
    host_.SetSerialTrace(report.WireTrace());
    control_->SetHost(&host_);
    control_->Initialize();
    control_->InitProperties();
    control_->SetProperty("CommPort", kCommPort);
    control_->SetProperty("Settings", kSettings);
    control_->SetProperty("Node", std::int32_t{0});
    control_->SetEventSink([this](const std::string& name, std::vector<Variant>& args) {
      if (name == "CommComplete") events_.push_back(args);
    });
    control_->SetProperty("PortOpen", true);
  }
  ~DfMaster() {
    try {
      control_->SetProperty("PortOpen", false);
    } catch (const RuntimeError&) {
      // Nothing worth reporting at the end of the run.
    }
    SerialPortMap::Current().Unmap(kCommPort);
  }
  DfMaster(const DfMaster&) = delete;
  DfMaster& operator=(const DfMaster&) = delete;

  std::int32_t Write(const std::string& address, const std::vector<double>& values) {
    VariantArray array(1, static_cast<std::int32_t>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) array.Set(static_cast<std::int32_t>(i + 1), Variant(values[i]));
    Variant a(address), v(std::move(array)), n(static_cast<std::int16_t>(values.size()));
    return control_->Invoke("WritePLC", {&a, &v, &n}).ToInt32();
  }
  std::int32_t Read(const std::string& address, Variant& values, std::int16_t size) {
    Variant a(address), n(size);
    return control_->Invoke("ReadPLC", {&a, &values, &n}).ToInt32();
  }
  std::int32_t ReadNoWait(const std::string& address, std::int16_t size) {
    Variant a(address), unused, n(size);
    return control_->Invoke("ReadPLCNW", {&a, &unused, &n}).ToInt32();
  }
  // The next CommComplete, within a bound; empty when none came.
  std::vector<Variant> AwaitEvent() {
    events_.clear();
    EventLoop& loop = EventLoop::Current();
    loop.WaitUntil([this] { return !events_.empty(); }, loop.Now() + kEventWaitMicros);
    return events_.empty() ? std::vector<Variant>{} : events_.front();
  }
  std::string Errors() { return control_->Invoke("ReadErrors", {}).ToString(); }

 private:
  StandaloneHost host_;
  PluginControl control_;
  std::vector<std::vector<Variant>> events_;
};

std::string EventText(const std::vector<Variant>& e, std::int32_t values) {
  if (e.size() < 5) return "no CommComplete within 3 s";
  return "CommComplete MData(" + ValuesText(e[0].Array(), 1, values) + ") MStartAdd=" + e[1].ToString() +
         " Mquan=" + e[2].ToString() + " ErrorStr=\"" + e[3].ToString() + "\" RespStatus=" + e[4].ToString();
}

void WriteAndReadBack(DemoReport& report, DfMaster& m, const std::string& address, const std::vector<double>& values) {
  std::int32_t written = m.Write(address, values);
  std::vector<Variant> ack = m.AwaitEvent();
  bool acked = written == ResultOk && ack.size() == 5 && ack[4].ToInt32() == ResultOk;
  report.Step(acked, "WritePLC " + address + " x" + std::to_string(values.size()) + ", then its acknowledgement",
              ResultText(written) + "; " + EventText(ack, 1));
  Variant back(VariantArray(1, static_cast<std::int32_t>(values.size())));
  std::int32_t read = m.Read(address, back, static_cast<std::int16_t>(values.size()));
  bool same = read == ResultOk;
  for (std::size_t i = 0; same && i < values.size(); ++i)
    same = back.Array().Get(static_cast<std::int32_t>(i + 1)).ToDouble() == values[i];
  report.Step(same, "ReadPLC  " + address + " x" + std::to_string(values.size()) + " reads back",
              read == ResultOk ? ValuesText(back.Array(), 1, static_cast<std::int32_t>(values.size()))
                               : ResultText(read) + " \"" + m.Errors() + "\"");
}

}  // namespace

void RunDfLinkDemo(DemoReport& report) {
  PseudoTerminalLink line;
  sim::Df1Simulator plc(sim::Df1SimOptions{line.PathB(), false, 19200});
  {
    DfMaster master(line.PathA(), report);
    report.Note("master: DfLink (CRC, Address 1, Node 0, " + std::string(kSettings) + ") on " + line.PathA());
    report.Note("PLC:    simulated DF1 PLC on its own thread, on " + line.PathB());
    WriteAndReadBack(report, master, "N7:0", {12, -345, 4112});
    WriteAndReadBack(report, master, "F8:2", {1.5, -0.25});

    plc.Plc().Table().SetWords(7, 10, {7, 8, 9});
    std::int32_t sent = master.ReadNoWait("N7:10", 3);
    std::vector<Variant> e = master.AwaitEvent();
    report.Step(sent == ResultFailed && e.size() == 5 && e[4].ToInt32() == ResultOk,
                "ReadPLCNW N7:10 x3 returned 0 at once, then CommComplete", EventText(e, 3));

    plc.Plc().InjectNext(sim::Df1Fault::BadCheck);
    Variant one(VariantArray(1, 1));
    std::int32_t bad = master.Read("N7:0", one, 1);
    report.Step(bad == ResultCheckError, "ReadPLC  N7:0 answered with a bad check (injected)",
                ResultText(bad) + " \"" + master.Errors() + "\", three DLE ACKs");
  }
  plc.Stop();
  report.Note("the simulated PLC answered " + std::to_string(plc.Plc().RequestsSeen()) + " requests");
}

}  // namespace plc::plclink
