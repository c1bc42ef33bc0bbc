#include "directnet/WriteWords.h"

#include <algorithm>
#include <cmath>

#include "base/RuntimeError.h"
#include "directnet/AddressTexts.h"
#include "directnet/Blocks.h"

namespace plc::dnet {

namespace {

// The word a value writes, or why it has none.
std::optional<std::int32_t> WordOf(const Variant& v, std::string& why) {
  double d = 0;
  try {
    d = v.ToDouble();
  } catch (const RuntimeError&) {
    why = "is not a number";
    return std::nullopt;
  }
  if (!std::isfinite(d) || d != std::floor(d)) {
    why = "is not a whole number (a data word holds 0..65535)";
    return std::nullopt;
  }
  if (d < 0 || d > 65535) {
    why = "is outside 0..65535, the values a data word holds";
    return std::nullopt;
  }
  return static_cast<std::int32_t>(d);
}

std::string Shown(const Variant& v) {
  try {
    return Capped(v.ToString());
  } catch (const RuntimeError&) {
    return "(no text)";
  }
}

}  // namespace

std::string CountBeyondLimit(std::int64_t count) {
  return "count " + std::to_string(count) + " beyond this control's limit of " + std::to_string(kMaxWords) + " words";
}

WriteWordsResult WriteWords(const Variant& values, std::int32_t count) {
  std::vector<std::int32_t> words;
  std::string why;
  if (!values.IsArray()) {
    if (count > 1)
      return {std::nullopt, "WriteSize " + std::to_string(count) + " asks for " + std::to_string(count) +
                                " values, and one value was given"};
    auto w = WordOf(values, why);
    if (!w) return {std::nullopt, "value " + Shown(values) + " " + why};
    words.push_back(*w);
    return {std::move(words), {}};
  }
  if (count > kMaxWords) return {std::nullopt, CountBeyondLimit(count)};
  const VariantArray& array = values.Array();
  for (std::int32_t k = 1; k <= std::max(count, 1); ++k) {
    if (!array.Contains(k))
      return {std::nullopt, "WriteSize " + std::to_string(count) + " asks for value " + std::to_string(k) +
                                ", which the array (" + std::to_string(array.Lower()) + " to " +
                                std::to_string(array.Upper()) + ") does not hold"};
    auto w = WordOf(array.Get(k), why);
    if (!w) return {std::nullopt, "value " + Shown(array.Get(k)) + " (element " + std::to_string(k) + ") " + why};
    words.push_back(*w);
  }
  return {std::move(words), {}};
}

}  // namespace plc::dnet
