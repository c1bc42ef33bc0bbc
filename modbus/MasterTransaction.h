#pragma once
// The transaction state of one RtuLink master: one request on the line at a time, tracked by
// the interface's flags, with the operations that move them.
//
// A read runs   idle -> ReadPending -> idle
//   (reply handled, reply failed, watchdog time-out, or CommBusy assigned False).
// A host write  idle -> WriteActive -> WriteActive + WritePending -> WriteActive -> idle.
// HostReadActive brackets a waiting ReadPLC; ScanReadInFlight marks a request sent by the
// scan-read timer, whose reply raises no event. Phase() names the state the flags describe.
//
// Times are wall-clock whole seconds, as the time-outs of this protocol are measured.
#include <cstdint>
#include <utility>

namespace plc::modbus {

// ErrorCount wraps to 0 above this.
constexpr std::int16_t kErrorCountWrap = 999;
// The ioType whose register pairs are combined (integer part, ten-thousandths).
constexpr std::int16_t kIoFloat = 2;
// Watchdog reports "Read error" once ErrorCount exceeds this.
constexpr std::int16_t kErrorReportThreshold = 4;

enum class LinePhase {
  Idle,            // nothing on the line
  HostWriteIdle,   // a host write holds the line, no request out yet (or between requests)
  AwaitingReply,   // a read request is out
  AwaitingAck,     // a write request is out
};

// What the request in flight was sent for.
enum class ReadOrigin {
  Host,     // ReadPLCNW, ReadDevice: the reply raises CommCompleteEx
  Waiting,  // ReadPLC: the call copies the values; the reply raises CommCompleteEx too
  Scan,     // the scan-read timer: no event
};

// Where the request in flight points, as the reference map gave it.
struct RequestTarget {
  std::int16_t function = 0;
  std::int32_t offset = 0;
  std::int16_t referenceKind = 0;
  std::int16_t type2Kind = 0;
  // Reference address of the first value of the reply.
  std::int32_t startReference = 0;
};

struct MasterTransaction {
  bool ReadPending = false;
  bool WritePending = false;
  bool WriteActive = false;
  bool HostReadActive = false;
  bool ScanReadInFlight = false;
  bool ReplyFailed = false;
  std::int64_t SendTime = 0;
  std::int16_t ErrorCount = 0;
  std::int16_t RequestFunction = 0;
  std::int32_t RequestOffset = 0;
  std::int16_t RequestCount = 0;
  std::int16_t ReferenceKind = 0;
  std::int16_t Type2Kind = 0;
  std::int16_t ExpectedLength = 0;
  std::int16_t DeviceIoType = 0;
  std::int16_t ResponseStatus = 0;
  std::int16_t LastUnit = 0;
  std::int32_t LastAddress = 0;
  bool RawMode = false;

  // Beyond the interface's flags: what the reply of the request in flight is decoded against.
  std::int32_t StartReference = 0;
  // The ioType the reply handler applies: DeviceIoType (sticky until the next ReadDevice) for a
  // host's register read, except ioFloat for a waiting read, which combines its pairs as it
  // copies; none for a scan read or a read of points.
  std::int16_t ReplyIoType = 0;
  // The ioType of the waiting read being sent: its ioFloat pairs are unsigned registers, so its
  // reply is left as read whatever DeviceIoType says.
  std::int16_t WaitingIoType = 0;
  // Counts the requests begun, so that the end of a reply can tell whether its event handler
  // started another one.
  std::uint32_t RequestSerial = 0;
  // What ended a pending read before its reply came, and which request that was (the waiting
  // read whose request it was names it).
  const char* ReadGivenUpBy = nullptr;
  std::uint32_t ReadGivenUpSerial = 0;

  // CommBusy read.
  bool IsBusy() const { return ReadPending || WritePending || WriteActive; }
  LinePhase Phase() const;

  // The read in flight, if any, is given up before its reply: by says what ended it.
  void NoteReadGivenUp(const char* by) {
    if (!ReadPending) return;
    ReadGivenUpBy = by;
    ReadGivenUpSerial = RequestSerial;
  }
  // CommBusy := False: the escape from a stuck transaction; by says what freed it.
  void ForceFree(const char* by = "CommBusy set to False");
  // One failed transaction more (time-out, abandoned or refused reply).
  void CountError();

  // A read request is handed to the port.
  void BeginRead(const RequestTarget& target, std::int32_t count, std::int16_t expectedLength, ReadOrigin origin,
                 std::int64_t now);
  // ... and the port took it.
  void ReadSent(std::int16_t unit, std::int32_t address);
  // A write request is handed to the port.
  void BeginWrite(std::int16_t function, std::int32_t offset, std::int16_t expectedLength, std::int64_t now);
  // The port refused the frame just begun: the line is as free as before.
  void AbandonRequest();

  // A good reply was handled (read values decoded, or a write acknowledged).
  void EndRead();
  void EndWrite();
  // The reply failed (checksum, exception, a reply that does not answer the request): the
  // waiting call sees ReplyFailed and returns 0.
  void FailReply();

  // The watchdog's step: a request out for 2 seconds is abandoned and counted. True when it was.
  bool TimeOutIfStale(std::int64_t now, std::int64_t limitSeconds);

  void BeginHostRead() { HostReadActive = true; }
  void EndHostRead() { HostReadActive = false; }
  // A host write may begin inside another's wait (a host timer's WritePLC): the outer one still
  // holds the line when the inner one ends. Begin returns what End is to restore.
  bool BeginHostWrite() { return std::exchange(WriteActive, true); }
  void EndHostWrite(bool outerHolds) { WriteActive = outerHolds; }
  // A waiting write gave up: nothing of the transaction is left.
  void AbandonAll();
};

}  // namespace plc::modbus
