#pragma once
// The properties the serial controls (RtuLink, SeqLink, UdpLink) keep as members, and the
// control's drawn size.
#include <cstdint>
#include <string>

#include "base/Variant.h"

namespace plc {

// Initialize sets the design size; Paint, Resize and Size always set the fixed drawn size,
// whatever the host asked for (twips).
inline constexpr float kDesignWidth = 825;
inline constexpr float kDesignHeight = 450;
inline constexpr float kDrawnWidth = 475;
inline constexpr float kDrawnHeight = 500;

struct FrameProperties {
  // Container-style values, kept only to be persisted.
  std::int32_t backColor = 0;
  std::int32_t foreColor = 0;
  std::int16_t backStyle = 0;
  std::int16_t borderStyle = 0;
  std::int16_t appearance = 0;
  Font font;
  Variant baud;                 // carried through unchanged; the line speed comes from Settings
  std::string initLineText;     // the text InitProperties stores; nothing reads it

  bool enabled = false;         // no effect on communication
  std::int16_t numOfReadRetries = 2;
  std::int16_t numOfWriteRetries = 2;
  std::int32_t address = 1;     // the default unit (station)
  std::int16_t unitAddress = 1; // its 16-bit copy
  bool scanReadEnable = false;
  bool scanWriteEnable = false;

  // The values of a new control (InitProperties); the line and the timers are not touched.
  void Init(const Font& ambient, Variant baudValue, std::string lineText) {
    *this = FrameProperties{};
    font = ambient;
    baud = std::move(baudValue);
    initLineText = std::move(lineText);
  }
};

// The 16-bit copy of a 32-bit address: overflow (6) outside -32768..32767.
std::int16_t UnitAddressOf(std::int32_t address);

}  // namespace plc
