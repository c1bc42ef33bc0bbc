// SeqLink's members by name, for hosts that bind late.
#include "base/DeclaredEvents.h"
#include "base/EnumLabels.h"
#include "frame/ScanEvents.h"
#include "directnet/SeqLink.h"

namespace plc {

namespace {

DispatchTable<SeqLink> BuildTable() {
  using C = SeqLink;
  DispatchTable<C> t;
  t.Property("Enabled", &C::Enabled, &C::SetEnabled)
      .Property("CommBusy", &C::CommBusy, &C::SetCommBusy)
      .Property("CommPort", &C::CommPort, &C::SetCommPort)
      .Property("PortOpen", &C::PortOpen, &C::SetPortOpen)
      .Property("Settings", &C::Settings, &C::SetSettings)
      .Property("DTREnable", &C::DTREnable, &C::SetDTREnable)
      .ReadOnly("CDHolding", &C::CDHolding)
      .Property("NumOfReadRetries", &C::NumOfReadRetries, &C::SetNumOfReadRetries)
      .Property("NumOfWriteRetries", &C::NumOfWriteRetries, &C::SetNumOfWriteRetries)
      .Property("Address", &C::Address, &C::SetAddress)
      .Property("CommMode", &C::CommMode, &C::SetCommMode)
      .Property("ScanReadEnable", &C::ScanReadEnable, &C::SetScanReadEnable)
      .Property("ScanWriteEnable", &C::ScanWriteEnable, &C::SetScanWriteEnable)
      .Property("ScanReadIOTimerInterval", &C::ScanReadIOTimerInterval, &C::SetScanReadIOTimerInterval)
      .Property("ScanWriteIOTimerInterval", &C::ScanWriteIOTimerInterval, &C::SetScanWriteIOTimerInterval);

  t.Method("ReadPLC", &C::ReadPLC, {"Address", "ReadValue", "ReadSize", "IOType", "ioIdx"})
      .Method("ReadPLCNW", &C::ReadPLCNW, {"Address", "ReadValue", "ReadSize", "IOType"})
      .Method("ReadDevice", &C::ReadDevice, {"Address", "ReadSize", "IOType", "ioIdx"})
      .Method("WritePLC", &C::WritePLC, {"pstr", "ABValue", "WriteSize", "IOType", "ioIdx"})
      .Method("WritePLCBit", &C::WritePLCBit, {"pstr", "ABValue", "WriteSize", "IOType", "ioIdx"})
      .Method("ReadPLCValue", &C::ReadPLCValue, {"Address", "ResponseValue", "NumOfRegs", "IOType", "ioIdx"})
      .Method("ReadData", &C::ReadData, {"idx"})
      .Method("ReadErrors", &C::ReadErrors, {})
      .Method("ForceData", &C::ForceData, {"Add", "value"})
      .Method("WriteQueData", &C::WriteQueData, {})
      .Method("SetScanRegGroup", &C::SetScanRegGroup, {"ScanRegGroup", "state"})
      .Method("EditScanDatabase", &C::EditScanDatabase, {})
      .Method("TagAddressFromName", &C::TagAddressFromName, {"name"})
      .Method("TagNameFromAddress", &C::TagNameFromAddress, {"Address"})
      .Method("SendToComm", &C::SendToComm, {"line1"})
      .Method("ReceiveComm", &C::ReceiveComm, {})
      .Method("ClearCommPort", &C::ClearCommPort, {})
      .Method("LongFloatToDec", &C::LongFloatToDec, {"dlong1", "dlong2"})
      .Method("CnvOctToDec", &C::CnvOctToDec, {"Oct"})
      .Method("LRCchk", &C::LRCchk, {"HEADER"})
      .Method("Size", &C::Size, {"Width", "Height"})
      .Method("ShowAboutBox", &C::ShowAboutBox, {})
      .Method("EventComComplete", &C::EventComComplete, {});

  t.Event("CommComplete", {})
      .Event("CommEventModem", {{"CommEvent", "Integer"}, {"MData", "Variant()"}, {"Connected", "Boolean"}});
  t.Enumeration("CommMode", labels::SeqPdMode()).Enumeration("IOType", labels::IoDataType(true));
  AddScanEvents(t);
  AddDeclaredEvents(t);
  t.Members();  // fills the member list now, so the shared table is only read from here on
  return t;
}

}  // namespace

const DispatchTable<SeqLink>& SeqLink::Table() {
  static const DispatchTable<SeqLink> table = BuildTable();
  return table;
}

}  // namespace plc
