// plclink's reading of a value a technician types (set, --prop, call arguments) over arbitrary
// text, for every type a member declares: a value or a UsageError, nothing else; a whole-number
// type's value fits the type, so the control never meets a number it cannot hold; a String
// takes the text as typed.
// fuzz-libs: plclinksession
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/plclink/CommandLine.h"
#include "tools/plclink/ValueText.h"

namespace {

bool Fits(const plc::Variant& v, const std::string& type) {
  const std::int32_t n = v.ToInt32();
  if (type == "Integer") return n >= -32768 && n <= 32767;
  if (type == "Byte") return n >= 0 && n <= 255;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace plc;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const EnumInfo none;
  const EnumInfo modes{"EnModBusMode", {{"Rtu", 1}, {"Ascii", 2}}};
  for (const char* type : {"Integer", "Long", "Byte", "Boolean", "Single", "Double", "String", "Variant"}) {
    for (const EnumInfo* enumeration : {&none, &modes}) {
      try {
        const Variant v = plclink::ParseValue(text, type, *enumeration, "fuzz");
        const std::string t = type;
        if ((t == "Integer" || t == "Long" || t == "Byte") && !Fits(v, t)) std::abort();
        if (t == "String" && enumeration == &none && v.ToString() != text) std::abort();
      } catch (const plclink::UsageError&) {
      }
    }
  }
  try {
    (void)plclink::ParseArgument(text, nullptr);
  } catch (const plclink::UsageError&) {
  }
  return 0;
}
