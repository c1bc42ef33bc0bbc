// The topic and payload of a PREFIX/TAG/set message, as any MQTT client may send them. Input:
// the topic, then after a NUL byte the payload. Neither raises; a tag found is one topic level
// that rebuilds the topic; a value found is finite, and the payload's JSON text for it gives it
// again; the payload shown in a log line is bounded and holds no control byte.
// fuzz-libs: plclogger
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "logger/SetMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto cut = input.find('\0');
  const std::string_view topic = input.substr(0, cut);
  const std::string_view payload = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);
  if (const auto tag = plc::logger::TagOfSetTopic("plant", topic)) {
    if (tag->empty() || tag->find('/') != std::string::npos) std::abort();
    if ("plant/" + *tag + "/set" != topic) std::abort();
  }
  if (const auto value = plc::logger::SetPayloadValue(payload)) {
    if (!std::isfinite(*value)) std::abort();
    const std::string again = std::to_string(*value);
    const auto back = plc::logger::SetPayloadValue("{\"value\": " + again + "}");
    if (!back || std::fabs(*back - std::stod(again)) > 1e-9 * std::max(1.0, std::fabs(*back))) std::abort();
  }
  // Shown in a log line: bounded, and no control byte left.
  const std::string shown = plc::logger::PrintableText(payload, 40);
  if (shown.size() > 40 * 4 + 3) std::abort();
  for (const char c : shown) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) std::abort();
  }
  return 0;
}
