// The simulated Modbus slave's request side over arbitrary bytes, in both framings, with some
// bytes late and the line's silence let pass now and then: it never fails, sends nothing empty,
// and every reply it sends is one frame that passes its check, from its own unit (a request
// for another unit or a broadcast is never answered).
// fuzz-libs: plcsimlib plcmodbus
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "modbus/Frame.h"
#include "tools/plcsim/ModbusSimSlave.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (plc::modbus::Framing framing : {plc::modbus::Framing::Rtu, plc::modbus::Framing::Ascii}) {
    plc::sim::ModbusSimSlave slave(1, framing, 50);
    std::int64_t now = 0;
    auto check = [&](const std::vector<plc::sim::ModbusSimSend>& sends) {
      for (const plc::sim::ModbusSimSend& s : sends) {
        plc::modbus::ParsedFrame parsed = plc::modbus::ParseFrame(s.bytes, framing);
        if (s.bytes.empty() || !parsed || parsed.adu.unit != 1) std::abort();
      }
    };
    for (std::size_t i = 0; i < size; ++i) {
      now += data[i] & 0x0F;
      check(slave.Feed(plc::modbus::ByteView(data + i, 1), now));
      if (auto due = slave.SilenceDueMicros(); due && (data[i] & 0x80)) {
        now = std::max(now, *due);
        check(slave.Feed({}, now));
      }
    }
    if (auto due = slave.SilenceDueMicros()) check(slave.Feed({}, *due));
    if (slave.SilenceDueMicros()) std::abort();  // the silence ends whatever was held
  }
  return 0;
}
