#include "modbus/SlaveRequests.h"

#include "modbus/Frame.h"

namespace plc::modbus {
namespace {

constexpr std::size_t FixedRequestMessage = 6;      // unit, function, two 16-bit fields
constexpr std::size_t MultipleWriteHeader = 7;      // ... and the byte count

std::uint16_t Word(const Bytes& data, std::size_t at) {
  return static_cast<std::uint16_t>((data[at] << 8) | data[at + 1]);
}

void Put16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

std::size_t RequestMessageLength(const Bytes& known) {
  if (known.size() < 2 || !IsMultipleWrite(known[1])) return FixedRequestMessage;
  if (known.size() < MultipleWriteHeader) return MultipleWriteHeader;
  return MultipleWriteHeader + known[MultipleWriteHeader - 1];
}

}  // namespace

std::size_t RequestFrameLength(ByteView received, Framing framing) {
  return FrameLength(RequestMessageLength(KnownMessageBytes(received, framing)), framing);
}

std::size_t RequestUnitsStillNeeded(ByteView received, Framing framing) {
  return UnitsStillNeeded(RequestFrameLength(received, framing), received, framing);
}

const char* RequestErrorText(RequestError error) {
  switch (error) {
    case RequestError::None: return "no error";
    case RequestError::UnknownFunction: return "function not served";
    case RequestError::BadLength: return "request length does not suit its function";
    case RequestError::ByteCountMismatch: return "byte count disagrees with the request";
  }
  return "unknown request error";
}

std::uint8_t ExceptionCodeFor(RequestError error) {
  switch (error) {
    case RequestError::None: return 0;
    case RequestError::UnknownFunction: return ex::IllegalFunction;
    case RequestError::BadLength:
    case RequestError::ByteCountMismatch: return ex::IllegalDataValue;
  }
  return ex::IllegalDataValue;
}

ParsedRequest ParseRequest(const Adu& adu) {
  ParsedRequest out;
  SlaveRequest& r = out.request;
  r.unit = adu.unit;
  r.function = adu.function;
  const Bytes& d = adu.data;
  bool fixed = IsRead(adu.function) || IsSingleWrite(adu.function);
  if (!fixed && !IsMultipleWrite(adu.function)) {
    out.error = RequestError::UnknownFunction;
    return out;
  }
  if (fixed ? d.size() != 4 : d.size() < 5) {
    out.error = RequestError::BadLength;
    return out;
  }
  r.offset = Word(d, 0);
  if (IsRead(adu.function)) {
    r.count = Word(d, 2);
    return out;
  }
  if (IsSingleWrite(adu.function)) {
    r.count = 1;
    r.value = Word(d, 2);
    return out;
  }
  r.count = Word(d, 2);
  std::size_t byteCount = d[4];
  std::size_t needed = adu.function == fn::WriteMultipleCoils ? (std::size_t{r.count} + 7) / 8 : 2 * std::size_t{r.count};
  if (byteCount != needed || d.size() != 5 + byteCount) {
    out.error = RequestError::ByteCountMismatch;
    return out;
  }
  r.data.assign(d.begin() + 5, d.end());
  r.values.reserve(r.count);
  for (std::size_t k = 0; k < r.count; ++k) {
    if (adu.function == fn::WriteMultipleCoils) {
      r.values.push_back(static_cast<std::uint16_t>((r.data[k / 8] >> (k % 8)) & 1));
    } else {
      r.values.push_back(Word(r.data, 2 * k));
    }
  }
  return out;
}

std::optional<Adu> ReadBitsReply(std::uint8_t unit, std::uint8_t function, std::span<const std::uint8_t> points) {
  if (points.size() > MaxReplyBits) return std::nullopt;
  std::size_t bytes = (points.size() + 7) / 8;
  Adu reply{unit, function, Bytes(1 + bytes, 0)};
  reply.data[0] = static_cast<std::uint8_t>(bytes);
  for (std::size_t k = 0; k < points.size(); ++k) {
    if (points[k] != 0) reply.data[1 + k / 8] |= static_cast<std::uint8_t>(1u << (k % 8));
  }
  return reply;
}

std::optional<Adu> ReadRegistersReply(std::uint8_t unit, std::uint8_t function,
                                      std::span<const std::uint16_t> registers) {
  if (registers.size() > MaxReplyRegisters) return std::nullopt;
  Adu reply{unit, function, {}};
  reply.data.reserve(1 + 2 * registers.size());
  reply.data.push_back(static_cast<std::uint8_t>(2 * registers.size()));
  for (std::uint16_t v : registers) Put16(reply.data, v);
  return reply;
}

Adu WriteEchoReply(std::uint8_t unit, std::uint8_t function, std::uint16_t offset, std::uint16_t valueOrCount) {
  Adu reply{unit, function, {}};
  Put16(reply.data, offset);
  Put16(reply.data, valueOrCount);
  return reply;
}

Adu WriteEchoReply(const SlaveRequest& request) {
  std::uint16_t second = IsSingleWrite(request.function) ? request.value : request.count;
  return WriteEchoReply(request.unit, request.function, request.offset, second);
}

Adu ExceptionReply(std::uint8_t unit, std::uint8_t function, std::uint8_t code) {
  return Adu{unit, static_cast<std::uint8_t>(function | fn::ExceptionFlag), {code}};
}

}  // namespace plc::modbus
