// An omitted optional argument that a control writes into must read back what was written
// within the call (a bit address sets IOType and ioIdx, and later steps act on them).
#include "base/Opt.h"

#include <gtest/gtest.h>

namespace plc {
namespace {

TEST(Opt, AnOmittedArgumentKeepsWhatTheCallWroteWithoutReachingAnyCaller) {
  Opt<int> omitted;
  EXPECT_TRUE(omitted.IsMissing());
  EXPECT_EQ(omitted.ValueOr(7), 7);
  omitted.Put(18);
  EXPECT_EQ(omitted.ValueOr(7), 18) << "a written value is not dropped";
  EXPECT_TRUE(omitted.IsMissing()) << "the caller still passed none";

  int variable = 1;
  Opt<int> passed(variable);
  EXPECT_FALSE(passed.IsMissing());
  passed.Put(5);
  EXPECT_EQ(variable, 5) << "the caller's variable takes the write";
}

}  // namespace
}  // namespace plc
