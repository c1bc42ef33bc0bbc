// A host that unloads SeqLink from inside one of its events (a form closed from the handler):
// the event is the control's last act, nothing of it runs afterwards, the loop goes on without
// it, and a control loaded again on the thread has the line. Built with the address sanitizer,
// any touch of the freed control fails the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/directnet/SeqLinkRig.h"

namespace plc {
namespace {

struct UnloadRig : test::SeqLinkRig {
  std::string unloadOn;  // the event whose handler unloads the control

  UnloadRig() {
    link->SetEventSink([this](const std::string& name, std::vector<Variant>&) {
      events.push_back(name);
      if (name == unloadOn) link.reset();
    });
  }
  // The form loaded again: a new control on a new port, answered by the same station.
  void Reload() {
    link = Make();
    New();
    link->SetPortOpen(true);
    link->SetEventSink([this](const std::string& name, std::vector<Variant>&) { events.push_back(name); });
    Attach(*port);
  }
};

TEST(SeqLinkUnload, InsideTheCompletionOfANonWaitingReadAndLoadedAgain) {
  UnloadRig r;
  r.unloadOn = "CommComplete";
  r.station.SetWord(1, 0x0400, 77);
  ASSERT_EQ(r.ReadNW(Variant("V,2000")), ResultOk);
  r.Run(3'000'000);
  EXPECT_EQ(r.link, nullptr);
  EXPECT_EQ(r.events, std::vector<std::string>{"CommComplete"});

  r.Reload();
  Variant value(VariantArray(1, 1));
  EXPECT_EQ(r.Read(Variant("V,2000"), value), ResultOk) << r.link->FailureCause();
  EXPECT_EQ(value.Array().Get(1).ToInt32(), 77);
}

TEST(SeqLinkUnload, InsideAPassThroughEvent) {
  UnloadRig r;
  r.unloadOn = "CommEventModem";
  std::string text = "AT\r";
  r.link->SendToComm(text);
  r.port->Inject(Bytes{'O', 'K', '\r'});
  r.Run(1'000'000);
  EXPECT_EQ(r.link, nullptr);
  EXPECT_EQ(r.events, std::vector<std::string>{"CommEventModem"});
}

// A form closed (or its port) while its SeqLink's non-waiting read awaited a station that is
// off: the line state is the thread's, and what is left of that read must not hold the other
// forms' controls.
TEST(SeqLinkUnload, WithItsReadOutLeavesTheLineFreeForTheOtherControls) {
  enum class End { Unloaded, PortClosed, PortClosedThenUnloaded };
  for (const End end : {End::Unloaded, End::PortClosed, End::PortClosedThenUnloaded}) {
    SCOPED_TRACE(static_cast<int>(end));
    test::SeqLinkRig r;
    r.port->OnSent = nullptr;  // the press's station is off
    ASSERT_EQ(r.ReadNW(Variant("V,2000")), ResultOk);
    std::unique_ptr<SeqLink> press = std::move(r.link);
    r.link = r.Make();
    r.New();
    r.link->SetPortOpen(true);
    r.Attach(*r.port);
    r.station.SetWord(1, 0x0400, 77);
    r.Run(10'000);
    ASSERT_TRUE(r.Busy()) << "the press's read is on its line";
    if (end != End::Unloaded) press->SetPortOpen(false);
    if (end == End::PortClosed) {
      EXPECT_EQ(press->FailureCause(), "the port was closed before station 1 had answered");
    }
    if (end != End::PortClosed) press.reset();
    EXPECT_FALSE(r.Busy()) << "nothing is on any line now";

    const std::int64_t start = r.clock.MonotonicMicros();
    Variant value(VariantArray(1, 1));
    EXPECT_EQ(r.Read(Variant("V,2000"), value), ResultOk) << r.link->FailureCause();
    EXPECT_EQ(value.Array().Get(1).ToInt32(), 77);
    EXPECT_LT(r.clock.MonotonicMicros() - start, 500'000) << "the read waited for a line nobody holds";
    EXPECT_EQ(dnet::SeqLinkState().TimeoutCount, 0);
  }
}

}  // namespace
}  // namespace plc
