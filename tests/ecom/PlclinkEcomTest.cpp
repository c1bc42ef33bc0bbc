// plclink udplink in ECOM mode, a fresh process against simulated modules on loopback: it
// finds the project's hei_pas beside itself, writes and reads back, names a failure, traces
// the datagrams, and each process numbers its datagrams from its own start.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "ecom/heipas/Datagram.h"
#include "tests/support/PlclinkCommand.h"
#include "tools/plcsim/EcomModuleSim.h"

namespace plc {
namespace {

TEST(PlclinkEcom, WriteReadAndAFailureInAFreshProcess) {
  sim::EcomModuleSim modules({{1, "PRESS", 0}, {2, "OVEN", 0}});
  modules.Start();
  setenv("HEI_PAS_MODULES", modules.ModuleList().c_str(), 1);
  unsetenv("HEI_PAS_LIBRARY");
  modules.SetByte(2, 0x32, 0x102, 0x80);

  auto run = [](std::vector<std::string> args) {
    args.insert(args.begin(), {"udplink", "--mode", "ECOM", "--json"});
    return test::RunPlclink(args);
  };
  auto write = run({"write", "2;V,2000", "7", "65535"});
  ASSERT_EQ(write.exitCode, 0) << write.err;
  EXPECT_EQ(modules.Word(2, 1024), 7);
  EXPECT_EQ(modules.Word(2, 1025), 65535);

  auto read = run({"read", "2;V,2000", "2"});
  ASSERT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(test::JsonLines(read).at(0)["values"], nlohmann::json::array({7, 65535}));
  auto bit = run({"read", "2;X,17"});
  EXPECT_EQ(test::JsonLines(bit).at(0)["values"], nlohmann::json::array({1}));

  // An ioFloat value is the word pair as given: WriteSize counts pairs, the words go unchanged.
  auto pair = run({"--io-type", "ioFloat", "write", "2;V,2100", "12", "3456"});
  ASSERT_EQ(pair.exitCode, 0) << pair.err;
  EXPECT_EQ(modules.Word(2, 1088), 12);
  EXPECT_EQ(modules.Word(2, 1089), 3456);
  auto odd = run({"--io-type", "ioFloat", "write", "2;V,2100", "12"});
  EXPECT_EQ(odd.exitCode, 2) << odd.err;

  auto missing = run({"read", "5;V,0"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(test::JsonLines(missing).at(0)["cause"],
            "Error: invalid device address 5 (no module with ID 5 answered when the port was opened (IDs found: 1, 2))")
      << missing.out;
  unsetenv("HEI_PAS_MODULES");
}

TEST(PlclinkEcom, RefusalsAndTheTraceOfTheDatagrams) {
  sim::EcomModuleSim modules({{1, "PRESS", 0}});
  modules.Start();
  setenv("HEI_PAS_MODULES", modules.ModuleList().c_str(), 1);
  unsetenv("HEI_PAS_LIBRARY");
  modules.SetByte(1, 0x33, 0x101, 0xFF);
  modules.SetWord(1, 1024, 4660);
  auto run = [](std::vector<std::string> args) {
    args.insert(args.begin(), {"udplink", "--mode", "ECOM"});
    return test::RunPlclink(args);
  };
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"write", "Y,3", "1"}, "a write to the bit address 'Y,3' is not available in ECOM mode"},
      {{"write", "V,2000", "-1"}, "Error: value 1 (-1) does not fit a register (a whole number 0..65535)"},
      {{"write", "V,2000", "1.5"}, "Error: value 1 (1.5) does not fit a register (a whole number 0..65535)"},
      {{"read", "V,1333272"}, "address 'V,1333272' not understood: V1333272 is beyond V177776"},
  };
  for (const auto& [args, cause] : refused) {
    const auto r = run(args);
    EXPECT_EQ(r.exitCode, 1) << cause;
    EXPECT_NE(r.err.find(cause), std::string::npos) << r.err;
  }
  EXPECT_EQ(modules.Byte(1, 0x33, 0x101), 0xFF);
  EXPECT_EQ(modules.Word(1, 1024), 4660);

  // --trace: each datagram as it went and came, the query first.
  modules.Record(true);
  const auto first = run({"--trace", "read", "V,2000"});
  const auto second = run({"read", "V,2000"});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.OutLines(), std::vector<std::string>{"4660"});
  std::vector<std::string> traced;
  std::istringstream lines(first.err);
  for (std::string line; std::getline(lines, line);) traced.push_back(line.substr(line.find(' ') + 1, 14));
  EXPECT_EQ(traced, (std::vector<std::string>{"TX 45 43 01 01", "RX 45 43 01 81", "TX 45 43 01 02", "RX 45 43 01 82"}))
      << first.err;
  EXPECT_EQ(second.err, "");

  // Each process starts its sequence numbers afresh at random.
  std::vector<std::uint32_t> queries;
  for (const auto& r : modules.Recorded()) {
    const auto d = heipas::Parse(r.bytes);
    if (r.received && d && d->kind == heipas::Kind::Query) queries.push_back(d->sequence);
  }
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_NE(queries[0], queries[1]);
  unsetenv("HEI_PAS_MODULES");
}

}  // namespace
}  // namespace plc
