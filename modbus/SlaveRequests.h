#pragma once
// What the slave needs of the framing: how long a request is, the request as a value, and
// the replies it answers with. Pure; the slave engine collects bytes and drives these.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "modbus/Pdu.h"

namespace plc::modbus {

// The length in units (bytes in RTU, characters in ASCII) of the request that received
// (starting at the frame start) begins: 8 bytes for functions 1 to 6, 9 + byte count for 15
// and 16 (header of 7, the data, the CRC), in ASCII twice the bytes plus colon, LRC and CR LF.
// Until the deciding byte is there, the smallest length still possible. Other functions are
// taken as 8 bytes, the shortest request this slave serves.
std::size_t RequestFrameLength(ByteView received, Framing framing);

// How many more units the request needs (0: the frame is complete, check it).
std::size_t RequestUnitsStillNeeded(ByteView received, Framing framing);

struct SlaveRequest {
  std::uint8_t unit = 0;
  std::uint8_t function = 0;
  std::uint16_t offset = 0;
  // Reads and multiple writes: the quantity. Single writes: 1.
  std::uint16_t count = 0;
  // Single writes: the value as received (function 5: FF00 hex or 0).
  std::uint16_t value = 0;
  // Function 16: the registers. Function 15: each coil 1 or 0, count of them.
  std::vector<std::uint16_t> values;
  // Functions 15 and 16: the data bytes after the byte count, for devices that read them in
  // other groupings (4-byte values).
  Bytes data;

  bool operator==(const SlaveRequest&) const = default;
};

enum class RequestError {
  None,
  UnknownFunction,    // not 1 to 6, 15 or 16
  BadLength,          // data too short or too long for the function
  ByteCountMismatch,  // byte count disagrees with the quantity or with the data
};

const char* RequestErrorText(RequestError error);

// The exception code a standard slave answers a refused request with.
std::uint8_t ExceptionCodeFor(RequestError error);

struct ParsedRequest {
  RequestError error = RequestError::None;
  SlaveRequest request;  // unit and function are set whatever the error
  explicit operator bool() const { return error == RequestError::None; }
};

// A request that passed its frame check, as a value.
ParsedRequest ParseRequest(const Adu& adu);

// Largest quantities whose reply byte count fits its one byte.
constexpr std::size_t MaxReplyRegisters = 127;
constexpr std::size_t MaxReplyBits = 2040;

// Reply to function 1 or 2: byte count (n + 7) / 8, point k in bit k mod 8 of byte k / 8 (set
// when its element is nonzero), unused high bits 0. Nothing when n exceeds MaxReplyBits.
std::optional<Adu> ReadBitsReply(std::uint8_t unit, std::uint8_t function, std::span<const std::uint8_t> points);

// Reply to function 3 or 4: byte count 2n, each register high byte first. Nothing when n
// exceeds MaxReplyRegisters.
std::optional<Adu> ReadRegistersReply(std::uint8_t unit, std::uint8_t function,
                                      std::span<const std::uint16_t> registers);

// Reply to a write: offset, then the value (5, 6) or the count (15, 16).
Adu WriteEchoReply(std::uint8_t unit, std::uint8_t function, std::uint16_t offset, std::uint16_t valueOrCount);
// The echo of a parsed write request.
Adu WriteEchoReply(const SlaveRequest& request);

Adu ExceptionReply(std::uint8_t unit, std::uint8_t function, std::uint8_t code);

}  // namespace plc::modbus
