#pragma once
// The termios flags a settings text asks for: pure, so that what a real UART would be told is
// checked without one (a pseudo-terminal keeps neither parity nor a character size below 8).
#include <termios.h>

#include <cstdint>

#include "platform/SerialSettings.h"

namespace plc {

tcflag_t SizeFlag(int dataBits);
// n none; e even; o odd; m mark (odd with stick parity); s space (even with stick parity).
tcflag_t ParityFlags(char parity);
// The raw line the settings ask for, built over what the device holds now; on a pty only what
// it keeps.
termios LineFor(termios t, const SerialSettings& s, std::int32_t handshaking, speed_t speed, bool pty);

}  // namespace plc
