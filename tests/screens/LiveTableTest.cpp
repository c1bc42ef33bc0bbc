// The operator panel's live table on each control against its simulated PLC, on the poll loop:
// values read by non-waiting reads one at a time, a write read back, a refused address and a
// silent station each saying why without stopping the other rows.
#include "screens/LiveTable.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>

#include "platform/PseudoTerminalLink.h"
#include "tests/support/EcomModules.h"
#include "tests/support/PlacedControl.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/Df1Simulator.h"
#include "tools/plcsim/DirectNetSimulator.h"
#include "tools/plcsim/EcomModuleSim.h"
#include "tools/plcsim/ModbusSimulator.h"

namespace plc::screens {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::int16_t kCommPort = 41;

// A control placed as a host places it, its events going to a live table. Whether requests
// went one at a time is counted where they arrive, at the simulated PLC.
struct Panel : test::PlacedControl {
  explicit Panel(const char* library) : PlacedControl(library), table(*control) {
    control->SetEventSink([this](const std::string& name, std::vector<Variant>& args) { table.OnEvent(name, args); });
  }
  void Set(const char* name, Variant value) { control->SetProperty(name, value); }
  void Add(const std::string& address) {
    std::string why;
    ASSERT_TRUE(table.AddRow(address, why)) << why;
  }
  // One sweep, to its end.
  bool SweepOnce(std::int64_t seconds = 10) {
    table.Sweep();
    return Wait(seconds);
  }
  bool Wait(std::int64_t seconds = 10) {
    EventLoop& loop = EventLoop::Current();
    return loop.WaitUntil([this] { return table.Idle(); }, loop.Now() + seconds * 1'000'000);
  }
  const LiveRow& Row(std::size_t i) const { return table.Rows().at(i); }

  LiveTable table;
};

TEST(LiveTable, SeqLinkRowsReadOneAtATimeAndAnEditIsWrittenAndReadBack) {
  PseudoTerminalLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  station.SetWord(1, 0x0400, 111);  // V2000
  station.SetWord(1, 0x0401, 222);
  test::ScopedCommPort port(kCommPort, line.PathA());
  Panel p("seqlink");
  p.Set("CommPort", std::int16_t{kCommPort});
  p.Set("Settings", "9600,n,8,1");
  p.Set("PortOpen", true);
  p.Add("V,2000");
  p.Add("V,2001");
  p.Add("V,99999999");  // refused before anything is sent
  ASSERT_TRUE(p.SweepOnce());
  EXPECT_EQ(p.Row(0).value, "111");
  EXPECT_EQ(p.Row(0).failure, "");
  EXPECT_EQ(p.Row(1).value, "222");
  EXPECT_EQ(p.Row(2).value, "");
  EXPECT_NE(p.Row(2).failure, "") << "a refused address says why";
  // One request on the line at a time: the station took every one whole, none cut into by the
  // next (its enquiry would have been a stray byte). The last closing EOT may still be on its
  // way to the station when the table is idle.
  EventLoop& loop = EventLoop::Current();
  EXPECT_TRUE(loop.WaitUntil([&] { return station.Completed() >= 2; }, loop.Now() + 1'000'000));
  EXPECT_EQ(station.Enquiries(), 2);
  EXPECT_EQ(station.Completed(), 2);
  EXPECT_EQ(station.Counts().stray, 0);
  EXPECT_EQ(station.Counts().refused, 0);

  std::string why;
  ASSERT_TRUE(p.table.Edit(0, "4660", why)) << why;
  ASSERT_TRUE(p.Wait());
  EXPECT_EQ(station.Word(1, 0x0400), 4660);
  EXPECT_EQ(p.Row(0).value, "4660") << "the row is read back after the write";
  EXPECT_EQ(p.Row(0).failure, "");
  EXPECT_FALSE(p.table.Edit(1, "twelve", why));
  EXPECT_EQ(why, "'twelve' is not a number");
  // A row needs an address; the rest is the control's to judge.
  EXPECT_FALSE(p.table.AddRow(" \t", why));
  EXPECT_EQ(why, "an address is needed");
  EXPECT_FALSE(LiveTable::CheckAddress("", why));
  EXPECT_TRUE(LiveTable::CheckAddress("V,99999999", why));
  EXPECT_EQ(p.table.Rows().size(), 3u);
}

TEST(LiveTable, ASilentStationFailsEachRowInTurnAndTheNextSweepRecovers) {
  PseudoTerminalLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  station.SetWord(1, 0x0400, 5);
  test::ScopedCommPort port(kCommPort, line.PathA());
  Panel p("seqlink");
  p.Set("CommPort", std::int16_t{kCommPort});
  p.Set("Settings", "9600,n,8,1");
  p.Set("PortOpen", true);
  p.Add("V,2000");
  p.Add("V,2001");
  std::vector<std::string> failures;
  p.table.onFailure = [&](const std::string& text) { failures.push_back(text); };
  station.SetFault(sim::StationFault::NoAnswer);
  const auto start = Clock::now();
  ASSERT_TRUE(p.SweepOnce(15));
  const auto took = Clock::now() - start;
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].rfind("V,2000: ", 0), 0u) << failures[0];
  EXPECT_NE(p.Row(0).failure, "");
  EXPECT_NE(p.Row(1).failure, "");
  // Each row waits out at most the 2 s a completion is given.
  EXPECT_LT(took, std::chrono::seconds(6));
  station.SetFault(sim::StationFault::None);
  ASSERT_TRUE(p.SweepOnce());
  EXPECT_EQ(p.Row(0).value, "5");
  EXPECT_EQ(p.Row(0).failure, "");
}

