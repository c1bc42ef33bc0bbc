// Arbitrary host text as an address of UdpLink's serial path, directly and as a tag's stored
// address, and as values of a word write: an address resolves to 0..FFFFh only when it is
// digits (which it then reads as decimal) and never raises; the words of a write are 16-bit.
// fuzz-libs: plcecom
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/TagDatabase.h"
#include "directnet/AddressRoad.h"
#include "ecom/UdpSerialPath.h"

using namespace plc;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TagDatabase tags;
  const auto direct = ecom::SerialHeaderAddress(Variant(text), tags);
  if (direct) {
    if (*direct < 0 || *direct > 0xFFFF || !dnet::IsDigitText(text)) std::abort();
    if (*direct != std::stol(text)) std::abort();
  }
  // The same text as what a tag holds.
  tags.AddTag(1, Variant("Tag"), Variant(text));
  const auto viaTag = ecom::SerialHeaderAddress(Variant("tag"), tags);
  if (viaTag != direct) std::abort();

  for (bool fixedPoint : {false, true}) {
    const auto words = ecom::SerialWriteWords(Variant(text), 1, fixedPoint);
    if (!words) continue;
    if (words->size() != (fixedPoint ? 2u : 1u)) std::abort();
    for (std::int32_t w : *words)
      if (w < 0 || w > 0xFFFF) std::abort();
  }
  return 0;
}
