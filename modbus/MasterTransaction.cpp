#include "modbus/MasterTransaction.h"

#include "modbus/Pdu.h"

namespace plc::modbus {

LinePhase MasterTransaction::Phase() const {
  if (WritePending) return LinePhase::AwaitingAck;
  if (ReadPending) return LinePhase::AwaitingReply;
  if (WriteActive) return LinePhase::HostWriteIdle;
  return LinePhase::Idle;
}

void MasterTransaction::ForceFree(const char* by) {
  NoteReadGivenUp(by);
  ReadPending = false;
  WritePending = false;
  WriteActive = false;
}

void MasterTransaction::CountError() {
  ErrorCount = ErrorCount >= kErrorCountWrap ? 0 : static_cast<std::int16_t>(ErrorCount + 1);
}

void MasterTransaction::BeginRead(const RequestTarget& target, std::int32_t count, std::int16_t expectedLength,
                                  ReadOrigin origin, std::int64_t now) {
  RequestFunction = target.function;
  RequestOffset = target.offset;
  ReferenceKind = target.referenceKind;
  Type2Kind = target.type2Kind;
  StartReference = target.startReference;
  const bool points = IsBitRead(static_cast<std::uint8_t>(target.function));
  // Every bit read records its count, so the event of any bit reply carries the points asked.
  if (points) RequestCount = static_cast<std::int16_t>(count);
  ExpectedLength = expectedLength;
  // The flag follows the request in flight: a host request after a lost scan reply raises its
  // event (its values would otherwise reach nobody).
  ScanReadInFlight = origin == ReadOrigin::Scan;
  // DeviceIoType applies to every register reply of the host's; a waiting read combines ioFloat
  // pairs itself as it copies, so they are not combined twice, and takes their registers
  // unsigned (a signed fraction word would give a wrong value). A scan read hands its group the
  // registers as read: its values are counted and placed as the group's. Points are 0 or 1:
  // paired as fixed-point values they would come out as 1.0001 and half of them would be lost.
  const bool waitingPairs = origin == ReadOrigin::Waiting && (DeviceIoType == kIoFloat || WaitingIoType == kIoFloat);
  // 32-bit values (EnType2 kinds 5 and 7) are no register words: made signed 16-bit words,
  // 100000 would come out as -31072 and a float 70000.5 as 4464; paired as fixed-point values,
  // each would take the next reference's value as its fraction.
  const bool longs = target.type2Kind == 5 || target.type2Kind == 7;
  ReplyIoType = points || origin == ReadOrigin::Scan || waitingPairs || longs ? 0 : DeviceIoType;
  ++RequestSerial;
  ReplyFailed = false;
  ReadPending = true;
  SendTime = now;
}

void MasterTransaction::ReadSent(std::int16_t unit, std::int32_t address) {
  LastUnit = unit;
  LastAddress = address;
}

void MasterTransaction::BeginWrite(std::int16_t function, std::int32_t offset, std::int16_t expectedLength,
                                   std::int64_t now) {
  RequestFunction = function;
  RequestOffset = offset;
  ExpectedLength = expectedLength;
  ScanReadInFlight = false;
  ReplyFailed = false;
  WritePending = true;
  SendTime = now;
  ++RequestSerial;
}

void MasterTransaction::AbandonRequest() {
  ReadPending = false;
  WritePending = false;
  ScanReadInFlight = false;
}

void MasterTransaction::EndRead() {
  ScanReadInFlight = false;
  ReadPending = false;
}

void MasterTransaction::EndWrite() { WritePending = false; }

void MasterTransaction::FailReply() {
  ReplyFailed = true;
  ReadPending = false;
  WritePending = false;
}

bool MasterTransaction::TimeOutIfStale(std::int64_t now, std::int64_t limitSeconds) {
  if (!(ReadPending || WritePending) || now - SendTime < limitSeconds) return false;
  CountError();
  NoteReadGivenUp("the watchdog");
  ReadPending = false;
  WritePending = false;
  HostReadActive = false;
  SendTime = now;
  return true;
}

void MasterTransaction::AbandonAll() {
  ReadPending = false;
  WritePending = false;
  HostReadActive = false;
  WriteActive = false;
}

}  // namespace plc::modbus