TEST(LiveTable, DfLinkCompletesReadsAndWritesThroughItsEvent) {
  PseudoTerminalLink line;
  sim::Df1Simulator plc(sim::Df1SimOptions{line.PathB(), false, 19200});
  plc.Plc().Table().SetWords(7, 10, {7, 8, 9});
  test::ScopedCommPort port(kCommPort, line.PathA());
  Panel p("DfLink");
  p.Set("CommPort", std::int16_t{kCommPort});
  p.Set("Settings", "19200,n,8,1");
  p.Set("Node", std::int32_t{0});
  p.Set("PortOpen", true);
  p.Add("N7:10");
  p.Add("N99:0");  // no such file in the PLC: its reply carries a status
  p.Add("N7:");    // refused before anything is sent; the control stays busy, unwatched
  p.Add("N7:12");
  const auto start = Clock::now();
  ASSERT_TRUE(p.SweepOnce());
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1)) << "a refused read holds nothing up";
  EXPECT_EQ(p.Row(0).value, "7") << p.Row(0).failure;
  EXPECT_EQ(p.Row(1).value, "");
  EXPECT_EQ(p.Row(1).failure, "ERRORSTATUS (status 98)");
  EXPECT_NE(p.Row(2).failure, "");
  EXPECT_EQ(p.Row(3).value, "9") << p.Row(3).failure;
  EXPECT_EQ(plc.Plc().Counts().requests, 3);
  EXPECT_EQ(plc.Plc().Counts().mostOutstanding, 1) << "one request on the line at a time";

  std::string why;
  ASSERT_TRUE(p.table.Edit(3, "-345", why)) << why;
  ASSERT_TRUE(p.Wait());
  EXPECT_EQ(p.Row(3).value, "-345") << p.Row(3).failure;
  EXPECT_FALSE(p.control->GetProperty("CommBusy").ToBool());
}

TEST(LiveTable, UdpLinkOverEcomReadsAndWrites) {
  sim::EcomModuleSim modules({{1, "PRESS", 0}});
  test::ServeEcomModules(modules);
  modules.SetWord(1, 1024, 321);  // V2000
  Panel p("udplink");
  p.Set("CommMode", std::int32_t{3});  // ECOM
  p.Set("DeviceTimeOut", std::int16_t{50});
  p.Set("PortOpen", true);
  ASSERT_EQ(p.control->GetProperty("CurrentErrors").ToString(), "");
  p.Add("V,2000");
  ASSERT_TRUE(p.SweepOnce());
  EXPECT_EQ(p.Row(0).value, "321") << p.Row(0).failure;
  std::string why;
  ASSERT_TRUE(p.table.Edit(0, "999", why)) << why;
  ASSERT_TRUE(p.Wait());
  EXPECT_EQ(modules.Word(1, 1024), 999);
  EXPECT_EQ(p.Row(0).value, "999");
  unsetenv("HEI_PAS_MODULES");
}

