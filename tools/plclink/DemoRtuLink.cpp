#include "tools/plclink/DemoRtuLink.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/Enums.h"
#include "base/ResultCodes.h"
#include "platform/PseudoTerminalLink.h"
#include "tools/plclink/DemoControl.h"
#include "tools/plclink/SimModbusSlave.h"

namespace plc::plclink {

namespace {

// Port numbers the two line ends are mapped to, each on its own thread.
constexpr std::int16_t kMasterCommPort = 11;
constexpr std::int16_t kPlcCommPort = 12;
// Parity none: a pseudo-terminal refuses some parity changes.
constexpr const char* kSettings = "19200,n,8,1";
constexpr std::int32_t kUnit = 1;

const std::vector<std::int32_t> kRegisters = {12, 345, 4660, 40000, 65535};
const std::vector<std::int32_t> kCoils = {1, 0, 1, 1, 0, 0, 1, 0};
constexpr double kFixedPoint = 12.3456;

std::string NumbersText(const std::vector<std::int32_t>& values) {
  std::string text;
  for (std::int32_t v : values) text += (text.empty() ? "" : " ") + std::to_string(v);
  return text;
}

bool Matches(const VariantArray& got, const std::vector<std::int32_t>& want) {
  for (std::size_t i = 0; i < want.size(); ++i) {
    auto index = static_cast<std::int32_t>(i + 1);
    if (!got.Contains(index) || got.Get(index).ToDouble() != want[i]) return false;
  }
  return true;
}

// RtuLink alone refuses a call while a transaction holds the line.
std::string RtuResultText(const Variant& result) {
  return result.ToInt16() == ResultBusy ? "result 966 (busy)" : ResultText(result);
}

std::string Failure(const Variant& result, DemoControl& master) { return master.Failure(RtuResultText(result)); }

Variant Write(DemoControl& master, const std::string& address, Variant values, std::int16_t size,
              std::int16_t ioType = ioWord) {
  return master.Call("WritePLC", {Variant(address), std::move(values), Variant(size), Variant(ioType)});
}
// The values read are master.Args()[1].
Variant Read(DemoControl& master, const std::string& address, std::int16_t size, std::int16_t ioType = ioWord) {
  return master.Call("ReadPLC", {Variant(address), Variant(VariantArray(1, size)), Variant(size), Variant(ioType)});
}

void WriteAndReadBack(DemoReport& report, DemoControl& master, const std::string& address, const char* table,
                      const std::vector<std::int32_t>& values) {
  const auto size = static_cast<std::int16_t>(values.size());
  Variant written = Write(master, address, ArrayOf(values), size);
  bool wrote = written.ToInt16() == ResultOk;
  report.Step(wrote, "WritePLC " + address + " x" + std::to_string(size) + " (" + table + ") = " + NumbersText(values),
              wrote ? RtuResultText(written) : Failure(written, master));

  Variant read = Read(master, address, size);
  const Variant& back = master.Args()[1];
  bool same = read.ToInt16() == ResultOk && Matches(back.Array(), values);
  report.Step(same, "ReadPLC  " + address + " x" + std::to_string(size) + " reads back",
              read.ToInt16() == ResultOk ? ValuesText(back.Array(), 1, size) : Failure(read, master));
}

void FixedPointRoundTrip(DemoReport& report, DemoControl& master) {
  const std::string address = "40011";
  VariantArray one(1, 1);
  one.Set(1, Variant(kFixedPoint));
  Variant written = Write(master, address, Variant(std::move(one)), 1, ioFloat);
  report.Step(written.ToInt16() == ResultOk, "WritePLC " + address + " as ioFloat = 12.3456 (whole, then ten-thousandths)",
              written.ToInt16() == ResultOk ? RtuResultText(written) : Failure(written, master));

  Variant read = Read(master, address, 1, ioFloat);
  const Variant& back = master.Args()[1];
  bool same = read.ToInt16() == ResultOk && std::fabs(back.Array().Get(1).ToDouble() - kFixedPoint) < 1e-9;
  report.Step(same, "ReadPLC  " + address + " as ioFloat reads back",
              read.ToInt16() == ResultOk ? back.Array().Get(1).ToString() : Failure(read, master));
}

void NonWaitingRead(DemoReport& report, DemoControl& master) {
  const std::vector<std::int32_t> want(kRegisters.begin() + 1, kRegisters.begin() + 4);
  Variant sent = master.Call("ReadPLCNW", {Variant(std::string("40002")), Variant(VariantArray(1, 1)),
                                           Variant(static_cast<std::int16_t>(want.size()))});
  if (sent.ToInt16() != ResultOk) {
    report.Step(false, "ReadPLCNW 40002 x3", Failure(sent, master));
    return;
  }
  const int seen = master.Completions();
  const bool came = master.AwaitCompletion(seen);
  if (!came) master->SetProperty("CommBusy", false);  // free the line for whatever follows
  const std::vector<Variant> args = came ? master.CompletionArgs(seen) : std::vector<Variant>{};
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
    DemoControl master("rtulink", kMasterCommPort, line.PathA(), report, "CommCompleteEx");
    master->SetProperty("CommPort", kMasterCommPort);
    master->SetProperty("Settings", kSettings);
    master->SetProperty("Address", kUnit);
    master->SetProperty("ModBusMode", std::int32_t{rtu::Rtu});
    master.Open();
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
