#pragma once
// A master engine on an in-memory port and a manual clock, with the call road and the scan
// engine around it, as RtuLink will hold them. The test plays the slave: Answer() sets what
// the far end sends back after each request it receives.
#include <functional>
#include <string>
#include <vector>

#include "frame/ScanEngine.h"
#include "frame/TagDatabase.h"
#include "modbus/MasterCallRoad.h"
#include "modbus/ModbusMaster.h"
#include "modbus/RtuFrame.h"
#include "platform/MemorySerialPort.h"
#include "platform/PollEventLoop.h"
#include "tests/modbus/FramingHelpers.h"

namespace plc::modbus::testing {

struct MasterRig {
  ManualClock clock;
  PollEventLoop loop{clock};
  ScopedCurrentLoop scope{loop};
  MemorySerialPort port{loop};
  ModbusMaster master{port, loop};
  ScanDatabase scanDb;
  ScanEngine scan{master, loop, scanDb};
  TagDatabase tags;
  MasterCallRoad road{master, scan, tags};

  std::vector<std::vector<Variant>> completions;
  std::vector<std::vector<Variant>> modem;
  std::vector<Bytes> requests;
  // What the slave sends back for a request; empty: no reply.
  std::function<Bytes(const Bytes&)> slave;

  MasterRig() {
    port.SetPortOpen(true);
    master.Events.CommCompleteEx = [this](std::vector<Variant>& a) { completions.push_back(a); };
    master.Events.CommEventModem = [this](std::vector<Variant>& a) { modem.push_back(a); };
    port.OnSent = [this](const Bytes& chunk) {
      requests.push_back(chunk);
      if (!slave) return;
      Bytes reply = slave(chunk);
      if (!reply.empty()) port.Inject(reply);
    };
  }

  // The slave answers every request with this frame.
  void Answer(const Bytes& reply) {
    slave = [reply](const Bytes&) { return reply; };
  }
  void Silent() { slave = nullptr; }

  // An RTU frame of unit, function and data, CRC appended.
  static Bytes Rtu(std::string_view hexMessage) {
    Bytes m = Hex(hexMessage);
    return BuildRtuFrame(Adu{m[0], m[1], Bytes(m.begin() + 2, m.end())});
  }

  std::int64_t Micros() const { return clock.MonotonicMicros(); }

  Result ReadPLC(const std::string& address, VariantArray& values, std::int16_t size, std::int16_t ioType = 0) {
    Variant s(size);
    return road.ReadPLC(address, values, Opt<Variant>(s), Opt<std::int16_t>(ioType));
  }
  Result ReadPLCNW(const std::string& address, std::int16_t size = 1) {
    VariantArray unused(1, 1, VarType::Double);
    return road.ReadPLCNW(address, unused, Opt<std::int16_t>(size), Opt<std::int16_t>());
  }
  Result WritePLC(const std::string& address, std::vector<double> values, std::int16_t ioType = 0) {
    VariantArray arr(1, static_cast<std::int32_t>(values.size()), VarType::Double);
    for (std::size_t i = 0; i < values.size(); ++i) arr.Set(static_cast<std::int32_t>(i + 1), Variant(values[i]));
    return road.WritePLC(address, arr, Opt<std::int16_t>(static_cast<std::int16_t>(values.size())),
                         Opt<std::int16_t>(ioType));
  }
};

}  // namespace plc::modbus::testing
