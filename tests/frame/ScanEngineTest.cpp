// The scan-read tick rules on a manual clock, against a line the test controls.
#include "frame/ScanEngine.h"

#include <gtest/gtest.h>

#include "base/ResultCodes.h"
#include "base/RuntimeError.h"
#include "platform/PollEventLoop.h"

namespace plc {
namespace {

struct FakeLine : ScanLine {
  bool open = true;
  bool busy = false;
  bool writeActive = false;
  bool busyAfterSend = false;
  int errors = 0;
  int frees = 0;
  struct Sent {
    std::int16_t unit;
    std::int32_t address;
    std::int16_t count;
  };
  std::vector<Sent> sent;
  std::uint32_t requests = 0;
  std::string failure;
  bool refuse = false;  // SendScanRead sends nothing

  bool LineOpen() const override { return open; }
  // This line's host writes do not count as busy, so a write can take it during a wait.
  bool CommBusy() const override { return busy; }
  bool WriteActive() const override { return writeActive; }
  void ForceFree() override {
    ++frees;
    busy = writeActive = false;
  }
  void CountError() override { ++errors; }
  std::int16_t UnitAddress() const override { return 9; }
  bool SendScanRead(std::int16_t unit, const Variant& address, std::int16_t count) override {
    if (refuse) return false;
    sent.push_back({unit, address.ToInt32(), count});
    ++requests;
    if (busyAfterSend) busy = true;
    return true;
  }
  std::uint32_t RequestsBegun() const override { return requests; }
  std::string LastFailure() const override { return failure; }
};

struct ScanRig {
  ManualClock clock;
  PollEventLoop loop{clock};
  ScanDatabase db;
  FakeLine line;
  ScanEngine scan{line, loop, db};

  void AddGroup(std::int32_t index, std::int16_t unit, std::int32_t address, std::int16_t period,
                std::int16_t group = 1, std::int16_t skip = 0) {
    db.Group(index) = ScanGroup{unit, Variant(address), period, 2, group, True, skip, {}};
    db.ScanGroupCount = Variant(std::int16_t(std::max<std::int32_t>(index, db.ScanGroupCount.ToInt32())));
  }
  void Tick(std::int32_t interval = 500) { scan.ReadTick(interval, true, true); }

