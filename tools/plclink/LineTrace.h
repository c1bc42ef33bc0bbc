#pragma once
// --trace: every byte a control's serial line sends or receives, one line per chunk on
// standard error, e.g. "12:00:00.123456 TX 01 03 00 00 00 01 84 0A".
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/SerialPort.h"

namespace plc::plclink {

std::string TraceLine(TraceDirection direction, const std::uint8_t* data, std::size_t size, std::int64_t wallMicros);

// The hook a StandaloneHost hands its controls' ports.
TraceHook StandardErrorTrace();

}  // namespace plc::plclink
