#pragma once
// Small pieces the lines share: words in and out of the controls' variant arrays, octal text,
// and the relay timing that suits a serial line.
#include <cstdint>
#include <string>

#include "bench/faults/LineUnderTest.h"
#include "base/Variant.h"

namespace plc::faults {

// A value a control delivered, as the 16-bit word it stands for (a signed or unsigned reading
// of the same bits); anything that is no whole number, or lies beyond what a word holds either
// way (70000 for the word 4464), gives a value no word has.
inline std::int32_t WordOf(const Variant& v) {
  if (!v.IsNumeric()) return -100000;
  const double d = v.ToDouble();
  if (d < -32768 || d > 65535 || d != static_cast<double>(static_cast<std::int32_t>(d))) return -100000;
  return static_cast<std::uint16_t>(static_cast<std::int32_t>(d));
}

// Elements first..first+count-1 of an array (or the value itself for a scalar when count is 1).
inline bool WordsOf(const Variant& v, std::int32_t first, int count, Words& out) {
  out.clear();
  if (!v.IsArray()) {
    const std::int32_t w = WordOf(v);
    if (count != 1 || w < 0) return false;
    out.push_back(static_cast<std::uint16_t>(w));
    return true;
  }
  for (int i = 0; i < count; ++i) {
    if (!v.Array().Contains(first + i)) return false;
    const std::int32_t w = WordOf(v.Array().Get(first + i));
    if (w < 0) return false;
    out.push_back(static_cast<std::uint16_t>(w));
  }
  return true;
}

// The words a non-waiting read of a DirectLOGIC control left in ReadData(1..count); false when
// one of them is no word.
template <class Link>
bool ReadDataWords(Link& link, int count, Words& out) {
  out.clear();
  for (std::int16_t i = 1; i <= count; ++i) {
    const std::int32_t w = WordOf(link.ReadData(i));  // ReadData takes its index by reference
    if (w < 0) return false;
    out.push_back(static_cast<std::uint16_t>(w));
  }
  return true;
}

inline VariantArray ArrayOf(const Words& values) {
  VariantArray a(1, static_cast<std::int32_t>(values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) a.Set(static_cast<std::int32_t>(i + 1), Variant(std::int32_t{values[i]}));
  return a;
}

inline std::string Octal(int n) {
  std::string s;
  do {
    s.insert(s.begin(), static_cast<char>('0' + n % 8));
    n /= 8;
  } while (n > 0);
  return s;
}

}  // namespace plc::faults