  std::vector<ScanCompletion> done;
  void Record() {
    scan.OnScanComplete = [this](ScanCompletion& c) { done.push_back(c); };
  }
  // The line's reply to the read on it: the values, and the line free again.
  void Complete(std::vector<Variant> values) {
    line.busy = false;
    scan.ScanReadCompleted(std::move(values));
  }
};

TEST(ScanEngine, EmptyDatabaseSendsNothing) {
  ScanRig rig;
  for (int i = 0; i < 5; ++i) rig.Tick();
  EXPECT_TRUE(rig.line.sent.empty());
}

TEST(ScanEngine, PeriodIsCountedInWholeTicks) {
  ScanRig rig;
  rig.AddGroup(1, -1, 40001, 1200);
  rig.AddGroup(2, 4, 40101, 500);
  std::vector<std::size_t> afterTick;
  for (int i = 0; i < 6; ++i) {
    rig.Tick();
    afterTick.push_back(rig.line.sent.size());
  }
  // Group 2 every tick, group 1 at ticks 3 and 6.
  EXPECT_EQ(afterTick, (std::vector<std::size_t>{1, 2, 4, 5, 6, 8}));
  EXPECT_EQ(rig.line.sent[2].unit, 9);  // unit -1 is UnitAddress
  EXPECT_EQ(rig.line.sent[2].address, 40001);
  EXPECT_EQ(rig.line.sent[3].unit, 4);
  EXPECT_EQ(rig.scan.ScanElapsed()[1], 0);
}

TEST(ScanEngine, StandsAsideWithoutAdvancingTime) {
  ScanRig rig;
  rig.AddGroup(1, 1, 40001, 1000);
  rig.line.busy = true;
  rig.Tick();
  EXPECT_EQ(rig.scan.ScanElapsed()[1], 0);
  rig.line.busy = false;
  rig.scan.SetScanWriteActive(true);
  rig.Tick();
  rig.scan.SetScanWriteActive(false);
  rig.line.open = false;
  rig.Tick();
  rig.line.open = true;
  rig.scan.ReadTick(500, false, true);
  rig.scan.ReadTick(500, true, false);
  EXPECT_EQ(rig.scan.ScanElapsed()[1], 0);
  rig.Tick();
  rig.Tick();
  EXPECT_EQ(rig.line.sent.size(), 1u);
  EXPECT_EQ(rig.clock.MonotonicMicros(), 0);
}

// Group 1 goes out and the line stays busy; group 2 of the same tick waits for it.
TEST(ScanEngine, WaitForABusyLine) {
  struct Case {
    const char* what;
    std::int64_t eventAt;  // 0: nothing frees the line
    bool hostWrite;        // the event is a host write taking the line
    std::int64_t endsAt;
    int errors;
    std::size_t sent;
  };
  for (const Case& c : {Case{"forced free after 2 s", 0, false, 2'000'000, 1, 2},
                        Case{"freed by its reply", 300'000, false, 300'000, 0, 2},
                        Case{"host write takes the line", 300'000, true, 300'000, 0, 1}}) {
    ScanRig rig;
    rig.AddGroup(1, 1, 40001, 500);
    rig.AddGroup(2, 1, 40002, 500);
    rig.line.busyAfterSend = true;
    if (c.eventAt) {
      rig.loop.AddTimer(c.eventAt, [&rig, &c] {
        rig.line.busy = false;
        rig.line.writeActive = c.hostWrite;
      });
    }
    rig.Tick();
    EXPECT_EQ(rig.clock.MonotonicMicros(), c.endsAt) << c.what;
    EXPECT_EQ(rig.line.errors, c.errors) << c.what;
    EXPECT_EQ(rig.line.sent.size(), c.sent) << c.what;
    if (c.hostWrite) {
      // The waiting group keeps its time and goes out at the next tick that reaches it.
      EXPECT_EQ(rig.scan.ScanElapsed()[2], 500) << c.what;
      rig.line.writeActive = false;
      rig.line.busyAfterSend = false;
      rig.Tick();
      EXPECT_EQ(rig.line.sent.back().address, 40002) << c.what;
    }
  }
}

TEST(ScanEngine, SkipRunsTheTimeButSendsNothing) {
  ScanRig rig;
  rig.AddGroup(1, 1, 40001, 500, 1, /*skip=*/1);
  rig.Tick();
  EXPECT_TRUE(rig.line.sent.empty());
  EXPECT_EQ(rig.scan.ScanElapsed()[1], 0);
}

TEST(ScanEngine, SetScanRegGroupMatchesGroupNumbers) {
  ScanRig rig;
  rig.AddGroup(1, 1, 40001, 500, 7);
  rig.AddGroup(2, 1, 40002, 500, 8);
  rig.scan.SetScanRegGroup(7, false);
  EXPECT_EQ(rig.db.Group(1).enabled, False);
  EXPECT_EQ(rig.db.Group(2).enabled, True);
  rig.scan.SetScanRegGroup(99, false);
  EXPECT_EQ(rig.db.Group(2).enabled, True);
  rig.db.ScanGroupCount = Variant(std::int16_t{1001});
  try {
    rig.scan.SetScanRegGroup(8, false);
    FAIL() << "an index above 1000 must fail";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::Subscript);
  }
  EXPECT_EQ(rig.db.Group(2).enabled, False);
  // A tick meeting the same index ends there; the next starts afresh.
  EXPECT_NO_THROW(rig.Tick());
}

TEST(ScanEngine, WriteTickBracketsTheQueueWithScanWriteActive) {
  ScanRig rig;
  rig.scan.WriteTick();
  EXPECT_FALSE(rig.scan.ScanWriteActive());
  bool shared = false;
  ScanEngine seq(rig.line, rig.loop, rig.db, 321, &shared);
  shared = true;
  EXPECT_TRUE(seq.ScanWriteActive());
  EXPECT_EQ(seq.ScanElapsed().size(), 321u);
}

TEST(ScanEngine, EachReadEndsInOneCompletionNamingItsGroup) {
  ScanRig rig;
  rig.Record();
  rig.AddGroup(1, 1, 40001, 500, 7);
  rig.AddGroup(2, 1, 40101, 500, 8);
  rig.line.busyAfterSend = true;
  rig.loop.AddTimer(100'000, [&rig] { rig.Complete({Variant(std::int32_t{11}), Variant(std::int32_t{12})}); });
  rig.Tick();  // group 1 answered; group 2 sent once the line was free, then left unanswered
  ASSERT_EQ(rig.done.size(), 1u);
  EXPECT_EQ(rig.done[0].index, 1);
  EXPECT_EQ(rig.done[0].group, 7);
  ASSERT_EQ(rig.done[0].values.Lower(), 1);
  ASSERT_EQ(rig.done[0].values.Upper(), 2);
  EXPECT_EQ(rig.done[0].values[1].ToInt32(), 11);
  EXPECT_EQ(rig.done[0].values[2].ToInt32(), 12);
  EXPECT_TRUE(rig.done[0].error.empty());
  EXPECT_TRUE(rig.scan.ScanReadPending());

  // The engine's watchdog frees the line with no reply: the next tick reports group 2 failed,
  // in the line's words.
  rig.line.busy = false;
  rig.line.failure = "CRC error";
  rig.line.busyAfterSend = false;
  rig.scan.ReadTick(500, true, false);
  ASSERT_EQ(rig.done.size(), 2u);
  EXPECT_EQ(rig.done[1].index, 2);
  EXPECT_EQ(rig.done[1].group, 8);
  EXPECT_EQ(rig.done[1].values.Size(), 0u);
  EXPECT_EQ(rig.done[1].error, "CRC error");
  EXPECT_FALSE(rig.scan.ScanReadPending());
}

TEST(ScanEngine, ACompletionAfterALaterRequestIsNotTheScans) {
  ScanRig rig;
  rig.Record();
  rig.AddGroup(1, 1, 40001, 500);
  rig.line.busyAfterSend = true;
  rig.Tick();
  // The read is lost; the host's own request goes out and completes.
  ++rig.line.requests;
  rig.Complete({Variant(std::int32_t{99})});
  ASSERT_EQ(rig.done.size(), 1u);
  EXPECT_EQ(rig.done[0].values.Size(), 0u) << "the host's values are not the group's";
  EXPECT_EQ(rig.done[0].error, "no reply within 2 s");
}

TEST(ScanEngine, AReadNotSentIsReportedAtOnce) {
  ScanRig rig;
  rig.Record();
  rig.AddGroup(3, 1, 40001, 500);
  rig.line.refuse = true;
  rig.Tick();
  ASSERT_EQ(rig.done.size(), 1u);
  EXPECT_EQ(rig.done[0].index, 3);
  EXPECT_EQ(rig.done[0].error, "the read of 40001 (2 values) was not sent");
  rig.line.failure = "port closed";
  rig.Tick();
  EXPECT_EQ(rig.done[1].error, "the read of 40001 (2 values) was not sent: port closed");
}

TEST(ScanEngine, GroupsNamingAnotherControlAreNotScanned) {
  ScanRig rig;
  rig.AddGroup(1, 1, 40001, 500, 5);
  rig.AddGroup(2, 1, 40002, 500, 5);
  rig.AddGroup(3, 1, 40003, 500, 5);
  rig.db.Group(1).control = "press";
  rig.db.Group(2).control = "Oven";
  rig.Tick();
  ASSERT_EQ(rig.line.sent.size(), 1u) << "an unnamed control scans only the groups naming none";
  EXPECT_EQ(rig.line.sent[0].address, 40003);
  rig.scan.ControlName = [] { return std::string("Press"); };
  rig.Tick();
  ASSERT_EQ(rig.line.sent.size(), 3u);
  EXPECT_EQ(rig.line.sent[1].address, 40001);
  EXPECT_EQ(rig.line.sent[2].address, 40003);
  rig.scan.SetScanRegGroup(5, false);
  EXPECT_EQ(rig.db.Group(1).enabled, False);
  EXPECT_EQ(rig.db.Group(2).enabled, True) << "another control's group";
  EXPECT_EQ(rig.db.Group(3).enabled, False);
}

TEST(ScanEngine, ALineTicksKeepFindingBusyIsFreedAfter2Seconds) {
  ScanRig rig;
  rig.Record();
  rig.AddGroup(1, 1, 40001, 500);
  rig.line.busyAfterSend = true;
  rig.Tick();  // sent; its reply never comes and no watchdog runs
  std::int64_t tick = 0;
  while (rig.line.frees == 0 && tick < 10) {
    rig.clock.Advance(500'000);
    rig.Tick();
    ++tick;
  }
  EXPECT_EQ(rig.line.frees, 1);
  EXPECT_EQ(rig.line.errors, 1);
  // Freed within 2 s of wall-clock seconds after the tick that first found it busy.
  EXPECT_LE(tick, 6);
  EXPECT_GE(tick, 3);
  ASSERT_EQ(rig.done.size(), 1u);
  EXPECT_EQ(rig.done[0].error, "no reply within 2 s");
  EXPECT_EQ(rig.line.sent.size(), 2u) << "the freeing tick went on and read the group again";

  // Busy at every tick, but with another request each time (a host reading back to back): the
  // clock starts again with each, and nothing is freed.
  ScanRig host;
  host.AddGroup(1, 1, 40001, 500);
  host.line.busy = true;
  for (int i = 0; i < 10; ++i) {
    ++host.line.requests;
    host.clock.Advance(500'000);
    host.Tick();
  }
  EXPECT_EQ(host.line.frees, 0);
  EXPECT_EQ(host.line.errors, 0);

  // With no groups at all the scan leaves a busy line alone, as it always did.
  ScanRig empty;
  empty.line.busy = true;
  for (int i = 0; i < 10; ++i) {
    empty.clock.Advance(500'000);
    empty.Tick();
  }
  EXPECT_EQ(empty.line.frees, 0);
}

TEST(ScanData, ReadDataAndIOData) {
  VariantArray buffer(0, 500);
  buffer.At(1) = Variant(std::int32_t{7});
  buffer.At(2) = Variant(std::int32_t{8});
  EXPECT_EQ(ReadData(buffer, 0), 0);
  EXPECT_EQ(ReadData(buffer, 2), 8);
  EXPECT_THROW(ReadData(buffer, 501), RuntimeError);
  buffer.At(3) = Variant("x");
  EXPECT_THROW(ReadData(buffer, 3), RuntimeError);

  VariantArray arr(1, 3);
  IOData(buffer, arr, 3);
  EXPECT_TRUE(arr.Get(1).IsEmpty());
  EXPECT_EQ(arr.Get(2).ToInt32(), 7);
  EXPECT_EQ(arr.Get(3).ToInt32(), 8);
  VariantArray small(1, 2);
  EXPECT_THROW(IOData(buffer, small, 3), RuntimeError);
  EXPECT_EQ(small.Get(2).ToInt32(), 7);  // copied before the failing index
}

}  // namespace
}  // namespace plc
