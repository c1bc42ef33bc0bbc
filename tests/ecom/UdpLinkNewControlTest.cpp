// A new UdpLink: InitProperties leaves the serial child and the timers alone, and its
// enIODataType names no ioBCD.
#include <gtest/gtest.h>

#include "ecom/UdpLink.h"
#include "tests/support/NewControlChecks.h"

namespace plc::test {
namespace {

TEST(UdpLinkNewControl, InitPropertiesLeavesChildAndTimersAndIoTypesHaveNoBcd) {
  LinkTestBench<UdpLink> b;
  ExpectInitPropertiesLeavesChildAndTimers(b, b.link->Timer1());
  auto labels = IoDataTypeLabels(UdpLink::Table().Members());
  EXPECT_TRUE(labels.count("ioFloat"));
  EXPECT_FALSE(labels.count("ioBCD"));
}

}  // namespace
}  // namespace plc::test
