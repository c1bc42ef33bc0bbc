// DfLink's read and write methods and its completion event. They return result codes and
// never raise an error to the host; the flags they set belong to the shared driver state.
#include <string>

#include "core/RuntimeError.h"
#include "core/TagDatabase.h"
#include "core/WallSeconds.h"
#include "df1/Addressing.h"
#include "df1/Decoding.h"
#include "df1/DfLink.h"
#include "df1/Requests.h"

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

}  // namespace

bool DfLink::ResolveTag(std::string& address) {
  if (address.find(':') != std::string::npos || address.find('/') != std::string::npos) return true;
  const TagRecord* record = TagRecordOfName(address);
  if (!record) return false;
  address = record->address.ToString();
  return true;
}

bool DfLink::AwaitDriver() {
  df1::Df1State& s = engine_.State();
  if (engine_.WaitShort([&s] { return !s.Busy; }, df1::kBusyLimitSeconds)) return true;
  s.Busy = false;
  return false;
}

Result DfLink::ReadPLC(std::string& Addr, VariantArray& ReadValue, Opt<std::int16_t> ReadSize) {
  Variant values(std::move(ReadValue));
  Variant address(Addr);
  Result result = ReadPLCV(address, values, ReadSize);
  ReadValue = values.IsArray() ? std::move(values.Array()) : VariantArray();
  return result;
}

Result DfLink::ReadPLCV(Variant& AddrV, Variant& ReadValue, Opt<std::int16_t> ReadSize) {
  df1::Df1State& s = engine_.State();
  Result result = ResultFailed;
  try {
    std::int16_t size = SizeOrOne(ReadSize);
    if (!AwaitDriver()) return ResultLineBusy;
    s.Busy = true;
    std::string address = AddrV.ToString();
    if (!ResolveTag(address)) {
      s.Busy = false;
      return ResultNoTag;
    }
    Opt<std::int16_t> floatType(std::int16_t{0});
    result = ABReadPLC(address, ReadValue, Opt<std::int16_t>(size), floatType);
  } catch (const RuntimeError&) {
    // The result reached so far stands.
  }
  // After 88 the write that cancelled this read holds the driver; its reply frees it.
  if (result != ResultCancelled) s.Busy = false;
  return result;
}

Result DfLink::ABReadPLC(std::string& pstr, Variant& ReadValue, Opt<std::int16_t> ReadSize, Opt<std::int16_t> FloatType) {
  df1::Df1State& s = engine_.State();
  const bool wasBusy = s.Busy;
  Result status = ResultFailed;
  try {
    const std::int16_t size = SizeOrOne(ReadSize);
    if (pstr.empty()) return ResultFailed;
    auto parsed = df1::ParseReadAddress(pstr);
    if (!parsed) return ResultBadAddress;
    s.Busy = true;
    if (parsed->FileTypeCode == df1::kCodeFloat) FloatType.Put(True);
    engine_.NoteRead(*parsed, size, FloatType.ValueOr(False) != False);
    status = engine_.ReadAndWait(ReadValue, size);
    if (status != ResultOk && status != ResultCancelled && NumOfReadRetries() > 1)
      status = engine_.ReadAndWait(ReadValue, size);
    if (status == ResultOk && parsed->BitNumber != df1::kNoBit) {
      if (ReadValue.IsArray()) {
        VariantArray& values = ReadValue.Array();
        values.Set(1, Variant(df1::BitOf(values.Get(1).ToInt32(), parsed->BitNumber)));
      } else {
        ReadValue = Variant(df1::BitOf(ReadValue.ToInt32(), parsed->BitNumber));
      }
    }
  } catch (const RuntimeError&) {
    // The result reached so far stands.
  }
  if (status != ResultCancelled) s.Busy = wasBusy;
  return status;
}

Result DfLink::NonWaitingRead(std::string address, Opt<std::int16_t> ReadSize) {
  try {
    const std::int16_t size = SizeOrOne(ReadSize);
    if (address.empty()) return ResultFailed;
    if (!ResolveTag(address)) return ResultNoTag;
    auto parsed = df1::ParseReadAddress(address);
    if (!parsed) return ResultBadAddress;
    engine_.NoteRead(*parsed, size, parsed->FileTypeCode == df1::kCodeFloat);
    // Busy only once the request is on the line: its reply (or the watchdog) clears it.
    if (engine_.SendRead()) engine_.State().Busy = true;
  } catch (const RuntimeError&) {
    // Nothing was sent.
  }
  return ResultFailed;
}

Result DfLink::ReadPLCNW(Variant& Address, Variant&, Opt<std::int16_t> ReadSize, Opt<std::int16_t>) {
  std::string address;
  try {
    address = Address.ToString();
  } catch (const RuntimeError&) {
    return ResultFailed;
  }
  return NonWaitingRead(std::move(address), ReadSize);
}

Result DfLink::ReadDevice(std::string& Address, Opt<std::int16_t> ReadSize, Opt<std::int16_t>) {
  return NonWaitingRead(Address, ReadSize);
}

Result DfLink::WritePLC(std::string& pstr, VariantArray& ABValue, Opt<std::int16_t> ReadSize) {
  df1::Df1State& s = engine_.State();
  try {
    if (!PortOpen()) return ResultFailed;
    if (s.Busy) {
      EventLoop& loop = engine_.Loop();
      if (!WaitSeconds(loop, [&s] { return s.LineFree; }, WallNow(loop), df1::kWriteWaitSeconds)) s.LineFree = true;
    }
    std::string address = pstr;
    if (!ResolveTag(address)) return ResultFailed;
    const std::int16_t count = SizeOrOne(ReadSize);
    if (address.empty()) return ResultFailed;
    auto parsed = df1::ParseWriteAddress(address);
    if (!parsed) return ResultFailed;
    auto words = df1::WriteValues(ABValue, parsed->FileTypeCode, count);
    if (!words) return ResultFailed;
    // Busy and CancelWait only for a write that goes out: a waiting read gives up with 88.
    const bool busy = s.Busy, cancel = s.CancelWait;
    s.Busy = true;
    s.CancelWait = true;
    if (!engine_.SendWrite(*parsed, count, *words)) {
      s.Busy = busy;
      s.CancelWait = cancel;
      return ResultFailed;
    }
    return ResultOk;
  } catch (const RuntimeError&) {
    return ResultFailed;
  }
}

void DfLink::RaiseCommComplete(const df1::LinkClosing& closing) {
  lastErrorText_ = closing.text;
  if (!HasEventSink()) return;
  const df1::Df1State& s = engine_.State();
  std::vector<Variant> args{Variant(s.DataBuffer), Variant(s.LastRead.ElementNumber), Variant(s.RequestCount),
                            Variant(closing.text), Variant(static_cast<std::int16_t>(closing.status))};
  RaiseEvent("CommComplete", args);
}

}  // namespace plc
