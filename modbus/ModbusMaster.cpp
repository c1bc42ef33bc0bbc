#include "modbus/ModbusMaster.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "base/Conversions.h"
#include "base/RuntimeError.h"
#include "frame/WallSeconds.h"
#include "modbus/ExceptionText.h"
#include "modbus/MasterCause.h"
#include "modbus/ReferenceMap.h"
#include "modbus/Replies.h"

namespace plc::modbus {

namespace {

std::int32_t Unsigned(std::int16_t unit) { return unit < 0 ? -std::int32_t{unit} : unit; }

// A unit has one byte in either framing: ASCII would carry the low byte of a larger one, so
// that 257 read unit 1 and 256 wrote to every slave as a broadcast.
bool UnitFits(std::int32_t unit) { return unit <= 0xFF; }
std::string UnitUnfitCause(std::int32_t unit) {
  Request request;
  request.unit = unit;
  return EncodeCause(EncodeError::UnitOutOfRange, request);
}

// A double as the 32-bit integer it is sent as (half to even; overflow error outside).
std::int32_t ToLong(double v) { return Variant(v).ToInt32(); }

std::int16_t Signed(const Variant& v) {
  std::int32_t out = 0;
  LongToSIgnedInt(v, out);
  return static_cast<std::int16_t>(out);
}

RequestTarget TargetOf(const ReferenceMapping& m) {
  return RequestTarget{m.function, m.offset, m.referenceKind, m.type2Kind, m.startReference};
}

bool IsSlaveMode(std::int16_t mode) { return mode == rtu::SlaveRtu || mode == rtu::SlaveAscii; }

}  // namespace

ModbusMaster::ModbusMaster(SerialPort& port, EventLoop& loop) : port_(port), loop_(loop) {
  port_.OnComm = [this] { OnComm(); };
}

ModbusMaster::~ModbusMaster() { port_.OnComm = nullptr; }

Framing ModbusMaster::CurrentFraming() const {
  return modBusMode_ == rtu::Ascii || modBusMode_ == rtu::SlaveAscii ? Framing::Ascii : Framing::Rtu;
}

void ModbusMaster::SetModBusMode(std::int16_t mode) {
  const bool toSlave = IsSlaveMode(mode) && !IsSlaveMode(modBusMode_);
  modBusMode_ = mode;
  // A slave takes what arrives as requests: the reply of a request still out would never reach
  // the master, which would report it unanswered 2 s later. It is given up now, saying why.
  if (toSlave && (tx_.ReadPending || tx_.WritePending)) GiveUpTransaction("ModBusMode set to a slave mode");
}

void ModbusMaster::SetCommBusy(bool busy) {
  if (!busy) GiveUpTransaction("CommBusy set to False");
}

void ModbusMaster::GiveUpTransaction(const char* by) {
  const bool followedOut = tx_.ReadPending && followed_ == tx_.RequestSerial;
  const std::string why = followedOut ? FreedReadCause(by) : std::string();
  tx_.ForceFree(by);
  reply_.Clear();
  if (followedOut) TellFailedRead(why);
}

std::string ModbusMaster::FreedReadCause(const char* by) const {
  if (!port_.PortOpen()) return PortClosedWhileCause(port_.CommPort(), "the read waited for its reply");
  // Freed once its time was up, it was not answered in time, whoever freed it.
  if (SecondsPassed(loop_, tx_.SendTime, kReplySeconds)) return NoReplyCause(followedUnit_, kReplySeconds, reply_.OtherUnit(), reply_.Unfinished());
  return std::string("the read was given up (") + by + ") before unit " + std::to_string(followedUnit_) + " answered";
}

void ModbusMaster::TellFailedRead(const std::string& why) {
  if (followed_ == 0 || followed_ != tx_.RequestSerial) return;
  followed_ = 0;
  if (Events.ReadFailed) Events.ReadFailed(why);
}

void ModbusMaster::EndFollowedRead() {
  if (followed_ == 0 || followed_ != tx_.RequestSerial) return;
  // Whatever cleared it (a wait for the line that ran out) gave up on its reply.
  TellFailedRead(NoReplyCause(followedUnit_, kReplySeconds, reply_.OtherUnit(), reply_.Unfinished()));
}

// ---- Requests ---------------------------------------------------------------------------

bool ModbusMaster::ReadyToReceive(bool wait) {
  if (!AwaitSettledLine(wait)) return false;
  try {
    PrepareReceive();
    return true;
  } catch (const RuntimeError& e) {
    // A device gone while open fails here first: nothing is sent.
    return Refused(port_.PortOpen() ? PortWriteCause(port_.CommPort(), e.what()) : PortClosedCause(port_.CommPort()));
  }
}

std::int64_t ModbusMaster::SettleMicros() const {
  const SerialSettings& line = port_.LineSettings();
  std::int64_t character = std::int64_t{line.BitsPerCharacter()} * 1'000'000 / std::max(line.baud, 1);
  return std::max(kSettleFloorMicros, kSettleCharacters * character);
}

bool ModbusMaster::AwaitSettledLine(bool wait) {
  if (!unanswered_) return true;
  // The request in flight may still be answered in time: its reply is taken, and its event
  // raised, before the next request replaces it; dropped, it would be lost without a trace.
  if (wait && reply_.Expecting() && (tx_.ReadPending || tx_.WritePending)) {
    WaitSeconds(
        loop_, [this] { return !unanswered_ || !reply_.Expecting() || !(tx_.ReadPending || tx_.WritePending); },
        tx_.SendTime, kReplySeconds);
    if (!unanswered_) return true;
  }
  // Nothing that arrives from now on answers anything: it is dropped as it comes.
  reply_.Clear();
  const std::int64_t settle = SettleMicros();
  auto quietFrom = [this] { return std::max(lastSentMicros_ + kReplySeconds * 1'000'000, lastInputMicros_); };
  if (settling_ || (!wait && loop_.Now() < quietFrom() + settle)) {
    const std::int64_t left = std::max<std::int64_t>(0, quietFrom() + settle - loop_.Now());
    return Refused("the line is settling after an unanswered request (" + std::to_string((left + 999) / 1000) +
                   " ms more); nothing was sent");
  }
  // A line that keeps talking is not waited for without end.
  const std::int64_t latest = quietFrom() + settle + kReplySeconds * 1'000'000;
  settling_ = true;
  bool settled = true;
  for (std::int64_t due = quietFrom() + settle; loop_.Now() < due; due = quietFrom() + settle) {
    if (due > latest) {
      settled = false;
      break;
    }
    const std::int64_t before = lastInputMicros_;
    loop_.WaitUntil([this, before] { return lastInputMicros_ != before; }, due);
  }
  settling_ = false;
  if (!settled) {
    return Refused("bytes kept arriving after a request went unanswered; the line did not fall silent for " +
                   std::to_string(settle / 1000) + " ms, so nothing was sent");
  }
  unanswered_ = false;
  return true;
}

void ModbusMaster::PrepareReceive() {
  port_.SetInBufferCount(0);
  // The collector asks the framing how much is still missing, so it sees every chunk: an
  // exception reply is shorter than the reply awaited and must not wait for the time-out.
  port_.SetRThreshold(1);
  port_.SetInputLen(0);
}

bool ModbusMaster::Refused(std::string cause) {
  cause_ = std::move(cause);
  return false;
}

bool ModbusMaster::Transmit(const Bytes& frame) {
  try {
    if (!port_.PortOpen()) throw RuntimeError(err::PortNotOpen);
    TransmitFrame(frame);
    // Until its reply is complete, whatever arrives may be this request's; no slave answers a
    // broadcast (unit 0).
    unanswered_ = reply_.Awaited().unit != 0;
    lastSentMicros_ = loop_.Now();
    return true;
  } catch (const RuntimeError& e) {
    // A closed port or a failed write (a device gone): nothing is on the line.
    tx_.AbandonRequest();
    reply_.Clear();
    return Refused(port_.PortOpen() ? PortWriteCause(port_.CommPort(), e.what()) : PortClosedCause(port_.CommPort()));
  }
}

bool ModbusMaster::SendReadRequest(std::int16_t unit, std::int32_t address, std::int32_t count, ReadOrigin origin) {
  tx_.RawMode = false;
  if (tx_.WriteActive) return Refused(HostWriteCause());
  std::int32_t u = Unsigned(unit);
  if (!UnitFits(u)) return Refused(UnitUnfitCause(u));

  if (tx_.WritePending || tx_.ReadPending) {
    std::int64_t noted = WallNow(loop_);
    if (tx_.WritePending) {
      loop_.DoEvents();
      if (SecondsPassed(loop_, noted, kStalePendingSeconds)) tx_.WritePending = false;
    }
    if (tx_.ReadPending) {
      loop_.DoEvents();
      if (SecondsPassed(loop_, noted, kStalePendingSeconds)) {
        tx_.ReadPending = false;
        tx_.CountError();
      }
    }
  }
  // Events ran: a host write may hold the line now.
  if (tx_.WriteActive) return Refused(HostWriteCause());

  auto mapping = MapReference(plcType_, address, Access::Read);
  if (!mapping) return Refused(UnmappedCause(plcType_, address, Access::Read));
  if (auto tooMany = ReadCountCause(*mapping, count)) return Refused(*tooMany);
  Request request = ReadRequest(u, mapping->function, mapping->offset, count, mapping->bytesPerValue);
  Framing framing = CurrentFraming();
  EncodedRequest encoded = EncodeRequest(request, framing);
  std::size_t expected = ExpectedLength(request, framing);
  if (!encoded) return Refused(EncodeCause(encoded.error, request));
  if (expected == 0 || expected > 32767) return Refused(EncodeCause(EncodeError::CountOutOfRange, request));

  if (!ReadyToReceive(origin != ReadOrigin::Scan)) return false;
  EndFollowedRead();
  reply_.Expect(request, framing);
  requestPlcType_ = plcType_;
  tx_.BeginRead(TargetOf(*mapping), count, static_cast<std::int16_t>(expected), origin, WallNow(loop_));
  // Followed from before it goes out: its reply may be handled as the port takes it.
  followed_ = origin == ReadOrigin::Host ? tx_.RequestSerial : 0;
  followedUnit_ = u;
  if (!Transmit(encoded.frame)) {
    followed_ = 0;  // the call fails with its own cause
    return false;
  }
  tx_.ReadSent(static_cast<std::int16_t>(u), address);
  return true;
}

bool ModbusMaster::SendSingleWrite(std::int16_t unit, std::int32_t address, std::int32_t value) {
  tx_.RawMode = false;
  std::int32_t u = Unsigned(unit);
  if (!UnitFits(u)) return Refused(UnitUnfitCause(u));
  if (tx_.ReadPending && !WaitSeconds(loop_, [this] { return !tx_.ReadPending; }, WallNow(loop_), kReplySeconds)) {
    tx_.ReadPending = false;
  }
  auto mapping = MapReference(plcType_, address, Access::SingleWrite);
  if (!mapping) return Refused(UnmappedCause(plcType_, address, Access::SingleWrite));
  if (auto unfit = WriteValueCause(*mapping, value)) return Refused(*unfit);
  Request request = SingleWriteRequest(u, mapping->function, mapping->offset, value);
  Framing framing = CurrentFraming();
  EncodedRequest encoded = EncodeRequest(request, framing);
  if (!encoded) return Refused(EncodeCause(encoded.error, request));
  if (tx_.WritePending && !WaitSeconds(loop_, [this] { return !tx_.WritePending; }, WallNow(loop_), kReplySeconds)) {
    tx_.WritePending = false;
  }
  if (!ReadyToReceive()) return false;
  EndFollowedRead();
  reply_.Expect(request, framing);
  tx_.BeginWrite(mapping->function, mapping->offset, static_cast<std::int16_t>(ExpectedLength(request, framing)),
                 WallNow(loop_));
  return Transmit(encoded.frame);
}

bool ModbusMaster::SendMultipleWrite(std::int16_t unit, std::int32_t address, std::span<const double> values,
                                     std::int32_t count) {
  tx_.RawMode = false;
  std::int32_t u = Unsigned(unit);
  if (!UnitFits(u)) return Refused(UnitUnfitCause(u));
  if (tx_.ReadPending && !WaitSeconds(loop_, [this] { return !tx_.ReadPending; }, WallNow(loop_), kReplySeconds)) {
    tx_.ReadPending = false;
  }
  auto mapping = MapReference(plcType_, address, Access::MultipleWrite);
  if (!mapping) return Refused(UnmappedCause(plcType_, address, Access::MultipleWrite));
  if (auto tooMany = WriteCountCause(*mapping, mapping->wordPairs ? count / 2 : count)) return Refused(*tooMany);
  for (double v : values) {
    if (auto unfit = WriteValueCause(*mapping, v)) return Refused(*unfit);
  }

  // The words that go out: a copy, the host's values stay as they are.
  std::vector<std::int32_t> words;
  try {
    for (double v : values) {
      if (!mapping->wordPairs) {
        words.push_back(ToLong(v));
      } else if (mapping->type2Kind == 5) {
        VariantArray pair(0, 1, VarType::Int32);
        LongToUInteger(ToLong(v), pair, 0);
        words.push_back(pair.Get(0).ToInt32());
        words.push_back(pair.Get(1).ToInt32());
      } else {
        std::int32_t dlong1 = 0;
        std::int32_t dlong2 = 0;
        DecToLongFloat(Variant(v).ToSingle(), dlong1, dlong2);
        words.push_back(dlong1);
        words.push_back(dlong2);
      }
    }
  } catch (const RuntimeError& e) {
    return Refused(std::string("a value has no register form: ") + e.what());
  }
  if (static_cast<std::size_t>(count) > words.size())
    return Refused("count " + std::to_string(count) + " is more than the " + std::to_string(words.size()) +
                   " registers the values give");
  words.resize(static_cast<std::size_t>(count));

  Request request = MultipleWriteRequest(u, mapping->function, mapping->offset, std::move(words));
  Framing framing = CurrentFraming();
  EncodedRequest encoded = EncodeRequest(request, framing);
  if (!encoded) return Refused(EncodeCause(encoded.error, request));
  if (tx_.WritePending && !WaitSeconds(loop_, [this] { return !tx_.WritePending; }, WallNow(loop_), kReplySeconds)) {
    tx_.WritePending = false;
  }
  if (!ReadyToReceive()) return false;
  EndFollowedRead();
  reply_.Expect(request, framing);
  tx_.BeginWrite(mapping->function, mapping->offset, static_cast<std::int16_t>(ExpectedLength(request, framing)),
                 WallNow(loop_));
  return Transmit(encoded.frame);
}

void ModbusMaster::TransmitFrame(const Bytes& frame) {
  if (rs485Mode_ == rtu::RTS) {
    port_.SetSThreshold(1);
    port_.SetRTSEnable(true);
    keyedLine_ = rtu::RTS;
  } else if (rs485Mode_ == rtu::DTR) {
    port_.SetSThreshold(1);
    port_.SetDTREnable(true);
    keyedLine_ = rtu::DTR;
  }
  try {
    port_.OutputBytes(frame);
  } catch (...) {
    if (LineControlled()) DropLine();
    throw;
  }
}

void ModbusMaster::DropLine() {
  port_.SetSThreshold(0);
  if (keyedLine_ == rtu::RTS) port_.SetRTSEnable(false);
  if (keyedLine_ == rtu::DTR) port_.SetDTREnable(false);
  keyedLine_ = rtu::OFF;
}

bool ModbusMaster::SendScanRead(std::int16_t unit, const Variant& address, std::int16_t count) {
  scanNotSent_ = true;
  scanUnit_ = unit;
  scanFailure_.clear();
  const std::optional<AddressFields> target =
      ResolveScanAddress ? ResolveScanAddress(address, unit) : AddressFields{unit, {}, address.ToInt32()};
  if (!target) return false;
  scanUnit_ = target->unit;
  scanNotSent_ = !SendReadRequest(target->unit, target->reference, count, ReadOrigin::Scan);
  scanSerial_ = tx_.RequestSerial;
  return !scanNotSent_;
}

std::string ModbusMaster::LastFailure() const {
  if (scanNotSent_) return FailureText();
  if (!scanFailure_.empty()) return scanFailure_;
  return NoReplyCause(Unsigned(scanUnit_), kReplySeconds);
}

void ModbusMaster::NoteScanFailure() {
  if (tx_.ScanReadInFlight && tx_.RequestSerial == scanSerial_) scanFailure_ = FailureText();
}

// ---- Waiting calls ----------------------------------------------------------------------

Result ModbusMaster::WaitingRead(std::int16_t unit, std::int32_t address, std::int32_t count, VariantArray& ReadValue,
                                 std::int32_t ioType) {
  if (tx_.WriteActive) {
    cause_ = HostWriteCause();
    return ResultFailed;
  }
  // ioType 5 makes register words signed; 32-bit values (EnType2 kinds 5 and 7) are signed
  // as read.
  const bool signedWords = ioType == 5 && !(plcType_ == rtu::EnType2 && IsType2PairKind(address / 1000));
  tx_.BeginHostRead();
  bool lineFree = WaitSecondsFromNow(loop_, [this] { return !tx_.WritePending && !tx_.WriteActive; }, kReplySeconds);
  lineFree = WaitSecondsFromNow(loop_, [this] { return !tx_.ReadPending && !tx_.WritePending; }, kReplySeconds) &&
             lineFree;
  if (!lineFree) {
    tx_.ReadPending = false;
    tx_.HostReadActive = false;
  }
  tx_.WaitingIoType = static_cast<std::int16_t>(ioType);
  const bool sent = SendReadRequest(unit, address, count, ReadOrigin::Waiting);
  tx_.WaitingIoType = 0;
  if (!sent) {
    tx_.EndHostRead();
    return ResultFailed;
  }
  // A time-out leaves ReadPending set: the watchdog ends the transaction at its next tick.
  // The read ends with its own reply: a request its CommCompleteEx handler sent (ReadPLCNW)
  // keeps ReadPending set, and its reply would replace this read's values in DataBuffer. A
  // waiting read started inside this one's wait (its request given up) awaits its own.
  ReadWaiter own;
  own.serial = tx_.RequestSerial;
  own.outer = readWaiters_;
  readWaiters_ = &own;
  bool answered = WaitSeconds(
      loop_, [this, &own] { return own.done || (!tx_.ReadPending && !tx_.WritePending) || !port_.PortOpen(); },
      tx_.SendTime, kReplySeconds);
  readWaiters_ = own.outer;
  Result result = ResultFailed;
  if (!answered) cause_ = NoReplyCause(Unsigned(unit), kReplySeconds, reply_.OtherUnit(), reply_.Unfinished());
  if (!own.done && tx_.ReadPending && !port_.PortOpen()) {
    // The request went with the port (a host timer closed it): nothing will answer it.
    answered = false;
    tx_.ReadPending = false;
    reply_.Clear();
    cause_ = PortClosedWhileCause(port_.CommPort(), "the read waited for its reply");
  }
  if (answered && !tx_.ReplyFailed && !own.done) {
    answered = false;
    const bool told = tx_.ReadGivenUpBy && tx_.ReadGivenUpSerial == own.serial;
    cause_ = std::string("the read was given up before its reply came (") +
             (told ? tx_.ReadGivenUpBy : "the watchdog, or CommBusy set to False") + ")";
  }
  if (answered && !tx_.ReplyFailed) {
    result = ResultOk;
    // A read that fails as its values are handed over leaves the caller's array as it was: the
    // bounds are checked before anything is stored, and an array whose type may refuse a value
    // part way (40000 in an Integer) takes its values aside, handed over only when all fit.
    // Variants and doubles take every value: the common read goes uncopied.
    const std::int32_t values = count < 2 ? 1 : ioType == ioFloat ? count / 2 : count;
    const bool typed = !ReadValue.TakesEveryNumber();
    VariantArray staged = typed ? ReadValue : VariantArray();
    VariantArray& out = typed ? staged : ReadValue;
    auto tooSmall = [&] {
      result = ResultFailed;
      cause_ = "ReadValue holds elements " +
               (out.Size() > 0 ? std::to_string(out.Lower()) + ".." + std::to_string(out.Upper())
                               : std::string("none")) +
               ", but the " + std::to_string(values) + " value(s) read go to elements 1.." + std::to_string(values) +
               " (size it from 1, or from 0 with one element more)";
    };
    if (!out.Contains(1) || !out.Contains(values)) tooSmall();
    // Its own reply's values: DataBuffer's, or those it kept when another reply came after it.
    const VariantArray& buffer = own.kept ? own.buffer : dataBuffer_;
    const std::vector<std::uint8_t>& points = own.kept ? own.points : pointsPastBuffer_;
    auto decoded = [&](std::int32_t i) { return DecodedValueOf(buffer, points, i); };
    if (result == ResultOk) try {
      auto put = [&](std::int32_t index, const Variant& value) {
        if (!out.Contains(index)) {
          tooSmall();  // the caller's array cannot take every value
          return false;
        }
        out.Set(index, value);
        return true;
      };
      // Only a bit read holds more values than DataBuffer: those past it come from the reply.
      if (count < 2) {
        put(1, signedWords ? Variant(Signed(buffer.Get(1))) : buffer.Get(1));
      } else if (ioType == ioFloat) {
        for (std::int32_t k = 1; k <= count / 2; ++k) {
          double v = decoded(2 * k - 1).ToDouble() + decoded(2 * k).ToDouble() / 10000.0;
          if (!put(k, Variant(v))) break;
        }
      } else if (signedWords) {
        for (std::int32_t i = 1; i <= count; ++i) {
          if (!put(i, Variant(Signed(decoded(i))))) break;
        }
      } else {
        // DataBuffer(1..count) into elements 1..count in one copy, as far as the caller's
        // array reaches; the points past DataBuffer one by one.
        std::int32_t wanted = std::min(count, kDataBufferLast);
        std::int32_t fits = out.Contains(1) ? std::min(wanted, out.Upper()) : 0;
        if (fits < wanted) tooSmall();
        out.CopyFrom(1, buffer, 1, fits);
        for (std::int32_t i = kDataBufferLast + 1; fits == wanted && i <= count; ++i) {
          if (!put(i, decoded(i))) break;
        }
      }
    } catch (const RuntimeError& e) {
      result = ResultFailed;
      cause_ = std::string("a value read does not fit ReadValue: ") + e.what();
    }
    if (typed && result == ResultOk) ReadValue = std::move(staged);
  }
  tx_.EndHostRead();
  return result;
}

std::optional<std::string> ModbusMaster::UnfitWrite(std::int32_t address, std::span<const double> values) const {
  bool pairs = plcType_ == rtu::EnType2 && IsType2PairKind(address / 1000);
  Access access = pairs || values.size() > 1 ? Access::MultipleWrite : Access::SingleWrite;
  auto mapping = MapReference(plcType_, address, access);
  if (!mapping) return UnmappedCause(plcType_, address, access);
  if (pairs && values.size() > kMaxWriteValues) {
    return "count " + std::to_string(values.size()) + " beyond this control's limit of " +
           std::to_string(kMaxWriteValues) + " 32-bit values per write";
  }
  if (pairs && values.size() > 1) {
    // Value k goes to address + k in its own request: one past the kind's last reference would
    // be refused after the values before it were written.
    const auto last = address + static_cast<std::int32_t>(values.size()) - 1;
    auto lastMapping = MapReference(plcType_, last, access);
    if (!lastMapping || lastMapping->type2Kind != mapping->type2Kind) {
      return std::to_string(values.size()) + " values from reference " + std::to_string(address) +
             " reach reference " + std::to_string(last) + ": " + UnmappedCause(plcType_, last, access);
    }
  }
  if (!pairs && values.size() > 1) {
    if (auto tooMany = WriteCountCause(*mapping, static_cast<std::int32_t>(values.size()))) return tooMany;
  }
  for (double v : values) {
    if (auto unfit = WriteValueCause(*mapping, v)) return unfit;
  }
  return std::nullopt;
}

Result ModbusMaster::AwaitWrite() {
  WriteWaiter own{tx_.RequestSerial, false, false, {}, writeWaiters_};
  writeWaiters_ = &own;
  bool acknowledged = WaitSeconds(
      loop_,
      [this, &own] { return own.ended || (!tx_.ReadPending && !tx_.WritePending) || !port_.PortOpen(); },
      tx_.SendTime, kReplySeconds);
  writeWaiters_ = own.outer;
  if (!own.ended && tx_.WritePending && !port_.PortOpen()) {
    // The request went with the port (a host timer closed it): nothing will acknowledge it.
    tx_.WritePending = false;
    reply_.Clear();
    cause_ = PortClosedWhileCause(port_.CommPort(), "the write waited for its acknowledgement");
    return ResultFailed;
  }
  if (!acknowledged) {
    cause_ = NoAcknowledgementCause(AwaitedUnit(), kReplySeconds, reply_.OtherUnit(), reply_.Unfinished());
    tx_.AbandonAll();
    reply_.Clear();
    return ResultFailed;
  }
  if (!own.ended) {
    cause_ = "the write was given up before its acknowledgement came (the watchdog, or CommBusy set to False)";
    return ResultFailed;
  }
  if (own.failed) {
    cause_ = own.cause;
    return ResultFailed;
  }
  return ResultOk;
}

void ModbusMaster::WriteEnded(bool failed) {
  for (WriteWaiter* w = writeWaiters_; w; w = w->outer) {
    if (w->serial != tx_.RequestSerial || w->ended) continue;
    w->ended = true;
    w->failed = failed;
    w->cause = failed ? FailureText() : std::string();
  }
}

Result ModbusMaster::WaitingWrite(std::int16_t unit, std::int32_t address, std::span<const double> values) {
  // Refused before the line is touched: a value that would go out as another number (1.5 as 2,
  // -1 as 65535), or more values than one request carries.
  if (auto unfit = UnfitWrite(address, values)) {
    cause_ = *unfit;
    return ResultFailed;
  }
  std::int64_t start = WallNow(loop_);
  const bool outerHolds = tx_.BeginHostWrite();
  if ((tx_.ReadPending || tx_.WritePending) &&
      !WaitSeconds(loop_, [this] { return !tx_.ReadPending && !tx_.WritePending && !tx_.HostReadActive; }, start,
                   kReplySeconds)) {
    tx_.NoteReadGivenUp("a WritePLC took the line after waiting 2 s for it");
    tx_.ReadPending = false;
    tx_.WritePending = false;
    tx_.HostReadActive = false;
  }
  // Every value is sent or the call is refused above: a write is never cut short.
  std::span<const double> taken = values;
  Result result = ResultFailed;
  try {
    bool pairs = plcType_ == rtu::EnType2 && (address / 1000 == 5 || address / 1000 == 6 || address / 1000 == 7);
    if (taken.empty()) {
      cause_ = "no values to write";
    } else if (pairs) {
      // One 32-bit value (two registers) per request, value k at address + k, as the device
      // reads them; every value is written, and any failure fails the call.
      result = ResultOk;
      for (std::size_t k = 0; k < taken.size() && result == ResultOk; ++k) {
        bool sent = SendMultipleWrite(unit, address + static_cast<std::int32_t>(k), taken.subspan(k, 1), 2);
        result = sent ? AwaitWrite() : ResultFailed;
      }
    } else if (taken.size() == 1) {
      result = SendSingleWrite(unit, address, ToLong(taken[0])) ? AwaitWrite() : ResultFailed;
    } else {
      result = SendMultipleWrite(unit, address, taken, static_cast<std::int32_t>(taken.size())) ? AwaitWrite()
                                                                                              : ResultFailed;
    }
  } catch (const RuntimeError& e) {
    result = ResultFailed;
    cause_ = std::string("a value cannot be sent: ") + e.what();
  }
  tx_.EndHostWrite(outerHolds);
  return result;
}

// ---- Watchdog ---------------------------------------------------------------------------

void ModbusMaster::ReplyWatchdog() {
  if (tx_.ErrorCount > kErrorReportThreshold) {
    tx_.ErrorCount = 0;
    lastErrorText_ = kReadErrorText;
    VariantArray data(0, 10);
    data.At(1) = Variant(tx_.LastUnit);
    std::vector<Variant> args{Variant(std::move(data)), Variant(tx_.LastAddress), Variant(std::int16_t{1}),
                              Variant(std::string(kReadErrorText)), Variant(std::int16_t{0})};
    const Lifetime::Watch watch = life_.Watched();
    if (CommCompleteExHeard()) Events.CommCompleteEx(args);
    if (watch.Gone()) return;
  }
  const bool followedOut = tx_.ReadPending && followed_ == tx_.RequestSerial;
  if (tx_.TimeOutIfStale(WallNow(loop_), kReplySeconds)) {
    reply_.Clear();
    if (tx_.ScanReadInFlight && tx_.RequestSerial == scanSerial_) {
      scanFailure_ = NoReplyCause(Unsigned(scanUnit_), kReplySeconds, reply_.OtherUnit(), reply_.Unfinished());
    }
    if (followedOut) {
      TellFailedRead(port_.PortOpen() ? NoReplyCause(followedUnit_, kReplySeconds, reply_.OtherUnit(), reply_.Unfinished())
                                      : PortClosedWhileCause(port_.CommPort(), "the read waited for its reply"));
    }
  }
}

// ---- Serial event dispatch --------------------------------------------------------------

void ModbusMaster::OnComm() {
  try {
    std::int16_t event = port_.CommEvent();
    if (tx_.RawMode) {
      // Raw pass-through comes first: received text goes to the host as it is, and the other
      // notifications wait for the next request, which ends raw mode.
      if (event == comm::EvReceive) HandleRawData();
    } else if (event == comm::EvSend) {
      // The frame has left the port: release the RS485 driver.
      if (LineControlled()) DropLine();
      return;
    } else if (event == comm::EvReceive) {
      if (modBusMode_ == rtu::SlaveRtu || modBusMode_ == rtu::SlaveAscii) {
        if (Events.HandleSlaveRequest) Events.HandleSlaveRequest();
      } else {
        HandleMasterReply();
      }
    }
    if (event == comm::EvCD) HandleCarrierChange();
    // Line errors and the other notifications need no action.
  } catch (const RuntimeError&) {
    // Errors of the runtime inside the handler never reach the host.
  }
}

void ModbusMaster::HandleRawData() {
  if (port_.InBufferCount() == 0) return;
  port_.SetInputLen(0);
  Bytes bytes = port_.InputBytes();
  modemData_.At(0) = Variant(std::string(bytes.begin(), bytes.end()));
  RaiseModemEvent(comm::EvReceive, false);
}

void ModbusMaster::HandleCarrierChange() {
  modemData_.At(0) = Variant();
  RaiseModemEvent(comm::EvCD, port_.CDHolding());
}

void ModbusMaster::RaiseModemEvent(std::int16_t commEvent, bool connected) {
  if (!Events.CommEventModem) return;
  std::vector<Variant> args{Variant(commEvent), Variant(std::move(modemData_)), Variant(connected)};
  modemData_ = VariantArray(0, 0);
  const Lifetime::Watch watch = life_.Watched();
  Events.CommEventModem(args);
  if (watch.Gone()) return;
  // The control's one array, passed by reference: what the handler did to it stays, as long
  // as it still has the element the next event sets.
  if (args[1].IsArray() && args[1].Array().Contains(0)) modemData_ = std::move(args[1].Array());
}

void ModbusMaster::HandleMasterReply() {
  port_.SetInputLen(0);
  port_.InputInto(received_);
  if (!received_.empty()) lastInputMicros_ = loop_.Now();
  // A reply nobody waits for any more (the watchdog gave up, CommBusy was freed) is dropped.
  if (!reply_.Expecting() || !(tx_.ReadPending || tx_.WritePending)) {
    reply_.Clear();
    return;
  }
  CollectedReply reply = reply_.Feed(received_);
  if (reply.outcome == ReplyOutcome::NeedMore) return;
  // A whole frame ended the exchange; a rejected one may have more behind it.
  if (reply.outcome != ReplyOutcome::Rejected) unanswered_ = false;
  tx_.ReplyFailed = false;
  tx_.ResponseStatus = -1;
  switch (reply.outcome) {
    case ReplyOutcome::ChecksumError:
      FailChecksum();
      return;
    case ReplyOutcome::Exception:
      FailReply(ExceptionText(reply.adu.ExceptionCode()), ExceptionCause(reply.adu.unit, reply.adu.ExceptionCode()));
      return;
    case ReplyOutcome::Rejected:
      // Too long, or a byte count that disagrees: the frame checks that fail the same way.
      FailReply(kCrcErrorText, RejectedCause(reply.adu.unit, reply.rejection));
      return;
    default:
      break;
  }
  if (!IsRead(reply.adu.function)) {
    // The acknowledgement of a write; no event.
    WriteEnded(false);
    tx_.EndWrite();
    return;
  }
  try {
    CompleteRead(reply.adu);
  } catch (const RuntimeError&) {
    // a value that does not convert (a float pattern that is no number)
    FailReply(kCrcErrorText, "the reply from unit " + std::to_string(reply.adu.unit) + " holds a value that is no number");
  }
}

void ModbusMaster::FailChecksum() {
  lastErrorText_ = kCrcErrorText;
  cause_ = ChecksumCause(AwaitedUnit(), CurrentFraming());
  if (CurrentFraming() == Framing::Rtu) tx_.ResponseStatus = kCrcFailedStatus;
  NoteScanFailure();
  WriteEnded(true);
  TellFailedRead(FailureText());
  tx_.FailReply();
}

void ModbusMaster::FailReply(std::string errorText, std::string cause) {
  // The slave answered, but not with the data asked: the transaction fails at once and counts
  // as the time-out it would otherwise have become.
  lastErrorText_ = std::move(errorText);
  cause_ = std::move(cause);
  NoteScanFailure();
  WriteEnded(true);
  TellFailedRead(FailureText());
  tx_.FailReply();
  tx_.CountError();
}

template <typename T, typename MakeVariant>
std::int32_t ModbusMaster::StoreDecoded(const std::vector<T>& decoded, MakeVariant make) {
  auto count = static_cast<std::int32_t>(decoded.size());
  std::span<Variant> slots = dataBuffer_.Range(1, std::min(count, kDataBufferLast));
  for (std::size_t i = 0; i < slots.size(); ++i) slots[i] = make(decoded[i]);
  return count;
}

void ModbusMaster::KeepAwaitedValues() {
  for (ReadWaiter* w = readWaiters_; w; w = w->outer) {
    if (!w->done || w->kept) continue;
    w->buffer = dataBuffer_;
    w->points = pointsPastBuffer_;
    w->kept = true;
  }
}

void ModbusMaster::CompleteRead(const Adu& reply) {
  // Decoded into plain numbers first, stored afterwards: a reply that fails to decode leaves
  // DataBuffer as it was, and no variant is made that DataBuffer does not keep.
  std::int32_t quantity = 0;
  KeepAwaitedValues();
  ++decodes_;
  pointsPastBuffer_.clear();
  if (IsBitRead(reply.function)) {
    std::vector<std::uint8_t> points = DecodeBits(reply);
    StoreDecoded(points, [](std::uint8_t bit) { return Variant(std::int16_t{bit}); });
    if (points.size() > static_cast<std::size_t>(kDataBufferLast))
      pointsPastBuffer_.assign(points.begin() + kDataBufferLast, points.end());
    quantity = tx_.RequestCount;
  } else if (requestPlcType_ == rtu::EnType2 && tx_.Type2Kind == 5) {
    quantity = StoreDecoded(DecodeLongs(reply), [](std::int32_t v) { return Variant(v); });
  } else if (requestPlcType_ == rtu::EnType2 && tx_.Type2Kind == 7) {
    std::vector<float> reals;
    for (const RegisterPair& p : DecodeRegisterPairs(reply)) {
      auto f = FloatFromWords(p.high, p.low);
      if (!f) throw RuntimeError(err::Overflow);
      reals.push_back(*f);
    }
    quantity = StoreDecoded(reals, [](float v) { return Variant(v); });
  } else {
    quantity = StoreDecoded(DecodeRegisters(reply), [](std::uint16_t r) { return Variant(std::int32_t{r}); });
  }

  // The ioType of the last ReadDevice applies to every reply (see BeginRead).
  if (tx_.ReplyIoType == 5) {
    for (std::int32_t i = 1; i <= std::min(quantity, kDataBufferLast); ++i) {
      dataBuffer_.At(i) = Variant(Signed(dataBuffer_.Get(i)));
    }
  } else if (tx_.ReplyIoType == ioFloat) {
    // Pairs combined in place: element i (1, 3, 5, ...) takes the value, element i + 1 keeps
    // its word.
    for (std::int32_t i = 1; i + 1 <= std::min(quantity, kDataBufferLast); i += 2) {
      dataBuffer_.At(i) = Variant(dataBuffer_.Get(i).ToDouble() + dataBuffer_.Get(i + 1).ToDouble() / 10000.0);
    }
    quantity /= 2;
  }

  // The read ends after its event: inside the handler CommBusy still reads True, so a waiting
  // read started there is refused as busy instead of overtaking this one.
  const std::uint32_t serial = tx_.RequestSerial;
  for (ReadWaiter* w = readWaiters_; w; w = w->outer) {
    if (w->serial == serial) w->done = true;
  }
  if (serial == followed_) followed_ = 0;
  const Lifetime::Watch watch = life_.Watched();
  std::optional<VariantArray> handlerData;
  if (!tx_.ScanReadInFlight) {
    handlerData = RaiseDataBufferEvent(tx_.StartReference,
                         static_cast<std::int16_t>(std::clamp<std::int32_t>(quantity, -32768, 32767)), lastErrorText_);
  } else if (Events.ScanReadDone) {
    Events.ScanReadDone(quantity);
  }
  if (watch.Gone()) return;
  // A reply decoded while the handler ran took DataBuffer's place: the waiting read of this
  // one hands over its values as the handler left them.
  for (ReadWaiter* w = readWaiters_; w && handlerData; w = w->outer) {
    if (w->serial == serial && w->kept) w->buffer = std::move(*handlerData);
  }
  lastErrorText_.clear();
  // A request the handler sent (ReadPLCNW) is in flight now and keeps its flags.
  if (tx_.RequestSerial == serial) tx_.EndRead();
}

Variant ModbusMaster::DecodedValue(std::int32_t i) const { return DecodedValueOf(dataBuffer_, pointsPastBuffer_, i); }

Variant ModbusMaster::DecodedValueOf(const VariantArray& buffer, const std::vector<std::uint8_t>& pointsPast,
                                     std::int32_t i) {
  if (i <= kDataBufferLast) return buffer.Get(i);
  auto past = static_cast<std::size_t>(i - kDataBufferLast - 1);
  return past < pointsPast.size() ? Variant(std::int16_t{pointsPast[past]}) : Variant();
}

std::optional<VariantArray> ModbusMaster::RaiseDataBufferEvent(std::int32_t mAdd, std::int16_t quan,
                                                               std::string errorText) {
  if (!CommCompleteExHeard()) return std::nullopt;
  // Built in place: a braced list would copy each argument once more, DataBuffer included.
  std::vector<Variant> args;
  args.reserve(5);
  // A bit read of more points than DataBuffer holds hands over every one: MData is then a
  // longer copy, whose first elements are DataBuffer's.
  const bool longer = quan > kDataBufferLast && !pointsPastBuffer_.empty();
  if (longer) {
    const auto points = kDataBufferLast + static_cast<std::int32_t>(pointsPastBuffer_.size());
    VariantArray all(0, std::min<std::int32_t>(quan, points));
    all.CopyFrom(0, dataBuffer_, 0, kDataBufferLast + 1);
    for (std::int32_t i = kDataBufferLast + 1; i <= all.Upper(); ++i) all.At(i) = DecodedValue(i);
    args.emplace_back(std::move(all));
  } else {
    args.emplace_back(dataBuffer_);
  }
  args.emplace_back(mAdd);
  args.emplace_back(quan);
  args.emplace_back(std::move(errorText));
  args.emplace_back(tx_.ResponseStatus);
  const Lifetime::Watch watch = life_.Watched();
  const std::uint32_t decodes = decodes_;
  try {
    Events.CommCompleteEx(args);
  } catch (const RuntimeError&) {
    // The host's handler failed, not the reply: the read it reports stays good.
  }
  if (watch.Gone()) return std::nullopt;  // the handler unloaded the control
  // MData is DataBuffer passed by reference: what the handler wrote stays. Taken back by move,
  // as the arguments end here: a copy of all 501 variants per reply would cost more than the
  // rest of the reply's handling. A later reply decoded while the handler ran (a read it
  // started and waited for) holds DataBuffer now: what the handler left goes back to the caller.
  if (args[0].IsArray()) {
    VariantArray& back = args[0].Array();
    const bool same = back.Lower() == dataBuffer_.Lower() && back.Upper() == dataBuffer_.Upper();
    if (decodes != decodes_) return same ? std::optional<VariantArray>(std::move(back)) : std::nullopt;
    if (same) dataBuffer_ = std::move(back);
    else if (longer && back.Lower() == 0 && back.Upper() > kDataBufferLast)
      dataBuffer_.CopyFrom(0, back, 0, kDataBufferLast + 1);
  }
  return std::nullopt;
}

// ---- Raw pass-through -------------------------------------------------------------------

void ModbusMaster::SendToComm(const std::string& line1) {
  tx_.RawMode = true;
  port_.SetRThreshold(1);
  port_.Output(Variant(line1));
}

}  // namespace plc::modbus
