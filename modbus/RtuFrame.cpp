#include "modbus/RtuFrame.h"

#include "modbus/Crc16.h"

namespace plc::modbus {

Bytes BuildRtuFrame(const Adu& adu) {
  Bytes frame = adu.ToBytes(RtuOverhead);
  CrcBytes crc = ComputeCrc16(frame);
  frame.push_back(crc.low);
  frame.push_back(crc.high);
  return frame;
}

bool RtuCrcGood(ByteView frame) {
  if (frame.size() < RtuMinFrame) return false;
  std::size_t n = frame.size() - RtuOverhead;
  CrcBytes crc = ComputeCrc16(frame.first(n));
  return frame[n] == crc.low && frame[n + 1] == crc.high;
}

ParsedFrame ParseRtuFrame(ByteView frame) {
  ParsedFrame out;
  if (frame.size() < RtuMinFrame) {
    out.error = FrameError::TooShort;
    return out;
  }
  if (!RtuCrcGood(frame)) {
    out.error = FrameError::Checksum;
    return out;
  }
  out.adu = *Adu::FromBytes(frame.first(frame.size() - RtuOverhead));
  return out;
}

}  // namespace plc::modbus
