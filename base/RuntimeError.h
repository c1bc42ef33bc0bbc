#pragma once
// The one exception type for host-visible run-time errors. It carries the classic error
// number that hosts of such controls test for; Text() is the message shown to a person.
#include <stdexcept>
#include <string>

namespace plc {

namespace err {
constexpr int InvalidCall = 5;
constexpr int Overflow = 6;
constexpr int Subscript = 9;
constexpr int TypeMismatch = 13;
constexpr int FileNotFound = 53;
constexpr int BadFileFormat = 321;
constexpr int InvalidPropertyValue = 380;
constexpr int NotAtDesignTime = 382;
constexpr int ReadOnlyProperty = 383;
constexpr int ArgumentNotOptional = 449;
constexpr int MemberNotFound = 438;
constexpr int WrongArgumentCount = 450;
// The serial-port component's own errors.
constexpr int PortOpenNotValid = 8000;  // operation not valid while the port is open
constexpr int PortInvalid = 8002;       // invalid port number
constexpr int PortAlreadyOpen = 8005;   // the device is in use
constexpr int HardwareUnavailable = 8010;
constexpr int DeviceNotOpen = 8012;
constexpr int SetCommStateFailed = 8015;
constexpr int PortNotOpen = 8018;       // operation valid only while the port is open
constexpr int WriteFailed = 8019;
constexpr int ReadFailed = 8020;
}  // namespace err

// The standard message for an error number; empty for numbers it does not know.
std::string ErrorText(int number);

class RuntimeError : public std::runtime_error {
 public:
  explicit RuntimeError(int number);
  RuntimeError(int number, const std::string& text);
  int Number() const noexcept { return number_; }

 private:
  int number_;
};

}  // namespace plc
