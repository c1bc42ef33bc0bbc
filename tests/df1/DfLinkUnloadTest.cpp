// A host that unloads DfLink from inside its CommComplete (a form closed from the handler): the
// event is the control's last act, nothing of it runs afterwards, and the thread's record is left
// free for a control loaded again. Built with the address sanitizer, any touch of the freed
// control fails the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/df1/Df1Rig.h"

namespace plc {
namespace {

TEST(DfLinkUnload, InsideTheCompletionOfANonWaitingReadLeavesTheLineFree) {
  test::Df1Rig rig;
  rig.plc.Table().SetWords(7, 0, {1234});
  int events = 0;
  rig.Link().SetEventSink([&](const std::string& name, std::vector<Variant>&) {
    ++events;
    if (name == "CommComplete") rig.bench.link.reset();
  });
  Variant address("N7:0"), unused;
  // DfLink's non-waiting read returns 0 as ever; its values come with CommComplete.
  rig.Link().ReadPLCNW(address, unused, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>());
  rig.bench.loop.RunFor(3'000'000);
  EXPECT_EQ(rig.bench.link, nullptr);
  EXPECT_EQ(events, 1);

  // The thread's record is released as the completion's end releases it: a form loaded again
  // finds the line free and the driver idle.
  EXPECT_TRUE(rig.State().LineFree);
  EXPECT_FALSE(rig.State().Busy);
  EXPECT_FALSE(rig.State().OnLine.has_value());
}

}  // namespace
}  // namespace plc
