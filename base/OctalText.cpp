#include "base/OctalText.h"

#include <cstdint>
#include <limits>

#include "base/RuntimeError.h"

namespace plc {

std::string OctalDigits(std::int64_t n) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + n % 8));
    n /= 8;
  } while (n > 0);
  return digits;
}

std::optional<std::int64_t> OctalValue(const std::string& digits) {
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  std::int64_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '7') return std::nullopt;
    n = n * 8 + (c - '0');
  }
  return n;
}

namespace seq {

std::int32_t CnvOctToDec(const std::string& Oct) {
  const std::size_t b = Oct.find_first_not_of(' ');
  if (b == std::string::npos) throw RuntimeError(err::TypeMismatch);
  const std::size_t e = Oct.find_last_not_of(' ');
  std::uint64_t value = 0;
  for (std::size_t i = b; i <= e; ++i) {
    const char c = Oct[i];
    if (c < '0' || c > '7') throw RuntimeError(err::TypeMismatch);
    value = value * 8 + static_cast<std::uint64_t>(c - '0');
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
      throw RuntimeError(err::Overflow);
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace seq

namespace udp {

std::int32_t CnvOctToDec(const std::string& Oct) {
  // Ten characters of at most 9 each stay below 2^31, so only the length needs a check.
  if (Oct.size() >= 11) throw RuntimeError(err::Overflow);
  std::int32_t value = 0;
  std::int32_t weight = 1;
  for (std::size_t i = Oct.size(); i-- > 0; weight *= 8) {
    const char c = Oct[i];
    if (c >= '0' && c <= '9') value += (c - '0') * weight;
  }
  return value;
}

}  // namespace udp

}  // namespace plc
