#include "base/RuntimeError.h"

namespace plc {

std::string ErrorText(int number) {
  switch (number) {
    case err::InvalidCall: return "Invalid procedure call or argument";
    case err::Overflow: return "Overflow";
    case err::Subscript: return "Subscript out of range";
    case err::TypeMismatch: return "Type mismatch";
    case err::FileNotFound: return "File not found";
    case err::BadFileFormat: return "Invalid file format";
    case err::InvalidPropertyValue: return "Invalid property value";
    case err::NotAtDesignTime: return "Property can be set only at run time";
    case err::ReadOnlyProperty: return "Property is read-only";
    case err::MemberNotFound: return "Object doesn't support this property or method";
    case err::ArgumentNotOptional: return "Argument not optional";
    case err::WrongArgumentCount: return "Wrong number of arguments";
    case err::PortOpenNotValid: return "Operation not valid while the port is opened";
    case err::PortInvalid: return "Invalid port number";
    case err::PortAlreadyOpen: return "Port already open";
    case err::HardwareUnavailable: return "The hardware is not available";
    case err::DeviceNotOpen: return "The device is not open";
    case err::SetCommStateFailed: return "Could not set comm state";
    case err::PortNotOpen: return "Operation valid only when the port is open";
    case err::WriteFailed: return "Error writing to the comm device";
    case err::ReadFailed: return "Error reading from the comm device";
    default: return {};
  }
}

RuntimeError::RuntimeError(int number) : RuntimeError(number, ErrorText(number)) {}

RuntimeError::RuntimeError(int number, const std::string& text)
    : std::runtime_error(text.empty() ? "Error " + std::to_string(number) : text), number_(number) {}

}  // namespace plc
