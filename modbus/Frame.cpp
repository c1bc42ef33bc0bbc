#include "modbus/Frame.h"

#include "modbus/AsciiFrame.h"
#include "modbus/RtuFrame.h"

namespace plc::modbus {

Bytes BuildFrame(const Adu& adu, Framing framing) {
  return framing == Framing::Ascii ? BuildAsciiFrame(adu) : BuildRtuFrame(adu);
}

ParsedFrame ParseFrame(ByteView frame, Framing framing) {
  return framing == Framing::Ascii ? ParseAsciiFrame(frame) : ParseRtuFrame(frame);
}

std::size_t FrameLength(std::size_t messageLength, Framing framing) {
  std::size_t rtu = messageLength + RtuOverhead;
  return framing == Framing::Ascii ? AsciiLengthOf(rtu) : rtu;
}

Bytes KnownMessageBytes(ByteView received, Framing framing) {
  if (framing == Framing::Ascii) return AsciiKnownBytes(received);
  return Bytes(received.begin(), received.end());
}

std::size_t FrameEnd(std::size_t frameLength, ByteView received, Framing framing) {
  if (framing == Framing::Ascii) {
    if (auto end = AsciiLineEnd(received); end && *end < frameLength) return *end;
  }
  return frameLength;
}

std::size_t UnitsStillNeeded(std::size_t frameLength, ByteView received, Framing framing) {
  frameLength = FrameEnd(frameLength, received, framing);
  return received.size() >= frameLength ? 0 : frameLength - received.size();
}

}  // namespace plc::modbus
