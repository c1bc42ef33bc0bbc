#include "directnet/SeqLink.h"

#include "frame/AboutBox.h"
#include "base/OctalText.h"
#include "base/RuntimeError.h"
#include "frame/TagDatabase.h"
#include "directnet/Blocks.h"

namespace plc {

namespace {
// ScanElapsed of SeqLink: indices 0..320.
constexpr std::int32_t kScanElapsedEntries = 321;
}  // namespace

SeqLink::SeqLink(std::unique_ptr<SerialPort> port)
    : line_(*this, std::move(port), SerialLine::Rules{}),
      timers_(kScanTimerDesign),
      engine_(MSComm1(), dnet::SeqLinkState(), EventLoop::Current()),
      road_(engine_, props_.unitAddress),
      scanLine_(engine_, road_, props_.unitAddress),
      scan_(scanLine_, EventLoop::Current(), ScanTables(), kScanElapsedEntries, &dnet::SeqLinkState().WriteQueueActive) {
  engine_.Events.CommComplete = [this] {
    const Lifetime::Watch watch = Watched();
    scan_.ScanReadCompleted(scanLine_.CompletedWords());
    if (!watch.Gone()) EventComComplete();  // a ScanComplete handler may unload the control
  };
  // A non-waiting read has no event for its failure: the host finds it where a waiting call's is.
  engine_.Events.ReadFailed = [this](const std::string& why) { NoteLateFailure(why); };
  engine_.Events.CommEventModem = [this](std::vector<Variant>& args) { RaiseEvent("CommEventModem", args); };
  timers_.Timer1().OnTick = [this] { engine_.Watchdog(RunMode()); };
  timers_.Timer2().OnTick = [this] { scan_.ReadTick(timers_.Timer2().Interval(), RunMode(), ScanReadEnable()); };
  timers_.Timer3().OnTick = [this] { scan_.WriteTick(); };
  scan_.WriteTimerRunning = [this] { return timers_.Timer3().Running(); };
  scan_.ReadTimerRunning = [this] { return timers_.Timer2().Running(); };
  WireScan();
}

SeqLink::~SeqLink() = default;

// ---- Container events ----

void SeqLink::InitProperties() {
  props_.Init(Host().AmbientFont(), std::int32_t{9600}, "9600,o,8,1");
  line_.LoadPortOpen(false);
  line_.InitCommPort(1);
  commMode_ = seq::KSeq;
}

void SeqLink::ReadProperties(PropertyBag& bag) {
  Keys().Read(*this, bag, Host().AmbientFont());
  engine_.State().ReadIdle = true;
  timers_.StartForRun(RunMode(), props_.scanReadEnable, props_.scanWriteEnable);
}

void SeqLink::WriteProperties(PropertyBag& bag) { Keys().Write(*this, bag, Host().AmbientFont()); }

void SeqLink::Show() { timers_.StopAll(); }
void SeqLink::Paint() { SetDrawnSize(kDrawnWidth, kDrawnHeight); }
void SeqLink::Resize() { SetDrawnSize(kDrawnWidth, kDrawnHeight); }

// ---- Properties ----

void SeqLink::SetEnabled(bool value) {
  props_.enabled = value;
  PropertyChanged("Enabled");
}

void SeqLink::SetNumOfReadRetries(std::int16_t value) {
  props_.numOfReadRetries = value;
  PropertyChanged("NumOfReadRetries");
}

void SeqLink::SetNumOfWriteRetries(std::int16_t value) {
  props_.numOfWriteRetries = value;
  PropertyChanged("NumOfWriteRetries");
}

void SeqLink::SetAddress(std::int32_t value) {
  props_.address = value;
  PropertyChanged("Address");
  props_.unitAddress = UnitAddressOf(value);
}

void SeqLink::SetCommMode(EnPDMode value) {
  commMode_ = Variant(static_cast<std::int32_t>(value)).ToInt16();
  PropertyChanged("ModBusMode");
}

void SeqLink::SetScanReadEnable(bool value) {
  props_.scanReadEnable = value;
  timers_.FollowScanRead(value, RunMode());
  PropertyChanged("ScanReadEnable");
}

void SeqLink::SetScanWriteEnable(bool value) {
  props_.scanWriteEnable = value;
  timers_.FollowScanWrite(value, RunMode());
  PropertyChanged("ScanWriteEnable");
}

void SeqLink::SetScanReadIOTimerInterval(std::int32_t value) {
  timers_.Timer2().SetInterval(value);
  PropertyChanged("ScanReadIOTimerInterval");
}

void SeqLink::SetScanWriteIOTimerInterval(std::int32_t value) {
  timers_.Timer3().SetInterval(value);
  PropertyChanged("ScanWriteIOTimerInterval");
}

// ---- DirectNET transactions: one-line forwards to the call road and the engine ----

Variant SeqLink::CommBusy() const { return Variant(engine_.CommBusy()); }
// False frees the line; True changes nothing. A value that is no Boolean is a type mismatch.
void SeqLink::SetCommBusy(const Variant& value) { engine_.SetCommBusy(value.ToBool()); }

Result SeqLink::ReadPLC(Variant& Address, Variant& ReadValue, Opt<Variant> ReadSize, Opt<std::int16_t> IOType,
                        Opt<std::int32_t> ioIdx) {
  const ScanEngine::HostCall hostCall;
  BeginCall();
  return Noted(road_.ReadPLC(Address, ReadValue, ReadSize, IOType, ioIdx));
}
// ReadValue is not filled: the values arrive in ReadData before CommComplete.
Result SeqLink::ReadPLCNW(Variant& Address, Variant&, Opt<Variant> ReadSize, Opt<std::int16_t> IOType) {
  const ScanEngine::HostCall hostCall;
  BeginCall();
  return Noted(road_.ReadPLCNW(Address, ReadSize, IOType));
}
Result SeqLink::ReadDevice(Variant& Address, Opt<Variant> ReadSize, Opt<std::int16_t> IOType, Opt<std::int32_t> ioIdx) {
  const ScanEngine::HostCall hostCall;
  BeginCall();
  return Noted(road_.ReadDevice(Address, ReadSize, IOType, ioIdx));
}
Result SeqLink::WritePLC(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType,
                         Opt<std::int32_t>) {
  const ScanEngine::HostCall hostCall;
  BeginCall();
  return Noted(road_.WritePLC(pstr, ABValue, WriteSize, IOType));
}
Result SeqLink::WritePLCBit(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType,
                            Opt<std::int32_t>) {
  const ScanEngine::HostCall hostCall;
  BeginCall();
  return Noted(road_.WritePLCBit(pstr, ABValue, WriteSize, IOType));
}

void SeqLink::BeginCall() {
  ClearFailure();
  engine_.Unfollow();
}

Result SeqLink::Noted(Result result) {
  if (result != ResultOk) NoteFailure(road_.Cause());
  return result;
}
Variant SeqLink::ReadErrors() { return Variant(engine_.State().ErrorText); }

std::string SeqLink::LRCchk(std::string& HEADER) { return dnet::LRCchk(HEADER); }

// Reads nothing: it only gives an address with "," but no ";" the default station.
Result SeqLink::ReadPLCValue(Variant& Address, Variant&, Opt<std::int16_t>, Opt<std::int16_t>, Opt<std::int32_t>) {
  const ScanEngine::HostCall hostCall;
  BeginCall();
  return Noted(road_.ReadPLCValue(Address));
}

Variant SeqLink::ReadData(std::int16_t& idx) { return engine_.ReadValues().Get(idx); }

void SeqLink::ForceData(Variant& Add, std::int32_t& value) {
  ClearFailure();
  if (std::string refusal = scan_.Queue().Force(Add, value); !refusal.empty()) NoteFailure(std::move(refusal));
}
void SeqLink::WriteQueData() { scan_.Queue().WriteQueData(); }
void SeqLink::SetScanRegGroup(std::int16_t& ScanRegGroup, bool& state) { scan_.SetScanRegGroup(ScanRegGroup, state); }
void SeqLink::EditScanDatabase() { plc::EditScanDatabase(); }
Variant SeqLink::TagAddressFromName(Variant& name) { return plc::TagAddressFromName(name); }
Variant SeqLink::TagNameFromAddress(Variant& Address) { return plc::TagNameFromAddress(Address); }

// ---- Raw line and pass-through mode ----

// Received data and carrier changes go to the host as CommEventModem until the next
// transaction starts.
void SeqLink::SendToComm(std::string& line1) { engine_.SendToComm(line1); }

Variant SeqLink::ReceiveComm() { return line_.Receive(); }
void SeqLink::ClearCommPort() { line_.Clear(); }

// ---- The rest of the frame ----

float SeqLink::LongFloatToDec(std::int32_t&, std::int32_t&) { return 0.0f; }  // SeqLink's always gives 0
std::int32_t SeqLink::CnvOctToDec(std::string& Oct) { return seq::CnvOctToDec(Oct); }

void SeqLink::Size(float&, float&) { SetDrawnSize(kDrawnWidth, kDrawnHeight); }

void SeqLink::EventComComplete() {
  std::vector<Variant> none;
  RaiseEvent("CommComplete", none);
}

void SeqLink::ShowAboutBox() {
  Host().ShowModal(AboutBoxDialog("seqlink", true, {"SeqLink: DirectNET / K-sequence for DirectLOGIC PLCs"}));
}

}  // namespace plc
