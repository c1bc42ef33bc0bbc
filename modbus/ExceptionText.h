#pragma once
// The text a master keeps for an exception reply: "Exception N (name)" with the standard name
// of the code, or "Exception N" for a code the standard does not name.
#include <cstdint>
#include <string>

namespace plc::modbus {

std::string ExceptionText(std::uint8_t code);

}  // namespace plc::modbus
