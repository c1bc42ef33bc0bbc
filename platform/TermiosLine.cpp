#include "platform/TermiosLine.h"

#include <utility>

namespace plc {

std::optional<speed_t> TermiosSpeed(int baud) {
  static constexpr std::pair<int, speed_t> kSpeeds[] = {
      {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
      {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
      {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
      {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
      {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
      {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
  };
  for (const auto& [rate, code] : kSpeeds)
    if (rate == baud) return code;
  return std::nullopt;
}

bool SameLine(const termios& want, const termios& got) {
  constexpr tcflag_t kCflags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CLOCAL | CREAD;
  constexpr tcflag_t kIflags = IXON | IXOFF;
  return (want.c_cflag & kCflags) == (got.c_cflag & kCflags) && (want.c_iflag & kIflags) == (got.c_iflag & kIflags) &&
         cfgetospeed(&want) == cfgetospeed(&got) && cfgetispeed(&want) == cfgetispeed(&got);
}

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
  // A break is a line condition: without this the kernel reads it as a 0x00 byte.
  t.c_iflag |= IGNBRK;
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