TEST(LiveTable, RtuLinkReadsOnAnIntervalOneRequestAtATimeAndWrites) {
  PseudoTerminalLink line;
  sim::ModbusSimulator unit(sim::ModbusSimOptions{line.PathB(), 1, modbus::Framing::Rtu, "19200,n,8,1", 99});
  {
    std::lock_guard<std::mutex> hold(unit.Slave().Lock());
    unit.Slave().Set(40001, 11);
    unit.Slave().Set(40002, 22);
  }
  test::ScopedCommPort port(kCommPort, line.PathA());
  Panel p("rtulink");
  p.Set("CommPort", std::int16_t{kCommPort});
  p.Set("Settings", "19200,n,8,1");
  p.Set("PortOpen", true);
  p.Add("40001");
  p.Add("40002");
  // Sweeps every 100 ms: more than one sweep in half a second, never two requests at once.
  p.table.Start(100);
  EventLoop& loop = EventLoop::Current();
  loop.RunFor(600'000);
  p.table.Stop();
  ASSERT_TRUE(p.Wait());
  EXPECT_EQ(p.Row(0).value, "11") << p.Row(0).failure;
  EXPECT_EQ(p.Row(1).value, "22") << p.Row(1).failure;
  {
    std::lock_guard<std::mutex> hold(unit.Slave().Lock());
    EXPECT_GE(unit.Slave().RequestsServed(), 4) << "two sweeps or more";
    EXPECT_EQ(unit.Slave().EarlySends(), 0) << "a request left only once the one before was answered";
  }

  std::string why;
  ASSERT_TRUE(p.table.Edit(1, "4660", why)) << why;
  ASSERT_TRUE(p.Wait());
  EXPECT_EQ(p.Row(1).value, "4660") << p.Row(1).failure;
  std::lock_guard<std::mutex> hold(unit.Slave().Lock());
  EXPECT_EQ(unit.Slave().Get(40002), 4660);
}

// A unit that does not answer, or answers after the master gave up: each row says why, and no
// row ever shows a value read for another (a late reply is not taken for the next request's).
TEST(LiveTable, RtuLinkWithASilentOrLateUnitNeverShowsAnotherRowsValue) {
  for (sim::ModbusFault fault : {sim::ModbusFault::Silent, sim::ModbusFault::Late}) {
    SCOPED_TRACE(fault == sim::ModbusFault::Silent ? "silent" : "late");
    PseudoTerminalLink line;
    sim::ModbusSimulator unit(sim::ModbusSimOptions{line.PathB(), 1, modbus::Framing::Rtu, "19200,n,8,1", 99});
    {
      std::lock_guard<std::mutex> hold(unit.Slave().Lock());
      unit.Slave().Set(40001, 11);
      unit.Slave().Set(40002, 22);
      unit.Slave().SetFault(fault);
    }
    test::ScopedCommPort port(kCommPort, line.PathA());
    Panel p("rtulink");
    p.Set("CommPort", std::int16_t{kCommPort});
    p.Set("Settings", "19200,n,8,1");
    p.Set("PortOpen", true);
    p.Add("40001");
    p.Add("40002");
    const std::vector<std::string> own{"11", "22"};
    std::vector<std::string> wrong;
    p.table.onRowChanged = [&](std::size_t row) {
      const std::string& v = p.Row(row).value;
      if (!v.empty() && v != own.at(row)) wrong.push_back(p.Row(row).address + " showed " + v);
    };
    const auto start = Clock::now();
    ASSERT_TRUE(p.SweepOnce(15));
    // Each row: the 2 s a completion is given, then the quiet second.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(8));
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(p.Row(i).value, "") << i;
      EXPECT_EQ(p.Row(i).failure,
                "no completion within 2 s, and the control gave no cause: check that the station is on the line, "
                "its address and the settings");
    }
    {
      std::lock_guard<std::mutex> hold(unit.Slave().Lock());
      unit.Slave().SetFault(sim::ModbusFault::None);
    }
    // Two sweeps after the unit mends: the late replies still on their way meet new requests.
    ASSERT_TRUE(p.SweepOnce(15));
    ASSERT_TRUE(p.SweepOnce(15));
    EXPECT_EQ(p.Row(0).value, "11") << p.Row(0).failure;
    EXPECT_EQ(p.Row(1).value, "22") << p.Row(1).failure;
    EXPECT_TRUE(wrong.empty()) << wrong.front();
  }
}

}  // namespace
}  // namespace plc::screens
