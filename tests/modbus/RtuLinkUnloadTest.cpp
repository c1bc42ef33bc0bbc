// A host that unloads RtuLink from inside one of its events (a form closed from the handler):
// the event is the control's last act, nothing of it runs afterwards, and the loop goes on
// without it. Built with the address sanitizer, any touch of the freed control fails the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/RtuFrame.h"
#include "modbus/RtuLink.h"
#include "tests/modbus/FramingHelpers.h"
#include "tests/support/LinkTestBench.h"

namespace plc {
namespace {

using modbus::Adu;
using modbus::Bytes;

Bytes Rtu(std::string_view hexMessage) {
  Bytes m = modbus::testing::Hex(hexMessage);
  return modbus::BuildRtuFrame(Adu{m[0], m[1], Bytes(m.begin() + 2, m.end())});
}

struct UnloadRig : test::LinkTestBench<RtuLink> {
  std::vector<std::string> events;
  Bytes reply;
  // The event whose handler unloads the control.
  std::string unloadOn;

  UnloadRig() {
    New();
    link->SetAddress(1);
    link->SetPortOpen(true);
    link->SetEventSink([this](const std::string& name, std::vector<Variant>&) {
      events.push_back(name);
      if (name == unloadOn) link.reset();
    });
    port->OnSent = [this](const Bytes&) {
      if (!reply.empty()) port->Inject(reply);
    };
  }
  Result ReadPLCNW(std::string address) {
    VariantArray unused(1, 1);
    return link->ReadPLCNW(address, unused, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>());
  }
};

TEST(RtuLinkUnload, InsideTheCompletionOfANonWaitingRead) {
  UnloadRig r;
  r.unloadOn = "CommCompleteEx";
  r.reply = Rtu("01 03 02 00 07");
  ASSERT_EQ(r.ReadPLCNW("40001"), ResultOk);
  r.loop.RunFor(3'000'000);
  EXPECT_EQ(r.link, nullptr);
  EXPECT_EQ(r.events, std::vector<std::string>{"CommCompleteEx"});
}

TEST(RtuLinkUnload, InsideTheWatchdogsReadErrorEvent) {
  UnloadRig r;
  r.unloadOn = "CommCompleteEx";
  r.link->Timer1().SetEnabled(true);
  // Reads nobody answers count errors, until the watchdog reports them.
  for (int k = 0; k < 8 && r.link; ++k) {
    r.ReadPLCNW("40001");
    r.loop.RunFor(2'500'000);
  }
  r.loop.RunFor(3'000'000);
  EXPECT_EQ(r.link, nullptr);
  EXPECT_EQ(r.events, std::vector<std::string>{"CommCompleteEx"});
}

TEST(RtuLinkUnload, InsideAPassThroughEvent) {
  UnloadRig r;
  r.unloadOn = "CommEventModem";
  std::string text = "AT\r";
  r.link->SendToComm(text);
  r.port->Inject(Bytes{'O', 'K', '\r'});
  r.loop.RunFor(1'000'000);
  EXPECT_EQ(r.link, nullptr);
  EXPECT_EQ(r.events, std::vector<std::string>{"CommEventModem"});
}

TEST(RtuLinkUnload, InsideTheEventOfARequestServedAsSlave) {
  UnloadRig r;
  r.unloadOn = "CommCompleteEx";
  r.link->SetModBusMode(rtu::SlaveRtu);
  // Two requests in one chunk: the second is never served by a control that is gone.
  Bytes two = Rtu("01 03 00 00 00 01");
  Bytes second = Rtu("01 03 00 01 00 01");
  two.insert(two.end(), second.begin(), second.end());
  r.port->Inject(two);
  r.loop.RunFor(1'000'000);
  EXPECT_EQ(r.link, nullptr);
  EXPECT_EQ(r.events, std::vector<std::string>{"CommCompleteEx"});
}

}  // namespace
}  // namespace plc
