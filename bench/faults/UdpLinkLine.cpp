// UdpLink in ECOM mode through the loaded libhei_pas.so to a simulated ECOM module of its own
// (module ID 1 + the line's number), V-memory from V2000 (octal) up. The modules' relays are all
// in the module list before the first control opens the thread's ECOM transport.
#include <stdlib.h>

#include <stdexcept>

#include "bench/faults/FaultDatagrams.h"
#include "bench/faults/LineParts.h"
#include "bench/faults/ProcessMemory.h"
#include "ecom/UdpLink.h"
#include "ecom/heipas/Datagram.h"
#include "platform/ComponentHost.h"
#include "tools/plcsim/EcomModuleSim.h"

namespace plc::faults {

namespace {

constexpr int kSpan = 1000;
constexpr std::uint16_t kV2000 = 02000;  // the module's register index of V2000

// The module named in the address: the default station (Address) is one for all the UdpLinks
// of a thread.
Variant AddressOf(std::uint8_t id, int at) { return Variant(std::to_string(id) + ";V," + Octal(kV2000 + at)); }

// The module and its relay, made before any control.
struct EcomPath {
  std::uint8_t id;
  sim::EcomModuleSim module;
  FaultDatagrams relay;
  EcomPath(int index, std::uint32_t seed)
      : id(static_cast<std::uint8_t>(1 + index)),
        module({{id, "SOAK" + std::to_string(index), 0}}),
        relay(seed, ScriptTiming{.delayMicros = 20000, .splitGapMicros = 1000, .lateIntoNext = true}, module.Port(0)) {
    for (int at = 0; at < kSpan; ++at) module.SetWord(id, static_cast<std::uint16_t>(kV2000 + at), LineUnderTest::InitialWord(index, at));
    module.Start();
  }
};

class UdpLinkLine final : public LineUnderTest {
 public:
  UdpLinkLine(int index, std::unique_ptr<EcomPath> path)
      : LineUnderTest("UdpLink " + std::to_string(index)), path_(std::move(path)) {}

  void Open() {
    const long heap = HeapBytes();
    link_ = std::make_unique<UdpLink>();
    link_->SetHost(&host_);
    link_->InitProperties();
    link_->SetAddress(path_->id);
    link_->SetPortOpen(true);
    controlBytes_ = HeapBytes() - heap;
    if (!link_->EcomOpen()) throw std::runtime_error(Name() + ": the ECOM open failed: " + link_->CurrentErrors());
    link_->SetEventSink([this](const std::string& event, std::vector<Variant>&) {
      if (event != "CommComplete" || !Completed) return;
      Words values;
      const bool good = ReadDataWords(*link_, pending_, values);
      Completed(good, values);
    });
  }

  int Span() const override { return kSpan; }
  int MaxCount() const override { return 100; }
  // Datagrams come whole: a reply cannot be split on the way.
  std::vector<Fault> Faults() const override {
    std::vector<Fault> all = LineUnderTest::Faults();
    std::erase(all, Fault::Split);
    return all;
  }
  FaultRelay& Relay() override { return path_->relay; }
  // The module's own: an error status (a read must not hand over its buffer, a write must not
  // count as written), and a stale answer with other data ahead of the right one.
  std::vector<Fault> DeviceFaults() const override { return {Fault::Refuse, Fault::Stale}; }
  void ArmDeviceFault(Fault fault) override {
    path_->module.Record(true);
    // A refusal stands for every attempt of the transaction: the call must fail.
    if (fault == Fault::Refuse) path_->module.SetFault(path_->id, sim::EcomFault::Refuse);
    if (fault == Fault::Stale) path_->module.SetFault(path_->id, sim::EcomFault::Stale, 1);
  }
  bool DeviceFaultStruck() override {
    path_->module.SetFault(path_->id, sim::EcomFault::None);
    bool struck = false;
    for (const auto& d : path_->module.Recorded()) {
      const auto request = heipas::Parse(d.bytes);
      struck = struck || (d.received && request && request->kind == heipas::Kind::Ccm);
    }
    path_->module.Record(false);
    return struck;
  }

  Words DeviceWords(int at, int count) override {
    Words words;
    for (int i = at; i < at + count; ++i) words.push_back(path_->module.Word(path_->id, static_cast<std::uint16_t>(kV2000 + i)));
    return words;
  }

  Result Read(int at, int count, Words& values) override {
    Variant address = AddressOf(path_->id, at);
    Variant got(VariantArray(1, count));
    const Result r = link_->ReadPLC(address, got, Variant(std::int32_t{count}), {}, {});
    if (r == ResultOk && !WordsOf(got, 1, count, values)) values.assign(1, 0);
    return r;
  }

  Result Write(int at, const Words& values) override {
    Variant address = AddressOf(path_->id, at);
    Variant array = values.size() == 1 ? Variant(std::int32_t{values[0]}) : Variant(ArrayOf(values));
    return link_->WritePLC(address, array, Opt<std::int16_t>(static_cast<std::int16_t>(values.size())), {}, {});
  }

  std::string Cause() const override { return link_->FailureCause(); }
  std::string ClassicText() override { return link_->CurrentErrors(); }

  // The ECOM transport answers within the call: the completion comes before this returns.
  Start StartRead(int at, int count) override {
    Variant address = AddressOf(path_->id, at), unused;
    pending_ = static_cast<std::int16_t>(count);
    return link_->ReadPLCNW(address, unused, Opt<Variant>(Variant(std::int32_t{count})), {}) == ResultOk ? Start::Sent
                                                                                                          : Start::Failed;
  }

 private:
  std::unique_ptr<EcomPath> path_;
  StandaloneHost host_;
  std::unique_ptr<UdpLink> link_;
  std::int16_t pending_ = 1;
};

}  // namespace

std::vector<std::unique_ptr<LineUnderTest>> MakeUdpLinkLines(int first, int count, std::uint32_t seed) {
  setenv("HEI_PAS_LIBRARY", PLC_HEI_PAS_LIBRARY, 0);
  std::vector<std::unique_ptr<EcomPath>> paths;
  std::string modules;
  for (int i = first; i < first + count; ++i) {
    paths.push_back(std::make_unique<EcomPath>(i, seed + static_cast<std::uint32_t>(i)));
    modules += (modules.empty() ? "" : ",") + std::string("127.0.0.1:") + std::to_string(paths.back()->relay.Port());
  }
  setenv("HEI_PAS_MODULES", modules.c_str(), 1);
  std::vector<std::unique_ptr<LineUnderTest>> lines;
  for (int i = 0; i < count; ++i) {
    auto line = std::make_unique<UdpLinkLine>(first + i, std::move(paths[static_cast<std::size_t>(i)]));
    line->Open();
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace plc::faults
