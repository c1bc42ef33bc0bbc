#pragma once
// A SeqLink on an in-memory port and the manual clock, with the simulated station answering
// every block the control sends, so whole transactions run in microseconds.
#include <string>
#include <utility>
#include <vector>

#include "directnet/LinkState.h"
#include "directnet/SeqLink.h"
#include "tests/support/LinkTestBench.h"
#include "tools/plcsim/DirectNetStation.h"

namespace plc::test {

struct SeqLinkRig : LinkTestBench<SeqLink> {
  sim::DirectNetStation station{{1, 2}};
  std::vector<Bytes> sent;          // every chunk the control wrote
  std::vector<std::string> events;  // names of the events raised
  bool answer = true;               // false: the station hears nothing
  bool splitReplies = false;        // replies arrive one byte per dispatch

  SeqLinkRig() {
    dnet::SeqLinkState() = dnet::LinkState{};  // a fresh thread's state
    New();
    link->SetPortOpen(true);
    link->Timer1().SetEnabled(true);
    link->SetEventSink([this](const std::string& name, std::vector<Variant>&) { events.push_back(name); });
    Attach(*port);
  }

  void Attach(MemorySerialPort& p) {
    p.OnSent = [this, &p](const Bytes& chunk) {
      sent.push_back(chunk);
      if (!answer) return;
      for (const auto& reply : station.Feed(chunk)) {
        if (!splitReplies) {
          p.Inject(reply);
          continue;
        }
        for (std::uint8_t b : reply) p.Inject(Bytes{b});
      }
    };
  }

  Bytes Wire() const {
    Bytes all;
    for (const Bytes& c : sent) all.insert(all.end(), c.begin(), c.end());
    return all;
  }

  Result Read(const Variant& address, Variant& value, std::int16_t size = 1, std::int16_t ioType = 0) {
    Variant a = address;
    Variant n(size);
    std::int16_t io = ioType;
    std::int32_t idx = 0;
    return link->ReadPLC(a, value, Opt<Variant>(n), Opt<std::int16_t>(io), Opt<std::int32_t>(idx));
  }
  Result ReadNW(const Variant& address, std::int16_t size = 1) {
    Variant a = address;
    Variant unused;
    Variant n(size);
    return link->ReadPLCNW(a, unused, Opt<Variant>(n), Opt<std::int16_t>());
  }
  Result Write(const Variant& address, Variant values, std::int16_t size = 1) {
    Variant a = address;
    return link->WritePLC(a, values, Opt<std::int16_t>(size), Opt<std::int16_t>(), Opt<std::int32_t>());
  }
  Result WriteBit(const Variant& address, Variant value) {
    Variant a = address;
    return link->WritePLCBit(a, value, Opt<std::int16_t>(), Opt<std::int16_t>(), Opt<std::int32_t>());
  }
  // V2000, V2001 hold 12 and 3456, read by a ReadDevice with ioFloat: ReadData(1) is 12.3456,
  // and later word reads are converted as pairs.
  Result ReadFloatPairByReadDevice() {
    station.SetWord(1, 0x0400, 12);
    station.SetWord(1, 0x0401, 3456);
    Variant a("V,2000"), two(std::int16_t{2});
    std::int16_t io = ioFloat;
    const Result r = link->ReadDevice(a, Opt<Variant>(two), Opt<std::int16_t>(io), Opt<std::int32_t>());
    Run(10'000);
    return r;
  }
  Variant Data(std::int16_t idx) { return link->ReadData(idx); }
  bool Busy() const { return link->CommBusy().ToBool(); }
  // Lets the event loop run for a while of manual time.
  void Run(std::int64_t micros) { loop.RunFor(micros); }
};

}  // namespace plc::test
