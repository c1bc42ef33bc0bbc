// Arbitrary host text through the DirectNET address road, as a number, an address string and a
// tag's address: it resolves or refuses with a text naming the address, never raises, and what
// it resolves fits a header (station 0..223, address 0..FFFFh, a bit index 0..7 for bit reads)
// and stays in its type's area (only a C write reaches the set/reset addresses from F000h); a
// refusal stays short, however long the text.
// fuzz-libs: plcdirectnet
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "frame/TagDatabase.h"
#include "directnet/AddressRoad.h"

using namespace plc;
using namespace plc::dnet;

namespace {

constexpr std::size_t kLongestRefusal = 600;

void Check(const Resolution& r, Access access) {
  if (!r) {
    if (r.refusal.rfind("address '", 0) != 0 || r.refusal.find("' not understood: ") == std::string::npos) std::abort();
    // The host's text is quoted cut short, however long it is.
    if (r.refusal.size() > kLongestRefusal) std::abort();
    return;
  }
  if (!r.refusal.empty()) std::abort();
  if (r->number > LastNumber(r->type)) std::abort();
  if (r->station < 0 || r->station > 223) std::abort();
  if (r->memory.address < 0 || r->memory.address > 0xFFFF) std::abort();
  if (r->memory.bitIndex < 0 || r->memory.bitIndex > 7) std::abort();
  if (r->memory.bit && r->memory.address >= 0xF000 && (access != Access::Write || r->type != "C" || r->memory.bitIndex != 0))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TagDatabase tags;
  tags.AddTag(1, Variant("tag"), Variant(text));
  for (Access access : {Access::Read, Access::Write}) {
    for (TagForm form : {TagForm::TypedString, TagForm::FrameString}) {
      Check(ResolveAddress(Variant(text), 1, access, form, tags), access);
      Check(ResolveAddress(Variant("tag"), 1, access, form, tags), access);
    }
  }
  if (auto fields = SplitAddress(text)) {
    if (fields->type.empty() || !IsDigitText(fields->number)) std::abort();
    if (fields->type.find(';') != std::string::npos) std::abort();  // one station field only
    if (fields->station && (*fields->station < 0 || *fields->station > 223)) std::abort();
  }
  // A number and the V-memory string of the same digits name the same word.
  if (IsDigitText(text)) {
    auto a = ResolveAddress(Variant(text), 1, Access::Read, TagForm::TypedString, tags);
    auto b = ResolveAddress(Variant("V," + text), 1, Access::Read, TagForm::TypedString, tags);
    if (bool(a) != bool(b) || (a && !(a->memory == b->memory))) std::abort();
  }
  return 0;
}
