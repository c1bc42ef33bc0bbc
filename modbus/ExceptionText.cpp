#include "modbus/ExceptionText.h"

namespace plc::modbus {
namespace {

const char* ExceptionName(std::uint8_t code) {
  switch (code) {
    case 1: return "illegal function";
    case 2: return "illegal data address";
    case 3: return "illegal data value";
    case 4: return "slave device failure";
    case 5: return "acknowledge";
    case 6: return "slave device busy";
    case 7: return "negative acknowledge";
    case 8: return "memory parity error";
    case 10: return "gateway path unavailable";
    case 11: return "gateway target device failed to respond";
    default: return nullptr;
  }
}

}  // namespace

std::string ExceptionText(std::uint8_t code) {
  std::string text = "Exception " + std::to_string(code);
  if (const char* name = ExceptionName(code)) text += std::string(" (") + name + ")";
  return text;
}

}  // namespace plc::modbus
