#include "base/Variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "base/RuntimeError.h"

namespace plc {

namespace {

// A text as a number: optional blanks around, decimal with optional sign, fraction and
// exponent, or &H / &O prefixed hexadecimal and octal. Anything else is a type mismatch.
double ParseNumber(const std::string& text) {
  std::size_t b = text.find_first_not_of(" \t");
  std::size_t e = text.find_last_not_of(" \t");
  if (b == std::string::npos) throw RuntimeError(err::TypeMismatch);
  std::string_view s(text.data() + b, e - b + 1);
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
    int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
    std::uint32_t v = 0;
    auto [p, ec] = std::from_chars(s.data() + 2, s.data() + s.size(), v, base);
    if (ec != std::errc() || p != s.data() + s.size()) throw RuntimeError(err::TypeMismatch);
    // Hexadecimal literals of up to four digits are 16-bit values, as hosts write them.
    if (s.size() - 2 <= 4 && v > 0x7FFF) return static_cast<double>(static_cast<std::int16_t>(v));
    return static_cast<double>(static_cast<std::int32_t>(v));
  }
  const bool plus = s.front() == '+';
  if (plus) s.remove_prefix(1);
  // A digit or a point after at most one sign: the library parser would also take "inf" and
  // "nan", which are tag names here, not numbers.
  const std::string_view body = !plus && s.front() == '-' ? s.substr(1) : s;
  if (body.empty() || !((body.front() >= '0' && body.front() <= '9') || body.front() == '.'))
    throw RuntimeError(err::TypeMismatch);
  double v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || s.empty()) throw RuntimeError(err::TypeMismatch);
  return v;
}

// Round half to even, then range-check.
std::int64_t NarrowToInteger(double v, std::int64_t lo, std::int64_t hi) {
  if (std::isnan(v)) throw RuntimeError(err::Overflow);
  double r = std::nearbyint(v);
  if (r < static_cast<double>(lo) || r > static_cast<double>(hi)) throw RuntimeError(err::Overflow);
  return static_cast<std::int64_t>(r);
}

std::string FormatReal(double v, bool single) {
  char buf[64];
  std::to_chars_result res = single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v))
                                    : std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

}  // namespace

const char* TypeName(VarType type) {
  switch (type) {
    case VarType::Empty: return "Empty";
    case VarType::Int16: return "Integer";
    case VarType::Int32: return "Long";
    case VarType::Byte: return "Byte";
    case VarType::Single: return "Single";
    case VarType::Double: return "Double";
    case VarType::Bool: return "Boolean";
    case VarType::String: return "String";
    case VarType::Font: return "Font";
    case VarType::Array: return "Array";
  }
  return "?";
}

Variant::Variant(std::string v)
    : type_(VarType::String), boxed_(std::make_unique<Boxed>(Boxed{std::move(v), Font(), VariantArray()})) {}
Variant::Variant(const char* v) : Variant(std::string(v ? v : "")) {}
Variant::Variant(Font v) : type_(VarType::Font), boxed_(std::make_unique<Boxed>(Boxed{"", std::move(v), VariantArray()})) {}
Variant::Variant(VariantArray v)
    : type_(VarType::Array), boxed_(std::make_unique<Boxed>(Boxed{"", Font(), std::move(v)})) {}

bool Variant::IsNumeric() const {
  switch (type_) {
    case VarType::Int16: case VarType::Int32: case VarType::Byte:
    case VarType::Single: case VarType::Double: case VarType::Bool:
      return true;
    default:
      return false;
  }
}

double Variant::ToDouble() const {
  switch (type_) {
    case VarType::Empty: return 0;
    case VarType::Int16: case VarType::Int32: case VarType::Byte: case VarType::Bool: return int_;
    case VarType::Single: case VarType::Double: return real_;
    case VarType::String: return ParseNumber(Box().text);
    default: throw RuntimeError(err::TypeMismatch);
  }
}

std::int16_t Variant::ToInt16() const {
  // Integers need no rounding, only the range check; the rest go by way of a double.
  if (HoldsInteger() && int_ >= -32768 && int_ <= 32767) return static_cast<std::int16_t>(int_);
  return static_cast<std::int16_t>(NarrowToInteger(ToDouble(), -32768, 32767));
}
std::int32_t Variant::ToInt32() const {
  if (HoldsInteger()) return int_;
  return static_cast<std::int32_t>(NarrowToInteger(ToDouble(), std::numeric_limits<std::int32_t>::min(),
                                                   std::numeric_limits<std::int32_t>::max()));
}
std::uint8_t Variant::ToByte() const { return static_cast<std::uint8_t>(NarrowToInteger(ToDouble(), 0, 255)); }

