#pragma once
// Variant: the value type of the controls' interface.
//
// A Variant holds nothing (Empty), a 16- or 32-bit integer, a byte, a single, a double, a
// Boolean (seen as a number it is -1 or 0), a text, a font, or an array. Conversions follow
// the rules hosts of such controls expect: numbers round half to even when narrowed, a value
// outside the target range is an overflow error (6), a text that is not a number is a type
// mismatch (13), Empty converts to 0 or "".
//
// VariantArray is one-dimensional with host-chosen bounds. It may be typed (every element
// converted to one type on assignment, as an array of double is) or hold variants. Indexing
// outside the bounds is a subscript error (9). Arrays have value semantics: copying a Variant
// copies its array.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace plc {

enum class VarType : std::uint8_t { Empty, Int16, Int32, Byte, Single, Double, Bool, String, Font, Array };

// Name of a type as a host sees it ("Integer", "Long", "Double", ...).
const char* TypeName(VarType type);

struct Font {
  std::string name = "MS Sans Serif";
  double size = 8.25;
  bool bold = false;
  bool italic = false;
  bool operator==(const Font&) const = default;
};

class VariantArray;

class Variant {
 public:
  Variant();
  Variant(std::int16_t v);
  Variant(std::int32_t v);
  Variant(std::uint8_t v);
  Variant(float v);
  Variant(double v);
  Variant(bool v);
  Variant(std::string v);
  Variant(const char* v);
  Variant(Font v);
  Variant(VariantArray v);
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  VarType Type() const { return type_; }
  bool IsEmpty() const { return type_ == VarType::Empty; }
  bool IsArray() const { return type_ == VarType::Array; }
  bool IsString() const { return type_ == VarType::String; }
  bool IsNumeric() const;  // integer, byte, single, double or Boolean

  std::int16_t ToInt16() const;
  std::int32_t ToInt32() const;
  std::uint8_t ToByte() const;
  float ToSingle() const;
  double ToDouble() const;
  bool ToBool() const;
  std::string ToString() const;
  Font ToFont() const;

  // Converts to the given type, with the errors of the narrowing rules above.
  Variant ConvertTo(VarType type) const;

  VariantArray& Array();
  const VariantArray& Array() const;

  // Same type and same value (arrays element by element).
  bool operator==(const Variant& other) const;

 private:
  VarType type_ = VarType::Empty;
  // Text, font and array live behind one pointer, null for numbers: the data buffers copy
  // thousands of numeric variants per reply, and each copy should cost a few words.
  struct Boxed;
  const Boxed& Box() const { return *boxed_; }
  // The value is in int_ (Int16, Int32, Byte, Bool).
  bool HoldsInteger() const {
    return type_ == VarType::Int16 || type_ == VarType::Int32 || type_ == VarType::Byte || type_ == VarType::Bool;
  }

  std::int32_t int_ = 0;  // Int16, Int32, Byte, Bool (-1/0)
  double real_ = 0;       // Single (stored widened), Double
  std::unique_ptr<Boxed> boxed_;
};

class VariantArray {
 public:
  VariantArray() = default;  // no elements
  // Elements lower..upper, each the zero value of elementType (Empty for an array of variants).
  VariantArray(std::int32_t lower, std::int32_t upper, VarType elementType = VarType::Empty);

  std::int32_t Lower() const { return lower_; }
  std::int32_t Upper() const { return lower_ + static_cast<std::int32_t>(items_.size()) - 1; }
  std::size_t Size() const { return items_.size(); }
  VarType ElementType() const { return elementType_; }
  // Whether Set takes any number without a conversion that can fail: an array of variants or of
  // doubles. A read fills other arrays aside, so that a value they refuse changes nothing.
  bool TakesEveryNumber() const { return elementType_ == VarType::Empty || elementType_ == VarType::Double; }
  bool Contains(std::int32_t index) const {
    // In 64 bits: an index far outside must not wrap into the bounds.
    std::int64_t offset = std::int64_t{index} - lower_;
    return offset >= 0 && offset < static_cast<std::int64_t>(items_.size());
  }

