// DfLink's read and write methods and its completion event. They return result codes and
// never raise an error to the host; the flags they set belong to the shared driver state.
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "base/RuntimeError.h"
#include "frame/TagDatabase.h"
#include "frame/WallSeconds.h"
#include "df1/Addressing.h"
#include "df1/Decoding.h"
#include "df1/DfLink.h"
#include "df1/Requests.h"
#include "df1/Results.h"

namespace plc {

namespace {

std::int16_t SizeOrOne(Opt<std::int16_t>& size) {
  std::int16_t n = size.ValueOr(0);
  if (n == 0) {
    n = 1;
    size.Put(n);
  }
  return n;
}

std::string NoTag(const std::string& name) {
  return "no tag is named '" + name + "' (DfLink loads no tag database: give an address such as N7:0)";
}

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", s);
  return text;
}

// The result a call gives for a request that did not go out.
Result NotSentResult(const df1::Df1Engine::Outcome& out, Result whenPortFailed) {
  if (out.kind == df1::Df1Engine::Outcome::Kind::Refused) return ResultBadAddress;
  if (out.kind == df1::Df1Engine::Outcome::Kind::PortFailed) return whenPortFailed;
  return out.result;
}

}  // namespace

bool DfLink::ResolveTag(std::string& address) {
  if (address.find(':') != std::string::npos || address.find('/') != std::string::npos) return true;
  const TagRecord* record = TagRecordOfName(address);
  if (!record) return false;
  address = record->address.ToString();
  return true;
}

Result DfLink::Finish(Result result, const std::string& cause) {
  if (result == ResultOk) {
    ClearFailure();
  } else {
    const std::string meaning = df1::ResultMeaning(result);
    NoteFailure(cause.empty() ? meaning : meaning + ": " + cause);
  }
  return result;
}

bool DfLink::AwaitDriver() {
  df1::Df1State& s = engine_.State();
  if (engine_.WaitShort([&s] { return !s.Busy; }, df1::kBusyLimitSeconds + engine_.LineAllowance())) return true;
  s.Busy = false;
  return false;
}

Result DfLink::ReadPLC(std::string& Addr, VariantArray& ReadValue, Opt<std::int16_t> ReadSize) {
  const ScanEngine::HostCall hostCall;
  Variant values(std::move(ReadValue));
  Variant address(Addr);
  Result result = ReadPLCV(address, values, ReadSize);
  ReadValue = values.IsArray() ? std::move(values.Array()) : VariantArray();
  return result;
}

Result DfLink::ReadPLCV(Variant& AddrV, Variant& ReadValue, Opt<std::int16_t> ReadSize) {
  const ScanEngine::HostCall hostCall;
  df1::Df1State& s = engine_.State();
  ClearFailure();
  followed_ = 0;
  Result result = ResultFailed;
  try {
    std::int16_t size = SizeOrOne(ReadSize);
    const double limit = df1::kBusyLimitSeconds + engine_.LineAllowance();
    if (!AwaitDriver())
      return Finish(ResultLineBusy,
                    (s.OnLine ? s.OnLine->What() : std::string("another call")) + " held the driver for " + Seconds(limit));
    s.Busy = true;
    std::string address = AddrV.ToString();
    if (!ResolveTag(address)) {
      s.Busy = false;
      return Finish(ResultNoTag, NoTag(address));
    }
    Opt<std::int16_t> floatType(std::int16_t{0});
    result = ABReadPLC(address, ReadValue, Opt<std::int16_t>(size), floatType);
  } catch (const RuntimeError& e) {
    result = Finish(result, e.what());  // the result reached so far stands
  }
  // After 88 the write that cancelled this read holds the driver, as does one its completion
  // handler sent; the write's reply frees it.
  if (result != ResultCancelled && !s.CancelWait) s.Busy = false;
  return result;
}

