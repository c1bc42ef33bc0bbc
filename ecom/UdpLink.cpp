#include "ecom/UdpLink.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "frame/AboutBox.h"
#include "base/Enums.h"
#include "base/OctalText.h"
#include "base/RuntimeError.h"
#include "frame/TagDatabase.h"
#include "directnet/AddressRoad.h"
#include "directnet/Blocks.h"
#include "directnet/ReadSize.h"
#include "ecom/EcomLinkState.h"

namespace plc {

namespace {
constexpr std::int16_t kDefaultDeviceTimeOut = 55;
// ScanElapsed of UdpLink, as SeqLink's: indices 0..320.
constexpr std::int32_t kScanElapsedEntries = 321;
}  // namespace

UdpLink::UdpLink(std::unique_ptr<SerialPort> port)
    : line_(*this, std::move(port), SerialLine::Rules{}),
      timers_(kScanTimerDesign),
      serial_(MSComm1(), ecom::EcomLink(), props_.unitAddress,
              [this] {
                const Lifetime::Watch watch = Watched();
                scan_.ScanReadCompleted(ScanWords(ecom::EcomLink().Line.ByteCount / 2));
                if (!watch.Gone()) EventComComplete();  // a ScanComplete handler may unload the control
              }),
      scanLine_(MakeScanLine(*this)),
      scan_(*scanLine_, EventLoop::Current(), ScanTables(), kScanElapsedEntries,
            &ecom::EcomLink().Line.WriteQueueActive) {
  ++ecom::EcomLink().Controls;
  // The ECOM requests end within their own call and never touch the serial markers, so the
  // watchdog runs in every mode: a serial transaction cut short by a change to ECOM mode is
  // freed too.
  timers_.Timer1().OnTick = [this] { serial_.Engine().Watchdog(RunMode()); };
  // A serial non-waiting read has no event for its failure: the host finds it where a waiting
  // call's is.
  serial_.Engine().Events.ReadFailed = [this](const std::string& why) { NoteLateFailure(why); };
  timers_.Timer2().OnTick = [this] { scan_.ReadTick(timers_.Timer2().Interval(), RunMode(), ScanReadEnable()); };
  timers_.Timer3().OnTick = [this] { scan_.WriteTick(); };
  scan_.WriteTimerRunning = [this] { return timers_.Timer3().Running(); };
  scan_.ReadTimerRunning = [this] { return timers_.Timer2().Running(); };
  WireScan();
}

// The last UdpLink of the thread closes the ECOM transport it shared; one that goes before the
// others takes its host's trace out of the transport it opened.
UdpLink::~UdpLink() {
  auto& link = ecom::EcomLink();
  if (--link.Controls <= 0) {
    link.Controls = 0;
    link.Close("the last UdpLink of the thread closed it");
  } else {
    link.Release(this);
    link.DropTrace(this);
  }
}

void UdpLink::ShareSettings() const {
  auto& link = ecom::EcomLink();
  link.Protocol = static_cast<std::int16_t>(commProtocol_);
  link.DeviceTimeOut = deviceTimeOut_;
}

std::string UdpLink::CurrentErrors() const { return ecom::EcomLink().ErrorText; }
void UdpLink::SetCurrentErrors(std::string value) { ecom::EcomLink().ErrorText = std::move(value); }
bool UdpLink::EcomOpen() const { return ecom::EcomLink().EcomOpen; }

// ---- Container events ----

void UdpLink::InitProperties() {
  props_.Init(Host().AmbientFont(), std::int32_t{9600}, "9600,o,8,1");
  line_.LoadPortOpen(false);
  line_.InitCommPort(1);
  commMode_ = udp::ECOM;
  commProtocol_ = udp::UDP_IP;
  deviceTimeOut_ = kDefaultDeviceTimeOut;
  ShareSettings();
}

void UdpLink::ReadProperties(PropertyBag& bag) {
  Keys().Read(*this, bag, Host().AmbientFont());
  ShareSettings();
  ecom::EcomLink().Line.ReadIdle = true;
  timers_.StartForRun(RunMode(), props_.scanReadEnable, props_.scanWriteEnable);
}

void UdpLink::WriteProperties(PropertyBag& bag) { Keys().Write(*this, bag, Host().AmbientFont()); }

void UdpLink::Show() { timers_.StopAll(); }
void UdpLink::Paint() { SetDrawnSize(kDrawnWidth, kDrawnHeight); }
void UdpLink::Resize() { SetDrawnSize(kDrawnWidth, kDrawnHeight); }

// ---- Properties ----

void UdpLink::SetEnabled(bool value) {
  props_.enabled = value;
  PropertyChanged("Enabled");
}

void UdpLink::SetNumOfReadRetries(std::int16_t value) {
  props_.numOfReadRetries = value;
  PropertyChanged("NumOfReadRetries");
}

void UdpLink::SetNumOfWriteRetries(std::int16_t value) {
  props_.numOfWriteRetries = value;
  PropertyChanged("NumOfWriteRetries");
}

void UdpLink::SetAddress(std::int32_t value) {
  props_.address = value;
  PropertyChanged("Address");
  props_.unitAddress = UnitAddressOf(value);
}

void UdpLink::SetCommMode(EnPDMode value) {
  commMode_ = value;
  PropertyChanged("ModBusMode");
}

void UdpLink::SetCommProtocol(EnPDProtocol value) {
  commProtocol_ = value;
  PropertyChanged("Protocol");
  ecom::EcomLink().Protocol = static_cast<std::int16_t>(value);
}

void UdpLink::SetDeviceTimeOut(std::int16_t value) {
  deviceTimeOut_ = value;
  PropertyChanged("DeviceTimeOut");
  ecom::EcomLink().DeviceTimeOut = value;
}

void UdpLink::SetScanReadEnable(bool value) {
  props_.scanReadEnable = value;
  timers_.FollowScanRead(value, RunMode());
  PropertyChanged("ScanReadEnable");
}

void UdpLink::SetScanWriteEnable(bool value) {
  props_.scanWriteEnable = value;
  timers_.FollowScanWrite(value, RunMode());
  PropertyChanged("ScanWriteEnable");
}

void UdpLink::SetScanReadIOTimerInterval(std::int32_t value) {
  timers_.Timer2().SetInterval(value);
  PropertyChanged("ScanReadIOTimerInterval");
}

void UdpLink::SetScanWriteIOTimerInterval(std::int32_t value) {
  timers_.Timer3().SetInterval(value);
  PropertyChanged("ScanWriteIOTimerInterval");
}

void UdpLink::SetPortOpen(bool value) {
  if (!EcomMode()) {
    line_.SetPortOpen(value);
    if (!value) serial_.Engine().LineClosed();
    // CommMode may have changed since this control opened the ECOM transport: it goes too.
    if (!value && ecom::EcomLink().Holds(this) && !ecom::EcomLink().Release(this)) ecom::EcomLink().Close();
    return;
  }
  if (!RunMode()) throw RuntimeError(err::NotAtDesignTime);
  line_.LoadPortOpen(value);
  PropertyChanged("PortOpen");
  // True opens the transport (again: an earlier open is closed first, so nothing leaks) with
  // the thread's protocol and device time-out, its datagrams traced where the host traces
  // serial lines; False closes it, unless another control of the thread opened it and keeps
  // its PortOpen True (a module per control: closing the press must not close the oven).
  if (value) {
    ecom::EcomLink().Open(Host().SerialTrace(), this);
  } else {
    if (!ecom::EcomLink().Release(this)) ecom::EcomLink().Close();
    // A serial line opened before a change to ECOM mode is closed with it, not held on with
    // the flag False (a later open in the serial mode would find it "already open").
    if (MSComm1().PortOpen()) {
      MSComm1().SetPortOpen(false);
      serial_.Engine().LineClosed();
    }
  }
  // An open that failed raises nothing (CurrentErrors has the transport's text): a host that
  // asks finds why, with the library's own words, as after a call.
  ClearFailure();
  if (value && !EcomOpen()) NoteFailure(NotOpenCause());
}

// ---- ECOM requests ----

namespace {

constexpr std::int16_t kIoSetReset = 1;

}  // namespace

Variant UdpLink::CommBusy() const { return Variant(ecom::EcomLink().Busy()); }
void UdpLink::SetCommBusy(const Variant& value) {
  if (value.ToBool()) return;
  ecom::EcomLink().FreeLink();
  serial_.Engine().TellFailedRead();
}

std::string UdpLink::NotOpenCause() const {
  const auto& link = ecom::EcomLink();
  const std::string why = link.OpenFailure.empty() ? std::string("set PortOpen to True first") : link.OpenFailure;
  return "ECOM is not open: " + why;
}

Result UdpLink::EcomRead(const Variant& Address, Variant* storeInto, std::int32_t size, Opt<std::int16_t> IOType,
                         Opt<std::int32_t> ioIdx, std::int16_t station) {
  ecom::EcomRequests request(ecom::EcomLink(), EventLoop::Current(), station);
  const Result result = request.Read(Address, storeInto, size, IOType, ioIdx);
  if (result != ResultOk) NoteFailure(request.Cause());
  return result;
}

Result UdpLink::ReadPLC(Variant& Address, Variant& ReadValue, Opt<Variant> ReadSize, Opt<std::int16_t> IOType,
                        Opt<std::int32_t> ioIdx) {
  const ScanEngine::HostCall hostCall;
  BeginCall();
  auto& link = ecom::EcomLink();
  // Only the ECOM path needs an open transport: a serial read is not refused for it.
  if (EcomMode() && !link.EcomOpen) {
    NoteFailure(NotOpenCause());
    return ResultEcomNotOpen;
  }
  if (link.Line.WriteCallActive) {
    NoteFailure("a write call of this thread is still running; a read from inside it is refused");
    return ResultFailed;
  }
  auto size = dnet::ReadSizeArgument(ReadSize);
  if (!size) {
    if (EcomMode()) link.ErrorText = "Error: " + dnet::ReadSizeRefusal(ReadSize);
    NoteFailure(dnet::ReadSizeRefusal(ReadSize));
    return ResultFailed;
  }
  if (IOType.ValueOr(0) == ioFloat) {
    *size = static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{*size} * 2, INT32_MIN, INT32_MAX));
    // As the classic control does, the caller's ReadSize then counts the words read.
    ReadSize.Put(Variant(*size));
  }
  link.Line.CallActive = true;
  const Result result =
      EcomMode() ? EcomRead(Address, &ReadValue, *size, IOType, ioIdx, props_.unitAddress)
                 : SerialNoted(serial_.Read(Address, ReadValue, *size, IOType.ValueOr(0), ioIdx.ValueOr(0)));
  link.Line.CallActive = false;
  return result;
}

