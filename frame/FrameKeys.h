#pragma once
// The property-bag keys the serial controls share, as PersistedKey records built over the
// control's FrameProperties, SerialLine and LinkTimers members. A control's key table lists
// these in its own order, next to the keys only it has.
#include <cstdint>
#include <string>

#include "frame/FrameProperties.h"
#include "frame/LinkTimers.h"
#include "frame/PersistedKeys.h"
#include "frame/SerialLine.h"

namespace plc {

template <class C>
class FrameKeys {
 public:
  FrameKeys(FrameProperties C::*props, SerialLine C::*line, LinkTimers C::*timers)
      : props_(props), line_(line), timers_(timers) {}

  PersistedKey<C> BackColor() const { return Prop("BackColor", VarType::Int32, 0, &FrameProperties::backColor); }
  PersistedKey<C> ForeColor() const { return Prop("ForeColor", VarType::Int32, 0, &FrameProperties::foreColor); }
  PersistedKey<C> Enabled() const { return Prop("Enabled", VarType::Bool, false, &FrameProperties::enabled); }
  PersistedKey<C> Font() const {
    PersistedKey<C> k = Prop("Font", VarType::Font, Variant(), &FrameProperties::font);
    k.ambientFontDefault = true;
    return k;
  }
  PersistedKey<C> BackStyle() const { return Prop("BackStyle", VarType::Int16, I16(0), &FrameProperties::backStyle); }
  PersistedKey<C> BorderStyle() const {
    return Prop("BorderStyle", VarType::Int16, I16(0), &FrameProperties::borderStyle);
  }
  PersistedKey<C> Baud(std::int32_t dflt) const { return Prop("Baud", VarType::Empty, dflt, &FrameProperties::baud); }
  PersistedKey<C> Appearance() const {
    return Prop("Appearance", VarType::Int16, I16(0), &FrameProperties::appearance);
  }
  PersistedKey<C> NumOfReadRetries() const {
    return Prop("NumOfReadRetries", VarType::Int16, I16(2), &FrameProperties::numOfReadRetries);
  }
  PersistedKey<C> NumOfWriteRetries() const {
    return Prop("NumOfWriteRetries", VarType::Int16, I16(2), &FrameProperties::numOfWriteRetries);
  }

  // Member and child; written from the member.
  PersistedKey<C> CommPort() const {
    auto line = line_;
    return {"CommPort", VarType::Int16, I16(1), I16(1),
            [line](C& c, const Variant& v) { (c.*line).LoadCommPort(v.ToInt16()); },
            [line](C& c) { return Variant((c.*line).StoredCommPort()); }};
  }
  // The flag only: the port is not opened.
  PersistedKey<C> PortOpen() const {
    auto line = line_;
    return {"PortOpen", VarType::Bool, false, false,
            [line](C& c, const Variant& v) { (c.*line).LoadPortOpen(v.ToBool()); },
            [line](C& c) { return Variant((c.*line).PortOpenFlag()); }};
  }
  PersistedKey<C> Settings(const std::string& dflt) const {
    auto line = line_;
    return {"Settings", VarType::String, dflt, dflt,
            [line](C& c, const Variant& v) { (c.*line).Child().SetSettings(v.ToString()); },
            [line](C& c) { return Variant((c.*line).Child().Settings()); }};
  }
  PersistedKey<C> DTREnable() const {
    auto line = line_;
    return {"DTREnable", VarType::Bool, true, true,
            [line](C& c, const Variant& v) { (c.*line).Child().SetDTREnable(v.ToBool()); },
            [line](C& c) { return Variant((c.*line).Child().DTREnable()); }};
  }
  PersistedKey<C> RTSEnable() const {
    auto line = line_;
    return {"RTSEnable", VarType::Bool, true, true,
            [line](C& c, const Variant& v) { (c.*line).Child().SetRTSEnable(v.ToBool()); },
            [line](C& c) { return Variant((c.*line).Child().RTSEnable()); }};
  }
  // Its write default is True, which no handshaking value equals: the key is always stored.
  PersistedKey<C> ComHandshaking() const {
    auto line = line_;
    return {"ComHandshaking", VarType::Int32, std::int32_t{0}, true,
            [line](C& c, const Variant& v) { (c.*line).Child().SetHandshaking(v.ToInt32()); },
            [line](C& c) { return Variant((c.*line).Child().Handshaking()); }};
  }
  // The member and its 16-bit copy (overflow outside 16 bits, after the member was stored).
  PersistedKey<C> Address() const {
    auto props = props_;
    return {"Address", VarType::Int32, std::int32_t{1}, std::int32_t{1},
            [props](C& c, const Variant& v) {
              (c.*props).address = v.ToInt32();
              (c.*props).unitAddress = UnitAddressOf((c.*props).address);
            },
            [props](C& c) { return Variant((c.*props).address); }};
  }
  PersistedKey<C> ScanReadEnable(VarType type = VarType::Bool) const {
    return Prop("ScanReadEnable", type, false, &FrameProperties::scanReadEnable);
  }
  PersistedKey<C> ScanWriteEnable() const {
    return Prop("ScanWriteEnable", VarType::Bool, false, &FrameProperties::scanWriteEnable);
  }
  PersistedKey<C> ScanReadIOTimerInterval() const { return Interval("ScanReadIOTimerInterval", &LinkTimers::Timer2, 500); }
  PersistedKey<C> ScanWriteIOTimerInterval() const {
    return Interval("ScanWriteIOTimerInterval", &LinkTimers::Timer3, 55);
  }
  // Written from Timer2's interval and never read back.
  PersistedKey<C> WriteUpdateInterval() const {
    PersistedKey<C> k = Interval("WriteUpdateInterval", &LinkTimers::Timer2, 500);
    k.apply = nullptr;
    return k;
  }

 private:
  static Variant I16(int v) { return Variant(static_cast<std::int16_t>(v)); }

  template <class M>
  PersistedKey<C> Prop(std::string key, VarType type, Variant dflt, M FrameProperties::*field) const {
    auto props = props_;
    return MemberKey<C>(std::move(key), type, dflt, dflt, [props, field](C& c) -> M& { return (c.*props).*field; });
  }

  PersistedKey<C> Interval(std::string key, IntervalTimer& (LinkTimers::*timer)(), std::int32_t dflt) const {
    auto timers = timers_;
    return {std::move(key), VarType::Int32, dflt, dflt,
            [timers, timer](C& c, const Variant& v) { ((c.*timers).*timer)().SetInterval(v.ToInt32()); },
            [timers, timer](C& c) { return Variant(((c.*timers).*timer)().Interval()); }};
  }

  FrameProperties C::*props_;
  SerialLine C::*line_;
  LinkTimers C::*timers_;
};

}  // namespace plc
