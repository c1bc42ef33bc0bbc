#pragma once
// The enumerations of base/Enums.h by name, with their labels, for the member tables: a
// late-binding host then takes a label where a property or parameter wants the number.
#include "base/Dispatch.h"
#include "base/Enums.h"

namespace plc::labels {

// Each control declares its own: ioBCD is a member only in SeqLink's (RtuLink honours the value
// 5 without naming it); DfLink declares none.
inline EnumInfo IoDataType(bool withBcd = false) {
  EnumInfo info{"enIODataType",
                {{"ioWord", ioWord}, {"ioDWord", ioDWord}, {"ioFloat", ioFloat}, {"ioDFloat", ioDFloat},
                 {"ioString", ioString}, {"ioScaledWord", ioScaledWord}, {"ioScaledDWord", ioScaledDWord},
                 {"ioScaledFloat", ioScaledFloat}, {"ioScaledDFloat", ioScaledDFloat},
                 {"ioScaledString", ioScaledString}}};
  if (withBcd) info.values.insert(info.values.begin() + 5, {"ioBCD", ioBCD});
  return info;
}

inline EnumInfo ModBusMode() {
  return {"EnModBusMode", {{"Rtu", rtu::Rtu}, {"Ascii", rtu::Ascii}, {"SlaveRtu", rtu::SlaveRtu},
                           {"SlaveAscii", rtu::SlaveAscii}}};
}

inline EnumInfo Handshake() {
  return {"EnHandshake", {{"comNone", rtu::comNone}, {"comXOnXoff", rtu::comXOnXoff}, {"comRTS", rtu::comRTS},
                          {"comRTSXOnXOff", rtu::comRTSXOnXOff}}};
}

inline EnumInfo RS485Mode() {
  return {"EnRS485Mode", {{"OFF", rtu::OFF}, {"RTS", rtu::RTS}, {"DTR", rtu::DTR}, {"Mode3", rtu::Mode3},
                          {"Mode4", rtu::Mode4}}};
}

inline EnumInfo RtuPlcType() {
  return {"EnPLCType", {{"EnStdModbus", rtu::EnStdModbus}, {"EnType2", rtu::EnType2}, {"EnType3", rtu::EnType3},
                        {"EnType4", rtu::EnType4}, {"EnType5", rtu::EnType5}, {"EnType6", rtu::EnType6},
                        {"EnType7", rtu::EnType7}, {"EnType8", rtu::EnType8}, {"EnType9", rtu::EnType9},
                        {"EnType10", rtu::EnType10}}};
}

inline EnumInfo Df1PlcType() {
  return {"EnPLCType", {{"EnSLC500", df1::EnSLC500}, {"EnMicroLogix", df1::EnMicroLogix}, {"EnPLC5", df1::EnPLC5}}};
}

inline EnumInfo Df1Mode() { return {"EnMode", {{"EnBCC", df1::EnBCC}, {"EnCRC", df1::EnCRC}}}; }

inline EnumInfo SeqPdMode() { return {"EnPDMode", {{"KSeq", seq::KSeq}, {"DIrectNet", seq::DIrectNet}}}; }

inline EnumInfo UdpPdMode() {
  return {"EnPDMode", {{"KSeq", udp::KSeq}, {"DIrectNet", udp::DIrectNet}, {"ECOM", udp::ECOM}}};
}

inline EnumInfo UdpProtocol() { return {"EnPDProtocol", {{"UDP_IP", udp::UDP_IP}, {"IPX", udp::IPX}}}; }

}  // namespace plc::labels
