// A new RtuLink: InitProperties leaves the serial child and the timers alone, and its
// enIODataType names no ioBCD (5 is honoured without a name).
#include <gtest/gtest.h>

#include "base/RuntimeError.h"
#include "modbus/RtuLink.h"
#include "tests/support/NewControlChecks.h"

namespace plc::test {
namespace {

TEST(RtuLinkNewControl, InitPropertiesLeavesChildAndTimersAndIoTypesHaveNoBcd) {
  LinkTestBench<RtuLink> b;
  ExpectInitPropertiesLeavesChildAndTimers(b, b.link->Timer1());
  auto labels = IoDataTypeLabels(RtuLink::Table().Members());
  EXPECT_TRUE(labels.count("ioFloat"));
  EXPECT_FALSE(labels.count("ioBCD"));
}

TEST(RtuLinkNewControl, CommPortZeroIsRefusedAndNothingChanges) {
  LinkTestBench<RtuLink> b;
  b.New();
  b.link->SetCommPort(3);
  try {
    b.link->SetCommPort(0);
    FAIL() << "CommPort 0 was taken";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::PortInvalid);
  }
  EXPECT_EQ(b.link->CommPort(), 3);
  EXPECT_EQ(b.port->CommPort(), 3);
}

}  // namespace
}  // namespace plc::test
