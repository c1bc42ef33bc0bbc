// DfLink on its line to the simulated DF1 PLC (CRC), integer file N7.
#include "bench/faults/FaultLine.h"
#include "bench/faults/LineParts.h"
#include "bench/faults/ProcessMemory.h"
#include "df1/DfLink.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/Df1Simulator.h"

namespace plc::faults {

namespace {

constexpr int kSpan = 256;  // N7:0..255, the simulator's whole file
constexpr int kCommPortBase = 120;
// A write's completion comes within 1.4 s, or never.
constexpr std::int64_t kWriteWaitMicros = 3'000'000;

class DfLinkLine final : public LineUnderTest {
 public:
  DfLinkLine(int index, std::uint32_t seed)
      : LineUnderTest("DfLink " + std::to_string(index)),
        line_(seed, ScriptTiming{.delayMicros = 150000, .splitGapMicros = 1000, .lateIntoNext = true}),
        plc_(sim::Df1SimOptions{line_.DevicePath(), false, 115200}),
        mapping_(kCommPortBase + index, line_.ControlPath()) {
    Words words(kSpan);
    for (int at = 0; at < kSpan; ++at) words[static_cast<std::size_t>(at)] = InitialWord(index, at);
    plc_.Plc().Table().SetWords(7, 0, words);
    const long heap = HeapBytes();
    link_ = std::make_unique<DfLink>();
    link_->SetHost(&host_);
    link_->Initialize();
    link_->InitProperties();
    link_->SetCommPort(static_cast<std::int16_t>(kCommPortBase + index));
    link_->SetSettings("115200,n,8,1");
    link_->SetNode(Variant(std::int32_t{0}));
    link_->SetPortOpen(true);
    controlBytes_ = HeapBytes() - heap;
    link_->SetEventSink([this](const std::string& event, std::vector<Variant>& args) {
      if (event != "CommComplete" || args.size() < 4) return;
      completions_++;
      lastText_ = args[3].ToString();
      // A reply broken off by a link response ends with an empty text: the status tells.
      lastGood_ = args.size() < 5 || args[4].ToInt32() == -1;
      if (!Completed || writing_) return;
      Words values;
      const bool good = lastText_.empty() && lastGood_ && WordsOf(args[0], 1, pending_, values);
      Completed(good, values);
    });
  }
  ~DfLinkLine() override {
    try {
      link_->SetPortOpen(false);
    } catch (...) {
    }
  }

  int Span() const override { return kSpan; }
  int MaxCount() const override { return 50; }
  // A write frame's payload must fit the check buffer (43 N-file words).
  int MaxWriteCount() const override { return 40; }
  FaultRelay& Relay() override { return line_; }
  // The PLC's own: an error status on a reply with good data, a refusal or a link response the
  // control cannot take (and no reply), a reply broken off by a DLE ACK or under a bad check,
  // no answer, and a reply one byte at a time. The PLC's late and overdue replies are the
  // relay's; a lost closing DLE ACK keeps its next reply back by design, and its "check-10"
  // reply is not what its memory holds, so neither can be judged here.
  std::vector<Fault> DeviceFaults() const override {
    return {Fault::Refuse,   Fault::LinkRefuse, Fault::OddResponse, Fault::CutReply,
            Fault::BadCheck, Fault::Mute,       Fault::Slow};
  }
  void ArmDeviceFault(Fault fault) override {
    // A read retry (when the control takes one) meets the same fault: what must fail fails.
    armed_ = MustFail(fault) ? 2 : 1;
    for (std::size_t i = 0; i < armed_; ++i) plc_.Plc().InjectNext(PlcFault(fault));
  }
  bool DeviceFaultStruck() override { return plc_.Plc().ClearInjected() < armed_; }

  Words DeviceWords(int at, int count) override {
    Words words;
    for (int i = at; i < at + count; ++i) words.push_back(plc_.Plc().Table().Word(7, i).value_or(0));
    return words;
  }

