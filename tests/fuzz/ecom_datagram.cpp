// The hei_pas client's datagram parser over arbitrary bytes: it reads only within them, and
// whatever it accepts encodes back to exactly the same bytes.
// fuzz-libs: heipasproto
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "ecom/heipas/Datagram.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parsed = heipas::Parse(std::span<const std::uint8_t>(data, size));
  if (!parsed) return 0;
  if (size > heipas::kMaxDatagram) std::abort();
  const auto again = heipas::Encode(*parsed);
  if (again.size() != size || !std::equal(again.begin(), again.end(), data)) std::abort();
  return 0;
}
