// The simulators' device line: a simulated PLC starts as a real one is switched on, hearing
// only what comes after it opened its line.
#include <gtest/gtest.h>

#include "tests/support/Pty.h"
#include "tools/plcsim/DirectNetSimulator.h"
#include "tools/plcsim/ModbusSimulator.h"

namespace plc {
namespace {

using namespace std::chrono_literals;

TEST(SimLine, RequestsSentBeforeTheSimulatorOpenedItsLineAreNotAnswered) {
  const test::PtyBytes enquiry{'K', 0x21, 0x05};
  {
    test::Pty pty;
    pty.Write(enquiry);  // a master that asked, and gave up, before the station was there
    sim::DirectNetSimulator station(sim::DirectNetOptions{pty.DevicePath()});
    EXPECT_TRUE(pty.Read(3, 500ms).empty()) << "an enquiry from before the station opened its line was answered";
    pty.Write(enquiry);
    EXPECT_EQ(pty.Read(3), (test::PtyBytes{'N', 0x21, 0x06}));
  }
  {
    test::Pty pty;
    const test::PtyBytes read{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    pty.Write(read);
    sim::ModbusSimulator slave(sim::ModbusSimOptions{pty.DevicePath()});
    EXPECT_TRUE(pty.Read(7, 500ms).empty()) << "a request from before the slave opened its line was answered";
    pty.Write(read);
    EXPECT_EQ(pty.Read(7).size(), 7u);
  }
}

}  // namespace
}  // namespace plc
