// DfLink declares no enIODataType: its members describe none.
#include <gtest/gtest.h>

#include "df1/DfLink.h"
#include "tests/support/NewControlChecks.h"

namespace plc::test {
namespace {

TEST(DfLinkIoType, MembersDescribeNoIoDataType) {
  EXPECT_TRUE(IoDataTypeLabels(DfLink::Table().Members()).empty());
}

}  // namespace
}  // namespace plc::test
