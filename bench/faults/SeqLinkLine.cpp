// SeqLink on its line to the simulated DirectNET station 1, V-memory from V2000 (octal) up.
#include "bench/faults/FaultLine.h"
#include "bench/faults/LineParts.h"
#include "bench/faults/ProcessMemory.h"
#include "directnet/SeqLink.h"
#include "platform/ComponentHost.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/DirectNetSimulator.h"

namespace plc::faults {

namespace {

constexpr int kSpan = 1000;
constexpr std::uint32_t kV2000 = 02000;  // the header address of V2000
constexpr int kCommPortBase = 100;

Variant AddressOf(int at) { return Variant("V," + Octal(static_cast<int>(kV2000) + at)); }

class SeqLinkLine final : public LineUnderTest {
 public:
  SeqLinkLine(int index, std::uint32_t seed)
      : LineUnderTest("SeqLink " + std::to_string(index)),
        line_(seed, ScriptTiming{}),
        station_({line_.DevicePath(), {1}}),
        mapping_(kCommPortBase + index, line_.ControlPath()) {
    for (int at = 0; at < kSpan; ++at) station_.SetWord(1, kV2000 + static_cast<std::uint32_t>(at), InitialWord(index, at));
    const long heap = HeapBytes();
    link_ = std::make_unique<SeqLink>();
    link_->SetHost(&host_);
    link_->InitProperties();
    link_->SetCommPort(static_cast<std::int16_t>(kCommPortBase + index));
    link_->SetSettings("9600,o,8,1");
    link_->SetPortOpen(true);
    // The reply watchdog runs, as after a load in run mode: a non-waiting read whose reply is
    // lost holds the link that all SeqLinks of the thread share until it frees it.
    link_->Timer1().SetEnabled(true);
    controlBytes_ = HeapBytes() - heap;
    link_->SetEventSink([this](const std::string& event, std::vector<Variant>&) {
      if (event != "CommComplete" || !Completed) return;
      Words values;
      const bool good = ReadDataWords(*link_, pending_, values);
      Completed(good, values);
    });
  }
  ~SeqLinkLine() override {
    try {
      link_->SetPortOpen(false);
    } catch (...) {
    }
  }

  int Span() const override { return kSpan; }
  int MaxCount() const override { return 100; }
  // The station's answer to the enquiry, the data block (or write acknowledge), the EOT.
  int RepliesPerTransaction() const override { return 3; }
  FaultRelay& Relay() override { return line_; }
  // The station's own, for every request of the transaction: a NAK to the enquiry, a reply
  // whose LRC does not match its data, no EOT after the control's ACK, no answer at all, and
  // every answer one byte at a time.
  std::vector<Fault> DeviceFaults() const override {
    return {Fault::LinkRefuse, Fault::BadCheck, Fault::NoClose, Fault::Mute, Fault::Slow};
  }
  void ArmDeviceFault(Fault fault) override {
    armed_ = fault;
    before_ = station_.Counts();
    station_.SetFault(StationFaultOf(fault));
  }
  // Struck when the station had the step the fault acts on: an enquiry, a header it served, or
  // the control's ACK of a reply.
  bool DeviceFaultStruck() override {
    station_.SetFault(sim::StationFault::None);
    const sim::StationCounts now = station_.Counts();
    switch (armed_) {
      case Fault::BadCheck: return now.headers - now.refused > before_.headers - before_.refused;
      case Fault::NoClose: return now.acks > before_.acks;
      default: return now.enquiries > before_.enquiries;
    }
  }

  Words DeviceWords(int at, int count) override {
    Words words;
    for (int i = at; i < at + count; ++i) words.push_back(station_.Word(1, kV2000 + static_cast<std::uint32_t>(i)));
    return words;
  }

  Result Read(int at, int count, Words& values) override {
    Variant address = AddressOf(at), size(static_cast<std::int16_t>(count));
    Variant got(VariantArray(1, count));
    const Result r = link_->ReadPLC(address, got, Opt<Variant>(size), Opt<std::int16_t>(), Opt<std::int32_t>());
    if (r == ResultOk && !WordsOf(got, 1, count, values)) values.assign(1, 0);
    return r;
  }

  Result Write(int at, const Words& values) override {
    Variant address = AddressOf(at);
    Variant array = values.size() == 1 ? Variant(std::int32_t{values[0]}) : Variant(ArrayOf(values));
    return link_->WritePLC(address, array, Opt<std::int16_t>(static_cast<std::int16_t>(values.size())),
                          Opt<std::int16_t>(), Opt<std::int32_t>());
  }

  std::string Cause() const override { return link_->FailureCause(); }
  std::string ClassicText() override { return link_->ReadErrors().ToString(); }

  Start StartRead(int at, int count) override {
    // The SeqLinks of a thread share one link: while another one's transaction runs, this one
    // waits its turn.
    if (link_->CommBusy().ToBool()) return Start::Busy;
    Variant address = AddressOf(at), unused, size(static_cast<std::int16_t>(count));
    pending_ = static_cast<std::int16_t>(count);
    return link_->ReadPLCNW(address, unused, Opt<Variant>(size), Opt<std::int16_t>()) == ResultOk ? Start::Sent
                                                                                                   : Start::Failed;
  }

 private:
  static sim::StationFault StationFaultOf(Fault fault) {
    switch (fault) {
      case Fault::LinkRefuse: return sim::StationFault::Nak;
      case Fault::BadCheck: return sim::StationFault::BadLrc;
      case Fault::NoClose: return sim::StationFault::NoEot;
      case Fault::Mute: return sim::StationFault::NoAnswer;
      case Fault::Slow: return sim::StationFault::SlowBytes;
      default: return sim::StationFault::None;
    }
  }

  Fault armed_ = Fault::None;
  sim::StationCounts before_;
  FaultLine line_;
  sim::DirectNetSimulator station_;
  test::ScopedCommPort mapping_;
  StandaloneHost host_;
  std::unique_ptr<SeqLink> link_;
  std::int16_t pending_ = 1;
};

}  // namespace

std::unique_ptr<LineUnderTest> MakeSeqLinkLine(int index, std::uint32_t seed) {
  return std::make_unique<SeqLinkLine>(index, seed);
}

}  // namespace plc::faults
