#pragma once
// ASCII framing: ':' then every byte of unit, function and data as two upper-case hexadecimal
// digits, the LRC as two more, then CR LF. Received characters are handled as bytes.
#include <optional>
#include <string>
#include <string_view>

#include "modbus/Pdu.h"

namespace plc::modbus {

// Colon, unit, function, LRC, CR LF.
constexpr std::size_t AsciiMinFrame = 9;

// Characters of the ASCII frame of a message whose RTU frame is rtuLength bytes: the colon,
// two per byte, two for the LRC (in place of the two CRC bytes) and CR LF.
constexpr std::size_t AsciiLengthOf(std::size_t rtuLength) { return 2 * rtuLength + 1; }

// The value of a text of hexadecimal digits, walked from its last character with weights
// 1, 16, 256 ...: a character above '@' counts its code minus 55, any other its code minus 48.
// Lower-case letters and other characters therefore give wrong values, never an error; the
// sum wraps modulo 2^32 instead of overflowing.
std::int32_t HexValue(std::string_view text);

// The number-to-text rule: value in upper-case hexadecimal, left-padded with '0' and cut to its
// last width digits (so a negative value contributes its low 4*width bits). width 1 to 16.
std::string HexField(std::int64_t value, int width);

// The two-digit LRC text of a frame text that begins with ':'. Sums the HexValue of the
// two-character pieces from the second character on (a last lone character counts alone),
// and returns (0 - sum) mod 256. Any text is accepted: an empty text or a lone colon gives "00".
std::string MakeLRC(std::string_view msg);

// The LRC of a binary message: the sum of its bytes, negated, mod 256.
std::uint8_t ComputeLrc(ByteView bytes);

// Two characters '0'-'9' / 'A'-'F' as one byte; nothing for any other character (lower case
// included: this protocol's digits are upper case).
std::optional<std::uint8_t> HexByte(std::uint8_t high, std::uint8_t low);

std::string AsciiFrameText(const Adu& adu);
// The same frame as the bytes handed to the port.
Bytes BuildAsciiFrame(const Adu& adu);

// Checks a whole received frame (colon, hexadecimal digits, LRC, CR LF) and decodes it.
ParsedFrame ParseAsciiFrame(ByteView frame);
ParsedFrame ParseAsciiFrame(std::string_view frame);

// Index of the first ':' in received (its size when there is none): where a frame can start.
std::size_t SkipToColon(ByteView received);

// The message bytes that can be decoded so far from a frame start: the valid hexadecimal pairs
// after the colon, up to the first pair that is incomplete or not hexadecimal. Empty when
// received does not begin with ':'.
Bytes AsciiKnownBytes(ByteView received);

// One past the LF of the first CR LF in received, if there is one.
std::optional<std::size_t> AsciiLineEnd(ByteView received);

}  // namespace plc::modbus
