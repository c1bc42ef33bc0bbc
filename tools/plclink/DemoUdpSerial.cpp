#include "tools/plclink/DemoUdpSerial.h"

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
#include "tools/plcsim/DirectNetSimulator.h"

namespace plc::plclink {

namespace {

constexpr std::int16_t kCommPort = 14;
constexpr std::int32_t kHeaderAddress = 1024;  // V2000 as the station numbers its words
constexpr std::int64_t kEventWaitMicros = 3'000'000;

std::string ResultText(const Variant& result) {
  return result.ToInt16() == ResultOk ? "result -1 (ok)" : "result " + result.ToString() + " (failed)";
}

class SerialClient {
 public:
  SerialClient(const std::string& devicePath, const DemoReport& report) : control_(PluginControl::Load("udplink")) {
    SerialPortMap::Current().Map(kCommPort, devicePath);
    host_.SetSerialTrace(report.WireTrace());
    control_->SetHost(&host_);
    control_->InitProperties();
    control_->SetProperty("CommMode", std::int32_t{udp::KSeq});
    control_->SetProperty("CommPort", kCommPort);
    control_->SetProperty("Settings", "9600,n,8,1");  // a pseudo-terminal carries no parity
    control_->SetProperty("Address", std::int32_t{1});
    control_->SetEventSink([this](const std::string& name, std::vector<Variant>&) {
      if (name == "CommComplete") ++completions_;
    });
    control_->SetProperty("PortOpen", true);
  }
  ~SerialClient() {
    try {
      control_->SetProperty("PortOpen", false);
    } catch (const RuntimeError&) {
      // nothing worth reporting at the end of the run
    }
    SerialPortMap::Current().Unmap(kCommPort);
  }
  SerialClient(const SerialClient&) = delete;
  SerialClient& operator=(const SerialClient&) = delete;

  Variant Call(const char* member, std::vector<Variant> args) {
    std::vector<Variant*> refs;
    for (Variant& a : args) refs.push_back(&a);
    Variant result = control_->Invoke(member, refs);
    last_ = args;
    return result;
  }
  const std::vector<Variant>& LastArgs() const { return last_; }
  bool AwaitCompletion(int count) {
    EventLoop& loop = EventLoop::Current();
    return loop.WaitUntil([&] { return completions_ >= count; }, loop.Now() + kEventWaitMicros);
  }
  int Completions() const { return completions_; }

 private:
  StandaloneHost host_;  // before the control: it outlives it
  PluginControl control_;
  std::vector<Variant> last_;
  int completions_ = 0;
};

}  // namespace

void RunUdpSerialDemo(DemoReport& report) {
  PseudoTerminalLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  report.Note("serial:  UdpLink in KSeq mode on " + line.PathA() + ", the DirectNET station 1 on " + line.PathB());
  SerialClient client(line.PathA(), report);

  const Variant address(kHeaderAddress);
  Variant wrote = client.Call("WritePLC", {address, Variant(std::int32_t{4660})});
  report.Step(wrote.ToInt16() == ResultOk && station.Word(1, kHeaderAddress) == 4660,
              "WritePLC 1024 = 4660 (header address 1024 as it stands: V2000)", ResultText(wrote));

  Variant read = client.Call("ReadPLC", {address, Variant()});
  const bool same = read.ToInt16() == ResultOk && client.LastArgs()[1].ToInt32() == 4660;
  report.Step(same, "ReadPLC  1024 reads it back", same ? client.LastArgs()[1].ToString() : ResultText(read));

  Variant set = client.Call("WritePLCBit", {Variant(std::int32_t{0xF008}), Variant(std::int32_t{1})});
  report.Step(set.ToInt16() == ResultOk && (station.Word(1, 0x4181) & 1) == 1,
              "WritePLCBit 61448 = 1 (set/reset header, C10 in the station)", ResultText(set));

  const int before = client.Completions();
  Variant started = client.Call("ReadPLCNW", {address, Variant(), Variant(std::int16_t{1})});
  const bool arrived = started.ToInt16() == ResultOk && client.AwaitCompletion(before + 1);
  Variant one(std::int16_t{1});
  const Variant word = arrived ? client.Call("ReadData", {one}) : Variant();
  report.Step(arrived && word.ToInt32() == 4660, "ReadPLCNW 1024 returned at once, then CommComplete; ReadData(1)",
              arrived ? word.ToString() : ResultText(started));
}

}  // namespace plc::plclink
