#pragma once
// The enumerations of the controls' interface, with their exact values. Enumerations that two
// controls declare differently live in the control's own namespace.
#include <cstdint>

namespace plc {

enum enIODataType : std::int32_t {
  ioWord = 0,
  ioDWord = 1,
  ioFloat = 2,
  ioDFloat = 3,
  ioString = 4,
  ioBCD = 5,  // SeqLink only; RtuLink honours 5 as signed 16-bit words
  ioScaledWord = 20,
  ioScaledDWord = 21,
  ioScaledFloat = 22,
  ioScaledDFloat = 23,
  ioScaledString = 24,
};

namespace rtu {
enum EnModBusMode : std::int32_t { Rtu = 1, Ascii = 2, SlaveRtu = 3, SlaveAscii = 4 };
enum EnHandshake : std::int32_t { comNone = 0, comXOnXoff = 1, comRTS = 2, comRTSXOnXOff = 3 };
enum EnRS485Mode : std::int32_t { OFF = 0, RTS = 1, DTR = 2, Mode3 = 3, Mode4 = 4 };
enum EnPLCType : std::int32_t {
  EnStdModbus = 1, EnType2 = 2, EnType3 = 3, EnType4 = 4, EnType5 = 5,
  EnType6 = 6, EnType7 = 7, EnType8 = 8, EnType9 = 9, EnType10 = 10,
};
}  // namespace rtu

namespace df1 {
enum EnPLCType : std::int32_t { EnSLC500 = 1, EnMicroLogix = 2, EnPLC5 = 3 };
enum EnMode : std::int32_t { EnBCC = 1, EnCRC = 2 };
}  // namespace df1

namespace seq {
enum EnPDMode : std::int32_t { KSeq = 1, DIrectNet = 2 };
}  // namespace seq

namespace udp {
enum EnPDMode : std::int32_t { KSeq = 1, DIrectNet = 2, ECOM = 3 };
enum EnPDProtocol : std::int32_t { UDP_IP = 3, IPX = 2 };
}  // namespace udp

// Serial-port notification codes (CommEvent).
namespace comm {
constexpr std::int16_t EvSend = 1;
constexpr std::int16_t EvReceive = 2;
constexpr std::int16_t EvCD = 5;
constexpr std::int16_t ErBreak = 1001;
constexpr std::int16_t ErFrame = 1004;
constexpr std::int16_t ErOverrun = 1006;
constexpr std::int16_t ErRxOver = 1008;
constexpr std::int16_t ErRxParity = 1009;
constexpr std::int16_t ErTxFull = 1010;
constexpr std::int16_t ErDCB = 1011;
}  // namespace comm

}  // namespace plc
