#include "tools/plclink/DemoUdpSerial.h"

#include <cstdint>
#include <string>
#include <vector>

#include "base/Enums.h"
#include "base/ResultCodes.h"
#include "platform/PseudoTerminalLink.h"
#include "tools/plclink/DemoControl.h"
#include "tools/plcsim/DirectNetSimulator.h"

namespace plc::plclink {

namespace {

constexpr std::int16_t kCommPort = 14;
constexpr std::int32_t kHeaderAddress = 1024;  // V2000 as the station numbers its words

}  // namespace

void RunUdpSerialDemo(DemoReport& report) {
  PseudoTerminalLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  report.Note("serial:  UdpLink in KSeq mode on " + line.PathA() + ", the DirectNET station 1 on " + line.PathB());
  DemoControl client("udplink", kCommPort, line.PathA(), report, "CommComplete");
  client->SetProperty("CommMode", std::int32_t{udp::KSeq});
  client->SetProperty("CommPort", kCommPort);
  client->SetProperty("Settings", "9600,n,8,1");  // a pseudo-terminal carries no parity
  client->SetProperty("Address", std::int32_t{1});
  client.Open();

  const Variant address(kHeaderAddress);
  Variant wrote = client.Call("WritePLC", {address, Variant(std::int32_t{4660})});
  report.Step(wrote.ToInt16() == ResultOk && station.Word(1, kHeaderAddress) == 4660,
              "WritePLC 1024 = 4660 (header address 1024 as it stands: V2000)", ResultText(wrote));

  Variant read = client.Call("ReadPLC", {address, Variant()});
  const bool same = read.ToInt16() == ResultOk && client.Args()[1].ToInt32() == 4660;
  report.Step(same, "ReadPLC  1024 reads it back", same ? client.Args()[1].ToString() : ResultText(read));

  Variant set = client.Call("WritePLCBit", {Variant(std::int32_t{0xF008}), Variant(std::int32_t{1})});
  report.Step(set.ToInt16() == ResultOk && (station.Word(1, 0x4181) & 1) == 1,
              "WritePLCBit 61448 = 1 (set/reset header, C10 in the station)", ResultText(set));

  const int before = client.Completions();
  Variant started = client.Call("ReadPLCNW", {address, Variant(), Variant(std::int16_t{1})});
  const bool arrived = started.ToInt16() == ResultOk && client.AwaitCompletion(before);
  Variant one(std::int16_t{1});
  const Variant word = arrived ? client.Call("ReadData", {one}) : Variant();
  report.Step(arrived && word.ToInt32() == 4660, "ReadPLCNW 1024 returned at once, then CommComplete; ReadData(1)",
              arrived ? word.ToString() : ResultText(started));
}

}  // namespace plc::plclink
