// RtuLink's property-bag keys: read in this order; written in the same order except that
// "WriteUpdateInterval" follows "PLCType" and "ScanWriteEnable" comes before "ScanReadEnable".
#include "frame/FrameKeys.h"
#include "modbus/RtuLink.h"

namespace plc {

const KeyTable<RtuLink>& RtuLink::Keys() {
  static const KeyTable<RtuLink> table = [] {
    FrameKeys<RtuLink> k(&RtuLink::props_, &RtuLink::line_, &RtuLink::timers_);
    const Variant one16(std::int16_t{1}), zero16(std::int16_t{0}), one32(std::int32_t{1});
    return KeyTable<RtuLink>(
        {
            k.BackColor(),
            k.ForeColor(),
            k.Enabled(),
            k.Font(),
            k.BackStyle(),
            k.BorderStyle(),
            k.Baud(19200),
            k.Appearance(),
            k.CommPort(),
            k.PortOpen(),
            k.NumOfReadRetries(),
            k.NumOfWriteRetries(),
            k.Settings("9600,e,8,1"),
            k.DTREnable(),
            k.RTSEnable(),
            k.ComHandshaking(),
            k.Address(),
            MemberKey<RtuLink>("ModBusMode", VarType::Int16, one16, one16,
                               [](RtuLink& c) -> std::int16_t& { return c.modBusMode_; }),
            MemberKey<RtuLink>("RS485Mode", VarType::Int16, zero16, zero16,
                               [](RtuLink& c) -> std::int16_t& { return c.rs485Mode_; }),
            MemberKey<RtuLink>("PLCType", VarType::Int32, one32, one32,
                               [](RtuLink& c) -> std::int32_t& { return c.plcType_; }),
            k.ScanReadEnable(),
            k.ScanWriteEnable(),
            k.ScanReadIOTimerInterval(),
            k.ScanWriteIOTimerInterval(),
            k.WriteUpdateInterval(),
        },
        {"BackColor", "ForeColor", "Enabled", "Font", "BackStyle", "BorderStyle", "Baud", "Appearance", "CommPort",
         "PortOpen", "NumOfReadRetries", "NumOfWriteRetries", "Settings", "DTREnable", "RTSEnable", "ComHandshaking",
         "Address", "ModBusMode", "RS485Mode", "PLCType", "WriteUpdateInterval", "ScanWriteEnable", "ScanReadEnable",
         "ScanReadIOTimerInterval", "ScanWriteIOTimerInterval"});
  }();
  return table;
}

}  // namespace plc
