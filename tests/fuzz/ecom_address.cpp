// Arbitrary host text through UdpLink's ECOM address road, directly and as a tag's stored
// address: it resolves or refuses with a text naming the address, never raises, and what it
// resolves fits its CCM request (station 0..255, a CCM address within 16 bits once the
// transport adds 1 to a register, a bit index 0..7 of an input or output byte, a point within
// its own area).
// fuzz-libs: plcecom
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "frame/TagDatabase.h"
#include "directnet/AddressRoad.h"
#include "ecom/EcomAddress.h"

using namespace plc;
using namespace plc::ecom;

namespace {

void Check(const EcomResolution& r) {
  if (!r.address) {
    if (r.refusal.rfind("address '", 0) != 0 || r.refusal.find("' not understood: ") == std::string::npos) std::abort();
    if (r.refusal.size() > 600) std::abort();  // the host's text is quoted cut short
    return;
  }
  if (!r.refusal.empty()) std::abort();
  const EcomAddress& a = *r.address;
  if (a.station < 0 || a.station > kLastStation) std::abort();
  if (!(a.target == MapEcomType(a.type, a.number))) std::abort();
  const CcmTarget& t = a.target;
  const std::int64_t onWire = t.dataType == kRegisters ? std::int64_t{t.address} + 1 : t.address;
  if (t.address < 0 || onWire > kLastCcmAddress) std::abort();
  if (t.bit != (t.dataType != kRegisters)) std::abort();
  if (t.bitIndex < 0 || t.bitIndex > 7 || (!t.bit && t.bitIndex != 0)) std::abort();
  // A point stays in its own area: past it lies another area of the same data type.
  if (t.bit && (a.number < 0 || a.number > LastEcomNumber(a.type))) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TagDatabase tags;
  tags.AddTag(1, Variant("tag"), Variant(text));
  const EcomResolution direct = ResolveEcomAddress(Variant(text), 1, tags);
  Check(direct);
  const EcomResolution viaTag = ResolveEcomAddress(Variant("tag"), 1, tags);
  Check(viaTag);
  // A tag holding an address that resolves goes to the same place.
  if (direct.address && text != "tag" && !(viaTag.address && *viaTag.address == *direct.address)) std::abort();
  // A number and the V-memory string of the same digits name the same word.
  if (dnet::IsDigitText(text)) {
    const EcomResolution v = ResolveEcomAddress(Variant("V," + text), 1, tags);
    Check(v);
    if (direct.address.has_value() != v.address.has_value()) std::abort();
    if (v.address && !(v.address->target == direct.address->target)) std::abort();
  }
  return 0;
}
