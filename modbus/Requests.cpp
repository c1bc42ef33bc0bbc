#include "modbus/Requests.h"

#include <algorithm>
#include <utility>

#include "modbus/Frame.h"

namespace plc::modbus {
namespace {

constexpr std::uint16_t CoilOn = 0xFF00;

bool Fits16(std::int64_t v) { return v >= 0 && v <= 0xFFFF; }

void Put16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

std::uint16_t Low16(std::int64_t v) { return static_cast<std::uint16_t>(static_cast<std::uint64_t>(v) & 0xFFFF); }
std::uint8_t Low8(std::int64_t v) { return static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) & 0xFF); }

std::uint16_t Word(ByteView data, std::size_t at) {
  return static_cast<std::uint16_t>((data[at] << 8) | data[at + 1]);
}

std::uint16_t CoilWord(std::int32_t value) { return value != 0 ? CoilOn : 0; }

// Checks the fields against their bytes; only RTU refuses, ASCII cuts to the low bits.
EncodeError CheckRtuFields(const Request& r) {
  if (r.unit < 0 || r.unit > 0xFF) return EncodeError::UnitOutOfRange;
  if (!Fits16(r.offset)) return EncodeError::OffsetOutOfRange;
  if (IsRead(r.function)) return Fits16(r.count) ? EncodeError::None : EncodeError::CountOutOfRange;
  switch (r.function) {
    case fn::WriteSingleCoil:
      return EncodeError::None;
    case fn::WriteSingleRegister:
      return Fits16(r.values.front()) ? EncodeError::None : EncodeError::ValueOutOfRange;
    case fn::WriteMultipleCoils:
      return r.values.size() <= static_cast<std::size_t>(MaxRtuCoilWrite) ? EncodeError::None
                                                                          : EncodeError::CountOutOfRange;
    case fn::WriteMultipleRegisters:
      if (r.values.size() > static_cast<std::size_t>(MaxRtuRegisterWrite)) return EncodeError::CountOutOfRange;
      for (std::int32_t v : r.values) {
        if (!Fits16(v)) return EncodeError::ValueOutOfRange;
      }
      return EncodeError::None;
    default:
      return EncodeError::NotARequest;
  }
}

bool IsSendable(const Request& r) {
  if (IsRead(r.function)) return true;
  if (IsSingleWrite(r.function)) return r.values.size() == 1;
  if (IsMultipleWrite(r.function)) return !r.values.empty();
  return false;
}

Bytes RequestData(const Request& r) {
  Bytes data;
  data.reserve(5 + 2 * r.values.size());
  Put16(data, Low16(r.offset));
  if (IsRead(r.function)) {
    Put16(data, Low16(r.count));
  } else if (r.function == fn::WriteSingleCoil) {
    Put16(data, CoilWord(r.values.front()));
  } else if (r.function == fn::WriteSingleRegister) {
    Put16(data, Low16(r.values.front()));
  } else if (r.function == fn::WriteMultipleCoils) {
    std::size_t n = r.values.size();
    Put16(data, Low16(static_cast<std::int64_t>(n)));
    data.push_back(Low8(static_cast<std::int64_t>((n + 7) / 8)));
    std::size_t first = data.size();
    data.resize(first + (n + 7) / 8, 0);
    for (std::size_t k = 0; k < n; ++k) {
      if (r.values[k] != 0) data[first + k / 8] |= static_cast<std::uint8_t>(1u << (k % 8));
    }
  } else {  // WriteMultipleRegisters
    std::size_t n = r.values.size();
    Put16(data, Low16(static_cast<std::int64_t>(n)));
    data.push_back(Low8(static_cast<std::int64_t>(2 * n)));
    for (std::int32_t v : r.values) Put16(data, Low16(v));
  }
  return data;
}

}  // namespace

Request ReadRequest(std::int32_t unit, std::uint8_t function, std::int32_t offset, std::int32_t count,
                    std::uint8_t bytesPerValue) {
  return Request{unit, function, offset, count, {}, bytesPerValue};
}

Request SingleWriteRequest(std::int32_t unit, std::uint8_t function, std::int32_t offset, std::int32_t value) {
  return Request{unit, function, offset, 1, {value}, 2};
}

Request MultipleWriteRequest(std::int32_t unit, std::uint8_t function, std::int32_t offset,
                             std::vector<std::int32_t> values) {
  auto n = static_cast<std::int32_t>(values.size());
  return Request{unit, function, offset, n, std::move(values), 2};
}

const char* EncodeErrorText(EncodeError error) {
  switch (error) {
    case EncodeError::None: return "no error";
    case EncodeError::NotARequest: return "not a request this master sends";
    case EncodeError::UnitOutOfRange: return "unit does not fit one byte";
    case EncodeError::OffsetOutOfRange: return "offset does not fit two bytes";
    case EncodeError::CountOutOfRange: return "count does not fit its field";
    case EncodeError::ValueOutOfRange: return "value does not fit two bytes";
  }
  return "unknown encode error";
}

