// DfLink's property-bag keys, read and written in this order. CommPort, DTREnable and
// Settings are written from the serial child; PortOpen is the remembered flag and loading it
// does not open the port.
#include "df1/DfLink.h"

namespace plc {

const KeyTable<DfLink>& DfLink::Keys() {
  static const KeyTable<DfLink> table = [] {
    using C = DfLink;
    const Variant one16(std::int16_t{1}), two16(std::int16_t{2}), one32(std::int32_t{1});
    return KeyTable<DfLink>({
        {"Mode", VarType::Int16, two16, two16, [](C& c, const Variant& v) {
           c.mode_ = v.ToInt16();
           c.engine_.Copies().Mode = c.mode_;
         },
         [](C& c) { return Variant(c.mode_); }},
        {"PLCType", VarType::Int32, one32, one32, [](C& c, const Variant& v) {
           c.plcType_ = v.ToInt32();
           c.engine_.Copies().Type = c.plcType_;
         },
         [](C& c) { return Variant(c.plcType_); }},
        {"Enabled", VarType::Bool, false, false, [](C& c, const Variant& v) { c.enabled_ = v.ToBool(); },
         [](C& c) { return Variant(c.enabled_); }},
        {"CommPort", VarType::Int16, one16, one16, [](C& c, const Variant& v) { c.line_.LoadCommPort(v.ToInt16()); },
         [](C& c) { return Variant(c.MSComm2().CommPort()); }},
        {"DTREnable", VarType::Bool, true, true, [](C& c, const Variant& v) { c.MSComm2().SetDTREnable(v.ToBool()); },
         [](C& c) { return Variant(c.MSComm2().DTREnable()); }},
        {"Settings", VarType::String, "9600,n,8,1", "9600,n,8,1",
         [](C& c, const Variant& v) { c.MSComm2().SetSettings(v.ToString()); },
         [](C& c) { return Variant(c.MSComm2().Settings()); }},
        {"PortOpen", VarType::Bool, false, false, [](C& c, const Variant& v) { c.line_.LoadPortOpen(v.ToBool()); },
         [](C& c) { return Variant(c.line_.PortOpenFlag()); }},
        {"Address", VarType::Empty, one32, one32,
         [](C& c, const Variant& v) {
           c.address_ = v;
           c.engine_.Copies().Address = v.ToInt16();
         },
         [](C& c) { return c.address_; }},
        {"Node", VarType::Empty, one32, one32,
         [](C& c, const Variant& v) {
           c.node_ = v;
           c.engine_.Copies().Node = v.ToInt16();
         },
         [](C& c) { return c.node_; }},
    });
  }();
  return table;
}

}  // namespace plc
