#pragma once
// Modbus messages as value types that know nothing of the line: the unit, the function code
// and the function's data, exactly the bytes an RTU frame carries before its CRC (and an ASCII
// frame carries as hexadecimal text before its LRC).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace plc::modbus {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// The two framings of the serial line.
enum class Framing { Rtu, Ascii };

// Function codes this system sends or serves.
namespace fn {
constexpr std::uint8_t ReadCoils = 1;
constexpr std::uint8_t ReadDiscreteInputs = 2;
constexpr std::uint8_t ReadHoldingRegisters = 3;
constexpr std::uint8_t ReadInputRegisters = 4;
constexpr std::uint8_t WriteSingleCoil = 5;
constexpr std::uint8_t WriteSingleRegister = 6;
constexpr std::uint8_t WriteMultipleCoils = 15;
constexpr std::uint8_t WriteMultipleRegisters = 16;
// Set in the function code of an exception reply.
constexpr std::uint8_t ExceptionFlag = 0x80;
}  // namespace fn

// Exception codes of an exception reply.
namespace ex {
constexpr std::uint8_t IllegalFunction = 1;
constexpr std::uint8_t IllegalDataAddress = 2;
constexpr std::uint8_t IllegalDataValue = 3;
constexpr std::uint8_t ServerDeviceFailure = 4;
}  // namespace ex

// The Modbus maxima: the registers or bits one read reply carries, and one write request.
constexpr std::size_t kMaxReadRegisters = 125;
constexpr std::size_t kMaxReadBits = 2000;
constexpr std::size_t kMaxWriteRegisters = 123;
constexpr std::size_t kMaxWriteBits = 1968;

constexpr bool IsBitRead(std::uint8_t function) {
  return function == fn::ReadCoils || function == fn::ReadDiscreteInputs;
}
constexpr bool IsRegisterRead(std::uint8_t function) {
  return function == fn::ReadHoldingRegisters || function == fn::ReadInputRegisters;
}
constexpr bool IsRead(std::uint8_t function) { return IsBitRead(function) || IsRegisterRead(function); }
constexpr bool IsSingleWrite(std::uint8_t function) {
  return function == fn::WriteSingleCoil || function == fn::WriteSingleRegister;
}
constexpr bool IsMultipleWrite(std::uint8_t function) {
  return function == fn::WriteMultipleCoils || function == fn::WriteMultipleRegisters;
}

// Unit, function and data of one message, without checksum.
struct Adu {
  std::uint8_t unit = 0;
  std::uint8_t function = 0;
  Bytes data;

  bool IsException() const { return (function & fn::ExceptionFlag) != 0; }
  // The exception code of an exception reply; 0 when this is none or it carries no code.
  std::uint8_t ExceptionCode() const { return IsException() && !data.empty() ? data[0] : 0; }
  // unit, function, data: the bytes the checksum covers; room more bytes are reserved behind
  // them, so that a checksum appended does not move them.
  Bytes ToBytes(std::size_t room = 0) const;
  // Needs at least unit and function.
  static std::optional<Adu> FromBytes(ByteView bytes);

  bool operator==(const Adu&) const = default;
};

// Why a received frame was not accepted. Every failure is reported to the host as a checksum
// failure ("CRC error"); the distinction is for traces and tests.
enum class FrameError {
  None,
  TooShort,    // fewer units than the smallest frame of the framing
  Checksum,    // CRC or LRC mismatch
  NoColon,     // ASCII: first character is not ':'
  NoLineEnd,   // ASCII: does not end in CR LF
  OddLength,   // ASCII: odd number of hexadecimal characters
  BadHex,      // ASCII: a character other than 0-9, A-F between colon and CR LF
};

const char* FrameErrorText(FrameError error);

// A received frame after its check: the message when error is None.
struct ParsedFrame {
  FrameError error = FrameError::None;
  Adu adu;
  explicit operator bool() const { return error == FrameError::None; }
};

}  // namespace plc::modbus
