#pragma once
// The one serial setting both sides of every comparison use. On a pty the baud rate does not
// throttle the line, but libmodbus derives its inter-frame timing from it, so RtuLink and
// libmodbus are always given the same.
namespace plc::bench {

constexpr int kBaud = 115200;
inline constexpr const char* kSettings = "115200,n,8,1";
constexpr int kUnit = 1;

}  // namespace plc::bench
