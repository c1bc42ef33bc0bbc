#include "tools/plclink/DemoDfLink.h"

#include <cstdint>
#include <string>
#include <vector>

#include "base/ResultCodes.h"
#include "platform/PseudoTerminalLink.h"
#include "tools/plclink/DemoControl.h"
#include "tools/plcsim/Df1Simulator.h"

namespace plc::plclink {

namespace {

constexpr std::int16_t kCommPort = 13;
constexpr const char* kSettings = "19200,n,8,1";

// DF1 statuses stand as they are: ReadErrors names them.
std::string StatusText(std::int32_t result) {
  if (result == ResultOk) return "result -1 (ok)";
  return "result " + std::to_string(result);
}

std::int32_t Write(DemoControl& m, const std::string& address, const std::vector<double>& values) {
  return m.Call("WritePLC", {Variant(address), ArrayOf(values), Variant(static_cast<std::int16_t>(values.size()))})
      .ToInt32();
}
// The values read are m.Args()[1].
std::int32_t Read(DemoControl& m, const std::string& address, std::int16_t size) {
  return m.Call("ReadPLC", {Variant(address), Variant(VariantArray(1, size)), Variant(size)}).ToInt32();
}

std::string EventText(const std::vector<Variant>& e, std::int32_t values) {
  if (e.size() < 5) return "no CommComplete within 3 s";
  return "CommComplete MData(" + ValuesText(e[0].Array(), 1, values) + ") MStartAdd=" + e[1].ToString() +
         " Mquan=" + e[2].ToString() + " ErrorStr=\"" + e[3].ToString() + "\" RespStatus=" + e[4].ToString();
}

void WriteAndReadBack(DemoReport& report, DemoControl& m, const std::string& address,
                      const std::vector<double>& values) {
  std::int32_t written = Write(m, address, values);
  std::vector<Variant> ack = m.NextCompletion();
  bool acked = written == ResultOk && ack.size() == 5 && ack[4].ToInt32() == ResultOk;
  report.Step(acked, "WritePLC " + address + " x" + std::to_string(values.size()) + ", then its acknowledgement",
              StatusText(written) + "; " + EventText(ack, 1));
  std::int32_t read = Read(m, address, static_cast<std::int16_t>(values.size()));
  const Variant& back = m.Args()[1];
  bool same = read == ResultOk;
  for (std::size_t i = 0; same && i < values.size(); ++i)
    same = back.Array().Get(static_cast<std::int32_t>(i + 1)).ToDouble() == values[i];
  report.Step(same, "ReadPLC  " + address + " x" + std::to_string(values.size()) + " reads back",
              read == ResultOk ? ValuesText(back.Array(), 1, static_cast<std::int32_t>(values.size()))
                               : StatusText(read) + " \"" + m.Errors() + "\"");
}

}  // namespace

void RunDfLinkDemo(DemoReport& report) {
  PseudoTerminalLink line;
  sim::Df1Simulator plc(sim::Df1SimOptions{line.PathB(), false, 19200});
  {
    DemoControl master("DfLink", kCommPort, line.PathA(), report, "CommComplete");
    master->SetProperty("CommPort", kCommPort);
    master->SetProperty("Settings", kSettings);
    master->SetProperty("Node", std::int32_t{0});
    master.Open();
    report.Note("master: DfLink (CRC, Address 1, Node 0, " + std::string(kSettings) + ") on " + line.PathA());
    report.Note("PLC:    simulated DF1 PLC on its own thread, on " + line.PathB());
    WriteAndReadBack(report, master, "N7:0", {12, -345, 4112});
    WriteAndReadBack(report, master, "F8:2", {1.5, -0.25});

    plc.Plc().Table().SetWords(7, 10, {7, 8, 9});
    std::int32_t sent =
        master.Call("ReadPLCNW", {Variant(std::string("N7:10")), Variant(), Variant(std::int16_t{3})}).ToInt32();
    std::vector<Variant> e = master.NextCompletion();
    report.Step(sent == ResultFailed && e.size() == 5 && e[4].ToInt32() == ResultOk,
                "ReadPLCNW N7:10 x3 returned 0 at once, then CommComplete", EventText(e, 3));

    plc.Plc().InjectNext(sim::Df1Fault::BadCheck);
    std::int32_t bad = Read(master, "N7:0", 1);
    report.Step(bad == ResultCheckError, "ReadPLC  N7:0 answered with a bad check (injected)",
                StatusText(bad) + " \"" + master.Errors() + "\", three DLE ACKs");
  }
  plc.Stop();
  report.Note("the simulated PLC answered " + std::to_string(plc.Plc().RequestsSeen()) + " requests");
}

}  // namespace plc::plclink
