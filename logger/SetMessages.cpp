#include "logger/SetMessages.h"

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
  const auto j = nlohmann::json::parse(payload.begin(), payload.end(), nullptr, false);
  if (j.is_discarded()) return std::nullopt;
  const nlohmann::json& v = j.is_object() && j.contains("value") ? j["value"] : j;
  if (v.is_boolean()) return v.get<bool>() ? 1.0 : 0.0;
  if (!v.is_number()) return std::nullopt;
  const double d = v.get<double>();
  if (!std::isfinite(d)) return std::nullopt;
  return d;
}

}  // namespace plc::logger
