#include "base/Conversions.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "base/RuntimeError.h"

namespace plc {

namespace {

// Just enough unsigned big-integer arithmetic to take an exact decimal number N * 10^k apart
// into binary: shifts, comparison, subtraction. Limbs are little-endian.
class BigUnsigned {
 public:
  explicit BigUnsigned(std::uint64_t v) {
    while (v) {
      limbs_.push_back(static_cast<std::uint32_t>(v));
      v >>= 32;
    }
  }

  void MulSmall(std::uint32_t m) {
    std::uint64_t carry = 0;
    for (std::uint32_t& l : limbs_) {
      std::uint64_t p = static_cast<std::uint64_t>(l) * m + carry;
      l = static_cast<std::uint32_t>(p);
      carry = p >> 32;
    }
    if (carry) limbs_.push_back(static_cast<std::uint32_t>(carry));
  }

  BigUnsigned Shifted(int bits) const {
    BigUnsigned r(0);
    if (limbs_.empty()) return r;
    const std::size_t whole = static_cast<std::size_t>(bits) / 32;
    const int part = bits % 32;
    r.limbs_.assign(whole, 0);
    std::uint32_t carry = 0;
    for (std::uint32_t l : limbs_) {
      r.limbs_.push_back(part ? (l << part) | carry : l);
      carry = part ? l >> (32 - part) : 0;
    }
    if (carry) r.limbs_.push_back(carry);
    return r;
  }

  void HalveInPlace() {
    std::uint32_t carry = 0;
    for (std::size_t i = limbs_.size(); i-- > 0;) {
      const std::uint32_t l = limbs_[i];
      limbs_[i] = (l >> 1) | carry;
      carry = l << 31;
    }
    if (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }

  int BitLength() const {
    if (limbs_.empty()) return 0;
    return static_cast<int>(32 * (limbs_.size() - 1)) + std::bit_width(limbs_.back());
  }

  friend int Compare(const BigUnsigned& a, const BigUnsigned& b) {
    if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() < b.limbs_.size() ? -1 : 1;
    for (std::size_t i = a.limbs_.size(); i-- > 0;)
      if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
    return 0;
  }

  // *this -= b, with *this >= b.
  void Subtract(const BigUnsigned& b) {
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
      std::int64_t d = static_cast<std::int64_t>(limbs_[i]) - borrow - (i < b.limbs_.size() ? b.limbs_[i] : 0);
      borrow = d < 0;
      limbs_[i] = static_cast<std::uint32_t>(d + (borrow << 32));
    }
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }

