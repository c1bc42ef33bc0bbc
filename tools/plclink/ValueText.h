#pragma once
// Values between the command line, the dispatch interface and the printers: text to Variant
// by what a member wants, Variant to plain text and to JSON.
#include <optional>
#include <string>

// Only the declaration: the parser and printer stay in the files that use them.
#include <nlohmann/json_fwd.hpp>

#include "base/Dispatch.h"
#include "base/Variant.h"

namespace plc::plclink {

// A call argument: a number as the narrowest of Integer, Long, Double; [a,b] or L:[a,b] as an
// array of variants with lower bound 0 or L; "-" as omitted (nullopt); else the text. A
// String parameter takes the text as written. Throws UsageError for a malformed array.
std::optional<Variant> ParseArgument(const std::string& text, const ParamInfo* param);

// A value for a property (or an enumerated parameter) of the given type: an enumeration label
// or number, True/False for a Boolean, a number for the numeric types, the text for a String.
// Throws UsageError naming `what` when the text is none of these.
Variant ParseValue(const std::string& text, const std::string& type, const EnumInfo& enumeration,
                   const std::string& what);

// The number of a label (any case) or numeric text; nullopt for neither.
std::optional<std::int32_t> EnumValue(const EnumInfo& enumeration, const std::string& text);

// Plain text: numbers and text as they are, Empty as "Empty", an array as [a, b] with "L:"
// before it when its lower bound is not 0. `limit` caps the elements shown (-1: all).
std::string ToText(const Variant& value, long limit = -1);

// JSON: Empty null, numbers, Booleans true/false, text, an array as the list of its elements
// from its lower bound.
nlohmann::json ToJson(const Variant& value);

}  // namespace plc::plclink
