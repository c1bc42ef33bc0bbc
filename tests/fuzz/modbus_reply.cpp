// The Modbus master's reply handling, fed arbitrary received bytes in arbitrary chunks after a
// read request: RTU and ASCII, standard and EnType2 references, ioTypes 0, 2 and 5.
//
// The reply collector alone: whatever it accepts answers the request and rebuilds to the same
// frame. The whole engine: an event it raises carries the quantity asked, and after any input
// the next transaction reads a good reply correctly.
//
// Input: byte 0 picks framing, PLCType, ioType and table; byte 1 the count; then chunks, each a
// length byte and that many bytes.
// fuzz-libs: plcmodbus
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "modbus/Frame.h"
#include "modbus/MasterReply.h"
#include "modbus/ModbusMaster.h"
#include "platform/MemorySerialPort.h"
#include "platform/PollEventLoop.h"

namespace {

using namespace plc;
using namespace plc::modbus;

struct Target {
  std::int32_t address;
  std::uint8_t function;
  std::int32_t offset;
  std::uint8_t bytesPerValue;
};

Target Pick(bool type2, int table) {
  if (!type2) {
    static const Target std[] = {{40001, 3, 0, 2}, {30001, 4, 0, 2}, {1, 1, 0, 2}, {10001, 2, 0, 2}};
    return std[table];
  }
  static const Target t2[] = {{3000, 3, 3000, 2}, {5000, 3, 5000, 4}, {7000, 3, 7000, 4}, {1000, 1, 1000, 2}};
  return t2[table];
}

std::vector<Bytes> Chunks(const std::uint8_t* data, std::size_t size) {
  std::vector<Bytes> out;
  std::size_t at = 0;
  while (at < size) {
    std::size_t n = data[at++];
    n = std::min(n, size - at);
    out.emplace_back(data + at, data + at + n);
    at += n;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const Framing framing = (data[0] & 1) ? Framing::Ascii : Framing::Rtu;
  const bool type2 = (data[0] & 2) != 0;
  static const std::int16_t ioTypes[] = {0, 2, 5, 0};
  const std::int16_t ioType = ioTypes[(data[0] >> 2) & 3];
  const Target target = Pick(type2, (data[0] >> 4) & 3);
  const bool bits = target.function == 1 || target.function == 2;
  const std::int32_t count = bits ? 1 + data[1] * 7 : 1 + data[1] % (target.bytesPerValue == 4 ? 62 : 125);
  const std::vector<Bytes> chunks = Chunks(data + 2, size - 2);

  // The collector on its own.
  {
    const Request request = ReadRequest(1, target.function, target.offset, count, target.bytesPerValue);
    MasterReplyCollector collector;
    collector.Expect(request, framing);
    for (const Bytes& chunk : chunks) {
      const CollectedReply reply = collector.Feed(chunk);
      if (reply.outcome == ReplyOutcome::NeedMore) continue;
      if (reply.outcome == ReplyOutcome::Good) {
        if (CheckReply(request, reply.adu) != ReplyError::None) std::abort();
        const ParsedFrame rebuilt = ParseFrame(BuildFrame(reply.adu, framing), framing);
        if (!rebuilt || !(rebuilt.adu == reply.adu)) std::abort();
      }
      if (reply.outcome == ReplyOutcome::Exception && !reply.adu.IsException()) std::abort();
      if (collector.Expecting()) std::abort();
      break;
    }
    // Given up: whatever came, the unit named as having answered instead is never the one asked.
    collector.Clear();
    if (const auto other = collector.OtherUnit(); other && *other == 1) std::abort();
  }

  // The engine behind it.
  ManualClock clock;
  PollEventLoop loop{clock};
  ScopedCurrentLoop scope{loop};
  MemorySerialPort port{loop};
  port.SetPortOpen(true);
  ModbusMaster master{port, loop};
  master.SetModBusMode(framing == Framing::Ascii ? rtu::Ascii : rtu::Rtu);
  master.SetPLCType(type2 ? rtu::EnType2 : rtu::EnStdModbus);
  master.SetUnitAddress(1);
  std::vector<std::vector<Variant>> events;
  master.Events.CommCompleteEx = [&events](std::vector<Variant>& a) { events.push_back(a); };

  master.Transaction().DeviceIoType = ioType;
  if (!master.SendReadRequest(1, target.address, count)) std::abort();
  for (const Bytes& chunk : chunks) {
    port.Inject(chunk);
    loop.DoEvents();
  }
  for (const auto& e : events) {
    if (e.size() != 5 || !e[0].IsArray() || e[0].Array().Upper() != 500) std::abort();
    const std::int32_t quan = e[2].ToInt32();
    const std::int32_t want = bits ? count : (ioType == 2 ? count / 2 : count);
    if (quan != want) std::abort();
  }
  if (events.size() > 1) std::abort();

  // Whatever came before, the next read of two registers is read right.
  master.SetCommBusy(false);
  master.Transaction().DeviceIoType = 0;
  events.clear();
  const Target words = Pick(type2, 0);
  if (!master.SendReadRequest(1, words.address, 2)) std::abort();
  port.Inject(BuildFrame(Adu{1, 3, {4, 0x12, 0x34, 0xAB, 0xCD}}, framing));
  loop.DoEvents();
  if (events.size() != 1) std::abort();
  const VariantArray& values = events[0][0].Array();
  if (values.Get(1).ToInt32() != 0x1234 || values.Get(2).ToInt32() != 0xABCD || events[0][2].ToInt32() != 2) {
    std::abort();
  }
  return 0;
}
