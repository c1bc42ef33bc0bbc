// The Modbus slave fed arbitrary bytes in chunks with gaps between them on the manual clock,
// RTU and ASCII, standard and EnType2. Every reply it sends is one whole, valid frame that
// answers a function it serves (or refuses it); the image never changes size; and once the
// line has been quiet past the wait limit, a good read is answered.
//
// Input: byte 0 picks framing and PLCType; then chunks, each a length byte, a gap byte (in
// units of 10 ms) and that many bytes.
// fuzz-libs: plcmodbus
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "modbus/Frame.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusSlave.h"
#include "platform/MemorySerialPort.h"
#include "platform/PollEventLoop.h"

namespace {

using namespace plc;
using namespace plc::modbus;

bool Served(std::uint8_t f) { return IsRead(f) || IsSingleWrite(f) || IsMultipleWrite(f); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const Framing framing = (data[0] & 1) ? Framing::Ascii : Framing::Rtu;
  const bool type2 = (data[0] & 2) != 0;

  ManualClock clock;
  PollEventLoop loop{clock};
  ScopedCurrentLoop scope{loop};
  MemorySerialPort port{loop};
  port.SetPortOpen(true);
  port.SetRThreshold(1);
  port.SetInputLen(0);
  ModbusMaster master{port, loop};
  master.SetModBusMode(framing == Framing::Ascii ? rtu::SlaveAscii : rtu::SlaveRtu);
  master.SetPLCType(type2 ? rtu::EnType2 : rtu::EnStdModbus);
  master.SetUnitAddress(1);
  RegisterImageArray image(kSlaveImageLast + 1, 0);
  ModbusSlave slave{port, master, image, loop};
  master.Events.HandleSlaveRequest = [&slave] { slave.HandleSlaveRequest(); };

  std::vector<Bytes> replies;
  port.OnSent = [&replies](const Bytes& chunk) { replies.push_back(chunk); };

  std::size_t at = 1;
  while (at + 2 <= size) {
    std::size_t n = data[at];
    const std::int64_t gap = std::int64_t{data[at + 1]} * 10'000;
    at += 2;
    n = std::min(n, size - at);
    port.Inject(Bytes(data + at, data + at + n));
    at += n;
    loop.RunFor(gap + 1);
  }
  for (const Bytes& reply : replies) {
    const ParsedFrame parsed = ParseFrame(reply, framing);
    if (!parsed) std::abort();
    if (!Served(parsed.adu.function & 0x7F)) std::abort();
    if (parsed.adu.IsException() && parsed.adu.data.size() != 1) std::abort();
  }
  if (image.size() != static_cast<std::size_t>(kSlaveImageLast + 1)) std::abort();

  // Quiet past the wait limit, then a good read of holding register offset 0 (image 40001;
  // EnType2: address 0, image 0).
  loop.RunFor(kSlavePartialMicros + 1'000'000);
  replies.clear();
  const std::int32_t element = type2 ? 0 : 40001;
  image[static_cast<std::size_t>(element)] = 0x2A;
  port.Inject(BuildFrame(Adu{1, 3, {0, 0, 0, 1}}, framing));
  loop.RunFor(1);
  if (replies.size() != 1) std::abort();
  if (replies[0] != BuildFrame(Adu{1, 3, {2, 0, 0x2A}}, framing)) std::abort();
  return 0;
}
