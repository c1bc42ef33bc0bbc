// Both octal readers over arbitrary text: they either give a value or raise the classic
// conversion errors, and the trimming reader agrees with a plain octal reading of the digits.
// fuzz-libs: plcframe
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/OctalText.h"
#include "base/RuntimeError.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const std::int32_t value = plc::seq::CnvOctToDec(text);
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    const std::string digits = text.substr(first, last - first + 1);
    if (digits.find_first_not_of("01234567") != std::string::npos) std::abort();
    if (value != static_cast<std::int32_t>(std::strtoll(digits.c_str(), nullptr, 8))) std::abort();
  } catch (const plc::RuntimeError& e) {
    if (e.Number() != 13 && e.Number() != 6) std::abort();
  }
  try {
    (void)plc::udp::CnvOctToDec(text);
  } catch (const plc::RuntimeError& e) {
    if (e.Number() != 6) std::abort();
  }
  return 0;
}
