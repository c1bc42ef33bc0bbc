#pragma once
// The Modbus master engine of one RtuLink: it turns reads and writes of the host and of the
// scan into requests on the serial child, collects and checks the replies from the child's
// notifications, decodes them into DataBuffer and reports them through CommCompleteEx. One
// transaction is on the line at a time (MasterTransaction); none is ever retransmitted.
//
// The engine owns the serial event dispatch (OnComm), RS485 driver switching, raw
// pass-through and the reply watchdog. It owns no timers: the control's Timer1 tick calls
// ReplyWatchdog. It implements ScanLine, so the shared scan engine reaches it.
//
// Every wait lets events run (EventLoop::WaitUntil, never a sleep) and is measured by the wall
// clock's whole seconds. Nothing here throws for a communication problem: requests that
// cannot be framed or written are refused (false / 0) and leave the line free.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/Enums.h"
#include "base/ResultCodes.h"
#include "frame/AddressString.h"
#include "frame/ScanEngine.h"
#include "base/Variant.h"
#include "modbus/MasterReply.h"
#include "modbus/MasterTransaction.h"
#include "platform/EventLoop.h"
#include "platform/Lifetime.h"
#include "platform/SerialPort.h"

namespace plc::modbus {

// The events the engine raises through its owner. Arguments are by reference, as the host's
// handlers receive them.
struct MasterEvents {
  // MData (DataBuffer, or a fresh 0..10 array from the watchdog), MAdd, quan, ErrorStr, RespStatus.
  std::function<void(std::vector<Variant>& args)> CommCompleteEx;
  // Asked before CommCompleteEx's arguments are built (they copy DataBuffer); unset: always.
  std::function<bool()> CommCompleteExHeard;
  // CommEvent, MData (the engine's one array; element 0: the received text, or empty),
  // Connected.
  std::function<void(std::vector<Variant>& args)> CommEventModem;
  // A receive notification in a slave mode.
  std::function<void()> HandleSlaveRequest;
  // A scan read's reply was decoded: its quantity values are in DataBuffer from index 1.
  std::function<void(std::int32_t quantity)> ScanReadDone;
  // A followed non-waiting read of the host's will not complete (no CommCompleteEx follows):
  // why.
  std::function<void(const std::string& why)> ReadFailed;
};

// The master's time limits, wall-clock seconds.
constexpr std::int64_t kReplySeconds = 2;
// A request still pending this long when the next one is prepared is abandoned.
constexpr std::int64_t kStalePendingSeconds = 3;
// 32-bit values (one request each) a waiting write takes at most; other writes are one
// request, bounded by what it carries.
constexpr std::size_t kMaxWriteValues = 200;
// DataBuffer bounds.
constexpr std::int32_t kDataBufferLast = 500;
// After a request that got no reply, the line must have been silent this long (or for
// kSettleCharacters character times at the line speed, when longer) before the next request
// goes out; the silence is counted from no earlier than kReplySeconds after the unanswered
// request went out. Modbus RTU has no transaction number: a late reply that arrived after the
// next request had gone out would be taken as that request's reply.
constexpr std::int64_t kSettleFloorMicros = 1'000'000;
constexpr std::int64_t kSettleCharacters = 50;
// ResponseStatus after an RTU reply failed its CRC.
constexpr std::int16_t kCrcFailedStatus = 245;

inline constexpr const char* kCrcErrorText = "CRC error";
inline constexpr const char* kReadErrorText = "Read error";

class ModbusMaster final : public ScanLine {
 public:
  // Installs itself as the port's OnComm handler.
  explicit ModbusMaster(SerialPort& port, EventLoop& loop = EventLoop::Current());
  ~ModbusMaster() override;
  ModbusMaster(const ModbusMaster&) = delete;
  ModbusMaster& operator=(const ModbusMaster&) = delete;

  MasterEvents Events;
  // How a scan group's address is read: as the host's calls read it (a reference, a tag name,
  // "unit;reference"), at the group's unit where it names none; nullopt, with the cause noted,
  // when it does not resolve. Unset: the address is the reference number itself.
  std::function<std::optional<AddressFields>(const Variant& address, std::int16_t unit)> ResolveScanAddress;

  // The control's settings, forwarded on every set.
  void SetModBusMode(std::int16_t mode);
  std::int16_t ModBusMode() const { return modBusMode_; }
  void SetRS485Mode(std::int16_t mode) { rs485Mode_ = mode; }
  void SetPLCType(std::int32_t type) { plcType_ = type; }
  std::int32_t PLCType() const { return plcType_; }
  void SetUnitAddress(std::int16_t unit) { unitAddress_ = unit; }