  // Subscript error outside the bounds.
  const Variant& Get(std::int32_t index) const {
    if (!Contains(index)) ThrowSubscript();
    return items_[static_cast<std::size_t>(index - lower_)];
  }
  // Stores the value, converted to the element type of a typed array. An array of variants
  // takes a plain copy, inline: replies pass hundreds of values through here.
  void Set(std::int32_t index, const Variant& value) {
    if (elementType_ == VarType::Empty) {
      At(index) = value;
    } else {
      SetConverted(index, value);
    }
  }
  // Elements from..from+count-1 of source into to..to+count-1, converted to the element type
  // of a typed array (a conversion error leaves the elements before it stored). Subscript
  // error, nothing stored, when a range is outside the bounds. source must not be this array.
  void CopyFrom(std::int32_t to, const VariantArray& source, std::int32_t from, std::int32_t count);
  // Direct access to an element of an array of variants (subscript error outside the bounds).
  Variant& At(std::int32_t index) {
    if (!Contains(index)) ThrowSubscript();
    return items_[static_cast<std::size_t>(index - lower_)];
  }

  // Elements first..first+count-1, for direct access as At gives (subscript error when the
  // range is outside the bounds).
  std::span<Variant> Range(std::int32_t first, std::int32_t count) {
    if (count <= 0) return {};
    if (!Contains(first) || !Contains(first + count - 1)) ThrowSubscript();
    return std::span<Variant>(items_).subspan(static_cast<std::size_t>(first - lower_), static_cast<std::size_t>(count));
  }

  // Re-creates the array with new bounds, every element reset.
  void Redim(std::int32_t lower, std::int32_t upper);

  // As a standard container: a[i] by the array's own index from Lower() (subscript error
  // outside the bounds), iteration from the lower bound, size() and empty(). Writes go
  // through Set, which converts to a typed array's element type.
  using const_iterator = std::vector<Variant>::const_iterator;
  const Variant& operator[](std::int32_t index) const { return Get(index); }
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }
  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }

  bool operator==(const VariantArray& other) const = default;

 private:
  [[noreturn]] static void ThrowSubscript();
  void SetConverted(std::int32_t index, const Variant& value);

  std::int32_t lower_ = 0;
  VarType elementType_ = VarType::Empty;
  std::vector<Variant> items_;
};

// Copies, moves and destruction are inline: the data buffers pass hundreds of numeric
// variants per reply through them, and for a number each is a few words.
struct Variant::Boxed {
  std::string text;
  Font font;
  VariantArray array;
};

inline Variant::Variant() = default;
inline Variant::~Variant() = default;
inline Variant::Variant(std::int16_t v) : type_(VarType::Int16), int_(v) {}
inline Variant::Variant(std::int32_t v) : type_(VarType::Int32), int_(v) {}
inline Variant::Variant(std::uint8_t v) : type_(VarType::Byte), int_(v) {}
inline Variant::Variant(float v) : type_(VarType::Single), real_(v) {}
inline Variant::Variant(double v) : type_(VarType::Double), real_(v) {}
inline Variant::Variant(bool v) : type_(VarType::Bool), int_(v ? -1 : 0) {}

inline Variant::Variant(const Variant& o)
    : type_(o.type_), int_(o.int_), real_(o.real_), boxed_(o.boxed_ ? std::make_unique<Boxed>(*o.boxed_) : nullptr) {}

// A moved-from variant is Empty, never a text without its box.
inline Variant::Variant(Variant&& o) noexcept
    : type_(o.type_), int_(o.int_), real_(o.real_), boxed_(std::move(o.boxed_)) {
  o.type_ = VarType::Empty;
}

inline Variant& Variant::operator=(Variant&& o) noexcept {
  if (this != &o) {
    type_ = o.type_;
    int_ = o.int_;
    real_ = o.real_;
    boxed_ = std::move(o.boxed_);
    o.type_ = VarType::Empty;
  }
  return *this;
}

inline Variant& Variant::operator=(const Variant& o) {
  if (o.boxed_) return this == &o ? *this : *this = Variant(o);
  type_ = o.type_;  // a number: no allocation
  int_ = o.int_;
  real_ = o.real_;
  if (boxed_) boxed_.reset();
  return *this;
}

}  // namespace plc
