#include "platform/TermiosLine.h"

namespace plc {

tcflag_t SizeFlag(int dataBits) {
  switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

tcflag_t ParityFlags(char parity) {
  switch (parity) {
    case 'e': return PARENB;
    case 'o': return PARENB | PARODD;
    case 'm': return PARENB | PARODD | CMSPAR;
    case 's': return PARENB | CMSPAR;
    default: return 0;
  }
}

termios LineFor(termios t, const SerialSettings& s, std::int32_t handshaking, speed_t speed, bool pty) {
  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD | SizeFlag(s.dataBits) | ParityFlags(s.parity);
  if (s.stopBits == 2) t.c_cflag |= CSTOPB;
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  if (handshaking == 1 || handshaking == 3) t.c_iflag |= IXON | IXOFF;
  if (handshaking == 2 || handshaking == 3) t.c_cflag |= CRTSCTS;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  if (pty) {
    // A pty keeps neither parity nor a character size other than 8 bits, and refuses a second
    // request for parity with EINVAL: ask only for what it keeps.
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR);
    t.c_cflag |= CS8;
  }
  return t;
}

}  // namespace plc
