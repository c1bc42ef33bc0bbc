#include "ecom/UdpLink.h"

#include "core/OctalText.h"
#include "core/RuntimeError.h"
#include "core/TagDatabase.h"

namespace plc {

namespace {
constexpr std::int16_t kDefaultDeviceTimeOut = 55;
}  // namespace

UdpLink::UdpLink(std::unique_ptr<SerialPort> port)
    : line_(*this, std::move(port), SerialLine::Rules{}), timers_(kScanTimerDesign) {}

UdpLink::~UdpLink() = default;

// ---- Container events ----

void UdpLink::InitProperties() {
  props_.Init(Host().AmbientFont(), std::int32_t{9600}, "9600,o,8,1");
  line_.LoadPortOpen(false);
  line_.InitCommPort(1);
  commMode_ = udp::ECOM;
  commProtocol_ = udp::UDP_IP;
  deviceTimeOut_ = kDefaultDeviceTimeOut;
}

void UdpLink::ReadProperties(PropertyBag& bag) {
  Keys().Read(*this, bag, Host().AmbientFont());
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
}

void UdpLink::SetDeviceTimeOut(std::int16_t value) {
  deviceTimeOut_ = value;
  PropertyChanged("DeviceTimeOut");
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
  if (commMode_ != udp::ECOM) {
    line_.SetPortOpen(value);
    return;
  }
  if (!RunMode()) throw RuntimeError(err::NotAtDesignTime);
  line_.LoadPortOpen(value);
  PropertyChanged("PortOpen");
  // The ECOM transport (hei_pas) forwards here once it is built; until then the open fails
  // the way a failed EtherCCMOpen does: with an error text, and EcomOpen False.
  currentErrors_ = "The ECOM transport is not available";
  ecomOpen_ = currentErrors_.empty();
}

// ---- ECOM and DirectNET transactions ----
// These forward to the ECOM request and the DirectNET engine. Until they are built no request
// can be sent, so every call reports failure (ReadPLC 301 while the transport is not open) and
// nothing is sent; nothing is ever in flight, so CommBusy reads False.

Variant UdpLink::CommBusy() const { return Variant(false); }
void UdpLink::SetCommBusy(const Variant&) {}

Result UdpLink::ReadPLC(Variant&, Variant&, Opt<Variant>, Opt<std::int16_t>, Opt<std::int32_t>) {
  return ecomOpen_ ? ResultFailed : ResultEcomNotOpen;
}
Result UdpLink::ReadPLCNW(Variant&, Variant&, Opt<Variant>, Opt<std::int16_t>) { return ResultFailed; }
Result UdpLink::WritePLC(Variant&, Variant&, Opt<std::int16_t>, Opt<std::int16_t>, Opt<std::int32_t>) {
  return ResultFailed;
}
Result UdpLink::WritePLCBit(Variant&, Variant&, Opt<std::int16_t>, Opt<std::int16_t>, Opt<std::int32_t>) {
  return ResultFailed;
}
Variant UdpLink::ReadErrors() { return Variant(errorText_); }

std::string UdpLink::LRCchk(std::string&) {
  throw RuntimeError(err::InvalidCall, "LRCchk is not available until the DirectNET framing is built");
}

// ---- End of the forwards ----

// Reads nothing: it only gives an address with "," but no ";" the default station.
Result UdpLink::ReadPLCValue(Variant& Address, Variant&, Opt<std::int16_t>, Opt<std::int16_t>, Opt<std::int32_t>) {
  if (Address.IsString()) {
    const std::string text = Address.ToString();
    if (text.find(',') != std::string::npos && text.find(';') == std::string::npos)
      Address = Variant(std::to_string(props_.unitAddress) + ";" + text);
  }
  return ResultFailed;
}

Variant UdpLink::ReadData(std::int16_t& idx) { return ccmWords_.Get(idx); }

void UdpLink::ForceData(Variant&, std::int32_t&) {}
void UdpLink::WriteQueData() {}
// The scan database has no loader, so no group matches; the scan engine takes this over.
void UdpLink::SetScanRegGroup(std::int16_t&, bool&) {}
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

// UdpLink's About box shows no version number.
void UdpLink::ShowAboutBox() { Host().ShowModal(DialogRequest{"About UdpLink", {"Version"}}); }

}  // namespace plc