// In ECOM mode a non-waiting read runs the ECOM request like ReadPLC (the library call itself
// waits), leaves the words for ReadData and raises CommComplete (from the loop when the read was
// started in a CommComplete handler); -1 only once it succeeded. In the serial modes it sends the
// enquiry and returns: the words arrive in ReadData, then CommComplete.
Result UdpLink::ReadPLCNW(Variant& Address, Variant&, Opt<Variant> ReadSize, Opt<std::int16_t> IOType) {
  const ScanEngine::HostCall call;
  return NonWaitingRead(Address, ReadSize, IOType, true);
}

Result UdpLink::NonWaitingRead(Variant& Address, Opt<Variant> ReadSize, Opt<std::int16_t> IOType, bool hostCall,
                               std::optional<std::int16_t> station) {
  if (hostCall) BeginCall();
  else ClearFailure();
  auto& link = ecom::EcomLink();
  auto size = dnet::ReadSizeArgument(ReadSize);
  if (!EcomMode()) {
    const Result sent = SerialNoted(size ? serial_.StartRead(Address, *size) : serial_.Failed(dnet::ReadSizeRefusal(ReadSize)));
    if (sent == ResultOk && hostCall) serial_.Engine().Follow();  // the scan reports its reads' ends itself
    return sent;
  }
  if (!link.EcomOpen) {
    NoteFailure(NotOpenCause());
    return ResultFailed;
  }
  if (link.Line.WriteCallActive) {
    NoteFailure("a write call of this thread is still running; a read from inside it is refused");
    return ResultFailed;
  }
  if (!size) {
    link.ErrorText = "Error: " + dnet::ReadSizeRefusal(ReadSize);
    NoteFailure(dnet::ReadSizeRefusal(ReadSize));
    return ResultFailed;
  }
  const Result result = EcomRead(Address, nullptr, *size, IOType, {}, station.value_or(props_.unitAddress));
  if (result == ResultOk) {
    // A scan read takes its words before the host's handler can read over them.
    const Lifetime::Watch watch = Watched();
    if (scan_.ScanReadOnLine()) scan_.ScanReadCompleted(ScanWords(*size));
    if (!watch.Gone()) RaiseEcomCompletion();  // a ScanComplete handler may unload the control
  }
  return result;
}

