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

}  // namespace
}  // namespace plc
