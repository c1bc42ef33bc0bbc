// plclink DfLink in fresh processes against the simulated DF1 PLC on a linked line: each run
// is one process with no earlier setup, so a write must see its acknowledgement and a poll its
// replies before the process ends.
#include <gtest/gtest.h>

#include "tests/support/PlclinkCommand.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/Df1Simulator.h"

namespace plc {
namespace {

struct Line {
  test::PtyLink line;
  sim::Df1Simulator plc{sim::Df1SimOptions{line.PathB(), false, 19200}};
  std::vector<std::string> Args(std::vector<std::string> tail) const {
    std::vector<std::string> args = {"DfLink", "--port", line.PathA(), "--settings", "19200,n,8,1"};
    args.insert(args.end(), tail.begin(), tail.end());
    return args;
  }
};

TEST(PlclinkDfLink, WriteThenReadInSeparateProcesses) {
  Line l;
  test::RunResult w = test::RunPlclink(l.Args({"write", "N7:4", "16", "-5"}));
  ASSERT_EQ(w.exitCode, 0) << w.err;
  EXPECT_EQ(l.plc.Plc().Table().Word(7, 4), 16);
  EXPECT_EQ(l.plc.Plc().Table().Word(7, 5), 0xFFFB);
  test::RunResult r = test::RunPlclink(l.Args({"read", "N7:4", "2"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "16 -5\n");
  test::RunResult f = test::RunPlclink(l.Args({"write", "F8:1", "2.5"}));
  ASSERT_EQ(f.exitCode, 0) << f.err;
  EXPECT_EQ(test::RunPlclink(l.Args({"read", "F8:1"})).out, "2.5\n");
}

TEST(PlclinkDfLink, PollPrintsEachCompletionAndFailuresCarryTheirStatus) {
  Line l;
  l.plc.Plc().Table().SetWords(7, 0, {7, 8});
  test::RunResult p = test::RunPlclink(l.Args({"--json", "poll", "N7:0", "2", "--times", "2", "--interval", "200"}));
  ASSERT_EQ(p.exitCode, 0) << p.err;
  auto lines = test::JsonLines(p);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1]["event"], "CommComplete");
  EXPECT_EQ(lines[1]["MData"], (nlohmann::json{7, 8}));
  EXPECT_EQ(lines[1]["RespStatus"], -1);
  EXPECT_EQ(lines[1]["ok"], nullptr);  // an event carries no result of its own

  test::RunResult bad = test::RunPlclink(l.Args({"read", "N7:"}));
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("result 94"), std::string::npos) << bad.err;
  l.plc.Plc().InjectNext(sim::Df1Fault::BadCheck);
  test::RunResult check = test::RunPlclink(l.Args({"read", "N7:0"}));
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_NE(check.err.find("result 99: ERRORBCC"), std::string::npos) << check.err;
}

TEST(PlclinkDfLink, CallOfANonWaitingReadSeesItsCompletion) {
  Line l;
  l.plc.Plc().Table().SetWords(7, 1, {42});
  test::RunResult c = test::RunPlclink(l.Args({"call", "ReadPLCNW", "N7:1", "0", "1"}));
  ASSERT_EQ(c.exitCode, 0) << c.err;
  EXPECT_NE(c.out.find("CommComplete MData=[42"), std::string::npos) << c.out;
  EXPECT_NE(c.out.find("RespStatus=-1"), std::string::npos) << c.out;
}

}  // namespace
}  // namespace plc
