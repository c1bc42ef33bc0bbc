#include "modbus/RtuLink.h"

#include "frame/AboutBox.h"
#include "frame/Configuration.h"
#include "base/Conversions.h"
#include "frame/DatabaseFiles.h"
#include "frame/TagDatabase.h"
#include "modbus/AsciiFrame.h"

namespace plc {

namespace {
constexpr std::size_t kSlaveImageSize = 50001;   // registers 0..50000
constexpr std::size_t kMasterImageSize = 6;      // 0..5
}  // namespace

RtuLink::RtuLink(std::unique_ptr<SerialPort> port)
    : line_(*this, std::move(port), SerialLine::Rules{}),
      timers_(kScanTimerDesign),
      registerImage_(kMasterImageSize, 0),
      master_(MSComm2(), EventLoop::Current()),
      scan_(master_, EventLoop::Current()),
      road_(master_, scan_),
      slave_(MSComm2(), master_, registerImage_, EventLoop::Current()) {
  master_.Events.HandleSlaveRequest = [this] { slave_.HandleSlaveRequest(); };
  timers_.Timer1().OnTick = [this] { master_.ReplyWatchdog(); };
  timers_.Timer2().OnTick = [this] { scan_.ReadTick(timers_.Timer2().Interval(), RunMode(), ScanReadEnable()); };
  timers_.Timer3().OnTick = [this] { scan_.WriteTick(); };
  scan_.WriteTimerRunning = [this] { return timers_.Timer3().Running(); };
  scan_.ReadTimerRunning = [this] { return timers_.Timer2().Running(); };
  master_.Events.CommCompleteEx = [this](std::vector<Variant>& args) { RaiseEvent("CommCompleteEx", args); };
  master_.Events.CommCompleteExHeard = [this] { return HasEventSink(); };
  master_.Events.CommEventModem = [this](std::vector<Variant>& args) { RaiseEvent("CommEventModem", args); };
  // A non-waiting read has no event for its failure: the host finds it where a waiting call's is.
  master_.Events.ReadFailed = [this](const std::string& why) { NoteLateFailure(why); };
  PushSettingsToMaster();
  WireScan();
}

RtuLink::~RtuLink() = default;

// ---- Container events ----

void RtuLink::Initialize() {
  timers_.StopAll();
  SetDrawnSize(kDesignWidth, kDesignHeight);
  props_.unitAddress = UnitAddressOf(props_.address);
  PushSettingsToMaster();
}

void RtuLink::InitProperties() {
  props_.Init(Host().AmbientFont(), std::int32_t{19200}, "19200,n,8,1");
  line_.LoadPortOpen(false);
  line_.InitCommPort(1);
  modBusMode_ = rtu::Rtu;
  rs485Mode_ = rtu::OFF;
  plcType_ = rtu::EnStdModbus;
  PushSettingsToMaster();
}

void RtuLink::ReadProperties(PropertyBag& bag) {
  Keys().Read(*this, bag, Host().AmbientFont());
  PushSettingsToMaster();
  SetUpForMode();
  if (RunMode() && IsSlaveMode(modBusMode_)) timers_.StopAll();
  else timers_.StartForRun(RunMode(), props_.scanReadEnable, props_.scanWriteEnable);
}

void RtuLink::WriteProperties(PropertyBag& bag) { Keys().Write(*this, bag, Host().AmbientFont()); }

void RtuLink::Show() { timers_.StopAll(); }
void RtuLink::Paint() { SetDrawnSize(kDrawnWidth, kDrawnHeight); }
void RtuLink::Resize() { SetDrawnSize(kDrawnWidth, kDrawnHeight); }

// ---- Properties ----

void RtuLink::SetEnabled(bool value) {
  props_.enabled = value;
  PropertyChanged("Enabled");
}

void RtuLink::SetNumOfReadRetries(std::int16_t value) {
  props_.numOfReadRetries = value;
  PropertyChanged("NumOfReadRetries");
}

void RtuLink::SetNumOfWriteRetries(std::int16_t value) {
  props_.numOfWriteRetries = value;
  PropertyChanged("NumOfWriteRetries");
}

void RtuLink::SetAddress(std::int32_t value) {
  props_.address = value;
  PropertyChanged("Address");
  props_.unitAddress = UnitAddressOf(value);
  master_.SetUnitAddress(props_.unitAddress);
}

void RtuLink::SetModBusMode(EnModBusMode value) {
  modBusMode_ = Variant(static_cast<std::int32_t>(value)).ToInt16();
  PropertyChanged("ModBusMode");
  master_.SetModBusMode(modBusMode_);
  SetUpForMode();
}

void RtuLink::PushSettingsToMaster() {
  master_.SetModBusMode(modBusMode_);
  master_.SetRS485Mode(rs485Mode_);
  master_.SetPLCType(plcType_);
  master_.SetUnitAddress(props_.unitAddress);
}

void RtuLink::SetUpForMode() {
  slave_.Reset();
  if (IsSlaveMode(modBusMode_)) {
    MSComm2().SetInBufferCount(0);
    MSComm2().SetRThreshold(1);
    MSComm2().SetInputLen(0);
    registerImage_.assign(kSlaveImageSize, 0);
  } else {
    registerImage_.assign(kMasterImageSize, 0);
  }
}

void RtuLink::SetRS485Mode(EnRS485Mode value) {
  rs485Mode_ = Variant(static_cast<std::int32_t>(value)).ToInt16();
  PropertyChanged("RS485Mode");
  master_.SetRS485Mode(rs485Mode_);
}

void RtuLink::SetPLCType(EnPLCType value) {
  plcType_ = value;
  PropertyChanged("PLCType");
  master_.SetPLCType(plcType_);
}

void RtuLink::SetScanReadEnable(bool value) {
  props_.scanReadEnable = value;
  timers_.FollowScanRead(value, RunMode());
  PropertyChanged("ScanReadEnable");
}

void RtuLink::SetScanWriteEnable(bool value) {
  props_.scanWriteEnable = value;
  timers_.FollowScanWrite(value, RunMode());
  PropertyChanged("ScanWriteEnable");
}

void RtuLink::SetScanReadIOTimerInterval(std::int32_t value) {
  timers_.Timer2().SetInterval(value);
  PropertyChanged("ScanReadIOTimerInterval");
}

void RtuLink::SetScanWriteIOTimerInterval(std::int32_t value) {
  timers_.Timer3().SetInterval(value);
  PropertyChanged("ScanWriteIOTimerInterval");
}

// ---- Modbus master transactions: one-line forwards to the call road and the engines ----

Variant RtuLink::CommBusy() const { return road_.CommBusy(); }
void RtuLink::SetCommBusy(const Variant& value) { road_.SetCommBusy(value); }

void RtuLink::BeginCall() {
  ClearFailure();
  master_.Unfollow();
}

Result RtuLink::Noted(Result result) {
  if (result == ResultOk) ClearFailure();
  else NoteFailure(road_.Cause());
  return result;
}

Result RtuLink::ReadPLC(std::string& Address, VariantArray& ReadValue, Opt<Variant> ReadSize, Opt<std::int16_t> ioType) {
  const ScanEngine::HostCall hostCall;
  BeginCall();
  return Noted(road_.ReadPLC(Address, ReadValue, ReadSize, ioType));
}
Result RtuLink::ReadPLCNW(std::string& Address, VariantArray& ReadValue, Opt<std::int16_t> ReadSize,
                          Opt<std::int16_t> ioType) {
  const ScanEngine::HostCall hostCall;
  BeginCall();
  return Noted(road_.ReadPLCNW(Address, ReadValue, ReadSize, ioType));
}
Result RtuLink::ReadDevice(std::string& Address, Opt<std::int16_t> ReadSize, Opt<std::int16_t> ioType) {
  const ScanEngine::HostCall hostCall;
  BeginCall();
  return Noted(road_.ReadDevice(Address, ReadSize, ioType));
}
Result RtuLink::WritePLC(std::string& pstr, VariantArray& ABValue, Opt<std::int16_t> ReadSize, Opt<std::int16_t> ioType) {
  const ScanEngine::HostCall hostCall;
  BeginCall();
  return Noted(road_.WritePLC(pstr, ABValue, ReadSize, ioType));
}
// RtuLink's ReadPLCValue reads nothing, by design.
Result RtuLink::ReadPLCValue(std::string&, VariantArray&, Opt<std::int16_t>, Opt<std::int16_t>, Opt<std::int32_t>) {
  master_.Unfollow();
  NoteFailure("RtuLink's ReadPLCValue reads nothing and always returns 0; use ReadPLC");
  return road_.ReadPLCValue();
}

double RtuLink::ReadData(std::int16_t& idx) { return road_.ReadData(idx); }
Variant RtuLink::ReadErrors() { return road_.ReadErrors(); }
void RtuLink::IOData(VariantArray& DataArr, std::int16_t& Size) { road_.IOData(DataArr, Size); }

Variant RtuLink::ReadModData(Variant&, Variant&, Opt<std::int16_t> NumOfReg) {
  if (NumOfReg.ValueOr(0) == 0) NumOfReg.Put(1);
  return Variant();
}

Variant RtuLink::SetModData(Variant&, Variant&) { return Variant(); }
void RtuLink::ForceModData(Variant& Add, std::int32_t& value) {
  ClearFailure();
  if (std::string refusal = scan_.Queue().Force(Add, value); !refusal.empty()) NoteFailure(std::move(refusal));
}
void RtuLink::WriteQueData() { scan_.Queue().WriteQueData(); }
void RtuLink::SetScanRegGroup(std::int16_t& ScanRegGroup, bool& state) { scan_.SetScanRegGroup(ScanRegGroup, state); }

// Raw pass-through: the engine reports every received character through CommEventModem.
void RtuLink::SendToComm(std::string& line1) { master_.SendToComm(line1); }

Variant RtuLink::ReceiveComm() { return line_.Receive(); }
void RtuLink::ClearCommPort() { line_.Clear(); }

std::string RtuLink::MakeLRC(std::string& msg) { return modbus::MakeLRC(msg); }

float RtuLink::LongFloatToDec(std::int32_t& dlong1, std::int32_t& dlong2) { return plc::LongFloatToDec(dlong1, dlong2); }
std::int16_t RtuLink::DecToLongFloat(float& Dec, std::int32_t& dlong1, std::int32_t& dlong2) {
  return plc::DecToLongFloat(Dec, dlong1, dlong2);
}
std::int32_t RtuLink::ByteToLong(VariantArray& ByteArr, double& UnsignedLong) {
  return plc::ByteToLong(ByteArr, UnsignedLong);
}
void RtuLink::LongToByte(std::int32_t& LongVar, VariantArray& ByteArr, std::int16_t& StartByteIndex) {
  plc::LongToByte(LongVar, ByteArr, StartByteIndex);
}
void RtuLink::LongToUInteger(std::int32_t& LongVar, VariantArray& UIntegerArr, std::int16_t& StartByteIndex) {
  plc::LongToUInteger(LongVar, UIntegerArr, StartByteIndex);
}
void RtuLink::SignedIntToLong(Variant& SgnIntr, std::int32_t& Lng1) { plc::SignedIntToLong(SgnIntr, Lng1); }
void RtuLink::LongToSIgnedInt(Variant& Lng1, std::int32_t& SgnIntr) { plc::LongToSIgnedInt(Lng1, SgnIntr); }

Variant RtuLink::TagAddressFromName(Variant& name) { return plc::TagAddressFromName(name); }
Variant RtuLink::TagNameFromAddress(Variant& Address) { return plc::TagNameFromAddress(Address); }
// Fills the tag and scan tables from the files in DatabasePath; what was refused (nothing is
// then loaded) is the failure cause.
void RtuLink::ReadScanDatabase() {
  ClearFailure();
  DatabaseLoad load = plc::ReadScanDatabase();
  if (!load.loaded) NoteFailure(load.Text());
}
void RtuLink::EditScanDatabase() { plc::EditScanDatabase(); }
void RtuLink::mains() { LoadConfiguration(kModbusDeviceName); }

void RtuLink::Refresh() {}
void RtuLink::Size(float&, float&) { SetDrawnSize(kDrawnWidth, kDrawnHeight); }
void RtuLink::EventComComplete() {}

void RtuLink::ShowAboutBox() {
  Host().ShowModal(AboutBoxDialog("rtulink", true, {"RtuLink: Modbus RTU and ASCII, master and slave"}));
}

}  // namespace plc
