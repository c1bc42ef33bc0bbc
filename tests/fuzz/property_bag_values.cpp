// The value texts of the property-bag document: every text reads as some value, and a value
// written back reads as the same value (the same text once more, so NaN compares too).
// fuzz-libs: plcbase
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/RuntimeError.h"
#include "platform/IniPropertyBag.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const plc::Variant value = plc::ParseProfileValue(text);
  if (value.IsArray()) std::abort();  // a document cannot hold arrays
  std::string written;
  try {
    written = plc::FormatProfileValue(value);
  } catch (const plc::RuntimeError&) {
    std::abort();  // only arrays are refused
  }
  const plc::Variant back = plc::ParseProfileValue(written);
  if (back.Type() != value.Type()) std::abort();
  if (plc::FormatProfileValue(back) != written) std::abort();
  // A written value stays on its one line.
  if (written.find_first_of("\r\n", 0) != std::string::npos || written.find('\0') != std::string::npos) std::abort();
  return 0;
}
