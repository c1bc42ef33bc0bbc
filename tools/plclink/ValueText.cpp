#include "tools/plclink/ValueText.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include <nlohmann/json.hpp>

#include "tools/plclink/CommandLine.h"

namespace plc::plclink {

namespace {

std::optional<long long> ParseInteger(const std::string& text) { return ParseWholeNumber(text); }

std::optional<double> ParseReal(const std::string& text) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return std::nullopt;
  return v;
}

// The narrowest of Integer, Long and Double that holds the number.
Variant Number(double v) {
  if (v == std::trunc(v) && v >= -32768 && v <= 32767) return Variant(static_cast<std::int16_t>(v));
  if (v == std::trunc(v) && v >= -2147483648.0 && v <= 2147483647.0) return Variant(static_cast<std::int32_t>(v));
  return Variant(v);
}

std::optional<Variant> ParseNumber(const std::string& text) {
  if (auto i = ParseInteger(text)) return Number(static_cast<double>(*i));
  // strtod would also take "inf", "nan" and hex floats: only plain decimal forms count here.
  if (text.find_first_not_of("0123456789+-.eE") != std::string::npos) return std::nullopt;
  if (auto d = ParseReal(text)) return Number(*d);
  return std::nullopt;
}

Variant FromJsonElement(const nlohmann::json& j, const std::string& whole) {
  if (j.is_null()) return Variant();
  if (j.is_boolean()) return Variant(j.get<bool>());
  if (j.is_number_integer() || j.is_number_unsigned() || j.is_number_float()) return Number(j.get<double>());
  if (j.is_string()) return Variant(j.get<std::string>());
  throw UsageError("array argument '" + whole + "' may hold only numbers, text, true, false and null");
}

std::optional<Variant> ParseArray(const std::string& text) {
  std::size_t open = text.find('[');
  if (open == std::string::npos || (open > 0 && text[open - 1] != ':')) return std::nullopt;
  std::int32_t lower = 0;
  if (open > 0) {
    auto bound = ParseInteger(text.substr(0, open - 1));
    if (!bound && text.back() != ']') return std::nullopt;  // text such as "key:[x"
    if (!bound || *bound < -1'000'000'000 || *bound > 1'000'000'000)
      throw UsageError("array argument '" + text + "': the lower bound before ':' must be a whole number");
    lower = static_cast<std::int32_t>(*bound);
  }
  nlohmann::json j = nlohmann::json::parse(text.substr(open), nullptr, false);
  if (j.is_discarded() || !j.is_array()) throw UsageError("array argument '" + text + "' is not a JSON array");
  if (j.empty()) return Variant(VariantArray());
  VariantArray array(lower, lower + static_cast<std::int32_t>(j.size()) - 1);
  std::int32_t i = lower;
  for (const nlohmann::json& element : j) array.At(i++) = FromJsonElement(element, text);
  return Variant(std::move(array));
}

bool IsIntegerType(const std::string& type) { return type == "Integer" || type == "Long" || type == "Byte"; }

struct WholeRange {
  long long low;
  long long high;
};

// What each whole-number type holds: the control refuses the rest with a bare 'Overflow'.
WholeRange RangeOf(const std::string& type) {
  if (type == "Integer") return {-32768, 32767};
  if (type == "Byte") return {0, 255};
  return {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
}

void CheckRange(long long v, const std::string& text, const std::string& type, const std::string& what) {
  const WholeRange range = RangeOf(type);
  if (v < range.low || v > range.high)
    throw UsageError(what + ": " + text + " is out of range (" + (type == "Integer" ? "an " : "a ") + type +
                     " holds " + std::to_string(range.low) + ".." + std::to_string(range.high) + ")");
}

}  // namespace

std::optional<std::int32_t> EnumValue(const EnumInfo& enumeration, const std::string& text) {
  for (const EnumInfo::Value& v : enumeration.values)
    if (NamesEqual(v.label, text)) return v.value;
  if (auto i = ParseInteger(text); i && *i >= std::numeric_limits<std::int32_t>::min() &&
                                   *i <= std::numeric_limits<std::int32_t>::max())
    return static_cast<std::int32_t>(*i);
  return std::nullopt;
}

std::optional<Variant> ParseArgument(const std::string& text, const ParamInfo* param) {
  if (text == "-") return std::nullopt;
  if (param && param->type == "String") return Variant(text);
  if (param && !param->enumeration.name.empty()) {
    if (auto v = EnumValue(param->enumeration, text)) return Number(*v);
  }
  if (auto array = ParseArray(text)) return array;
  if (auto number = ParseNumber(text)) return number;
  return Variant(text);
}

Variant ParseValue(const std::string& text, const std::string& type, const EnumInfo& enumeration,
                   const std::string& what) {
  if (!enumeration.name.empty()) {
    if (auto v = EnumValue(enumeration, text)) {
      if (IsIntegerType(type)) CheckRange(*v, text, type, what);
      return Variant(*v);
    }
    std::string labels;
    for (const EnumInfo::Value& v : enumeration.values) labels += (labels.empty() ? "" : ", ") + v.label;
    throw UsageError(what + ": '" + text + "' is not one of " + labels + " (or a number)");
  }
  if (type == "Boolean") {
    for (const char* t : {"true", "yes", "on", "-1", "1"})
      if (NamesEqual(text, t)) return Variant(true);
    for (const char* f : {"false", "no", "off", "0"})
      if (NamesEqual(text, f)) return Variant(false);
    throw UsageError(what + ": '" + text + "' is not True or False");
  }
  if (IsIntegerType(type)) {
    auto i = ParseInteger(text);
    if (!i) throw UsageError(what + ": '" + text + "' is not a whole number");
    CheckRange(*i, text, type, what);
    return Variant(static_cast<std::int32_t>(*i));
  }
  if (type == "Single" || type == "Double") {
    auto n = ParseNumber(text);
    if (!n) throw UsageError(what + ": '" + text + "' is not a number");
    return *n;
  }
  if (type == "String") return Variant(text);
  return ParseNumber(text).value_or(Variant(text));
}

std::string ToText(const Variant& value, long limit) {
  switch (value.Type()) {
    case VarType::Empty: return "Empty";
    case VarType::Array: {
      const VariantArray& a = value.Array();
      std::string out = a.Lower() == 0 ? "[" : std::to_string(a.Lower()) + ":[";
      long shown = 0;
      for (std::int32_t i = a.Lower(); a.Size() > 0 && i <= a.Upper(); ++i, ++shown) {
        if (limit >= 0 && shown >= limit) {
          out += ", ...";
          break;
        }
        out += (i == a.Lower() ? "" : ", ") + ToText(a.Get(i));
      }
      return out + "]";
    }
    default: return value.ToString();
  }
}

nlohmann::json ToJson(const Variant& value) {
  switch (value.Type()) {
    case VarType::Empty: return nullptr;
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Byte: return value.ToInt32();
    case VarType::Bool: return value.ToBool();
    case VarType::Single:
    case VarType::Double: {
      // The control's own text of a Single keeps its few digits rather than the widened double.
      double v = value.ToDouble();
      if (!std::isfinite(v)) return nullptr;
      return ParseReal(value.ToString()).value_or(v);
    }
    case VarType::String: return value.ToString();
    case VarType::Font: {
      Font f = value.ToFont();
      return {{"font", f.name}, {"size", f.size}, {"bold", f.bold}, {"italic", f.italic}};
    }
    case VarType::Array: {
      nlohmann::json list = nlohmann::json::array();
      const VariantArray& a = value.Array();
      for (std::int32_t i = a.Lower(); a.Size() > 0 && i <= a.Upper(); ++i) list.push_back(ToJson(a.Get(i)));
      return list;
    }
  }
  return nullptr;
}

}  // namespace plc::plclink
