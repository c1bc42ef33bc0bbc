#pragma once
// The data words of a DirectNET word write, from the host's values: the elements 1..count of
// an array, or the single value (a count above 1 then asks for values that were not given). Each must be a whole number in 0..65535,
// the only values a data word carries: a negative number has no encoding here, and a fraction
// is not rounded behind the host's back. A refusal names the value and why.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Variant.h"

namespace plc::dnet {

struct WriteWordsResult {
  std::optional<std::vector<std::int32_t>> words;
  std::string refusal;  // why there are none
};

// count below 1 counts as 1; an array's count above 255 (a header's limit) is refused.
WriteWordsResult WriteWords(const Variant& values, std::int32_t count);

// "count 256 beyond this control's limit of 255 words".
std::string CountBeyondLimit(std::int64_t count);

}  // namespace plc::dnet
