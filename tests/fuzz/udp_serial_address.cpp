// Arbitrary host text as an address of UdpLink's serial path, directly and as a tag's stored
// address, and as values of a word write: an address resolves to 0..FFFFh only when it is
// digits (which it then reads as decimal), never raises, and a refusal names the address; the
// words of a write are 16-bit and only whole values 0..65535 are taken.
// fuzz-libs: plcecom
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "frame/TagDatabase.h"
#include "directnet/AddressRoad.h"
#include "directnet/AddressTexts.h"
#include "directnet/WriteWords.h"
#include "ecom/UdpSerialPath.h"

using namespace plc;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TagDatabase tags;
  const auto direct = ecom::SerialHeaderAddress(Variant(text), tags);
  if (direct.address) {
    if (*direct.address < 0 || *direct.address > 0xFFFF || !dnet::IsDigitText(text)) std::abort();
    if (*direct.address != std::stol(text)) std::abort();
    if (!direct.refusal.empty()) std::abort();
  } else if (direct.refusal.find("address '" + dnet::Capped(text) + "' not understood: ") != 0 ||
             direct.refusal.size() > 600) {
    std::abort();  // a refusal names the address, cut short however long it is
  }
  // The same text as what a tag holds.
  tags.AddTag(1, Variant("Tag"), Variant(text));
  const auto viaTag = ecom::SerialHeaderAddress(Variant("tag"), tags);
  if (viaTag.address != direct.address) std::abort();
  if (!viaTag.address && (viaTag.refusal.empty() || viaTag.refusal.size() > 600)) std::abort();

  const auto words = dnet::WriteWords(Variant(text), 1);
  if (words.words) {
    if (words.words->size() != 1u) std::abort();
    const double v = Variant(text).ToDouble();
    if ((*words.words)[0] != v || v < 0 || v > 0xFFFF) std::abort();
  } else if (words.refusal.empty() || words.refusal.size() > 600) {
    std::abort();
  }
  return 0;
}
