// A new SeqLink: InitProperties leaves the serial child and the timers alone, and SeqLink is
// the control whose enIODataType names ioBCD.
#include <gtest/gtest.h>

#include "directnet/SeqLink.h"
#include "tests/support/NewControlChecks.h"

namespace plc::test {
namespace {

TEST(SeqLinkNewControl, InitPropertiesLeavesChildAndTimersAndIoTypesNameBcd) {
  LinkTestBench<SeqLink> b;
  ExpectInitPropertiesLeavesChildAndTimers(b, b.link->Timer1());
  EXPECT_TRUE(IoDataTypeLabels(SeqLink::Table().Members()).count("ioBCD"));
}

}  // namespace
}  // namespace plc::test
