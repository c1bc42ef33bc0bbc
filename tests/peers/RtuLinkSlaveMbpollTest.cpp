// RtuLink as a slave in SlaveRtu answering mbpoll, a master this project did not build on:
// what mbpoll writes it reads back, and its 1-based references land where 0-based ones do.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/peers/SlaveOnLine.h"

namespace plc::test {
namespace {

// mbpoll's common options for this line: RTU at 19200 8N1, unit 1, one poll, 1 s time-out.
std::vector<std::string> Mbpoll(const std::string& device, std::vector<std::string> options,
                                const std::vector<std::string>& values = {}) {
  std::vector<std::string> args{"-m", "rtu", "-a", "1", "-b", "19200", "-P", "none", "-o", "1", "-1"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(device);
  if (!values.empty()) {
    args.push_back("--");  // the end of the options
    args.insert(args.end(), values.begin(), values.end());
  }
  return args;
}

// The "[reference]: value" lines of a read, as (reference, value) pairs; a register of 32768 or
// more is followed by its signed reading, "(-1)", which is left out.
std::vector<std::pair<int, long>> PolledValues(const RunResult& r) {
  static const std::regex line(R"(^\[(\d+)\]:\s+(-?\d+)(\s+\(-?\d+\))?\s*$)");
  std::vector<std::pair<int, long>> values;
  for (const std::string& text : r.OutLines()) {
    std::smatch m;
    if (std::regex_match(text, m, line)) values.emplace_back(std::stoi(m[1]), std::stol(m[2]));
  }
  return values;
}

TEST(RtuLinkSlaveMbpoll, HoldingRegistersWrittenAreReadBackAtTheSameReferences) {
  PtyLink line;
  SlaveOnLine slave(line.PathB(), rtu::SlaveRtu, "19200,n,8,1");
  const std::vector<std::string> written{"1", "0", "65535", "32767", "32768", "1000", "4660", "7", "99", "12345"};
  RunResult w = slave.Serve(MbpollCommand(Mbpoll(line.PathA(), {"-t", "4", "-r", "100"}, written)));
  ASSERT_EQ(w.exitCode, 0) << w.out << w.err;
  // Reference 100 is offset 99: the image holds it at 40001 + 99.
  EXPECT_EQ(slave.Image(40100), 1);
  EXPECT_EQ(slave.Image(40102), 0xFFFF);
  EXPECT_EQ(slave.Image(40109), 12345);
  EXPECT_EQ(slave.Image(40110), 0);

  // Read 0-based from offset 99: the same ten registers.
  RunResult r = slave.Serve(MbpollCommand(Mbpoll(line.PathA(), {"-t", "4", "-0", "-r", "99", "-c", "10"})));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<std::pair<int, long>> read = PolledValues(r);
  ASSERT_EQ(read.size(), written.size()) << r.out;
  for (std::size_t k = 0; k < written.size(); ++k) {
    EXPECT_EQ(read[k].first, static_cast<int>(99 + k)) << r.out;
    EXPECT_EQ(read[k].second, std::stol(written[k])) << "reference " << read[k].first;
  }
  EXPECT_EQ(slave.functions, (std::vector<std::int32_t>{16, 3}));
}

TEST(RtuLinkSlaveMbpoll, CoilsWrittenAreReadBackAndInputTablesAreZero) {
  PtyLink line;
  SlaveOnLine slave(line.PathB(), rtu::SlaveRtu, "19200,n,8,1");
  const std::vector<std::string> written{"1", "0", "1", "1", "0", "0", "0", "1", "1", "0", "1"};
  RunResult w = slave.Serve(MbpollCommand(Mbpoll(line.PathA(), {"-t", "0", "-r", "9"}, written)));
  ASSERT_EQ(w.exitCode, 0) << w.out << w.err;

  RunResult r = slave.Serve(MbpollCommand(Mbpoll(line.PathA(), {"-t", "0", "-r", "9", "-c", "11"})));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<std::pair<int, long>> read = PolledValues(r);
  ASSERT_EQ(read.size(), written.size()) << r.out;
  for (std::size_t k = 0; k < written.size(); ++k) EXPECT_EQ(read[k].second, std::stol(written[k])) << r.out;

  // Discrete inputs and input registers share no element with the coils just written.
  RunResult di = slave.Serve(MbpollCommand(Mbpoll(line.PathA(), {"-t", "1", "-r", "9", "-c", "11"})));
  ASSERT_EQ(di.exitCode, 0) << di.out << di.err;
  RunResult ir = slave.Serve(MbpollCommand(Mbpoll(line.PathA(), {"-t", "3", "-r", "9", "-c", "4"})));
  ASSERT_EQ(ir.exitCode, 0) << ir.out << ir.err;
  std::vector<std::pair<int, long>> inputs = PolledValues(di);
  std::vector<std::pair<int, long>> registers = PolledValues(ir);
  inputs.insert(inputs.end(), registers.begin(), registers.end());
  ASSERT_EQ(inputs.size(), 15u) << di.out << ir.out;
  for (const auto& [reference, value] : inputs) EXPECT_EQ(value, 0) << "reference " << reference;
  EXPECT_EQ(slave.functions, (std::vector<std::int32_t>{15, 1, 2, 4}));
}

}  // namespace
}  // namespace plc::test
