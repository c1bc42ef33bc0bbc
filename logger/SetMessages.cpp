#include "logger/SetMessages.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

namespace plc::logger {

std::optional<std::string> TagOfSetTopic(std::string_view prefix, std::string_view topic) {
  constexpr std::string_view kSet = "/set";
  if (topic.size() <= prefix.size() + 1 + kSet.size()) return std::nullopt;
  if (topic.substr(0, prefix.size()) != prefix || topic[prefix.size()] != '/') return std::nullopt;
  if (topic.substr(topic.size() - kSet.size()) != kSet) return std::nullopt;
  const std::string_view tag = topic.substr(prefix.size() + 1, topic.size() - prefix.size() - 1 - kSet.size());
  // One topic level: the subscription's "+" never matches more.
  if (tag.find('/') != std::string_view::npos) return std::nullopt;
  return std::string(tag);
}

std::optional<double> SetPayloadValue(std::string_view payload) {
  // The JSON reader ends its text at a NUL byte: "42", a NUL and anything after it would read 42.
  if (payload.find('\0') != std::string_view::npos) return std::nullopt;
  const auto j = nlohmann::json::parse(payload.begin(), payload.end(), nullptr, false);
  if (j.is_discarded()) return std::nullopt;
  const nlohmann::json& v = j.is_object() && j.contains("value") ? j["value"] : j;
  if (v.is_boolean()) return v.get<bool>() ? 1.0 : 0.0;
  if (!v.is_number()) return std::nullopt;
  const double d = v.get<double>();
  if (!std::isfinite(d)) return std::nullopt;
  return d;
}

namespace {

// The length of the UTF-8 sequence that starts at text[at], or 0 when none valid starts there.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(at);
  std::size_t n = 0;
  if (lead >= 0xC2 && lead <= 0xDF) n = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) n = 3;
  else if (lead >= 0xF0 && lead <= 0xF4) n = 4;
  else return 0;
  if (at + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((byte(at + k) & 0xC0) != 0x80) return 0;
  return n;
}

}  // namespace

std::string PrintableText(std::string_view text, std::size_t limit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto c = static_cast<unsigned char>(text[at]);
    const std::size_t n = c < 0x80 ? 1 : Utf8Length(text, at);
    if (at + std::max<std::size_t>(n, 1) > limit) break;
    if (n == 0 || c < 0x20 || c == 0x7F || (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0)) {
      // A control byte (C0, DEL, or C1 written in UTF-8) or a byte that is no character.
      const std::size_t take = n == 0 ? 1 : n;
      for (std::size_t k = 0; k < take; ++k) {
        const auto b = static_cast<unsigned char>(text[at + k]);
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 0x0F];
      }
      at += take;
      continue;
    }
    out.append(text.substr(at, n));
    at += n;
  }
  if (at < text.size()) out += "...";
  return out;
}

}  // namespace plc::logger