void UdpLink::RaiseEcomCompletion() {
  if (raisingEcomCompletion_) {
    // Inside this control's CommComplete handler: raised at the loop's next turn, as a serial
    // read's completion comes, with this read's words back in ReadData for its handler.
    EventLoop::Current().Post([this, watch = Watched(), words = ecom::EcomLink().CcmWords()] {
      if (watch.Gone()) return;
      ecom::EcomLink().CcmWords() = words;
      RaiseMarkedCommComplete();
    });
    return;
  }
  RaiseMarkedCommComplete();
}

void UdpLink::RaiseMarkedCommComplete() {
  const Lifetime::Watch watch = Watched();
  const bool outer = std::exchange(raisingEcomCompletion_, true);
  // However the handler ends (it may throw, or unload the control).
  struct Raising {
    UdpLink& link;
    const Lifetime::Watch& watch;
    bool outer;
    ~Raising() {
      if (!watch.Gone()) link.raisingEcomCompletion_ = outer;
    }
  } raising{*this, watch, outer};
  EventComComplete();
}

Result UdpLink::WritePLC(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType,
                         Opt<std::int32_t> ioIdx) {
  return Write(pstr, ABValue, WriteSize, IOType, ioIdx, std::nullopt);
}

Result UdpLink::Write(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType,
                      Opt<std::int32_t> ioIdx, std::optional<std::int16_t> station) {
  const ScanEngine::HostCall hostCall;
  BeginCall();
  auto& link = ecom::EcomLink();
  dnet::WriteCallScope call(link.Line);
  std::int32_t size = WriteSize.ValueOr(1);
  // ioFloat, two words a value, as the caller asked it: the address may rewrite IOType later.
  if (IOType.ValueOr(ioWord) == ioFloat) {
    size *= 2;
    if (size > INT16_MAX) {
      if (EcomMode()) link.ErrorText = "Error: WriteSize doubled for ioFloat does not fit 16 bits";
      NoteFailure("WriteSize " + std::to_string(size / 2) + " doubled for ioFloat is beyond 32767 words");
      return ResultFailed;
    }
    // As the classic control does, the caller's WriteSize then counts the words written.
    WriteSize.Put(static_cast<std::int16_t>(size));
  }
  if (EcomMode()) {
    ecom::EcomRequests request(link, EventLoop::Current(), station.value_or(props_.unitAddress));
    const Result result = request.Write(pstr, ABValue, size, IOType, ioIdx);
    if (result != ResultOk) NoteFailure(request.Cause());
    return result;
  }
  return SerialNoted(serial_.WritePLC(pstr, ABValue, size, IOType, station));
}