 private:
  std::vector<std::uint32_t> limbs_;
};

// Compares p / q with 2^e.
int CompareWithPowerOfTwo(const BigUnsigned& p, const BigUnsigned& q, int e) {
  return e >= 0 ? Compare(p, q.Shifted(e)) : Compare(p.Shifted(-e), q);
}

struct BinaryForm {
  int exponent;            // largest e with 2^e <= v
  std::uint32_t mantissa;  // the first 24 significant bits of v, truncated
};

// v = digits * 10^exp10 (v > 0) in binary.
BinaryForm BinaryFormOf(std::uint64_t digits, int exp10) {
  BigUnsigned num(digits);
  BigUnsigned den(1);
  for (int left = std::abs(exp10); left > 0; left -= 9) {
    std::uint32_t power = 1;
    for (int i = 0; i < std::min(left, 9); ++i) power *= 10;
    (exp10 > 0 ? num : den).MulSmall(power);
  }

  int e = num.BitLength() - den.BitLength();
  if (CompareWithPowerOfTwo(num, den, e) < 0) --e;

  // mantissa = floor(num * 2^(23 - e) / den), taken bit by bit.
  BigUnsigned a = num.Shifted(std::max(0, 23 - e));
  BigUnsigned b = den.Shifted(std::max(0, e - 23));
  std::uint32_t m = 0;
  BigUnsigned step = b.Shifted(23);
  for (int bit = 23; bit >= 0; --bit, step.HalveInPlace()) {
    if (Compare(a, step) >= 0) {
      a.Subtract(step);
      m |= 1u << bit;
    }
  }
  return {e, m};
}

// Decimal text "ddd.ddd" or "d.ddde[+-]xx" as digits * 10^exp10; false when the digits do not
// fit 64 bits.
bool ParseDecimal(std::string_view text, std::uint64_t& digits, int& exp10) {
  digits = 0;
  int fractionDigits = 0, digitCount = 0;
  bool inFraction = false;
  std::size_t i = 0;
  for (; i < text.size() && text[i] != 'e'; ++i) {
    if (text[i] == '.') {
      inFraction = true;
      continue;
    }
    if (++digitCount > 19) return false;
    digits = digits * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (inFraction) ++fractionDigits;
  }
  exp10 = 0;
  if (i < text.size()) {
    std::string_view e = text.substr(i + 1);
    if (!e.empty() && e.front() == '+') e.remove_prefix(1);
    std::from_chars(e.data(), e.data() + e.size(), exp10);
  }
  exp10 -= fractionDigits;
  return true;
}

// The positive single x read as the decimal number it prints as: the shortest text that reads
// back as x, as plain std::to_chars gives it (so an integral single such as 725259712 keeps its
// exact digits), in binary.
BinaryForm DecimalBinaryForm(float x) {
  std::array<char, 64> buf{};
  std::uint64_t digits = 0;
  int exp10 = 0;
  auto res = std::to_chars(buf.data(), buf.data() + buf.size(), x);
  if (!ParseDecimal(std::string_view(buf.data(), res.ptr), digits, exp10)) {
    // Fixed output is chosen only while no longer than scientific, so this is a safety net.
    res = std::to_chars(buf.data(), buf.data() + buf.size(), x, std::chars_format::scientific);
    ParseDecimal(std::string_view(buf.data(), res.ptr), digits, exp10);
  }
  return BinaryFormOf(digits, exp10);
}

// Stores the values at their indices only when every index exists and every value converts to
// the array's element type, so a failure leaves the array untouched.
template <std::size_t N>
void StoreAll(VariantArray& arr, const std::array<std::pair<std::int32_t, Variant>, N>& items) {
  std::array<Variant, N> converted;
  for (std::size_t i = 0; i < N; ++i) {
    if (!arr.Contains(items[i].first)) throw RuntimeError(err::Subscript);
    converted[i] = arr.ElementType() == VarType::Empty ? items[i].second : items[i].second.ConvertTo(arr.ElementType());
  }
  for (std::size_t i = 0; i < N; ++i) arr.Set(items[i].first, converted[i]);
}

std::uint32_t Unsigned(std::int32_t v) { return static_cast<std::uint32_t>(v); }

}  // namespace

float LongFloatToDec(const std::int32_t& dlong1, const std::int32_t& dlong2) {
  const std::uint32_t high = Unsigned(dlong1) & 0xFFFF;
  const std::uint32_t low = Unsigned(dlong2) & 0xFFFF;
  if (high == 0 && low == 0) return 0;
  const std::uint32_t field = (high >> 7) & 0xFF;
  if (field == 255) throw RuntimeError(err::Overflow);
  const int e = static_cast<int>(field) - 127;
  // Summed from the top bit down in single precision; exact for every normal single, and for
  // an exponent field of 0 it rounds the way a single accumulator does.
  float sum = 0;
  const std::uint32_t top = (high & 127) | 128;
  for (int i = 0; i <= 7; ++i)
    if (top & (1u << (7 - i))) sum = static_cast<float>(static_cast<double>(sum) + std::ldexp(1.0, e - i));
  for (int i = 0; i <= 15; ++i)
    if (low & (1u << (15 - i))) sum = static_cast<float>(static_cast<double>(sum) + std::ldexp(1.0, e - 8 - i));
  return (high & 0x8000) ? -sum : sum;
}

std::int16_t DecToLongFloat(const float& Dec, std::int32_t& dlong1, std::int32_t& dlong2) {
  if (!std::isfinite(Dec)) throw RuntimeError(err::Overflow);
  const float magnitude = std::fabs(Dec);
  if (magnitude < std::numeric_limits<float>::min()) {
    dlong1 = 0;
    dlong2 = 0;
    return 0;
  }
  const BinaryForm form = DecimalBinaryForm(magnitude);
  const std::uint32_t m = form.mantissa & 0x7FFFFF;  // the leading one dropped
  std::uint32_t high = static_cast<std::uint32_t>(form.exponent + 127) * 128 | (m >> 16);
  if (Dec < 0) high |= 0x8000;
  dlong1 = static_cast<std::int32_t>(high);
  dlong2 = static_cast<std::int32_t>(m & 0xFFFF);
  return 0;
}

std::int32_t ByteToLong(const VariantArray& ByteArr, double& UnsignedLong) {
  std::uint32_t u = 0;
  for (std::int32_t i = 0; i < 4; ++i) u = u << 8 | ByteArr.Get(i).ToByte();
  UnsignedLong = static_cast<double>(u);
  return static_cast<std::int32_t>(u);
}

void LongToByte(const std::int32_t& LongVar, VariantArray& ByteArr, const std::int16_t& StartByteIndex) {
  const std::uint32_t u = Unsigned(LongVar);
  const std::int32_t s = StartByteIndex;
  auto byte = [&](int shift) { return Variant(static_cast<std::uint8_t>(u >> shift)); };
  StoreAll<4>(ByteArr, {{{s + 2, byte(24)}, {s + 3, byte(16)}, {s, byte(8)}, {s + 1, byte(0)}}});
}

void LongToUInteger(const std::int32_t& LongVar, VariantArray& UIntegerArr, const std::int16_t& StartByteIndex) {
  const std::uint32_t u = Unsigned(LongVar);
  const std::int32_t s = StartByteIndex;
  StoreAll<2>(UIntegerArr, {{{s, Variant(static_cast<std::int32_t>(u >> 16))},
                             {s + 1, Variant(static_cast<std::int32_t>(u & 0xFFFF))}}});
}

void SignedIntToLong(const Variant& SgnIntr, std::int32_t& Lng1) {
  const double v = SgnIntr.ToDouble();
  Lng1 = Variant(v < 0 ? v + 65536 : v).ToInt32();
}

void LongToSIgnedInt(const Variant& Lng1, std::int32_t& SgnIntr) {
  const double v = Lng1.ToDouble();
  SgnIntr = Variant(v > 32767 ? v - 65536 : v).ToInt32();
}

}  // namespace plc
