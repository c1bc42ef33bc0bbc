#pragma once
// What a PREFIX/TAG/set message asks: the tag its topic names, and the value its payload
// carries (42, 23.5, true, or {"value": 42}). Both are text from the network: anything else
// gives nothing, never an error.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace plc::logger {

// The longest set payload taken: a number or {"value": ...} is far shorter; a longer one is
// refused without being parsed.
inline constexpr std::size_t kMaxSetPayloadBytes = 256;

// A PREFIX/TAG/set message as the broker handed it over.
struct SetMessage {
  std::string tag;
  // Its first kMaxSetPayloadBytes + 1 bytes at most.
  std::string payload;
  // The payload's length as sent.
  std::size_t payloadBytes = 0;
  // The broker kept it and replays it at every subscription: a write it asks for would happen
  // again at every connect, so the gateway never makes it.
  bool retained = false;
};

std::optional<std::string> TagOfSetTopic(std::string_view prefix, std::string_view topic);
std::optional<double> SetPayloadValue(std::string_view payload);
// Network text fit for a log line and a terminal: its first `limit` bytes (cut at a character's
// start, "..." added when cut), control bytes and invalid UTF-8 shown as \xHH.
std::string PrintableText(std::string_view text, std::size_t limit);

}  // namespace plc::logger