// A single-bit write over CCM would have to rewrite the whole byte of eight inputs or outputs,
// and could undo what the PLC changed in between: refused in ECOM mode rather than risked. In
// the serial modes it is a set/reset of the header address.
Result UdpLink::WritePLCBit(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType,
                            Opt<std::int32_t>) {
  const ScanEngine::HostCall hostCall;
  BeginCall();
  if (EcomMode()) {
    ecom::EcomLink().ErrorText = "Error: WritePLCBit is not available in ECOM mode";
    NoteFailure("WritePLCBit is not available in ECOM mode: a CCM write sends whole bytes, so it would rewrite the "
                "seven other bits of the byte");
    return ResultFailed;
  }
  dnet::WriteCallScope call(ecom::EcomLink().Line);
  IOType.Put(kIoSetReset);
  return SerialNoted(serial_.WritePLCBit(pstr, ABValue, WriteSize.ValueOr(1)));
}

// The engine's text ("Read error" after repeated serial time-outs) in every mode, as the classic
// control gives it; an ECOM failure is in CurrentErrors, and in FailureCause with its cause.
Variant UdpLink::ReadErrors() { return Variant(ecom::EcomLink().Line.ErrorText); }

std::string UdpLink::LRCchk(std::string& HEADER) { return dnet::LRCchk(HEADER); }