EncodedRequest EncodeRequest(const Request& request, Framing framing) {
  EncodedRequest out;
  if (!IsSendable(request)) {
    out.error = EncodeError::NotARequest;
    return out;
  }
  if (framing == Framing::Rtu) {
    out.error = CheckRtuFields(request);
    if (out.error != EncodeError::None) return out;
  }
  out.adu = Adu{Low8(request.unit), request.function, RequestData(request)};
  out.frame = BuildFrame(out.adu, framing);
  return out;
}

std::size_t ExpectedMessageLength(const Request& request) {
  std::size_t n = Low16(request.count);
  if (IsBitRead(request.function)) return 3 + (n + 7) / 8;
  if (IsRegisterRead(request.function)) return 3 + std::size_t{request.bytesPerValue} * n;
  if (IsSingleWrite(request.function) || IsMultipleWrite(request.function)) return 6;
  return 0;
}

std::size_t ExpectedLength(const Request& request, Framing framing) {
  std::size_t message = ExpectedMessageLength(request);
  return message == 0 ? 0 : FrameLength(message, framing);
}

std::size_t ReplyFrameLength(const Request& request, ByteView received, Framing framing) {
  // Unit, function and byte count decide the length: only they are decoded.
  constexpr std::size_t kHeaderBytes = 3;
  std::size_t headerUnits = framing == Framing::Ascii ? 1 + 2 * kHeaderBytes : kHeaderBytes;
  ByteView known = received.first(std::min(received.size(), headerUnits));
  // RTU units are the message bytes themselves; ASCII characters are decoded first.
  Bytes decoded;
  if (framing == Framing::Ascii) {
    decoded = KnownMessageBytes(known, framing);
    known = decoded;
  }
  std::size_t expected = ExpectedMessageLength(request);
  std::size_t message = ExceptionMessageLength;
  if (known.size() >= 2) {
    std::uint8_t function = known[1];
    if (function == (request.function | fn::ExceptionFlag)) {
      message = ExceptionMessageLength;
    } else if (function == request.function && IsRead(function)) {
      message = known.size() >= 3 ? 3 + std::size_t{known[2]} : ExceptionMessageLength;
    } else if (expected >= ExceptionMessageLength) {
      message = expected;
    }
  }
  return FrameLength(message, framing);
}

std::size_t ReplyUnitsStillNeeded(const Request& request, ByteView received, Framing framing) {
  return UnitsStillNeeded(ReplyFrameLength(request, received, framing), received, framing);
}

const char* ReplyErrorText(ReplyError error) {
  switch (error) {
    case ReplyError::None: return "no error";
    case ReplyError::WrongUnit: return "reply from another unit";
    case ReplyError::WrongFunction: return "reply of another function";
    case ReplyError::Exception: return "exception reply";
    case ReplyError::BadLength: return "reply length does not suit its function";
    case ReplyError::ByteCountMismatch: return "byte count disagrees with the reply length";
    case ReplyError::CountMismatch: return "byte count disagrees with the points asked";
    case ReplyError::EchoMismatch: return "the echo names another offset, value or count than the write sent";
  }
  return "unknown reply error";
}

ReplyError CheckReply(const Request& request, const Adu& reply) {
  if (reply.unit != Low8(request.unit)) return ReplyError::WrongUnit;
  if (reply.function == (request.function | fn::ExceptionFlag)) {
    return reply.data.size() == 1 ? ReplyError::Exception : ReplyError::BadLength;
  }
  if (reply.function != request.function) return ReplyError::WrongFunction;
  if (IsRead(request.function)) {
    if (reply.data.empty()) return ReplyError::BadLength;
    std::size_t byteCount = reply.data[0];
    if (reply.data.size() - 1 != byteCount) return ReplyError::ByteCountMismatch;
    if (3 + byteCount != ExpectedMessageLength(request)) return ReplyError::CountMismatch;
    return ReplyError::None;
  }
  if (IsSingleWrite(request.function) || IsMultipleWrite(request.function)) {
    if (reply.data.size() != 4) return ReplyError::BadLength;
    // The slave acknowledges what it carried out: another echo is no acknowledgement of this.
    return EchoMatches(request, reply) ? ReplyError::None : ReplyError::EchoMismatch;
  }
  return ReplyError::WrongFunction;
}

bool EchoMatches(const Request& request, const Adu& reply) {
  if (reply.function != request.function || reply.data.size() != 4 || request.values.empty()) return false;
  std::uint16_t second = 0;
  switch (request.function) {
    case fn::WriteSingleCoil: second = CoilWord(request.values.front()); break;
    case fn::WriteSingleRegister: second = Low16(request.values.front()); break;
    case fn::WriteMultipleCoils:
    case fn::WriteMultipleRegisters: second = Low16(static_cast<std::int64_t>(request.values.size())); break;
    default: return false;
  }
  return Word(reply.data, 0) == Low16(request.offset) && Word(reply.data, 2) == second;
}

}  // namespace plc::modbus
