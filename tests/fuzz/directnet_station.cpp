// Arbitrary master bytes, in arbitrary chunks, into the simulated DirectNET station's request
// parser: it never reads out of bounds, every answer is one a station sends (its enquiry
// answer, NAK, a read reply of 2n + 9 bytes or a write reply of 8 with a right LRC, EOT), its
// counts add up to the bytes it took, and its memory changes only where a word write or a
// set/reset it answered put something.
// fuzz-libs: plcsimlib
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "tools/plcsim/DirectNetStation.h"

using namespace plc::sim;

namespace {

std::uint8_t Lrc(const StationBytes& b, std::size_t from, std::size_t to) {
  std::uint8_t x = 0;
  for (std::size_t i = from; i < to; ++i) x ^= b[i];
  return x;
}

void CheckAnswer(const StationBytes& a, bool& wrote) {
  if (a.empty()) std::abort();
  if (a.size() == 1) {
    if (a[0] != 0x15 && a[0] != 0x04) std::abort();  // NAK, EOT
    return;
  }
  if (a.size() == 3) {
    if (a[0] != 'N' || a[1] != 0x21 || (a[2] != 0x06 && a[2] != 0x15)) std::abort();
    return;
  }
  if (a[0] != 0x06 || a[1] != 0x02) std::abort();
  if (a.size() == 8) {
    if (a[3] != 'F' && a[3] != 'D' && a[3] != 'E') std::abort();
    if (a[7] != Lrc(a, 2, 6)) std::abort();
    wrote = true;
    return;
  }
  const std::size_t count = a[6] == 0 ? 256 : a[6];
  if (a[3] != 0x40 || a.size() != 2 * count + 9 || a[a.size() - 1] != Lrc(a, 2, a.size() - 2)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DirectNetStation station({1});
  const StationImage before = station.Image(1);
  std::size_t at = 0;
  long fed = 0;
  bool wrote = false;
  while (at < size) {
    const std::size_t chunk = 1 + data[at] % 32;
    ++at;
    const std::size_t take = std::min(chunk, size - at);
    for (const StationBytes& answer : station.Feed(std::span(data + at, take))) CheckAnswer(answer, wrote);
    fed += static_cast<long>(take);
    at += take;
  }
  const StationCounts& c = station.Counts();
  if (c.bytes != fed || c.refused > c.headers || c.headers > c.enquiries || c.acks > c.headers ||
      c.closingEots > c.acks || c.stray > c.bytes)
    std::abort();
  if (!wrote && !(station.Image(1) == before)) std::abort();
  return 0;
}