  MasterTransaction& Transaction() { return tx_; }
  const MasterTransaction& Transaction() const { return tx_; }
  // Values of the latest good read reply from index 1 (indices 0..500).
  VariantArray& DataBuffer() { return dataBuffer_; }
  const VariantArray& DataBuffer() const { return dataBuffer_; }
  const std::string& LastErrorText() const { return lastErrorText_; }
  // Value i (from 1) of the latest good read reply: DataBuffer's, then the points of a bit
  // read past it.
  Variant DecodedValue(std::int32_t i) const;
  // Whether a CommCompleteEx would reach anyone.
  bool CommCompleteExHeard() const {
    return Events.CommCompleteEx && (!Events.CommCompleteExHeard || Events.CommCompleteExHeard());
  }
  // CommCompleteEx with DataBuffer as MData, when anyone hears it; what the handler writes to
  // MData stays in DataBuffer. RespStatus is the transaction's. When another reply was decoded
  // while the handler ran, DataBuffer keeps that one and MData as the handler left it is
  // returned.
  std::optional<VariantArray> RaiseDataBufferEvent(std::int32_t mAdd, std::int16_t quan, std::string errorText);

  // Why the last request or waiting call failed, for the control's failure cause. Each
  // failing path notes it; the call road clears it when a call starts.
  const std::string& Cause() const { return cause_; }
  void NoteCause(std::string cause) { cause_ = std::move(cause); }
  void ClearCause() { cause_.clear(); }

  // A host's non-waiting read (ReadPLCNW, ReadDevice) has no event for its failure: the one
  // sent last is followed until it completes, and once it cannot (a reply refused or broken,
  // the watchdog, CommBusy = False, another request took the line) ReadFailed says why. A later
  // call of the host has its own outcome and stops following it.
  void Unfollow() { followed_ = 0; }

  // CommBusy: read, and assign (False frees the line; True changes nothing).
  bool CommBusy() const override { return tx_.IsBusy(); }
  void SetCommBusy(bool busy);

  // Requests. True when the request went out. unit is taken without its sign.
  bool SendReadRequest(std::int16_t unit, std::int32_t address, std::int32_t count,
                       ReadOrigin origin = ReadOrigin::Host);
  bool SendSingleWrite(std::int16_t unit, std::int32_t address, std::int32_t value);
  // count: registers (or coils) to send; for EnType2 kinds 5 and 7 each value gives two.
  bool SendMultipleWrite(std::int16_t unit, std::int32_t address, std::span<const double> values, std::int32_t count);
  // Hands a frame to the port with RS485 line control. The port's errors pass to the caller,
  // with the line dropped again.
  void TransmitFrame(const Bytes& frame);

  // Waiting read (ReadPLC): -1 with the values copied into ReadValue from element 1, or 0.
  Result WaitingRead(std::int16_t unit, std::int32_t address, std::int32_t count, VariantArray& ReadValue,
                     std::int32_t ioType);
  // Waiting write (WritePLC): -1 when every request was acknowledged, else 0.
  Result WaitingWrite(std::int16_t unit, std::int32_t address, std::span<const double> values);

  // Timer1 tick.
  void ReplyWatchdog();
  // The serial child's OnComm notification.
  void OnComm();
  // SendToComm: raw mode on, every received character reported through CommEventModem.
  void SendToComm(const std::string& line1);

  // ScanLine.
  bool LineOpen() const override { return port_.PortOpen(); }
  bool WriteActive() const override { return tx_.WriteActive; }
  void ForceFree() override { SetCommBusy(false); }
  void CountError() override { tx_.CountError(); }
  std::int16_t UnitAddress() const override { return unitAddress_; }
  bool SendScanRead(std::int16_t unit, const Variant& address, std::int16_t count) override;
  std::uint32_t RequestsBegun() const override { return tx_.RequestSerial; }
  // Why the latest scan read failed: why it was not sent, what its reply failed (a check, an
  // exception), or that no reply came.
  std::string LastFailure() const override;

 private:
  // Why the latest request failed: its cause, or the classic error text where it has none.
  std::string FailureText() const { return cause_.empty() ? lastErrorText_ : cause_; }
  // The scan read in flight had a reply that failed: its reason kept for the scan.
  void NoteScanFailure();
  Framing CurrentFraming() const;
  // The RS485 line raised for the frame leaving the port (OFF: none); it is the one dropped, even
  // when RS485Mode changed while the frame left.
  bool LineControlled() const { return keyedLine_ != rtu::OFF; }
  void DropLine();
  // Discards what was received and makes every received chunk raise a notification.
  void PrepareReceive();
  // PrepareReceive, or false with the port's failure as the cause. Waits for the line to
  // settle first when the last request went unanswered; a scan read (wait false) is not sent
  // until it has, so that a scan tick never holds the loop for it.
  bool ReadyToReceive(bool wait = true);
  // The silence asked for after an unanswered request, in microseconds.
  std::int64_t SettleMicros() const;
  // Lets events run, dropping what arrives, until the line has been silent for SettleMicros
  // after an unanswered request; false with the cause noted when bytes kept coming, or at
  // once when it has not and wait is false.
  bool AwaitSettledLine(bool wait);
  bool Transmit(const Bytes& frame);
  Result AwaitWrite();
  // The write request that just ended (acknowledged, or its reply failed) ends the wait of the
  // AwaitWrite that sent it, with its own outcome: a write sent from inside that wait (a queued
  // write, a handler's) begins only after it and must not lend it its own.
  void WriteEnded(bool failed);
  // Why values cannot be written to address as given; nullopt when they can.
  std::optional<std::string> UnfitWrite(std::int32_t address, std::span<const double> values) const;

