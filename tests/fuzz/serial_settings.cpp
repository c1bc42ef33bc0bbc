// The serial settings text: whatever it accepts is in range and prints back to a text that
// parses to the same settings.
// fuzz-libs: plcbase
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/SerialSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto parsed = plc::ParseSerialSettings(text);
  if (!parsed) return 0;
  const plc::SerialSettings& s = *parsed;
  if (s.baud <= 0) std::abort();
  if (std::string("neoms").find(s.parity) == std::string::npos || s.parity == '\0') std::abort();
  if (s.dataBits < 5 || s.dataBits > 8 || (s.stopBits != 1 && s.stopBits != 2)) std::abort();
  if (s.BitsPerCharacter() != 1 + s.dataBits + (s.parity == 'n' ? 0 : 1) + s.stopBits) std::abort();
  const auto again = plc::ParseSerialSettings(s.ToString());
  if (!again || !(*again == s)) std::abort();
  return 0;
}
