#pragma once
// RTU framing: unit, function, data, then the CRC-16 low byte first.
#include "modbus/Pdu.h"

namespace plc::modbus {

// Unit and function plus the two CRC bytes.
constexpr std::size_t RtuMinFrame = 4;
// Bytes the frame adds to its message.
constexpr std::size_t RtuOverhead = 2;

// The message followed by its CRC.
Bytes BuildRtuFrame(const Adu& adu);

// True when the frame holds at least unit, function and CRC and its last two bytes are the
// CRC of the bytes before them.
bool RtuCrcGood(ByteView frame);

// Checks a whole received frame and strips its CRC.
ParsedFrame ParseRtuFrame(ByteView frame);

}  // namespace plc::modbus
