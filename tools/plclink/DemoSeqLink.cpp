#include "tools/plclink/DemoSeqLink.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/PluginControl.h"
#include "core/ResultCodes.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "platform/PseudoTerminalLink.h"
#include "platform/SerialPortMap.h"
#include "tools/plcsim/DirectNetSimulator.h"

namespace plc::plclink {

namespace {

constexpr std::int16_t kCommPort = 13;
constexpr const char* kSettings = "9600,n,8,1";  // a pseudo-terminal carries no parity
constexpr std::int32_t kStation = 1;
constexpr std::int64_t kEventWaitMicros = 3'000'000;

const std::vector<std::int32_t> kWords = {12, 345, 4660, 40000};

Variant ArrayOf(const std::vector<std::int32_t>& values) {
  VariantArray array(1, static_cast<std::int32_t>(values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) array.Set(static_cast<std::int32_t>(i + 1), Variant(values[i]));
  return Variant(std::move(array));
}

std::string ResultText(const Variant& result) {
  return result.ToInt16() == ResultOk ? "result -1 (ok)" : "result " + result.ToString() + " (failed)";
}

class SeqMaster {
 public:
  SeqMaster(const std::string& devicePath, const DemoReport& report) : control_(PluginControl::Load("seqlink")) {
    SerialPortMap::Current().Map(kCommPort, devicePath);
    host_.SetSerialTrace(report.WireTrace());
    control_->SetHost(&host_);
    control_->InitProperties();
    control_->SetProperty("CommPort", kCommPort);
    control_->SetProperty("Settings", kSettings);
    control_->SetProperty("Address", kStation);
    control_->SetEventSink([this](const std::string& name, std::vector<Variant>&) {
      if (name == "CommComplete") ++completions_;
    });
    control_->SetProperty("PortOpen", true);
  }
  ~SeqMaster() {
    try {
      control_->SetProperty("PortOpen", false);
    } catch (const RuntimeError&) {
      // nothing worth reporting at the end of the run
    }
    SerialPortMap::Current().Unmap(kCommPort);
  }
  SeqMaster(const SeqMaster&) = delete;
  SeqMaster& operator=(const SeqMaster&) = delete;

  Variant Invoke(const char* method, std::vector<Variant> args) {
    std::vector<Variant*> refs;
    for (Variant& a : args) refs.push_back(&a);
    Variant result = control_->Invoke(method, refs);
    last_ = std::move(args);
    return result;
  }
  // The arguments of the latest call, as the control left them.
  const std::vector<Variant>& Args() const { return last_; }
  bool AwaitCommComplete(int seen) {
    EventLoop& loop = EventLoop::Current();
    return loop.WaitUntil([&] { return completions_ > seen; }, loop.Now() + kEventWaitMicros);
  }
  int Completions() const { return completions_; }
  std::string Failure(const Variant& result) {
    const std::string errors = Invoke("ReadErrors", {}).ToString();
    return ResultText(result) + (errors.empty() ? "" : ", ReadErrors \"" + errors + "\"");
  }

 private:
  StandaloneHost host_;
  PluginControl control_;
  std::vector<Variant> last_;
  int completions_ = 0;
};

void Steps(DemoReport& report, SeqMaster& m, sim::DirectNetSimulator& station) {
  const auto n = static_cast<std::int16_t>(kWords.size());
  Variant written = m.Invoke("WritePLC", {Variant("V,2000"), ArrayOf(kWords), Variant(n)});
  report.Step(written.ToInt16() == ResultOk && station.Word(kStation, 0x0400) == 12,
              "WritePLC V,2000 x4 = 12 345 4660 40000", ResultText(written));

  Variant read = m.Invoke("ReadPLC", {Variant("1;V,2000"), Variant(VariantArray(1, n)), Variant(n)});
  const VariantArray& back = m.Args()[1].Array();
  bool same = read.ToInt16() == ResultOk;
  for (std::int32_t k = 1; same && k <= n; ++k) same = back.Get(k).ToInt32() == kWords[static_cast<std::size_t>(k - 1)];
  report.Step(same, "ReadPLC  1;V,2000 x4 reads back", same ? ValuesText(back, 1, n) : m.Failure(read));

  Variant set = m.Invoke("WritePLCBit", {Variant("C,10"), Variant(std::int32_t{1})});
  report.Step(set.ToInt16() == ResultOk, "WritePLCBit C,10 = 1 (set, header address F008h)", ResultText(set));
  Variant bit = m.Invoke("ReadPLC", {Variant("C,10"), Variant(), Variant(std::int16_t{1}), Variant(std::int16_t{0}),
                                     Variant(std::int32_t{0})});
  const bool on = bit.ToInt16() == ResultOk && m.Args()[1].ToInt32() == 1;
  report.Step(on, "ReadPLC  C,10 reads the bit (word 4181h, bit 0)",
              on ? "1, IOType " + m.Args()[3].ToString() + ", ioIdx " + m.Args()[4].ToString() : m.Failure(bit));

  station.SetWord(kStation, 0x0401, 3456);
  Variant fixed = m.Invoke("ReadPLC", {Variant("V,2000"), Variant(), Variant(std::int16_t{1}), Variant(std::int16_t{2})});
  const bool fixedOk = fixed.ToInt16() == ResultOk && std::fabs(m.Args()[1].ToDouble() - 12.3456) < 1e-9;
  report.Step(fixedOk, "ReadPLC  V,2000 as ioFloat (whole, then ten-thousandths)",
              fixedOk ? m.Args()[1].ToString() : m.Failure(fixed));

  const int seen = m.Completions();
  Variant sent = m.Invoke("ReadPLCNW", {Variant("V,2001"), Variant(), Variant(std::int16_t{3})});
  const bool arrived = sent.ToInt16() == ResultOk && m.AwaitCommComplete(seen);
  std::string values;
  for (std::int16_t k = 1; arrived && k <= 3; ++k) values += (k > 1 ? " " : "") + m.Invoke("ReadData", {Variant(k)}).ToString();
  report.Step(arrived && values == "3456 4660 40000", "ReadPLCNW V,2001 x3 returned at once, then CommComplete",
              arrived ? "ReadData(1..3) = " + values : m.Failure(sent));

  station.SetFault(sim::StationFault::BadLrc);
  Variant bad = m.Invoke("ReadPLC", {Variant("V,2000"), Variant(), Variant(std::int16_t{1})});
  station.SetFault(sim::StationFault::None);
  report.Step(bad.ToInt16() == ResultFailed, "ReadPLC  V,2000 with the station's LRC spoiled: no ACK, fails in 1-2 s",
              ResultText(bad));
}

}  // namespace

void RunSeqLinkDemo(DemoReport& report) {
  PseudoTerminalLink line;
  sim::DirectNetSimulator station({line.PathB(), {kStation}});
  SeqMaster master(line.PathA(), report);
  report.Note("master: SeqLink (K-sequence, station " + std::to_string(kStation) + ", " + kSettings + ") on " +
              line.PathA() + " as CommPort " + std::to_string(kCommPort));
  report.Note("PLC:    simulated DirectNET station on its own thread, on " + line.PathB());
  Steps(report, master, station);
  report.Note("the simulated station completed " + std::to_string(station.Completed()) + " transactions");
}

}  // namespace plc::plclink