Result DfLink::ReadCall(const std::string& address, Variant& ReadValue, std::int16_t size, Opt<std::int16_t>& FloatType) {
  df1::Df1State& s = engine_.State();
  if (address.empty()) return Finish(ResultFailed, "no address given");
  auto parsed = df1::ParseReadAddress(address);
  if (!parsed) return Finish(ResultBadAddress, parsed.error);
  if (parsed->FileTypeCode == df1::kCodeFloat) FloatType.Put(True);
  const std::int32_t max = df1::MaxReadCount(*parsed, FloatType.ValueOr(False) != False);
  if (size < 1 || size > max)
    return Finish(ResultBadAddress, "count " + std::to_string(size) + " is beyond this control's limit of " +
                                        std::to_string(max) + " for " + address + " (a read carries 255 bytes)");
  s.Busy = true;
  const df1::ReadRequest request{*parsed, size, FloatType.ValueOr(False) != False, address};
  engine_.NoteRead(request);
  auto out = engine_.ReadAndWait(request, ReadValue);
  Result status = NotSentResult(out, ResultFailed);
  if (status != ResultOk && status != ResultCancelled && NumOfReadRetries() > 1) {
    out = engine_.ReadAndWait(request, ReadValue);
    status = NotSentResult(out, ResultFailed);
  }
  return Finish(status, out.cause);
}

Result DfLink::ABReadPLC(std::string& pstr, Variant& ReadValue, Opt<std::int16_t> ReadSize, Opt<std::int16_t> FloatType) {
  const ScanEngine::HostCall hostCall;
  df1::Df1State& s = engine_.State();
  ClearFailure();
  followed_ = 0;
  const bool wasBusy = s.Busy;
  // A request on the line that holds the driver (a non-waiting read, a write) frees it with its
  // closing, which may come while this read waits for the line.
  const std::optional<std::uint64_t> holder =
      s.Busy && s.OnLine ? std::optional<std::uint64_t>(s.OnLine->number) : std::nullopt;
  Result status = ResultFailed;
  try {
    status = ReadCall(pstr, ReadValue, SizeOrOne(ReadSize), FloatType);
  } catch (const RuntimeError& e) {
    status = Finish(status, e.what());  // the result reached so far stands
  }
  if (status != ResultCancelled && !s.CancelWait)
    s.Busy = holder ? s.OnLine && s.OnLine->number == *holder : wasBusy;
  return status;
}

Result DfLink::NonWaitingRead(std::string address, Opt<std::int16_t> ReadSize, bool hostCall) {
  ClearFailure();
  if (hostCall) followed_ = 0;
  try {
    const std::int16_t size = SizeOrOne(ReadSize);
    if (address.empty()) return Finish(ResultBadAddress, "no address given");
    if (!ResolveTag(address)) return Finish(ResultNoTag, NoTag(address));
    auto parsed = df1::ParseReadAddress(address);
    if (!parsed) return Finish(ResultBadAddress, parsed.error);
    // A request on the line ends first (its completion is raised meanwhile), so that each
    // reply is taken by its own request.
    engine_.AwaitLine(0.0);
    const df1::ReadRequest request{*parsed, size, parsed->FileTypeCode == df1::kCodeFloat, address};
    if (hostCall) engine_.NoteRead(request);
    auto out = engine_.SendRead(request, df1::Transaction::Kind::NonWaitingRead);
    if (!out.Sent()) return Finish(NotSentResult(out, df1::ResultNotSent), out.cause);
    // Busy only once the request is on the line: its reply (or the watchdog) clears it.
    engine_.State().Busy = true;
    if (hostCall) followed_ = engine_.State().RequestsSent;
    ClearFailure();
    return ResultFailed;  // 0: sent
  } catch (const RuntimeError& e) {
    return Finish(df1::ResultNotSent, e.what());
  }
}

Result DfLink::ReadPLCNW(Variant& Address, Variant&, Opt<std::int16_t> ReadSize, Opt<std::int16_t>) {
  const ScanEngine::HostCall hostCall;
  std::string address;
  try {
    address = Address.ToString();
  } catch (const RuntimeError& e) {
    ClearFailure();
    return Finish(ResultBadAddress, std::string("the address is not text: ") + e.what());
  }
  return NonWaitingRead(std::move(address), ReadSize);
}

Result DfLink::ReadDevice(std::string& Address, Opt<std::int16_t> ReadSize, Opt<std::int16_t>) {
  const ScanEngine::HostCall hostCall;
  return NonWaitingRead(Address, ReadSize);
}

