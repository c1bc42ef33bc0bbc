#include "tools/plclink/ControlHelp.h"

#include <string>

#include "directnet/Blocks.h"
#include "ecom/CcmForm.h"
#include "modbus/Pdu.h"

namespace plc::plclink {

namespace {

bool Transfers(Command c) { return c == Command::Read || c == Command::Write || c == Command::Poll; }

}  // namespace

std::string ControlLimitsText(const std::string& library, Command command) {
  if (!Transfers(command)) return {};
  bool write = command == Command::Write;
  if (library == "rtulink") {
    using modbus::kMaxReadBits, modbus::kMaxReadRegisters, modbus::kMaxWriteBits, modbus::kMaxWriteRegisters;
    return write ? "RtuLink limits: " + std::to_string(kMaxWriteRegisters) + " registers or " +
                       std::to_string(kMaxWriteBits) +
                       " coils per write; more values are refused before anything\n"
                       "is sent, as are values that do not fit a register (0..65535; --io-type 5 for -32768..32767).\n"
                 : "RtuLink limits: " + std::to_string(kMaxReadRegisters) + " registers or " +
                       std::to_string(kMaxReadBits) + " bits per read (" + std::to_string(kMaxReadRegisters / 2) +
                       " values with --io-type ioFloat); a larger\n"
                       "COUNT is refused before anything is sent.\n";
  }
  if (library == "seqlink") {
    return "SeqLink limits: " + std::to_string(dnet::kMaxWords) +
           " words per read or write (one DirectNET header); values 0..65535.\n";
  }
  if (library == "DfLink") {
    return "DfLink limits: 127 words per read or write (a one-byte byte count); N-file values -32768..65535.\n";
  }
  if (library == "udplink") {
    return "UdpLink limits: ECOM mode " + std::to_string(ecom::kCcmBufferSize) + " bytes per request (" +
           std::to_string(ecom::kCcmBufferSize / 2) + " words); serial modes " + std::to_string(dnet::kMaxWords) +
           " words, as SeqLink.\n";
  }
  return {};
}

std::string AddressFormsText(const std::string& library) {
  if (library == "rtulink") {
    return "Addresses (RtuLink): a reference 00001..09999 coils, 10001..19999 discrete inputs, 30001..39999\n"
           "input registers, 40001..49999 holding registers (PLCType EnStdModbus); UNIT;REFERENCE for another\n"
           "unit than --address (2;40001); or a tag name of the tag database.\n";
  }
  if (library == "seqlink") {
    return "Addresses (SeqLink): TYPE,OCTAL (V,2000; X,7; Y,0; C,10; T,0; CT,0; S,0; SP,0; GX,0; GY,0),\n"
           "STATION;TYPE,OCTAL (2;V,2000), or a bare octal V-memory number (2000); V2000 alone is a tag name.\n";
  }
  if (library == "DfLink") {
    return "Addresses (DfLink): data-table addresses FILE:ELEMENT (N7:0, F8:0, S2:1), with a bit B3/35 or\n"
           "N7:0/3, a timer or counter word T4:2.2, an input or output I:1/3; --node is the PLC's DF1 node.\n";
  }
  if (library == "udplink") {
    return "Addresses (UdpLink): ECOM mode TYPE,OCTAL as SeqLink (V,2000; X,17) or ID;TYPE,OCTAL for module ID;\n"
           "serial modes (KSeq, DIrectNet) the header word address in decimal (1024 is V2000).\n";
  }
  return {};
}

std::string DefaultsText(const std::string& library) {
  std::string common = "CommPort 1, Settings 9600,n,8,1, Address 1";
  if (library == "rtulink") return "Defaults (RtuLink): " + common + ", ModBusMode Rtu, PLCType EnStdModbus, RS485Mode OFF.\n";
  if (library == "seqlink") return "Defaults (SeqLink): " + common + ", CommMode KSeq.\n";
  if (library == "DfLink") return "Defaults (DfLink): " + common + ", Mode EnCRC, PLCType EnSLC500, Node 1.\n";
  if (library == "udplink") return "Defaults (UdpLink): " + common + ", CommMode ECOM, CommProtocol UDP_IP, DeviceTimeOut 55 ms.\n";
  return "Defaults: " + common + "; see 'plclink CONTROL COMMAND --help' for each control's.\n";
}

std::string EnvironmentText(const std::string& library) {
  std::string text =
      "Environment:\n"
      "  QVL_COM<n>=PATH      the device CommPort n opens (default /dev/ttyS<n-1>); --port PATH sets one\n"
      "  QVL_PLUGIN_PATH      folders (colon-separated) searched first for the control plug-ins\n";
  if (library.empty() || library == "udplink") {
    text +=
        "  HEI_PAS_LIBRARY      the ECOM transport library to load (default libhei_pas.so, found as a plug-in)\n"
        "  HEI_PAS_MODULES      ECOM modules as host[:port] entries (default port 28784), commas or blanks between\n"
        "  HEI_PAS_CONFIG       a file of module entries, one per line (the README says where else they are read)\n"
        "  HEI_PAS_QUERY_MS     how long opening the port waits for the modules to answer (250)\n";
  }
  return text;
}

}  // namespace plc::plclink
