// RtuLink as a slave in SlaveRtu on a real tty line, answering the libmodbus master: writes
// read back from every writable table, zeros from the input tables, and a request for another
// unit that goes unanswered but is still reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "modbus/RtuLink.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/Pty.h"

namespace plc::test {
namespace {

constexpr int kCommPort = 42;

struct SlaveLink {
  explicit SlaveLink(const std::string& path) : mapping(kCommPort, path) {
    link.SetHost(&host);
    link.Initialize();
    link.InitProperties();
    link.SetCommPort(kCommPort);
    link.SetSettings("9600,n,8,1");
    link.SetAddress(1);
    link.SetModBusMode(rtu::SlaveRtu);
    link.SetPortOpen(true);
    link.SetEventSink([this](const std::string& name, std::vector<Variant>& args) {
      if (name == "CommCompleteEx") functions.push_back(args[1].ToInt32());
    });
  }
  ~SlaveLink() { link.SetPortOpen(false); }

  // Runs the master to its end while this thread's loop serves its requests.
  RunResult Serve(const std::string& device, std::vector<std::string> steps) {
    std::vector<std::string> args{device, "--timeout-ms", "500"};
    args.insert(args.end(), steps.begin(), steps.end());
    PeerCommand command = RtuClientCommand(args);
    auto master = std::async(std::launch::async, [command] { return RunProgram(command, std::chrono::seconds(20)); });
    EventLoop& loop = EventLoop::Current();
    auto finished = [&master] { return master.wait_for(std::chrono::seconds(0)) == std::future_status::ready; };
    while (!finished()) loop.WaitUntil(finished, loop.Now() + 20'000);
    return master.get();
  }

  ScopedCommPort mapping;
  StandaloneHost host;
  RtuLink link;
  std::vector<std::int32_t> functions;
};

TEST(RtuLinkSlavePeer, LibmodbusMasterWritesAndReadsBack) {
  PtyLink line;
  SlaveLink slave(line.PathB());
  RunResult r = slave.Serve(line.PathA(), {"w6:9:42", "r3:9:1", "w16:100:1,65535,32768,7", "r3:100:4", "w5:0:1",
                                           "w15:10:1,0,1,1,0,0,1,1,1,0", "r1:10:10", "r1:0:1", "r2:0:3", "r4:0:2"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<std::string> lines = r.OutLines();
  ASSERT_EQ(lines.size(), 10u) << r.out;
  EXPECT_EQ(lines[1], "OK r3 9 42");
  EXPECT_EQ(lines[3], "OK r3 100 1 65535 32768 7");
  EXPECT_EQ(lines[6], "OK r1 10 1 0 1 1 0 0 1 1 1 0");
  EXPECT_EQ(lines[7], "OK r1 0 1");
  EXPECT_EQ(lines[8], "OK r2 0 0 0 0");
  EXPECT_EQ(lines[9], "OK r4 0 0 0");
  EXPECT_EQ(slave.link.RegisterImage()[40010], 42);
  EXPECT_EQ(slave.functions, (std::vector<std::int32_t>{6, 3, 16, 3, 5, 15, 1, 1, 2, 4}));
}

TEST(RtuLinkSlavePeer, RequestForAnotherUnitTimesOutAndIsReported) {
  PtyLink line;
  SlaveLink slave(line.PathB());
  RunResult r = slave.Serve(line.PathA(), {"unit:2", "r3:0:1", "unit:1", "r3:0:1"});
  std::vector<std::string> lines = r.OutLines();
  ASSERT_EQ(lines.size(), 2u) << r.out << r.err;
  EXPECT_EQ(lines[0].rfind("ERR r3 0 ETIMEDOUT", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "OK r3 0 0");
  EXPECT_EQ(slave.functions, (std::vector<std::int32_t>{3, 3}));
}

TEST(RtuLinkSlavePeer, ModbusMaximaAreServedAndBeyondTheImageIsException2) {
  PtyLink line;
  SlaveLink slave(line.PathB());
  RunResult r = slave.Serve(line.PathA(), {"w6:124:9", "r3:0:125", "r1:0:2000", "r3:9999:2", "r3:0:1"});
  std::vector<std::string> lines = r.OutLines();
  ASSERT_EQ(lines.size(), 5u) << r.out << r.err;
  EXPECT_EQ(lines[1].rfind("OK r3 0 0 0", 0), 0u) << lines[1];
  EXPECT_EQ(lines[1].substr(lines[1].size() - 2), " 9");  // register 125 of 125
  EXPECT_EQ(std::count(lines[2].begin(), lines[2].end(), ' '), 2 + 2000) << lines[2];
  // A master sees why: the standard exception, not a time-out.
  EXPECT_EQ(lines[3].rfind("ERR r3 9999 EMBX2", 0), 0u) << lines[3];
  EXPECT_EQ(lines[4], "OK r3 0 0");
}

}  // namespace
}  // namespace plc::test
