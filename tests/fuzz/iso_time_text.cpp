// A time as a person gives it to plclink trend (--from, --to). Never raises; a time it reads is
// one the log's own text gives back exactly, and that text reads as the same time.
// fuzz-libs: plclogger
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "logger/TimeText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto time = plc::logger::ParseIsoTimeUtc(text);
  if (!time) return 0;
  if (*time < 0) std::abort();
  const auto again = plc::logger::ParseIsoTimeUtc(plc::logger::IsoTimeUtc(*time));
  if (!again || *again != *time) std::abort();
  return 0;
}
