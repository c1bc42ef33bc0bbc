// RtuLink's members by name, for hosts that bind late.
#include "base/DeclaredEvents.h"
#include "base/EnumLabels.h"
#include "frame/ScanEvents.h"
#include "modbus/RtuLink.h"

namespace plc {

namespace {

DispatchTable<RtuLink> BuildTable() {
  using C = RtuLink;
  DispatchTable<C> t;
  t.Property("Enabled", &C::Enabled, &C::SetEnabled)
      .Property("CommBusy", &C::CommBusy, &C::SetCommBusy)
      .Property("CommPort", &C::CommPort, &C::SetCommPort)
      .Property("PortOpen", &C::PortOpen, &C::SetPortOpen)
      .Property("Settings", &C::Settings, &C::SetSettings)
      .Property("DTREnable", &C::DTREnable, &C::SetDTREnable)
      .Property("RTSEnable", &C::RTSEnable, &C::SetRTSEnable)
      .Property("ComHandshaking", &C::ComHandshaking, &C::SetComHandshaking)
      .ReadOnly("CDHolding", &C::CDHolding)
      .Property("NumOfReadRetries", &C::NumOfReadRetries, &C::SetNumOfReadRetries)
      .Property("NumOfWriteRetries", &C::NumOfWriteRetries, &C::SetNumOfWriteRetries)
      .Property("Address", &C::Address, &C::SetAddress)
      .Property("ModBusMode", &C::ModBusMode, &C::SetModBusMode)
      .Property("RS485Mode", &C::RS485Mode, &C::SetRS485Mode)
      .Property("PLCType", &C::PLCType, &C::SetPLCType)
      .Property("ScanReadEnable", &C::ScanReadEnable, &C::SetScanReadEnable)
      .Property("ScanWriteEnable", &C::ScanWriteEnable, &C::SetScanWriteEnable)
      .Property("ScanReadIOTimerInterval", &C::ScanReadIOTimerInterval, &C::SetScanReadIOTimerInterval)
      .Property("ScanWriteIOTimerInterval", &C::ScanWriteIOTimerInterval, &C::SetScanWriteIOTimerInterval);

  t.Method("ReadPLC", &C::ReadPLC, {"Address", "ReadValue", "ReadSize", "ioType"})
      .Method("ReadPLCNW", &C::ReadPLCNW, {"Address", "ReadValue", "ReadSize", "ioType"})
      .Method("ReadDevice", &C::ReadDevice, {"Address", "ReadSize", "ioType"})
      .Method("WritePLC", &C::WritePLC, {"pstr", "ABValue", "ReadSize", "ioType"})
      .Method("ReadPLCValue", &C::ReadPLCValue, {"Address", "ResponseValue", "NumOfRegs", "ioType", "IOIdx"})
      .Method("ReadData", &C::ReadData, {"idx"})
      .Method("ReadErrors", &C::ReadErrors, {})
      .Method("IOData", &C::IOData, {"DataArr", "Size"})
      .Method("ReadModData", &C::ReadModData, {"Address", "MData", "NumOfReg"})
      .Method("SetModData", &C::SetModData, {"Address", "MData"})
      .Method("ForceModData", &C::ForceModData, {"Add", "value"})
      .Method("WriteQueData", &C::WriteQueData, {})
      .Method("SetScanRegGroup", &C::SetScanRegGroup, {"ScanRegGroup", "state"})
      .Method("SendToComm", &C::SendToComm, {"line1"})
      .Method("ReceiveComm", &C::ReceiveComm, {})
      .Method("ClearCommPort", &C::ClearCommPort, {})
      .Method("MakeLRC", &C::MakeLRC, {"msg"})
      .Method("LongFloatToDec", &C::LongFloatToDec, {"dlong1", "dlong2"})
      .Method("DecToLongFloat", &C::DecToLongFloat, {"Dec", "dlong1", "dlong2"})
      .Method("ByteToLong", &C::ByteToLong, {"ByteArr", "UnsignedLong"})
      .Method("LongToByte", &C::LongToByte, {"LongVar", "ByteArr", "StartByteIndex"})
      .Method("LongToUInteger", &C::LongToUInteger, {"LongVar", "UIntegerArr", "StartByteIndex"})
      .Method("SignedIntToLong", &C::SignedIntToLong, {"SgnIntr", "Lng1"})
      .Method("LongToSIgnedInt", &C::LongToSIgnedInt, {"Lng1", "SgnIntr"})
      .Method("TagAddressFromName", &C::TagAddressFromName, {"name"})
      .Method("TagNameFromAddress", &C::TagNameFromAddress, {"Address"})
      .Method("ReadScanDatabase", &C::ReadScanDatabase, {})
      .Method("EditScanDatabase", &C::EditScanDatabase, {})
      .Method("mains", &C::mains, {})
      .Method("Refresh", &C::Refresh, {})
      .Method("Size", &C::Size, {"Width", "Height"})
      .Method("ShowAboutBox", &C::ShowAboutBox, {})
      .Method("EventComComplete", &C::EventComComplete, {});

  t.Event("CommComplete", {{"MData", "Long()"}, {"MAdd", "Long"}, {"quan", "Integer"}})
      .Event("CommCompleteEx", {{"MData", "Variant()"}, {"MAdd", "Long"}, {"quan", "Integer"}, {"ErrorStr", "String"},
                                {"RespStatus", "Integer"}})
      .Event("CommEventModem", {{"CommEvent", "Integer"}, {"MData", "Variant()"}, {"Connected", "Boolean"}});
  t.Enumeration("ModBusMode", labels::ModBusMode())
      .Enumeration("RS485Mode", labels::RS485Mode())
      .Enumeration("PLCType", labels::RtuPlcType())
      .Enumeration("ComHandshaking", labels::Handshake())
      .Enumeration("ioType", labels::IoDataType());
  AddScanEvents(t);
  AddDeclaredEvents(t);
  t.Members();  // fills the member list now, so the shared table is only read from here on
  return t;
}

}  // namespace

const DispatchTable<RtuLink>& RtuLink::Table() {
  static const DispatchTable<RtuLink> table = BuildTable();
  return table;
}

}  // namespace plc
