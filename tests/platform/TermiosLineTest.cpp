// The termios flags of each parity letter, data size and stop bits, as a real UART gets them
// (a pseudo-terminal drops these bits, so a line test cannot see them).
#include <gtest/gtest.h>

#include "platform/TermiosLine.h"

namespace plc {
namespace {

TEST(TermiosLine, ParityLettersSizesAndStopBitsMapToTheirFlags) {
  struct Case {
    const char* settings;
    tcflag_t parity;
    tcflag_t size;
    bool twoStops;
  };
  const Case cases[] = {
      {"9600,n,8,1", 0, CS8, false},
      {"9600,e,8,1", PARENB, CS8, false},
      {"9600,o,7,1", PARENB | PARODD, CS7, false},
      {"9600,O,7,2", PARENB | PARODD, CS7, true},
      {"9600,m,6,1", PARENB | PARODD | CMSPAR, CS6, false},
      {"9600,s,5,2", PARENB | CMSPAR, CS5, true},
  };
  for (const Case& c : cases) {
    auto s = ParseSerialSettings(c.settings);
    ASSERT_TRUE(s) << c.settings;
    termios t = LineFor(termios{}, *s, 0, B9600, false);
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parity) << c.settings;
    EXPECT_EQ(t.c_cflag & CSIZE, c.size) << c.settings;
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStops) << c.settings;
    // On a pty only what it keeps is asked for.
    termios pty = LineFor(termios{}, *s, 0, B9600, true);
    EXPECT_EQ(pty.c_cflag & (PARENB | PARODD | CMSPAR | CSIZE), tcflag_t{CS8}) << c.settings;
  }
}

// A break on the line is a line condition, not a character: the kernel would otherwise hand it
// on as a 0x00 byte the far end never sent (into a reply, or to the host in raw mode).
TEST(TermiosLine, ABreakOnTheLineIsNoReceivedByte) {
  auto s = ParseSerialSettings("9600,e,8,1");
  ASSERT_TRUE(s);
  termios held{};
  held.c_iflag = BRKINT | PARMRK;  // what another program may have left on the device
  for (bool pty : {false, true}) {
    termios t = LineFor(held, *s, 0, B9600, pty);
    EXPECT_TRUE(t.c_iflag & IGNBRK) << "pty " << pty;
    EXPECT_FALSE(t.c_iflag & (BRKINT | PARMRK)) << "pty " << pty;
  }
}

}  // namespace
}  // namespace plc
