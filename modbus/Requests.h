#pragma once
// What the master sends and what it awaits: request bodies for reads, single and multiple
// writes, the reply length of every request, and the checks a reply must pass.
#include <cstdint>
#include <vector>

#include "modbus/Pdu.h"

namespace plc::modbus {

// One master request in the caller's field values; they are checked (RTU) or cut to their low
// bits (ASCII) only when the request is encoded.
struct Request {
  std::int32_t unit = 0;
  std::uint8_t function = 0;
  std::int32_t offset = 0;
  // Reads: points asked for (for 4-byte values, the number of values). Writes: values.size().
  std::int32_t count = 0;
  // Single write: the one value (coils: nonzero is on). Multiple write: the registers, or the
  // coils (nonzero is on).
  std::vector<std::int32_t> values;
  // Bytes each point takes in a register-read reply: 2, or 4 for devices that return 32-bit
  // integers and reals per counted value.
  std::uint8_t bytesPerValue = 2;

  bool operator==(const Request&) const = default;
};

Request ReadRequest(std::int32_t unit, std::uint8_t function, std::int32_t offset, std::int32_t count,
                    std::uint8_t bytesPerValue = 2);
// Function 5 (value nonzero: FF00, else 0000) or 6.
Request SingleWriteRequest(std::int32_t unit, std::uint8_t function, std::int32_t offset, std::int32_t value);
// Function 15 (packed bits) or 16 (registers).
Request MultipleWriteRequest(std::int32_t unit, std::uint8_t function, std::int32_t offset,
                             std::vector<std::int32_t> values);

// Largest quantities whose byte count still fits its one byte in RTU.
constexpr std::int32_t MaxRtuRegisterWrite = 127;
constexpr std::int32_t MaxRtuCoilWrite = 2040;

enum class EncodeError {
  None,
  NotARequest,       // a function this master does not send, or a write without values
  UnitOutOfRange,    // RTU: unit outside 0..255
  OffsetOutOfRange,  // RTU: offset outside 0..65535
  CountOutOfRange,   // RTU: count outside 0..65535, or a multiple write too long for its byte count
  ValueOutOfRange,   // RTU: a register value outside 0..65535
};

const char* EncodeErrorText(EncodeError error);

struct EncodedRequest {
  EncodeError error = EncodeError::None;
  Adu adu;     // the message sent, fields as they go on the line
  Bytes frame; // the units handed to the port
  explicit operator bool() const { return error == EncodeError::None; }
};

// The message of a request in the framing's field rule: in RTU a field that does not fit its
// bytes refuses the request; in ASCII every field carries its low bits (unit, function and
// byte count 8, the others 16).
EncodedRequest EncodeRequest(const Request& request, Framing framing);

// Message bytes (without checksum) of the normal reply to request; 0 for a request that has
// none. Bit reads carry (n + 7) / 8 data bytes, register reads bytesPerValue * n, writes echo
// 4 bytes.
std::size_t ExpectedMessageLength(const Request& request);

// The length of the normal reply in units: bytes in RTU, characters in ASCII (2 * RTU + 1).
std::size_t ExpectedLength(const Request& request, Framing framing);

// Message bytes of an exception reply: unit, function | 80 hex, code.
constexpr std::size_t ExceptionMessageLength = 3;

// The length in units of the reply to request, as far as received (which starts at the frame
// start) tells it: an exception reply is 5 bytes (11 characters); a read reply follows its
// byte count; a write reply is 8 (17). Until the deciding byte is there the result is the
// smallest length still possible, so waiting for it never waits past a shorter reply. A reply
// of another function falls back to ExpectedLength.
std::size_t ReplyFrameLength(const Request& request, ByteView received, Framing framing);

// How many more units the reply needs (0: the frame is complete, check it).
std::size_t ReplyUnitsStillNeeded(const Request& request, ByteView received, Framing framing);

enum class ReplyError {
  None,
  WrongUnit,          // not the unit asked
  WrongFunction,      // neither the function asked nor its exception
  Exception,          // an exception reply; its code is reply.ExceptionCode()
  BadLength,          // data too short or too long for the function
  ByteCountMismatch,  // the byte count disagrees with the data that follow it
  CountMismatch,      // the byte count disagrees with the points asked
  EchoMismatch,       // a write's echo names another offset, value or count than was sent
};

const char* ReplyErrorText(ReplyError error);

// Checks a reply that passed its frame check against the request it answers.
ReplyError CheckReply(const Request& request, const Adu& reply);

// True when a write reply echoes the offset and the value (5, 6) or count (15, 16) asked.
bool EchoMatches(const Request& request, const Adu& reply);

}  // namespace plc::modbus
