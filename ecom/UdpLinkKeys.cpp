// UdpLink's property-bag keys: read in this order; written in the same order except that
// "WriteUpdateInterval" follows "Protocol" and "ScanWriteEnable" comes before "ScanReadEnable".
// "ModBusMode" holds CommMode, "Protocol" CommProtocol; "ScanReadEnable" is read as 16-bit.
#include "frame/FrameKeys.h"
#include "ecom/UdpLink.h"

namespace plc {

const KeyTable<UdpLink>& UdpLink::Keys() {
  static const KeyTable<UdpLink> table = [] {
    FrameKeys<UdpLink> k(&UdpLink::props_, &UdpLink::line_, &UdpLink::timers_);
    const Variant three32(std::int32_t{3}), timeOut(std::int16_t{55});
    return KeyTable<UdpLink>(
        {
            k.BackColor(),
            k.ForeColor(),
            k.Enabled(),
            k.Font(),
            k.BackStyle(),
            k.BorderStyle(),
            k.Baud(9600),
            k.Appearance(),
            k.CommPort(),
            k.PortOpen(),
            k.NumOfReadRetries(),
            k.NumOfWriteRetries(),
            MemberKey<UdpLink>("DeviceTimeOut", VarType::Int16, timeOut, timeOut,
                               [](UdpLink& c) -> std::int16_t& { return c.deviceTimeOut_; }),
            k.Settings("9600,e,8,1"),
            k.DTREnable(),
            k.Address(),
            MemberKey<UdpLink>("ModBusMode", VarType::Int32, three32, three32,
                               [](UdpLink& c) -> std::int32_t& { return c.commMode_; }),
            MemberKey<UdpLink>("Protocol", VarType::Int32, three32, three32,
                               [](UdpLink& c) -> std::int32_t& { return c.commProtocol_; }),
            k.ScanReadEnable(VarType::Int16),
            k.ScanWriteEnable(),
            k.ScanReadIOTimerInterval(),
            k.ScanWriteIOTimerInterval(),
            k.WriteUpdateInterval(),
        },
        {"BackColor", "ForeColor", "Enabled", "Font", "BackStyle", "BorderStyle", "Baud", "Appearance", "CommPort",
         "PortOpen", "NumOfReadRetries", "NumOfWriteRetries", "DeviceTimeOut", "Settings", "DTREnable", "Address",
         "ModBusMode", "Protocol", "WriteUpdateInterval", "ScanWriteEnable", "ScanReadEnable",
         "ScanReadIOTimerInterval", "ScanWriteIOTimerInterval"});
  }();
  return table;
}

}  // namespace plc
