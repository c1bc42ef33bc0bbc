#include "tools/plclink/DemoSeqLink.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "base/ResultCodes.h"
#include "platform/PseudoTerminalLink.h"
#include "tools/plclink/DemoControl.h"
#include "tools/plcsim/DirectNetSimulator.h"

namespace plc::plclink {

namespace {

constexpr std::int16_t kCommPort = 13;
constexpr const char* kSettings = "9600,n,8,1";  // a pseudo-terminal carries no parity
constexpr std::int32_t kStation = 1;
const std::vector<std::int32_t> kWords = {12, 345, 4660, 40000};

void Steps(DemoReport& report, DemoControl& m, sim::DirectNetSimulator& station) {
  const auto n = static_cast<std::int16_t>(kWords.size());
  Variant written = m.Call("WritePLC", {Variant("V,2000"), ArrayOf(kWords), Variant(n)});
  report.Step(written.ToInt16() == ResultOk && station.Word(kStation, 0x0400) == 12,
              "WritePLC V,2000 x4 = 12 345 4660 40000", ResultText(written));

  Variant read = m.Call("ReadPLC", {Variant("1;V,2000"), Variant(VariantArray(1, n)), Variant(n)});
  const VariantArray& back = m.Args()[1].Array();
  bool same = read.ToInt16() == ResultOk;
  for (std::int32_t k = 1; same && k <= n; ++k) same = back.Get(k).ToInt32() == kWords[static_cast<std::size_t>(k - 1)];
  report.Step(same, "ReadPLC  1;V,2000 x4 reads back", same ? ValuesText(back, 1, n) : m.Failure(ResultText(read)));

  Variant set = m.Call("WritePLCBit", {Variant("C,10"), Variant(std::int32_t{1})});
  report.Step(set.ToInt16() == ResultOk, "WritePLCBit C,10 = 1 (set, header address F008h)", ResultText(set));
  Variant bit = m.Call("ReadPLC", {Variant("C,10"), Variant(), Variant(std::int16_t{1}), Variant(std::int16_t{0}),
                                   Variant(std::int32_t{0})});
  const bool on = bit.ToInt16() == ResultOk && m.Args()[1].ToInt32() == 1;
  report.Step(on, "ReadPLC  C,10 reads the bit (word 4181h, bit 0)",
              on ? "1, IOType " + m.Args()[3].ToString() + ", ioIdx " + m.Args()[4].ToString()
                 : m.Failure(ResultText(bit)));

  station.SetWord(kStation, 0x0401, 3456);
  Variant fixed = m.Call("ReadPLC", {Variant("V,2000"), Variant(), Variant(std::int16_t{1}), Variant(std::int16_t{2})});
  const bool fixedOk = fixed.ToInt16() == ResultOk && std::fabs(m.Args()[1].ToDouble() - 12.3456) < 1e-9;
  report.Step(fixedOk, "ReadPLC  V,2000 as ioFloat (whole, then ten-thousandths)",
              fixedOk ? m.Args()[1].ToString() : m.Failure(ResultText(fixed)));

  const int seen = m.Completions();
  Variant sent = m.Call("ReadPLCNW", {Variant("V,2001"), Variant(), Variant(std::int16_t{3})});
  const bool arrived = sent.ToInt16() == ResultOk && m.AwaitCompletion(seen);
  std::string values;
  for (std::int16_t k = 1; arrived && k <= 3; ++k)
    values += (k > 1 ? " " : "") + m.Call("ReadData", {Variant(k)}).ToString();
  report.Step(arrived && values == "3456 4660 40000", "ReadPLCNW V,2001 x3 returned at once, then CommComplete",
              arrived ? "ReadData(1..3) = " + values : m.Failure(ResultText(sent)));

  station.SetFault(sim::StationFault::BadLrc);
  Variant bad = m.Call("ReadPLC", {Variant("V,2000"), Variant(), Variant(std::int16_t{1})});
  station.SetFault(sim::StationFault::None);
  report.Step(bad.ToInt16() == ResultFailed, "ReadPLC  V,2000 with the station's LRC spoiled: no ACK, fails in 1-2 s",
              ResultText(bad));
}

}  // namespace

void RunSeqLinkDemo(DemoReport& report) {
  PseudoTerminalLink line;
  sim::DirectNetSimulator station({line.PathB(), {kStation}});
  DemoControl master("seqlink", kCommPort, line.PathA(), report, "CommComplete");
  master->SetProperty("CommPort", kCommPort);
  master->SetProperty("Settings", kSettings);
  master->SetProperty("Address", kStation);
  master.Open();
  report.Note("master: SeqLink (K-sequence, station " + std::to_string(kStation) + ", " + kSettings + ") on " +
              line.PathA() + " as CommPort " + std::to_string(kCommPort));
  report.Note("PLC:    simulated DirectNET station on its own thread, on " + line.PathB());
  Steps(report, master, station);
  report.Note("the simulated station completed " + std::to_string(station.Completed()) + " transactions");
}

}  // namespace plc::plclink