  Result Read(int at, int count, Words& values) override {
    std::string address = "N7:" + std::to_string(at);
    VariantArray got(1, count, VarType::Double);
    lastWasWrite_ = false;
    const Result r = link_->ReadPLC(address, got, Opt<std::int16_t>(static_cast<std::int16_t>(count)));
    if (r == ResultOk && !WordsOf(Variant(got), 1, count, values)) values.assign(1, 0);
    return r;
  }

  // WritePLC returns once the request is on the line; its acknowledgement ends the write, in
  // CommComplete. The call counts as failed when that does not come or carries an error text.
  Result Write(int at, const Words& values) override {
    std::string address = "N7:" + std::to_string(at);
    VariantArray array = ArrayOf(values);
    writing_ = true;
    Result r = link_->WritePLC(address, array, Opt<std::int16_t>(static_cast<std::int16_t>(values.size())));
    // The write's own completion is the first after WritePLC returns: one raised while it
    // waited for the line closed an earlier transaction (a read given up on, whose late answer
    // came then), and a write's completion carries nothing that tells the two apart.
    const int before = completions_;
    writeCause_ = link_->FailureCause();
    if (r == ResultOk) {
      EventLoop& loop = EventLoop::Current();
      const bool ended = loop.WaitUntil([&] { return completions_ != before; }, loop.Now() + kWriteWaitMicros);
      if (!ended || !lastText_.empty() || !lastGood_) r = ResultFailed;
      // What the control told of the failed write: the completion's text, or its failure cause
      // where the text is empty. A request that draws no answer at all raises no CommComplete
      // (the watchdog frees the driver in silence), so the host says what it saw, as plclink does.
      writeCause_ = !ended ? "no CommComplete came within 3 s of the write" : !lastText_.empty() ? lastText_ : link_->FailureCause();
    }
    writing_ = false;
    lastWasWrite_ = true;
    return r;
  }

  bool BusyRefusal(Result r) const override { return r == ResultLineBusy; }
  std::string Cause() const override { return lastWasWrite_ ? writeCause_ : link_->FailureCause(); }
  std::string ClassicText() override { return link_->ReadErrors().ToString(); }

  // ReadPLCNW says nothing of whether its request went out: CommBusy does.
  Start StartRead(int at, int count) override {
    // The DfLinks of a process share one driver state (and its value buffer): one transaction
    // at a time.
    if (link_->CommBusy().ToBool()) return Start::Busy;
    Variant address("N7:" + std::to_string(at)), unused;
    pending_ = count;
    link_->ReadPLCNW(address, unused, Opt<std::int16_t>(static_cast<std::int16_t>(count)), Opt<std::int16_t>());
    return link_->CommBusy().ToBool() ? Start::Sent : Start::Failed;
  }

 private:
  FaultLine line_;
  sim::Df1Simulator plc_;
  test::ScopedCommPort mapping_;
  StandaloneHost host_;
  std::unique_ptr<DfLink> link_;
  sim::Df1Fault PlcFault(Fault fault) {
    switch (fault) {
      case Fault::Refuse: return sim::Df1Fault::Status;
      case Fault::LinkRefuse: return sim::Df1Fault::DleNak;
      case Fault::OddResponse: {
        // Each of the responses no master may take as DLE ACK, in turn.
        constexpr sim::Df1Fault kOdd[] = {sim::Df1Fault::DleEnq, sim::Df1Fault::OtherByte, sim::Df1Fault::BareAck};
        return kOdd[odd_++ % 3];
      }
      case Fault::CutReply: return sim::Df1Fault::AckInReply;
      case Fault::BadCheck: return sim::Df1Fault::BadCheck;
      case Fault::Mute: return sim::Df1Fault::Silent;
      case Fault::Slow: return sim::Df1Fault::Split;
      default: return sim::Df1Fault::None;
    }
  }

  std::size_t armed_ = 0;
  unsigned odd_ = 0;
  int pending_ = 1;
  int completions_ = 0;
  bool writing_ = false;
  bool lastWasWrite_ = false;
  std::string lastText_;
  bool lastGood_ = true;
  std::string writeCause_;
};

}  // namespace

std::unique_ptr<LineUnderTest> MakeDfLinkLine(int index, std::uint32_t seed) {
  return std::make_unique<DfLinkLine>(index, seed);
}

}  // namespace plc::faults
