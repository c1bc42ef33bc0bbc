#pragma once
// Turning the words of a good reply into values: into the reply table and DataBuffer (every
// good reply), and into the caller's ReadValue (a waiting read).
#include <cstdint>
#include <vector>

#include "base/Variant.h"
#include "df1/Df1State.h"

namespace plc::df1 {

// Stores the words of the read t's reply in row tns of ReplyTable (signed for an N file and a
// counter's preset and accumulator) and fills DataBuffer(1..count) from it; a reply without
// words sets DataBuffer(1) to 0.
void StoreReply(Df1State& s, const Transaction& t, int tns, const std::vector<std::uint16_t>& words);

// The single of a word pair, low word first.
float FloatOfWords(std::int32_t low, std::int32_t high);

// Reduces a value to its bit (0 or 1).
std::int32_t BitOf(std::int32_t value, std::int32_t bit);

// The waiting read t's values from its reply's row into ReadValue: an array gets elements
// 1..count (subscript error when it lacks one), anything else becomes the first value. For an
// address with a bit every value is that bit of its word (0 or 1), as in DataBuffer.
void DecodeInto(Variant& readValue, const ReplyRow& row, const Transaction& t, std::int32_t count);

}  // namespace plc::df1
