// Arbitrary station bytes against the DirectNET reply checks and the engine at every step.
// The first bytes choose the word count and how the rest is cut into chunks; the checks must
// agree with a plain reading of the layout, unpacking must stay within the reply, the count and
// the destination, and the engine must stay in a valid step, never send a block the step does
// not allow, and keep ReadValues and ReadWords in bounds.
// fuzz-libs: plcdirectnet
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "directnet/Blocks.h"
#include "directnet/DirectNetEngine.h"
#include "directnet/LinkState.h"
#include "platform/Clock.h"
#include "platform/MemorySerialPort.h"
#include "platform/PollEventLoop.h"

using namespace plc;
using namespace plc::dnet;

namespace {

void CheckPure(std::span<const std::uint8_t> reply, std::size_t words) {
  const std::size_t byteCount = 2 * words;
  const ReadReplyCheck check = CheckReadReply(reply, byteCount);
  if (check.acknowledged != (!reply.empty() && reply[0] == ACK)) std::abort();
  if (check.lrcMatches) {
    const std::size_t count = byteCount + 9;
    if (reply.size() < count) std::abort();
    std::uint8_t x = 0;
    for (std::size_t i = 2; i <= count - 3; ++i) x ^= reply[i];
    if (x != reply[count - 1]) std::abort();
  }
  std::array<std::int32_t, 7> few{};
  std::vector<std::int32_t> all(kLastReadWord, -1);
  const std::size_t n = UnpackReadWords(reply, byteCount, all);
  if (n > words || (n > 0 && 7 + 2 * n > reply.size())) std::abort();
  for (std::size_t k = 0; k < n; ++k)
    if (all[k] != reply[7 + 2 * k] + 256 * reply[8 + 2 * k]) std::abort();
  if (n < all.size() && all[n] != -1) std::abort();
  if (UnpackReadWords(reply, byteCount, few) > few.size()) std::abort();
  if (CheckWriteReply(reply) && (reply.size() < 8 || reply[0] != ACK)) std::abort();
  if (CheckEnquiryReply(reply, 0x21) && (reply.size() < 3 || reply[1] != 0x21 || reply[2] != ACK)) std::abort();
  if (CheckEotReply(reply) && reply[0] != EOT) std::abort();
}

void DriveEngine(const std::uint8_t* data, std::size_t size, std::int32_t words, bool write) {
  ManualClock clock;
  PollEventLoop loop(clock);
  ScopedCurrentLoop scope(loop);
  MemorySerialPort port(loop);
  port.SetPortOpen(true);
  LinkState state;
  DirectNetEngine engine(port, state, loop);
  // The conversion the read carries: a bit walk over every point its words hold, fixed-point
  // pairs or BCD text.
  const std::int32_t ioType = size % 3 == 0 ? 18 : size % 3 == 1 ? 2 : 5;
  const auto firstBit = static_cast<std::int32_t>(size % 16);
  const ReadConversion conversion{ioType, firstBit, ioType == 18 ? 16 * words - firstBit : 0};
  const bool started = write ? engine.StartWordWrite(1, 0x400, std::vector<std::int32_t>(static_cast<std::size_t>(words), 7))
                             : engine.StartRead(1, 0x400, words, conversion);
  if (!started) std::abort();
  port.TakeSent();  // the enquiry
  std::size_t at = 0;
  while (at < size) {
    const std::size_t chunk = 1 + data[at] % 40;
    ++at;
    const std::size_t take = std::min(chunk, size - at);
    port.Inject(Bytes(data + at, data + at + take));
    at += take;
    loop.DoEvents();
    if (state.Step < 0 || state.Step > 3) std::abort();
    // One chunk is one notification: at most one block, and only one the steps send.
    const Bytes sent = port.TakeSent();
    if (!sent.empty() && sent != state.HeaderBlock && sent != Bytes{ACK} && sent != Bytes{EOT}) std::abort();
  }
  if (engine.ReadValues().Lower() != 0 || engine.ReadValues().Upper() != 200) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::int32_t words = 1 + data[0] % 255;
  const bool write = (data[1] & 1) != 0;
  CheckPure(std::span(data + 2, size - 2), static_cast<std::size_t>(words));
  DriveEngine(data + 2, size - 2, words, write);
  return 0;
}
