#include "df1/DfLink.h"

#include "frame/AboutBox.h"
#include "frame/Configuration.h"
#include "base/Conversions.h"
#include "frame/FrameProperties.h"
#include "frame/TagDatabase.h"

namespace plc {

namespace {
// Timer1 and Timer3 1000 ms, Timer2 (the watchdog) 3000 ms, Timer4 10 ms.
constexpr TimerDesign kDf1TimerDesign{1000, 3000, 1000};
constexpr std::int32_t kTimer4Interval = 10;
}  // namespace

DfLink::DfLink(std::unique_ptr<SerialPort> port)
    : line_(*this, std::move(port), SerialLine::Rules{.openAtDesignTime = true, .stateFromChild = true}),
      timers_(kDf1TimerDesign),
      timer4_(kTimer4Interval),
      engine_(line_.Child(), EventLoop::Current()),
      scanLine_(MakeScanLine(*this)),
      scan_(*scanLine_) {
  timers_.Timer2().OnTick = [this] { engine_.WatchdogTick(); };
  engine_.OnClosed = [this](const df1::LinkClosing& closing, const df1::Transaction& t) {
    if (t.number == followed_) followed_ = 0;  // its completion says how it ended
    if (!ScanClosed(closing, t)) RaiseCommComplete(closing, t);
  };
  engine_.OnGivenUp = [this](const df1::Transaction& t, Result result, const std::string& why) { GivenUp(t, result, why); };
  WireScan();
}

DfLink::~DfLink() = default;

// ---- Container events ----

void DfLink::Initialize() {
  timers_.StopAll();
  timer4_.SetEnabled(false);
  SetDrawnSize(kDesignWidth, kDesignHeight);
  df1::Df1State& s = engine_.State();
  s.LineFree = true;
  engine_.Copies().Address = 1;
  engine_.Copies().Node = 1;
}

void DfLink::InitProperties() {
  enabled_ = false;
  numOfReadRetries_ = 0;
  numOfWriteRetries_ = 0;
  address_ = Variant(std::int32_t{1});
  node_ = Variant(std::int32_t{1});
  plcType_ = df1::EnSLC500;
  mode_ = df1::EnCRC;
  line_.LoadPortOpen(false);
  line_.LoadCommPort(1);
  MSComm2().SetDTREnable(true);
  MSComm2().SetSettings("9600,n,8,1");
  // A new control in run mode runs the watchdog too, so that a lost reply never holds the
  // driver for good.
  timers_.Timer2().SetEnabled(RunMode());
}

void DfLink::ReadProperties(PropertyBag& bag) {
  Keys().Read(*this, bag, Host().AmbientFont());
  engine_.State().LineFree = true;
  if (RunMode()) timers_.Timer2().SetEnabled(true);
  else timers_.StopAll();
}

void DfLink::WriteProperties(PropertyBag& bag) { Keys().Write(*this, bag, Host().AmbientFont()); }

void DfLink::Paint() { SetDrawnSize(kDrawnWidth, kDrawnHeight); }
void DfLink::Resize() { SetDrawnSize(kDrawnWidth, kDrawnHeight); }

// ---- Properties ----

void DfLink::SetEnabled(bool value) {
  enabled_ = value;
  PropertyChanged("Enabled");
}

void DfLink::SetPortOpen(bool value) {
  line_.SetPortOpen(value);
  if (!value) engine_.LineClosed();
}

void DfLink::SetAddress(const Variant& value) {
  address_ = value;
  PropertyChanged("Address");
  engine_.Copies().Address = value.ToInt16();
}

void DfLink::SetNode(const Variant& value) {
  node_ = value;
  PropertyChanged("Node");
  engine_.Copies().Node = value.ToInt16();
}

void DfLink::SetPLCType(EnPLCType value) {
  plcType_ = value;
  engine_.Copies().Type = plcType_;
  PropertyChanged("PLCType");
}

DfLink::EnMode DfLink::Mode() const {
  engine_.Copies().Mode = mode_;
  return static_cast<EnMode>(mode_);
}

void DfLink::SetMode(EnMode value) {
  mode_ = Variant(static_cast<std::int32_t>(value)).ToInt16();
  engine_.Copies().Mode = mode_;
  PropertyChanged("Mode");
}

// ---- Flags and data of the shared driver state ----

Variant DfLink::CommBusy() const { return Variant(engine_.State().Busy ? True : False); }
void DfLink::SetCommBusy(const Variant& value) { engine_.SetCommBusy(value.ToBool()); }

double DfLink::ReadData(std::int16_t& idx) { return engine_.State().DataBuffer.Get(idx).ToDouble(); }
Variant DfLink::ReadErrors() { return Variant(lastErrorText_); }

Result DfLink::ReadPLCValue(Variant&, Variant&, Opt<std::int16_t>, Opt<std::int16_t>, Opt<std::int32_t>) {
  // Reads nothing, by design; the 0 it returns is a failure and says why.
  ClearFailure();
  NoteFailure("DfLink's ReadPLCValue reads nothing and always returns 0; use ReadPLC");
  return ResultFailed;
}

void DfLink::ForceData(Variant& Add, std::int32_t& value) {
  ClearFailure();
  if (std::string refusal = scan_.Queue().Force(Add, value); !refusal.empty()) NoteFailure(std::move(refusal));
}
void DfLink::WriteQueData() { scan_.Queue().WriteQueData(); }
void DfLink::EditScanDatabase() { plc::EditScanDatabase(); }
void DfLink::SetScanRegGroup(std::int16_t& ScanRegGroup, bool& state) { scan_.SetScanRegGroup(ScanRegGroup, state); }
Variant DfLink::TagAddressFromName(Variant& name) { return plc::TagAddressFromName(name); }
Variant DfLink::TagNameFromAddress(Variant& Address) { return plc::TagNameFromAddress(Address); }
void DfLink::EventComComplete() {}

void DfLink::SendToComm(std::string& Line1) { line_.SendText(Line1); }
Variant DfLink::ReceiveComm() { return line_.Receive(); }
void DfLink::ClearCommPort() { line_.Clear(); }

float DfLink::LongFloatToDec(std::int32_t& dlong1, std::int32_t& dlong2) { return plc::LongFloatToDec(dlong1, dlong2); }
void DfLink::mains() {
  LoadConfiguration(kDf1DeviceName);
  // The link sequences are constants already; what mains still does for the link is free it.
  engine_.State().LineFree = true;
}
void DfLink::Refresh() {}
void DfLink::Size(float, float) { SetDrawnSize(kDrawnWidth, kDrawnHeight); }
void DfLink::ShowAboutBox() {
  Host().ShowModal(AboutBoxDialog("DfLink", true, {"DfLink: Allen-Bradley DF1 full duplex, PCCC"}));
}

}  // namespace plc
