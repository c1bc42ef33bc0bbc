#pragma once
// The termios flags a settings text asks for: pure, so that what a real UART would be told is
// checked without one (a pseudo-terminal keeps neither parity nor a character size below 8).
#include <termios.h>

#include <cstdint>
#include <optional>

#include "platform/SerialSettings.h"

namespace plc {

// The termios code of a line speed; nullopt for a speed the system has no code for.
std::optional<speed_t> TermiosSpeed(int baud);
// Whether a device holds the line asked for (tcsetattr succeeds when any part was applied).
bool SameLine(const termios& want, const termios& got);

tcflag_t SizeFlag(int dataBits);
// n none; e even; o odd; m mark (odd with stick parity); s space (even with stick parity).
tcflag_t ParityFlags(char parity);
// The raw line the settings ask for, built over what the device holds now; on a pty only what
// it keeps.
termios LineFor(termios t, const SerialSettings& s, std::int32_t handshaking, speed_t speed, bool pty);

}  // namespace plc
