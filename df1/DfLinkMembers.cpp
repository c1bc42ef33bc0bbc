// DfLink's members by name, for hosts that bind late.
#include "base/DeclaredEvents.h"
#include "base/EnumLabels.h"
#include "frame/ScanEvents.h"
#include "df1/DfLink.h"

namespace plc {

namespace {

DispatchTable<DfLink> BuildTable() {
  using C = DfLink;
  DispatchTable<C> t;
  t.Property("Enabled", &C::Enabled, &C::SetEnabled)
      .Property("CommBusy", &C::CommBusy, &C::SetCommBusy)
      .Property("CommPort", &C::CommPort, &C::SetCommPort)
      .Property("PortOpen", &C::PortOpen, &C::SetPortOpen)
      .Property("Settings", &C::Settings, &C::SetSettings)
      .Property("DTREnable", &C::DTREnable, &C::SetDTREnable)
      .Property("NumOfReadRetries", &C::NumOfReadRetries, &C::SetNumOfReadRetries)
      .Property("NumOfWriteRetries", &C::NumOfWriteRetries, &C::SetNumOfWriteRetries)
      .Property("Address", &C::Address, &C::SetAddress)
      .Property("Node", &C::Node, &C::SetNode)
      .Property("PLCType", &C::PLCType, &C::SetPLCType)
      .Property("Mode", &C::Mode, &C::SetMode)
      .Property("ScanReadEnable", &C::ScanReadEnable, &C::SetScanReadEnable)
      .Property("ScanWriteEnable", &C::ScanWriteEnable, &C::SetScanWriteEnable)
      .Property("ScanReadIOTimerInterval", &C::ScanReadIOTimerInterval, &C::SetScanReadIOTimerInterval)
      .Property("ScanWriteIOTimerInterval", &C::ScanWriteIOTimerInterval, &C::SetScanWriteIOTimerInterval);

  t.Method("ReadPLC", &C::ReadPLC, {"Addr", "ReadValue", "ReadSize"})
      .Method("ReadPLCV", &C::ReadPLCV, {"AddrV", "ReadValue", "ReadSize"})
      .Method("ABReadPLC", &C::ABReadPLC, {"pstr", "ReadValue", "ReadSize", "FloatType"})
      .Method("ReadPLCNW", &C::ReadPLCNW, {"Address", "ReadValue", "ReadSize", "ioType"})
      .Method("ReadDevice", &C::ReadDevice, {"Address", "ReadSize", "ioType"})
      .Method("WritePLC", &C::WritePLC, {"pstr", "ABValue", "ReadSize"})
      .Method("ReadPLCValue", &C::ReadPLCValue, {"Address", "ResponseValue", "NumOfRegs", "ioType", "IOIdx"})
      .Method("ReadData", &C::ReadData, {"idx"})
      .Method("ReadErrors", &C::ReadErrors, {})
      .Method("ForceData", &C::ForceData, {"Add", "value"})
      .Method("WriteQueData", &C::WriteQueData, {})
      .Method("EditScanDatabase", &C::EditScanDatabase, {})
      .Method("SetScanRegGroup", &C::SetScanRegGroup, {"ScanRegGroup", "state"})
      .Method("TagAddressFromName", &C::TagAddressFromName, {"name"})
      .Method("TagNameFromAddress", &C::TagNameFromAddress, {"Address"})
      .Method("EventComComplete", &C::EventComComplete, {})
      .Method("SendToComm", &C::SendToComm, {"Line1"})
      .Method("ReceiveComm", &C::ReceiveComm, {})
      .Method("ClearCommPort", &C::ClearCommPort, {})
      .Method("LongFloatToDec", &C::LongFloatToDec, {"dlong1", "dlong2"})
      .Method("mains", &C::mains, {})
      .Method("Refresh", &C::Refresh, {})
      .Method("Size", &C::Size, {"Width", "Height"})
      .Method("ShowAboutBox", &C::ShowAboutBox, {});

  t.Event("CommComplete", {{"MData", "Variant()"}, {"MStartAdd", "Long"}, {"Mquan", "Integer"},
                           {"ErrorStr", "String"}, {"RespStatus", "Integer"}});
  t.Enumeration("PLCType", labels::Df1PlcType())
      .Enumeration("Mode", labels::Df1Mode());  // DfLink declares no enIODataType
  AddScanEvents(t);
  AddDeclaredEvents(t);
  t.Members();  // fills the member list now, so the shared table is only read from here on
  return t;
}

}  // namespace

const DispatchTable<DfLink>& DfLink::Table() {
  static const DispatchTable<DfLink> table = BuildTable();
  return table;
}

}  // namespace plc
