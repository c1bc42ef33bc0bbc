// A stored RtuLink loaded in a slave mode: whatever scan flags it was stored with, no timer
// runs and nothing goes out on its own, yet once its port is open it answers the master at the
// stored unit in the stored framing.
#include <gtest/gtest.h>

#include "modbus/AsciiFrame.h"
#include "modbus/RtuFrame.h"
#include "modbus/RtuLink.h"
#include "tests/modbus/FramingHelpers.h"
#include "tests/support/LinkTestBench.h"

namespace plc::modbus::testing {
namespace {

Adu Message(std::string_view hex) {
  Bytes m = Hex(hex);
  return Adu{m[0], m[1], Bytes(m.begin() + 2, m.end())};
}

TEST(RtuLinkSlaveLoad, LoadedSlaveRunsNoTimerAndAnswersOnceItsPortIsOpen) {
  for (std::int16_t mode : {std::int16_t{rtu::SlaveRtu}, std::int16_t{rtu::SlaveAscii}}) {
    SCOPED_TRACE(mode);
    Framing framing = mode == rtu::SlaveAscii ? Framing::Ascii : Framing::Rtu;
    auto frame = [framing](std::string_view hex) {
      return framing == Framing::Ascii ? BuildAsciiFrame(Message(hex)) : BuildRtuFrame(Message(hex));
    };
    test::LinkTestBench<RtuLink> b;
    MemoryPropertyBag bag;
    bag.Put("ModBusMode", mode);
    bag.Put("Address", std::int32_t{7});
    bag.Put("PortOpen", true);
    bag.Put("ScanReadEnable", true);
    bag.Put("ScanWriteEnable", true);
    bag.Put("ScanReadIOTimerInterval", std::int32_t{100});
    b.link->Initialize();
    b.link->ReadProperties(bag);  // without Show, which would stop the timers itself
    EXPECT_FALSE(b.link->Timer1().Enabled());
    EXPECT_FALSE(b.link->Timer2().Enabled());
    EXPECT_FALSE(b.link->Timer3().Enabled());
    EXPECT_TRUE(b.link->ScanReadEnable());

    b.link->SetPortOpen(true);
    b.clock.Advance(5'000'000);
    b.loop.DoEvents();
    EXPECT_TRUE(b.port->TakeSent().empty());

    Bytes write = frame("07 06 00 09 00 2A");
    b.port->Inject(write);
    b.loop.DoEvents();
    EXPECT_EQ(b.port->TakeSent(), write);
    b.port->Inject(frame("07 03 00 09 00 01"));
    b.loop.DoEvents();
    EXPECT_EQ(b.port->TakeSent(), frame("07 03 02 00 2A"));
    b.port->Inject(frame("01 03 00 09 00 01"));  // not its unit
    b.loop.DoEvents();
    EXPECT_TRUE(b.port->TakeSent().empty());
  }
}

}  // namespace
}  // namespace plc::modbus::testing
