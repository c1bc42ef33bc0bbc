// RtuLink on its line to libmodbus's own RTU server (the test peer program), holding registers
// 40001 upwards.
#include <sstream>
#include <stdexcept>

#include "bench/faults/FaultLine.h"
#include "bench/faults/LineParts.h"
#include "bench/faults/ProcessMemory.h"
#include "modbus/RtuLink.h"
#include "platform/ComponentHost.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/Pty.h"

namespace plc::faults {

namespace {

constexpr int kSpan = 1000;  // holding registers 0..999; the server's fault offsets are far above
constexpr int kCommPortBase = 80;

class RtuLinkLine final : public LineUnderTest {
 public:
  RtuLinkLine(int index, std::uint32_t seed)
      : LineUnderTest("RtuLink " + std::to_string(index)),
        salt_(index),
        line_(seed, ScriptTiming{}),
        server_(test::RtuServerCommand({line_.DevicePath(), "--baud", "115200", "--unit", "1"})),
        mapping_(kCommPortBase + index, line_.ControlPath()) {
    for (int at = 0; at < kSpan; at += 200) {
      std::ostringstream set;
      set << "SET hr " << at;
      for (int k = at; k < at + 200 && k < kSpan; ++k) set << ' ' << InitialWord(salt_, k);
      server_.Request(set.str(), "OK");
    }
    const long heap = HeapBytes();
    link_ = std::make_unique<RtuLink>();
    link_->SetHost(&host_);
    link_->Initialize();
    link_->InitProperties();
    link_->SetCommPort(static_cast<std::int16_t>(kCommPortBase + index));
    link_->SetSettings("115200,n,8,1");
    link_->SetAddress(1);
    link_->SetModBusMode(rtu::Rtu);
    link_->SetPortOpen(true);
    // The reply watchdog runs, as after a load in run mode: it frees the line after a lost reply.
    link_->Timer1().SetEnabled(true);
    controlBytes_ = HeapBytes() - heap;
    link_->SetEventSink([this](const std::string& event, std::vector<Variant>& args) {
      if (event != "CommCompleteEx" || !Completed || args.size() < 4) return;
      Words values;
      const bool good = args[3].ToString().empty() && WordsOf(args[0], 1, pending_, values);
      Completed(good, values);
    });
  }
  ~RtuLinkLine() override {
    try {
      link_->SetPortOpen(false);
    } catch (...) {
    }
  }

  int Span() const override { return kSpan; }
  int MaxCount() const override { return 100; }
  FaultRelay& Relay() override { return line_; }
  // The server's own: an exception reply (4, server device failure) to the read or write. The
  // control sends every request once, so one is armed.
  std::vector<Fault> DeviceFaults() const override { return {Fault::Refuse}; }
  void ArmDeviceFault(Fault) override { server_.Request("EXCEPTION 1", "OK"); }
  bool DeviceFaultStruck() override {
    // "OK <k>": k of the armed exceptions were still to come.
    const std::string reply = server_.Request("EXCEPTION 0", "OK");
    return reply.substr(reply.find(' ') + 1) == "0";
  }

  Words DeviceWords(int at, int count) override {
    // "hr <at>: <v1> ... <vn>"
    const std::string reply = server_.Request("DUMP hr " + std::to_string(at) + " " + std::to_string(count), "hr ");
    std::istringstream in(reply.substr(reply.find(':') + 1));
    Words words;
    for (unsigned v; in >> v;) words.push_back(static_cast<std::uint16_t>(v));
    if (words.size() != static_cast<std::size_t>(count)) throw std::runtime_error("the server's DUMP gave: " + reply);
    return words;
  }

  Result Read(int at, int count, Words& values) override {
    std::string address = std::to_string(40001 + at);
    Variant size(static_cast<std::int16_t>(count));
    values_ = VariantArray(1, 200);  // nothing left from an earlier read can pass for this one's
    const Result r = link_->ReadPLC(address, values_, Opt<Variant>(size), Opt<std::int16_t>(std::int16_t{0}));
    if (r == ResultOk && !WordsOf(Variant(values_), 1, count, values)) values.assign(1, 0);
    // The elements past the count are none of this read's: a value there is one the host's array
    // was not to take (a word more than asked), so the read counts as wrong.
    for (std::int32_t i = count + 1; r == ResultOk && i <= values_.Upper(); ++i)
      if (!values_.Get(i).IsEmpty()) values.assign(static_cast<std::size_t>(count) + 1, 0);
    return r;
  }

  Result Write(int at, const Words& values) override {
    std::string address = std::to_string(40001 + at);
    VariantArray array = ArrayOf(values);
    return link_->WritePLC(address, array, Opt<std::int16_t>(static_cast<std::int16_t>(values.size())),
                          Opt<std::int16_t>(std::int16_t{0}));
  }

  bool BusyRefusal(Result r) const override { return r == ResultBusy; }
  std::string Cause() const override { return link_->FailureCause(); }
  std::string ClassicText() override { return link_->ReadErrors().ToString(); }

  Start StartRead(int at, int count) override {
    std::string address = std::to_string(40001 + at);
    pending_ = count;
    return link_->ReadPLCNW(address, values_, Opt<std::int16_t>(static_cast<std::int16_t>(count)),
                            Opt<std::int16_t>(std::int16_t{0})) == ResultOk
               ? Start::Sent
               : Start::Failed;
  }

 private:
  int salt_;
  FaultLine line_;
  test::PeerProcess server_;
  test::ScopedCommPort mapping_;
  StandaloneHost host_;
  std::unique_ptr<RtuLink> link_;
  VariantArray values_{1, 200};
  int pending_ = 1;
};

}  // namespace

std::unique_ptr<LineUnderTest> MakeRtuLinkLine(int index, std::uint32_t seed) {
  return std::make_unique<RtuLinkLine>(index, seed);
}

}  // namespace plc::faults
