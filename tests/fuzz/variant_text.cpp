// Text to number conversions of Variant: they give a value or raise only type mismatch (13) or
// overflow (6), the narrow conversions agree with the wide one, and a number printed as text
// reads back as the same number.
// fuzz-libs: plcbase
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "base/RuntimeError.h"
#include "base/Variant.h"

namespace {

template <typename F>
auto Try(F f) -> std::optional<decltype(f())> {
  try {
    return f();
  } catch (const plc::RuntimeError& e) {
    if (e.Number() != plc::err::TypeMismatch && e.Number() != plc::err::Overflow) std::abort();
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const plc::Variant v(std::string(reinterpret_cast<const char*>(data), size));
  const auto d = Try([&] { return v.ToDouble(); });
  const auto i32 = Try([&] { return v.ToInt32(); });
  const auto i16 = Try([&] { return v.ToInt16(); });
  const auto byte = Try([&] { return v.ToByte(); });
  (void)Try([&] { return v.ToSingle(); });
  (void)Try([&] { return v.ToBool(); });

  // Narrowing rounds half to even and refuses what does not fit.
  if (i32) {
    if (!d || std::nearbyint(*d) != static_cast<double>(*i32)) std::abort();
  } else if (d && std::isfinite(*d) && std::fabs(*d) < 2e9) {
    std::abort();
  }
  if (i16 && (!i32 || *i16 != *i32)) std::abort();
  if (!i16 && i32 && *i32 >= -32768 && *i32 <= 32767) std::abort();
  if (byte && (!i32 || *byte != *i32)) std::abort();

  // A number printed as text reads back exactly.
  if (d && std::isfinite(*d)) {
    const std::string printed = plc::Variant(*d).ToString();
    const auto back = Try([&] { return plc::Variant(printed).ToDouble(); });
    if (!back || *back != *d) std::abort();
  }
  return 0;
}
