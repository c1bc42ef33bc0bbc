#pragma once
// The serial device a simulator serves on, opened as the controls' own ports open theirs: a
// terminal device, locked against a second user (another plcsim or a control), raw, at the
// speed, data bits, parity and stop bits asked. A setting the device does not take is refused
// rather than served at another (a pseudo-terminal keeps only 8 data bits and no parity, and
// carries bytes all the same).
#include <stdexcept>
#include <string>

#include "platform/SerialSettings.h"

namespace plc::sim {

// Why a device cannot be served on; plcsim exits 1 with it.
class SimLineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The descriptor, non-blocking, reads returning at once; SimLineError when it cannot be used.
int OpenSimLine(const std::string& path, const SerialSettings& settings);

}  // namespace plc::sim
