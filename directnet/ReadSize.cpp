#include "directnet/ReadSize.h"

#include <exception>

#include "directnet/AddressRoad.h"
#include "directnet/AddressTexts.h"

namespace plc::dnet {

std::optional<std::int32_t> ReadSizeArgument(Opt<Variant>& ReadSize) {
  if (ReadSize.IsMissing()) return 1;
  try {
    const Variant v = ReadSize.ValueOr(Variant());
    if (v.IsEmpty()) {
      ReadSize.Put(Variant(std::int32_t{1}));
      return 1;
    }
    return v.ToInt32();
  } catch (const std::exception&) {
    return std::nullopt;  // no number (a type mismatch or an overflow)
  }
}

std::string ReadSizeRefusal(const Opt<Variant>& ReadSize) {
  return "ReadSize " + Capped(AddressText(ReadSize.ValueOr(Variant()))) + " is not a number";
}

}  // namespace plc::dnet
