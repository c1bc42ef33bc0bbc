#pragma once
// What a PREFIX/TAG/set message asks: the tag its topic names, and the value its payload
// carries (42, 23.5, true, or {"value": 42}). Both are text from the network: anything else
// gives nothing, never an error.
#include <optional>
#include <string>
#include <string_view>

namespace plc::logger {

// A PREFIX/TAG/set message as the broker handed it over.
struct SetMessage {
  std::string tag;
  std::string payload;
  // The broker kept it and replays it at every subscription: a write it asks for would happen
  // again at every connect, so the gateway never makes it.
  bool retained = false;
};

std::optional<std::string> TagOfSetTopic(std::string_view prefix, std::string_view topic);
std::optional<double> SetPayloadValue(std::string_view payload);

}  // namespace plc::logger
