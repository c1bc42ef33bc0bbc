#include "directnet/SeqLink.h"

#include "core/OctalText.h"
#include "core/RuntimeError.h"
#include "core/TagDatabase.h"

namespace plc {

SeqLink::SeqLink(std::unique_ptr<SerialPort> port)
    : line_(*this, std::move(port), SerialLine::Rules{}), timers_(kScanTimerDesign) {
  MSComm1().OnComm = [this] { OnComm(); };
}

SeqLink::~SeqLink() { MSComm1().OnComm = nullptr; }

// ---- Container events ----

void SeqLink::InitProperties() {
  props_.Init(Host().AmbientFont(), std::int32_t{9600}, "9600,o,8,1");
  line_.LoadPortOpen(false);
  line_.InitCommPort(1);
  commMode_ = seq::KSeq;
}

void SeqLink::ReadProperties(PropertyBag& bag) {
  Keys().Read(*this, bag, Host().AmbientFont());
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

// ---- DirectNET transactions ----
// These forward to the DirectNET engine and its shared link state. Until it is built no
// transaction can start, so every call reports failure and the line is never touched;
// nothing is ever in flight, so CommBusy reads False.

Variant SeqLink::CommBusy() const { return Variant(false); }
void SeqLink::SetCommBusy(const Variant&) {}

Result SeqLink::ReadPLC(Variant&, Variant&, Opt<Variant>, Opt<std::int16_t>, Opt<std::int32_t>) {
  return ResultFailed;
}
Result SeqLink::ReadPLCNW(Variant&, Variant&, Opt<Variant>, Opt<std::int16_t>) { return ResultFailed; }
Result SeqLink::ReadDevice(Variant&, Opt<Variant>, Opt<std::int16_t>, Opt<std::int32_t>) { return ResultFailed; }
Result SeqLink::WritePLC(Variant&, Variant&, Opt<std::int16_t>, Opt<std::int16_t>, Opt<std::int32_t>) {
  return ResultFailed;
}
Result SeqLink::WritePLCBit(Variant&, Variant&, Opt<std::int16_t>, Opt<std::int16_t>, Opt<std::int32_t>) {
  return ResultFailed;
}
Variant SeqLink::ReadErrors() { return Variant(errorText_); }

std::string SeqLink::LRCchk(std::string&) {
  throw RuntimeError(err::InvalidCall, "LRCchk is not available until the DirectNET framing is built");
}

// ---- End of the forwards ----

// Reads nothing: it only gives an address with "," but no ";" the default station.
Result SeqLink::ReadPLCValue(Variant& Address, Variant&, Opt<std::int16_t>, Opt<std::int16_t>, Opt<std::int32_t>) {
  if (Address.IsString()) {
    const std::string text = Address.ToString();
    if (text.find(',') != std::string::npos && text.find(';') == std::string::npos)
      Address = Variant(std::to_string(props_.unitAddress) + ";" + text);
  }
  return ResultFailed;
}

Variant SeqLink::ReadData(std::int16_t& idx) { return readValues_.Get(idx); }

void SeqLink::ForceData(Variant&, std::int32_t&) {}
void SeqLink::WriteQueData() {}
// The scan database has no loader, so no group matches; the scan engine takes this over.
void SeqLink::SetScanRegGroup(std::int16_t&, bool&) {}
void SeqLink::EditScanDatabase() { plc::EditScanDatabase(); }
Variant SeqLink::TagAddressFromName(Variant& name) { return plc::TagAddressFromName(name); }
Variant SeqLink::TagNameFromAddress(Variant& Address) { return plc::TagNameFromAddress(Address); }

// ---- Raw line and pass-through mode ----

void SeqLink::SendToComm(std::string& line1) {
  passThroughMode_ = true;
  MSComm1().SetRThreshold(1);
  line_.SendText(line1);
}

Variant SeqLink::ReceiveComm() { return line_.Receive(); }
void SeqLink::ClearCommPort() { line_.Clear(); }

void SeqLink::OnComm() {
  if (!passThroughMode_) return;  // the DirectNET receive engine takes these once it is built
  SerialPort& port = MSComm1();
  if (port.CommEvent() == comm::EvReceive && port.InBufferCount() > 0) {
    Bytes bytes = port.InputBytes();
    modemData_.Set(1, Variant(std::string(bytes.begin(), bytes.end())));
    RaiseCommEventModem(comm::EvReceive, connected_);
  } else if (port.CommEvent() == comm::EvCD) {
    modemData_.Set(1, Variant());
    carrierState_ = port.CDHolding();
    RaiseCommEventModem(comm::EvCD, carrierState_);
  }
}

// The arguments are by reference: what a handler assigns to MData or Connected stays.
void SeqLink::RaiseCommEventModem(std::int16_t event, bool& connected) {
  std::vector<Variant> args{Variant(event), Variant(modemData_), Variant(connected)};
  RaiseEvent("CommEventModem", args);
  if (args[1].IsArray()) modemData_ = args[1].Array();
  try {
    connected = args[2].ToBool();
  } catch (const RuntimeError&) {
    // a handler that stored something that is no Boolean leaves the flag as it was
  }
}

// ---- The rest of the frame ----

float SeqLink::LongFloatToDec(std::int32_t&, std::int32_t&) { return 0.0f; }  // SeqLink's always gives 0
std::int32_t SeqLink::CnvOctToDec(std::string& Oct) { return seq::CnvOctToDec(Oct); }

void SeqLink::Size(float&, float&) { SetDrawnSize(kDrawnWidth, kDrawnHeight); }

void SeqLink::EventComComplete() {
  std::vector<Variant> none;
  RaiseEvent("CommComplete", none);
}

void SeqLink::ShowAboutBox() { Host().ShowModal(DialogRequest{"About SeqLink", {"Version 1.0.0"}}); }

}  // namespace plc
