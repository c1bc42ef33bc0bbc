// Arbitrary host text as a write address with a "b" mark, as a set/reset value, and as an
// address whose points a read takes: a mark is found only where it ends the address or stands
// before a bit number, an unreadable one is refused with a short text, a value sets or resets
// only as 1/True or 0/False, and a read of points stays inside its area and asks for words
// that hold every point, never raising.
// fuzz-libs: plcdirectnet
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "frame/TagDatabase.h"
#include "directnet/AddressRoad.h"
#include "directnet/AddressTexts.h"
#include "directnet/BitWrites.h"

using namespace plc;
using namespace plc::dnet;

namespace {

constexpr std::size_t kLongestRefusal = 600;

void CheckMark(const std::string& text, TagDatabase& tags) {
  const BitMark mark = FindBitMark(Variant(text), tags);
  switch (mark.form) {
    case BitMark::Form::None:
      break;
    case BitMark::Form::Marked: {
      // The address is what stands before the first "b"; after it, digits or nothing.
      const std::size_t b = text.find_first_of("bB");
      if (b == std::string::npos || mark.address != text.substr(0, b)) std::abort();
      if (!mark.bit.empty() && !IsDigitText(mark.bit)) std::abort();
      if (BitOfAWordRefusal(mark.address, mark.bit).size() > kLongestRefusal) std::abort();
      break;
    }
    case BitMark::Form::Unreadable: {
      if (text.find_first_of(";,") == std::string::npos) std::abort();
      const std::string why = UnreadableMarkRefusal(Variant(text));
      if (why.rfind("address '", 0) != 0 || why.size() > kLongestRefusal) std::abort();
      break;
    }
  }
}

void CheckSetOrReset(const Variant& value) {
  std::string why;
  const auto setOrReset = SetOrReset(value, &why);
  if (!setOrReset) {
    if (why.empty() || why.size() > kLongestRefusal) std::abort();
    return;
  }
  if (value.Type() == VarType::Bool) return;
  const double d = value.ToDouble();
  if (d != (*setOrReset ? 1.0 : 0.0)) std::abort();
}

void CheckReadSpan(const std::string& text, std::int32_t count, TagDatabase& tags) {
  const Resolution r = ResolveAddress(Variant(text), 1, Access::Read, TagForm::TypedString, tags);
  if (!r || !r->memory.bit) return;
  std::string why;
  const auto span = ReadSpanOf(*r, count, why);
  if (!span) {
    if (std::int64_t{r->number} + count - 1 <= LastNumber(r->type) || why.empty()) std::abort();
    return;
  }
  if (count < 1) return;
  // The first point is where the address names it, every point lies in a word read, and the
  // read ends within the header address of the area's last point.
  if (std::int64_t{span->address} * 8 + span->firstBit != std::int64_t{r->memory.address} * 8 + r->memory.bitIndex)
    std::abort();
  if (span->firstBit < 0 || span->firstBit + count > 16 * span->words) std::abort();
  const std::int64_t lastHeader = r->memory.address + (r->memory.bitIndex + LastNumber(r->type) - r->number) / 8;
  if (span->address + 2 * std::int64_t{span->words} - 1 > lastHeader) std::abort();
  if (span->address < r->memory.address - r->number / 8) std::abort();  // nor before its first
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TagDatabase none;
  CheckMark(text, none);
  TagDatabase tags;
  tags.AddTag(1, Variant(text), Variant("C,10"));
  CheckMark(text, tags);
  if (FindBitMark(Variant(text), tags).form != BitMark::Form::None) std::abort();  // a tag's name is whole

  CheckSetOrReset(Variant(text));
  if (size >= 8) {
    double d = 0;
    for (std::size_t i = 0; i < sizeof d; ++i) reinterpret_cast<std::uint8_t*>(&d)[i] = data[i];
    CheckSetOrReset(Variant(d));
  }

  // The first two bytes a count of points, the rest an address.
  if (size >= 2) {
    const auto count = static_cast<std::int32_t>(data[0] | (data[1] << 8));
    CheckReadSpan(text.substr(2), count, none);
  }
  return 0;
}