Result DfLink::WritePLC(std::string& pstr, VariantArray& ABValue, Opt<std::int16_t> ReadSize) {
  return Write(pstr, ABValue, ReadSize, true);
}

Result DfLink::Write(const std::string& pstr, VariantArray& ABValue, Opt<std::int16_t>& ReadSize, bool hostWrite,
                     std::optional<std::int16_t> station) {
  const ScanEngine::HostCall hostCall;
  ClearFailure();
  if (hostWrite) followed_ = 0;
  Result result = ResultFailed;
  try {
    result = WriteCall(pstr, ABValue, ReadSize, station);
  } catch (const RuntimeError& e) {
    return Finish(ResultFailed, e.what());
  }
  if (hostWrite && result == ResultOk) followed_ = engine_.State().RequestsSent;
  return result;
}

Result DfLink::WriteCall(const std::string& pstr, VariantArray& ABValue, Opt<std::int16_t>& ReadSize,
                         std::optional<std::int16_t> station) {
  df1::Df1State& s = engine_.State();
  if (!PortOpen()) return Finish(ResultFailed, "the port (COM" + std::to_string(CommPort()) + ") is not open");
  if (s.Busy || s.OnLine) {
    // The transaction on the line ends first, or is given up after 1 to 2 s.
    EventLoop& loop = engine_.Loop();
    const auto allowance = static_cast<std::int64_t>(std::ceil(engine_.LineAllowance()));
    if (!WaitSeconds(loop, [&s] { return !s.OnLine; }, WallNow(loop), df1::kWriteWaitSeconds + allowance))
      engine_.TakeLine("the write to " + pstr);
  }
  std::string address = pstr;
  const std::int16_t count = SizeOrOne(ReadSize);
  if (address.empty()) return Finish(ResultFailed, "no address given");
  if (!ResolveTag(address)) return Finish(ResultFailed, NoTag(address));
  auto parsed = df1::ParseWriteAddress(address);
  if (!parsed) return Finish(ResultFailed, parsed.error);
  const std::int32_t max = df1::MaxWriteCount(*parsed, engine_.Copies().Mode);
  if (count < 1 || count > max)
    return Finish(ResultFailed, "count " + std::to_string(count) + " is beyond this control's limit of " +
                                    std::to_string(max) + " values for " + address + " (a request carries " +
                                    std::to_string(df1::MaxPayload(engine_.Copies().Mode)) + " bytes)");
  auto words = df1::WriteValues(ABValue, parsed->FileTypeCode, count);
  if (!words) return Finish(ResultFailed, "cannot write to " + address + ": " + words.why);
  // Busy and CancelWait only for a write that goes out: a waiting read gives up with 88.
  const bool busy = s.Busy, cancel = s.CancelWait;
  s.Busy = true;
  s.CancelWait = true;
  auto out = engine_.SendWrite(*parsed, count, *words, address, station);
  if (!out.Sent()) {
    s.Busy = busy;
    s.CancelWait = cancel;
    return Finish(ResultFailed, out.cause);
  }
  return Finish(ResultOk, {});
}

// The host's request has no event for this end: its cause stands past a queued write of the
// control's own that is running meanwhile.
void DfLink::GivenUp(const df1::Transaction& t, Result result, const std::string& why) {
  if (t.number != followed_) return;
  followed_ = 0;
  NoteLateFailure(df1::ResultMeaning(result) + ": " + why);
}

void DfLink::RaiseCommComplete(const df1::LinkClosing& closing, const df1::Transaction& t) {
  lastErrorText_ = closing.text;
  if (closing.status != ResultOk) Finish(closing.status, closing.cause);
  if (!HasEventSink()) return;
  const df1::Df1State& s = engine_.State();
  // A read reports its own address and count; a write, as ever, those of the last read call.
  const std::int32_t start = t.IsRead() ? t.address.ElementNumber : s.LastRead.ElementNumber;
  const std::int16_t count = t.IsRead() ? t.count : s.RequestCount;
  std::vector<Variant> args{Variant(s.DataBuffer), Variant(start), Variant(count), Variant(closing.text),
                            Variant(static_cast<std::int16_t>(closing.status))};
  RaiseEvent("CommComplete", args);
}

}  // namespace plc
