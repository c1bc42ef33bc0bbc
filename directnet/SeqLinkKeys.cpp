// SeqLink's property-bag keys: read in this order; written in the same order except that
// "WriteUpdateInterval" follows "ModBusMode" and "ScanWriteEnable" comes before
// "ScanReadEnable". "ModBusMode" holds CommMode; "ScanReadEnable" is read as a 16-bit value.
#include "frame/FrameKeys.h"
#include "directnet/SeqLink.h"

namespace plc {

const KeyTable<SeqLink>& SeqLink::Keys() {
  static const KeyTable<SeqLink> table = [] {
    FrameKeys<SeqLink> k(&SeqLink::props_, &SeqLink::line_, &SeqLink::timers_);
    const Variant one16(std::int16_t{1});
    return KeyTable<SeqLink>(
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
            k.Settings("9600,e,8,1"),
            k.DTREnable(),
            k.Address(),
            MemberKey<SeqLink>("ModBusMode", VarType::Int16, one16, one16,
                               [](SeqLink& c) -> std::int16_t& { return c.commMode_; }),
            k.ScanReadEnable(VarType::Int16),
            k.ScanWriteEnable(),
            k.ScanReadIOTimerInterval(),
            k.ScanWriteIOTimerInterval(),
            k.WriteUpdateInterval(),
        },
        {"BackColor", "ForeColor", "Enabled", "Font", "BackStyle", "BorderStyle", "Baud", "Appearance", "CommPort",
         "PortOpen", "NumOfReadRetries", "NumOfWriteRetries", "Settings", "DTREnable", "Address", "ModBusMode",
         "WriteUpdateInterval", "ScanWriteEnable", "ScanReadEnable", "ScanReadIOTimerInterval",
         "ScanWriteIOTimerInterval"});
  }();
  return table;
}

}  // namespace plc
