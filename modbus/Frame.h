#pragma once
// The two framings behind one set of calls, and the length arithmetic both share: a frame's
// length follows from its message length, and the message length from the bytes seen so far.
#include "modbus/Pdu.h"

namespace plc::modbus {

Bytes BuildFrame(const Adu& adu, Framing framing);
ParsedFrame ParseFrame(ByteView frame, Framing framing);

// Units (bytes in RTU, characters in ASCII) of the frame of a message of messageLength bytes
// (unit, function and data, without checksum).
std::size_t FrameLength(std::size_t messageLength, Framing framing);

// The message bytes readable so far from received, which starts at a frame start: RTU the
// bytes themselves, ASCII the hexadecimal pairs decoded after the colon.
Bytes KnownMessageBytes(ByteView received, Framing framing);

// Where a frame of frameLength units ends in received, which starts at its start: in ASCII a
// CR LF already received ends it where it stands, since no digit can be CR or LF.
std::size_t FrameEnd(std::size_t frameLength, ByteView received, Framing framing);

// Units still missing before a frame of frameLength units, ended as FrameEnd says, is complete.
std::size_t UnitsStillNeeded(std::size_t frameLength, ByteView received, Framing framing);

}  // namespace plc::modbus