// ---- End of the forwards ----

// Reads nothing: it only gives an address with "," but no ";" the default station.
Result UdpLink::ReadPLCValue(Variant& Address, Variant&, Opt<std::int16_t>, Opt<std::int16_t>, Opt<std::int32_t>) {
  const ScanEngine::HostCall hostCall;
  if (Address.IsString()) {
    const std::string text = Address.ToString();
    if (text.find(',') != std::string::npos && text.find(';') == std::string::npos)
      Address = Variant(std::to_string(props_.unitAddress) + ";" + text);
  }
  BeginCall();
  NoteFailure("ReadPLCValue reads nothing on this control: it only puts the station before the address (read with "
              "ReadPLC)");
  return ResultFailed;
}

// The words of the latest read, ECOM or serial (index 0..1000).
Variant UdpLink::ReadData(std::int16_t& idx) {
  if (idx < 0 || idx > 1000) throw RuntimeError(err::Subscript);
  return Variant(ecom::EcomLink().CcmWords()[static_cast<std::size_t>(idx)]);
}

void UdpLink::ForceData(Variant& Add, std::int32_t& value) {
  ClearFailure();
  if (std::string refusal = scan_.Queue().Force(Add, value); !refusal.empty()) NoteFailure(std::move(refusal));
}
void UdpLink::WriteQueData() { scan_.Queue().WriteQueData(); }
void UdpLink::SetScanRegGroup(std::int16_t& ScanRegGroup, bool& state) { scan_.SetScanRegGroup(ScanRegGroup, state); }
void UdpLink::EditScanDatabase() { plc::EditScanDatabase(); }
Variant UdpLink::TagAddressFromName(Variant& name) { return plc::TagAddressFromName(name); }
Variant UdpLink::TagNameFromAddress(Variant& Address) { return plc::TagNameFromAddress(Address); }

void UdpLink::SendToComm(std::string& line1) { line_.SendText(line1); }
Variant UdpLink::ReceiveComm() { return line_.Receive(); }
void UdpLink::ClearCommPort() { line_.Clear(); }

float UdpLink::LongFloatToDec(std::int32_t&, std::int32_t&) { return 0.0f; }  // UdpLink's always gives 0
std::int32_t UdpLink::CnvOctToDec(std::string& Oct) { return udp::CnvOctToDec(Oct); }

void UdpLink::size(float&, float&) { SetDrawnSize(kDrawnWidth, kDrawnHeight); }

void UdpLink::EventComComplete() {
  std::vector<Variant> none;
  RaiseEvent("CommComplete", none);
}

void UdpLink::BeginCall() {
  ClearFailure();
  serial_.Engine().Unfollow();
}

Result UdpLink::SerialNoted(Result result) {
  if (result != ResultOk) NoteFailure(serial_.Cause());
  return result;
}

// UdpLink's About box shows no version number.
void UdpLink::ShowAboutBox() {
  Host().ShowModal(AboutBoxDialog("udplink", false, {"UdpLink: DirectLOGIC over ECOM Ethernet or DirectNET serial"}));
}

}  // namespace plc