float Variant::ToSingle() const {
  double v = ToDouble();
  if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max()) throw RuntimeError(err::Overflow);
  return static_cast<float>(v);
}

bool Variant::ToBool() const {
  if (type_ == VarType::String) {
    const std::string& text = Box().text;
    std::size_t b = text.find_first_not_of(" \t");
    std::size_t e = text.find_last_not_of(" \t");
    std::string t = b == std::string::npos ? "" : text.substr(b, e - b + 1);
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (t == "true") return true;
    if (t == "false") return false;
  }
  return ToDouble() != 0;
}

std::string Variant::ToString() const {
  switch (type_) {
    case VarType::Empty: return "";
    case VarType::Int16: case VarType::Int32: case VarType::Byte: return std::to_string(int_);
    case VarType::Bool: return int_ ? "True" : "False";
    case VarType::Single: return FormatReal(real_, true);
    case VarType::Double: return FormatReal(real_, false);
    case VarType::String: return Box().text;
    case VarType::Font: return Box().font.name;
    case VarType::Array: throw RuntimeError(err::TypeMismatch);
  }
  return {};
}

Font Variant::ToFont() const {
  if (type_ != VarType::Font) throw RuntimeError(err::TypeMismatch);
  return Box().font;
}

Variant Variant::ConvertTo(VarType type) const {
  switch (type) {
    case VarType::Empty: return *this;
    case VarType::Int16: return Variant(ToInt16());
    case VarType::Int32: return Variant(ToInt32());
    case VarType::Byte: return Variant(ToByte());
    case VarType::Single: return Variant(ToSingle());
    case VarType::Double: return Variant(ToDouble());
    case VarType::Bool: return Variant(ToBool());
    case VarType::String: return Variant(ToString());
    case VarType::Font: return Variant(ToFont());
    case VarType::Array: return Variant(Array());
  }
  return *this;
}

VariantArray& Variant::Array() {
  if (type_ != VarType::Array) throw RuntimeError(err::TypeMismatch);
  return boxed_->array;
}
const VariantArray& Variant::Array() const {
  if (type_ != VarType::Array) throw RuntimeError(err::TypeMismatch);
  return Box().array;
}

bool Variant::operator==(const Variant& o) const {
  if (type_ != o.type_) return false;
  switch (type_) {
    case VarType::Empty: return true;
    case VarType::Single: case VarType::Double: return real_ == o.real_;
    case VarType::String: return Box().text == o.Box().text;
    case VarType::Font: return Box().font == o.Box().font;
    case VarType::Array: return Box().array == o.Box().array;
    default: return int_ == o.int_;
  }
}

VariantArray::VariantArray(std::int32_t lower, std::int32_t upper, VarType elementType)
    : lower_(lower), elementType_(elementType) {
  Redim(lower, upper);
}

void VariantArray::ThrowSubscript() { throw RuntimeError(err::Subscript); }

void VariantArray::CopyFrom(std::int32_t to, const VariantArray& source, std::int32_t from, std::int32_t count) {
  if (count <= 0) return;
  if (!Contains(to) || !Contains(to + count - 1) || !source.Contains(from) || !source.Contains(from + count - 1))
    ThrowSubscript();
  auto src = source.items_.begin() + (from - source.lower_);
  auto dst = items_.begin() + (to - lower_);
  if (elementType_ == VarType::Empty) {
    std::copy(src, src + count, dst);
    return;
  }
  for (std::int32_t i = 0; i < count; ++i) dst[i] = src[i].ConvertTo(elementType_);
}

void VariantArray::SetConverted(std::int32_t index, const Variant& value) {
  Variant& slot = At(index);
  slot = value.ConvertTo(elementType_);
}

void VariantArray::Redim(std::int32_t lower, std::int32_t upper) {
  lower_ = lower;
  items_.clear();
  if (upper < lower) return;
  Variant zero;
  if (elementType_ != VarType::Empty) zero = Variant(std::int32_t{0}).ConvertTo(elementType_ == VarType::String ? VarType::Empty : elementType_);
  if (elementType_ == VarType::String) zero = Variant(std::string());
  items_.assign(static_cast<std::size_t>(static_cast<std::int64_t>(upper) - lower + 1), zero);
}

}  // namespace plc
