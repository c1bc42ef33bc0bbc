#pragma once
// The line settings text of a serial port: "speed,parity,data bits,stop bits", for example
// "9600,e,8,1". Parity is one of n, e, o, m, s (either case); data bits 5 to 8; stop bits 1
// or 2. Pure parsing: whether a device can apply the values is the port's business.
#include <optional>
#include <string>

namespace plc {

struct SerialSettings {
  int baud = 9600;
  char parity = 'n';  // lower case
  int dataBits = 8;
  int stopBits = 1;

  std::string ToString() const;
  // Bits on the line for one character: start, data, parity, stop.
  int BitsPerCharacter() const;
  bool operator==(const SerialSettings&) const = default;
};

std::optional<SerialSettings> ParseSerialSettings(const std::string& text);

}  // namespace plc
