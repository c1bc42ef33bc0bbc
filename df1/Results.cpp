#include "df1/Results.h"

#include <cstdio>

namespace plc::df1 {

std::string HexByte(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02Xh", value & 0xFF);
  return text;
}

std::string ResultMeaning(Result code) {
  switch (code) {
    case ResultOk: return "done";
    case ResultFailed: return "not done";
    case ResultDleEnq: return "DLE ENQ from the station";
    case ResultDleAck: return "DLE ACK inside the reply";
    case ResultDleNak: return "DLE NAK from the station";
    case ResultCancelled: return "cancelled by a write";
    case ResultNoReply: return "no reply in time";
    case ResultNotSent: return "not sent";
    case ResultBadAddress: return "address or count refused";
    case ResultLineBusy: return "driver busy";
    case ResultNoTag: return "no such tag";
    case ResultLinkTimeout: return "link time-out";
    case ResultStatusError: return "refused by the station";
    case ResultCheckError: return "reply unusable";
    default: break;
  }
  if (code > 0 && code <= 255) return "unexpected " + HexByte(static_cast<unsigned>(code)) + " where DLE ACK belongs";
  return "not a DfLink result";
}

std::string StatusMeaning(std::uint8_t sts, std::optional<std::uint8_t> ext) {
  std::string words;
  switch (sts & 0xF0) {
    case 0x10: words = "illegal command or format"; break;
    case 0x20: words = "host has a problem and will not communicate"; break;
    case 0x30: words = "remote node host is missing, disconnected or shut down"; break;
    case 0x40: words = "host could not complete the function (hardware fault)"; break;
    case 0x50: words = "addressing problem or memory protect rungs"; break;
    case 0x60: words = "function not allowed (command protection)"; break;
    case 0x70: words = "processor is in program mode"; break;
    case 0x80: words = "compatibility mode file missing or communication zone problem"; break;
    case 0x90: words = "remote node cannot buffer the command"; break;
    case 0xA0:
    case 0xC0: words = "wait ACK (1775-KA buffer full)"; break;
    case 0xB0: words = "remote node problem due to download"; break;
    case 0xF0: words = "error code in the extended status"; break;
    case 0x00: {
      // The low nibble: errors of a link on the way (a bridge or module), not of the processor.
      static const char* const kLocal[] = {
          nullptr,
          "destination node is out of buffer space",
          "cannot guarantee delivery, the remote node did not acknowledge the command",
          "duplicate token holder detected",
          "local port is disconnected",
          "application layer timed out waiting for a response",
          "duplicate node detected",
          "station is offline",
          "hardware fault",
      };
      const unsigned local = sts & 0x0F;
      words = local < sizeof kLocal / sizeof kLocal[0] && kLocal[local] ? kLocal[local] : "unknown status";
      break;
    }
    default: words = "unknown status"; break;
  }
  std::string text = "STS " + HexByte(sts) + ": " + words;
  if ((sts & 0xF0) == 0xF0 && ext) {
    static const char* const kExt[] = {
        nullptr,
        "a field has an illegal value",
        "fewer levels in the address than any address has",
        "more levels in the address than the system supports",
        "symbol not found",
        "symbol of improper format",
        "address does not point to something usable",
        "file is the wrong size",
        "the situation changed since the command started",
        "data or file too large",
        "transaction size plus word address too large",
        "access denied, improper privilege",
        "condition cannot be generated, resource not available",
        "condition already exists, resource already available",
        "command cannot be executed",
        "histogram overflow",
        "no access",
        "illegal data type",
        "invalid parameter or invalid data",
        "address reference exists to deleted area",
        "command execution failure for unknown reason",
        "data conversion error",
        "scanner cannot communicate with a 1771 rack adapter",
        "type mismatch",
        "1771 module response was not valid",
        "duplicated label",
        "file is open, another node owns it",
        "another node is the program owner",
        nullptr,
        nullptr,
        "data table element protection violation",
        "temporary internal problem",
        nullptr,
        nullptr,
        "remote rack fault",
        "time-out",
        "unknown error",
    };
    const std::size_t n = sizeof kExt / sizeof kExt[0];
    text += ", EXT STS " + HexByte(*ext) + (*ext < n && kExt[*ext] ? std::string(": ") + kExt[*ext] : std::string());
  }
  return text;
}

}  // namespace plc::df1