  void HandleMasterReply();
  void HandleRawData();
  void HandleCarrierChange();
  void RaiseModemEvent(std::int16_t commEvent, bool connected);
  void CompleteRead(const Adu& reply);
  // Value i of a reply held in buffer, with the points of a bit read past it.
  static Variant DecodedValueOf(const VariantArray& buffer, const std::vector<std::uint8_t>& pointsPast,
                                std::int32_t i);
  // Before DataBuffer takes another reply: the waiting reads whose reply it holds keep theirs.
  void KeepAwaitedValues();
  // Makes a variant of each decoded value into DataBuffer(1...), as many as it holds; returns
  // how many values were decoded.
  template <typename T, typename MakeVariant>
  std::int32_t StoreDecoded(const std::vector<T>& decoded, MakeVariant make);
  void FailChecksum();
  void FailReply(std::string errorText, std::string cause);
  // False with the cause noted when the mapped request cannot go out as asked.
  bool Refused(std::string cause);
  // Tells ReadFailed why the followed read ended, when the request in flight is that read.
  void TellFailedRead(const std::string& why);
  // A new request takes the line: a followed read still out was given up without its reply.
  void EndFollowedRead();
  // Why a read still out when it is freed did not complete.
  std::string FreedReadCause(const char* by) const;
  // Ends the transaction out before its reply; by says what ended it.
  void GiveUpTransaction(const char* by);
  // The unit of the request in flight, as its causes name it.
  std::int32_t AwaitedUnit() const { return reply_.Awaited().unit; }

  SerialPort& port_;
  EventLoop& loop_;
  MasterTransaction tx_;
  MasterReplyCollector reply_;
  // The chunk a receive notification took from the port; kept, so that taking one allocates
  // nothing.
  Bytes received_;
  std::int32_t requestPlcType_ = rtu::EnStdModbus;
  VariantArray dataBuffer_{0, kDataBufferLast};
  // The points of the latest good bit reply beyond DataBuffer's last index (a read of up to
  // 2000 bits): a waiting read hands them over after DataBuffer's.
  std::vector<std::uint8_t> pointsPastBuffer_;
  // The array CommEventModem carries: element 0 the received text, or empty.
  VariantArray modemData_{0, 0};
  std::string lastErrorText_;
  std::string cause_;
  std::int16_t modBusMode_ = rtu::Rtu;
  std::int16_t rs485Mode_ = rtu::OFF;
  std::int16_t keyedLine_ = rtu::OFF;
  std::int32_t plcType_ = rtu::EnStdModbus;
  std::int16_t unitAddress_ = 1;
  bool scanNotSent_ = false;  // the latest scan read was refused before it went out
  std::int16_t scanUnit_ = 0;
  // The request the latest scan read began, and why its reply failed (empty: no reply came):
  // kept apart, as a host's request may end before the scan hears of its own read's end.
  std::uint32_t scanSerial_ = 0;
  std::string scanFailure_;
  // The request of the followed non-waiting read (0: none), and its unit.
  std::uint32_t followed_ = 0;
  std::int32_t followedUnit_ = 0;
  // The writes awaiting their replies, innermost first (a write sent from inside another's wait
  // nests).
  struct WriteWaiter {
    std::uint32_t serial = 0;
    bool ended = false;
    bool failed = false;
    std::string cause;
    WriteWaiter* outer = nullptr;
  };
  WriteWaiter* writeWaiters_ = nullptr;
  // The waiting reads awaiting their replies, innermost first: one started inside another's
  // wait (a host timer's ReadPLC once the watchdog gave the outer one's request up) nests.
  // A read whose reply was decoded keeps its values aside once another reply is decoded before
  // the call hands them over (a read its handler, or a host timer, started and waited for).
  struct ReadWaiter {
    std::uint32_t serial = 0;
    bool done = false;  // its reply was decoded into DataBuffer
    ReadWaiter* outer = nullptr;
    bool kept = false;
    VariantArray buffer;
    std::vector<std::uint8_t> points;
  };
  ReadWaiter* readWaiters_ = nullptr;
  // Counts the replies decoded into DataBuffer.
  std::uint32_t decodes_ = 0;
  // An event's handler may unload the control, and this engine with it.
  Lifetime life_;
  // The latest request went out and no complete reply to it has come: whatever arrives later
  // may be its late reply.
  bool unanswered_ = false;
  bool settling_ = false;             // inside AwaitSettledLine (events run there)
  std::int64_t lastSentMicros_ = 0;   // monotonic time the latest request went out
  std::int64_t lastInputMicros_ = 0;  // monotonic time bytes last arrived
};

}  // namespace plc::modbus
