#pragma once
// A DfLink on an in-memory port and a manual clock, with the simulated DF1 PLC answering what
// it writes: the PLC's pauses become arrival times, so time-outs run in microseconds.
#include <cstdint>
#include <string>
#include <vector>

#include "df1/DfLink.h"
#include "tests/support/LinkTestBench.h"
#include "tools/plcsim/Df1SimPlc.h"

namespace plc::test {

struct Df1Rig {
  explicit Df1Rig(bool bcc = false) : plc(bcc) {
    df1::TheDf1State().Reset();
    Attach(*bench.link, *bench.port, bcc);
  }

  // A control of this rig's bench, new, open, in the rig's check mode, answered by the PLC.
  void Attach(DfLink& link, MemorySerialPort& port, bool bcc) {
    link.Initialize();
    link.InitProperties();
    link.SetMode(bcc ? df1::EnBCC : df1::EnCRC);
    link.SetNode(Variant(std::int32_t{0}));
    link.SetPortOpen(true);
    link.SetEventSink([this](const std::string& name, std::vector<Variant>& args) {
      if (name == "CommComplete") events.push_back(args);
    });
    port.OnSent = [this, &port](const Bytes& chunk) {
      std::int64_t due = bench.loop.Now();
      for (std::uint8_t b : chunk)
        for (const sim::Df1Action& a : plc.Feed(b)) {
          due += std::int64_t{a.delayMs} * 1000;
          port.InjectAt(due, a.bytes);
        }
    };
  }

  std::int64_t Now() const { return bench.clock.MonotonicMicros(); }
  df1::Df1State& State() { return df1::TheDf1State(); }
  DfLink& Link() { return *bench.link; }

  // DLE ACKs the control wrote after the request now on the line.
  int AcksAfterRequest() {
    const Bytes& sent = bench.port->Sent();
    int acks = 0;
    std::size_t lastEtx = 0;
    for (std::size_t i = 0; i + 1 < sent.size(); ++i)
      if (sent[i] == 0x10 && sent[i + 1] == 0x03) lastEtx = i;
    for (std::size_t i = lastEtx + 2; i + 1 < sent.size(); ++i)
      if (sent[i] == 0x10 && sent[i + 1] == 0x06) ++acks;
    return acks;
  }

  LinkTestBench<DfLink> bench;
  sim::Df1SimPlc plc;
  std::vector<std::vector<Variant>> events;
};

}  // namespace plc::test
