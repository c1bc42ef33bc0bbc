#pragma once
// A DfLink on an in-memory port and a manual clock, with the simulated DF1 PLC answering what
// it writes: the PLC's times become arrival times and its DLE ACK time-out a loop timer, so
// time-outs run in microseconds. The line's transaction numbers start at 1.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "df1/DfLink.h"
#include "tests/support/LinkTestBench.h"
#include "tools/plcsim/Df1SimPlc.h"

namespace plc::test {

struct Df1Rig {
  explicit Df1Rig(bool bcc = false) : Df1Rig(sim::Df1SimSettings{bcc}) {}
  explicit Df1Rig(sim::Df1SimSettings settings) : plc(settings) {
    df1::TheDf1State().Reset();
    Attach(*bench.link, *bench.port, settings.bcc);
  }

  // A control of this rig's bench, new, open, in the rig's check mode, answered by the PLC.
  void Attach(DfLink& link, MemorySerialPort& port, bool bcc) {
    Open(link, bcc);
    Answer(port, plc, timer, timerDue);
  }

  // A PLC of its own on another line, its DLE ACK time-out a timer of the loop too.
  struct OtherPlc {
    explicit OtherPlc(sim::Df1SimSettings settings) : plc(settings) {}
    sim::Df1SimPlc plc;
    EventLoop::Handle timer = 0;
    std::int64_t timerDue = 0;
  };
  // A control of this rig's bench, new and open, answered by a PLC of its own.
  OtherPlc& AttachOwnPlc(DfLink& link, MemorySerialPort& port, sim::Df1SimSettings settings) {
    OtherPlc& other = *others.emplace_back(std::make_unique<OtherPlc>(settings));
    Open(link, settings.bcc);
    Answer(port, other.plc, other.timer, other.timerDue);
    return other;
  }

  void Open(DfLink& link, bool bcc) {
    link.Initialize();
    link.InitProperties();
    link.SetMode(bcc ? df1::EnBCC : df1::EnCRC);
    link.SetNode(Variant(std::int32_t{0}));
    link.SetPortOpen(true);
    link.Engine().SetLastTns(0);
    link.SetEventSink([this](const std::string& name, std::vector<Variant>& args) {
      if (name == "CommComplete") events.push_back(args);
    });
  }
  void Answer(MemorySerialPort& port, sim::Df1SimPlc& by, EventLoop::Handle& t, std::int64_t& due) {
    port.OnSent = [this, &port, &by, &t, &due](const Bytes& chunk) {
      const std::int64_t now = bench.loop.Now();
      for (std::uint8_t b : chunk) Deliver(port, by.Feed(b, now));
      ArmDeadline(port, by, t, due);
    };
  }

  void Deliver(MemorySerialPort& port, const std::vector<sim::Df1Action>& actions) {
    for (const sim::Df1Action& a : actions) port.InjectAt(a.atMicros, a.bytes);
  }
  // The PLC's DLE ACK time-out as a timer of the loop.
  void ArmDeadline(MemorySerialPort& port) { ArmDeadline(port, plc, timer, timerDue); }
  void ArmDeadline(MemorySerialPort& port, sim::Df1SimPlc& by, EventLoop::Handle& t, std::int64_t& due) {
    auto next = by.NextDeadline();
    if (!next || (t && due == *next)) return;
    if (t) bench.loop.CancelTimer(t);
    due = *next;
    t = bench.loop.AddTimer(*next, [this, &port, &by, &t, &due] {
      t = 0;
      Deliver(port, by.Expire(bench.loop.Now()));
      ArmDeadline(port, by, t, due);
    });
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
  EventLoop::Handle timer = 0;
  std::int64_t timerDue = 0;
  std::vector<std::unique_ptr<OtherPlc>> others;
};

}  // namespace plc::test
