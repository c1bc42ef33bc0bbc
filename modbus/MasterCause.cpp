#include "modbus/MasterCause.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "base/Enums.h"
#include "modbus/ExceptionText.h"

namespace plc::modbus {

namespace {

std::string UnitText(std::int32_t unit) { return "unit " + std::to_string(unit); }

std::string AnsweredInstead(std::int32_t unit, const char* answer, std::optional<std::uint8_t> otherUnit) {
  if (!otherUnit) return "";
  return "; " + std::string(answer) + " to it came from " + UnitText(*otherUnit) + " (is the slave set to " +
         UnitText(unit) + "?)";
}

const char* WhatIsCounted(const ReferenceMapping& m) {
  if (IsBitRead(m.function) || m.function == fn::WriteSingleCoil || m.function == fn::WriteMultipleCoils) return "bits";
  if (m.bytesPerValue == 4 || m.wordPairs) return "32-bit values";
  return "registers";
}

std::string CountCause(std::int32_t count, std::int32_t limit, const char* what, const char* per) {
  if (count < 1) return "count " + std::to_string(count) + ": a " + per + " needs at least one point";
  return "count " + std::to_string(count) + " beyond this control's limit of " + std::to_string(limit) + " " + what +
         " per " + per;
}

}  // namespace

std::string NumberText(double value) {
  if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15) {
    return std::to_string(static_cast<long long>(value));
  }
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

namespace {

std::string UnfinishedCause(std::int32_t unit, std::int64_t seconds, const char* answer, const UnfinishedReply& u) {
  std::string text = std::string(answer) + " from " + UnitText(unit) + " began but did not end within " +
                     std::to_string(seconds) + " s (" + std::to_string(u.received) + " of " +
                     std::to_string(u.expected) + " characters)";
  if (u.loneLineEnd != 0) {
    text += std::string("; its line ended with ") + (u.loneLineEnd == '\r' ? "CR" : "LF") +
            " alone (an ASCII frame ends with CR LF)";
  }
  return text;
}

}  // namespace

std::string NoReplyCause(std::int32_t unit, std::int64_t seconds, std::optional<std::uint8_t> otherUnit,
                         std::optional<UnfinishedReply> unfinished) {
  if (unfinished) return UnfinishedCause(unit, seconds, "the reply", *unfinished);
  return "no reply from " + UnitText(unit) + " within " + std::to_string(seconds) + " s" +
         AnsweredInstead(unit, "a reply", otherUnit);
}

std::string NoAcknowledgementCause(std::int32_t unit, std::int64_t seconds, std::optional<std::uint8_t> otherUnit,
                                   std::optional<UnfinishedReply> unfinished) {
  if (unfinished) return UnfinishedCause(unit, seconds, "the acknowledgement", *unfinished);
  return "no acknowledgement of the write from " + UnitText(unit) + " within " + std::to_string(seconds) + " s" +
         AnsweredInstead(unit, "an acknowledgement", otherUnit);
}

std::string ChecksumCause(std::int32_t unit, Framing framing) {
  return "the reply from " + UnitText(unit) + " failed its " + (framing == Framing::Ascii ? "LRC" : "CRC") + " check";
}

std::string ExceptionCause(std::int32_t unit, std::uint8_t code) {
  return UnitText(unit) + " refused the request: " + ExceptionText(code);
}

std::string RejectedCause(std::int32_t unit, ReplyError error) {
  return "the reply from " + UnitText(unit) + " does not answer the request: " + ReplyErrorText(error);
}

std::string BusyCause() {
  return "busy (966): another read or write is on the line (CommBusy is True); nothing was sent";
}

std::string HostWriteCause() { return "a WritePLC holds the line; the read was not sent"; }

std::string PortClosedCause(std::int16_t commPort) {
  return "port " + std::to_string(commPort) + " is not open (set PortOpen to True first)";
}

std::string PortClosedWhileCause(std::int16_t commPort, const std::string& what) {
  return "port " + std::to_string(commPort) + " was closed while " + what;
}

std::string PortWriteCause(std::int16_t commPort, const std::string& what) {
  return "port " + std::to_string(commPort) + " failed (is the device still there?): " + what;
}

std::string UnmappedCause(std::int32_t plcType, std::int32_t reference, Access access) {
  std::string ref = "reference " + std::to_string(reference);
  if (plcType == rtu::EnStdModbus) {
    std::string reads = "0xxxx coils, 1xxxx discrete inputs, 3xxxx input registers and 4xxxx holding registers, "
                        "each from xxxx = 0001 to 9999";
    if (access == Access::Read) return ref + " names no Modbus table: reads take " + reads;
    return ref + " cannot be written: writes take 0xxxx coils and 4xxxx holding registers, from xxxx = 0001 to 9999";
  }
  if (plcType == rtu::EnType2) {
    return ref + " has no " + (access == Access::Read ? "read" : "write") +
           " under PLCType EnType2 (1xxx bits, 3xxx words, 5xxx 32-bit integers, 7xxx floats; 0xxx coils for writes)";
  }
  return "PLCType " + std::to_string(plcType) + " maps no reference to a request (EnStdModbus and EnType2 do)";
}

std::optional<std::string> ReadCountCause(const ReferenceMapping& m, std::int32_t count) {
  std::int32_t limit = IsBitRead(m.function) ? kReadBitLimit : m.bytesPerValue == 4 ? kReadPairLimit : kReadRegisterLimit;
  if (count >= 1 && count <= limit) return std::nullopt;
  return CountCause(count, limit, WhatIsCounted(m), "read");
}

std::optional<std::string> WriteCountCause(const ReferenceMapping& m, std::int32_t count) {
  std::int32_t limit = m.function == fn::WriteMultipleCoils || m.function == fn::WriteSingleCoil ? kWriteBitLimit
                                                                                                : kWriteRegisterLimit;
  if (count >= 1 && count <= limit) return std::nullopt;
  return CountCause(count, limit, m.function == fn::WriteMultipleCoils ? "bits" : "registers", "write");
}

std::optional<std::string> WriteValueCause(const ReferenceMapping& m, double value) {
  const std::string v = "value " + NumberText(value);
  if (!std::isfinite(value)) return v + " is not a number a register can hold";
  if (m.wordPairs) {
    if (m.type2Kind == 7) {
      // A single real: past its largest magnitude there is no register pair for the value.
      if (std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max()))
        return v + " does not fit a 32-bit real (magnitudes up to 3.40282e+38)";
      return std::nullopt;
    }
    if (value != std::floor(value) || value < -2147483648.0 || value > 2147483647.0)
      return v + " does not fit a 32-bit integer (a whole number from -2147483648 to 2147483647)";
    return std::nullopt;
  }
  bool coil = m.function == fn::WriteSingleCoil || m.function == fn::WriteMultipleCoils;
  if (value != std::floor(value)) {
    return coil ? v + " is not a whole number: a coil takes 0 for off and any other whole number for on"
                : v + " is not a whole number: a register holds 0..65535 (ioType 2 writes a fixed-point pair)";
  }
  if (coil) return std::nullopt;
  if (value < 0 || value > 65535)
    return v + " does not fit a register (0..65535; ioType 5 writes signed values -32768..32767)";
  return std::nullopt;
}

std::string EncodeCause(EncodeError error, const Request& request) {
  switch (error) {
    case EncodeError::UnitOutOfRange:
      return "unit " + std::to_string(request.unit) + " does not fit the frame (0..255)";
    case EncodeError::OffsetOutOfRange:
      return "offset " + std::to_string(request.offset) + " does not fit the frame (0..65535)";
    case EncodeError::CountOutOfRange:
      return "count " + std::to_string(request.count) + " does not fit the frame";
    case EncodeError::ValueOutOfRange:
      return "a value does not fit a register (0..65535)";
    default:
      return std::string("the request cannot be framed: ") + EncodeErrorText(error);
  }
}

}  // namespace plc::modbus
