#pragma once
// The background scan and the write queue checked the same way on every control: the control
// on its simulator and the manual clock, driven through its members by name as a host drives
// it, with its ScanComplete and WriteQueComplete events recorded.
//
// A subject gives the control, its loop and clock, and a row of consecutive values in the
// simulated PLC (value k at Address(k)), which it can set, read back and silence.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Control.h"
#include "base/ResultCodes.h"
#include "frame/ScanEngine.h"
#include "platform/EventLoop.h"

namespace plc::test {

class ScanSubject {
 public:
  virtual ~ScanSubject() = default;
  virtual Control& Link() = 0;
  virtual EventLoop& Loop() = 0;
  // Value k of the row, as a host names it in a read or a write.
  virtual std::string Address(int k) const = 0;
  // The same as a scan group stores it.
  virtual Variant GroupAddress(int k) const { return Variant(Address(k)); }
  virtual void SetValue(int k, std::int32_t value) = 0;
  virtual std::int32_t Value(int k) = 0;
  // false: the PLC hears nothing until it is switched back on.
  virtual void Answer(bool on) = 0;
  // RtuLink queues with ForceModData, the others with ForceData.
  virtual const char* ForceMember() const { return "ForceData"; }
  // The failure of a scan read the PLC never answered, as its ScanComplete gives it.
  virtual std::string NoReplyText() const = 0;
  // Destroys the control, as a host unloads it; Link() is not asked for afterwards.
  virtual void Unload() { ADD_FAILURE() << "this subject cannot unload its control"; }
};

struct ScanEvent {
  std::int64_t at = 0;  // loop time, microseconds
  std::int16_t index = 0;
  std::int16_t group = 0;
  std::vector<std::int32_t> values;
  std::string error;
};

struct WriteEvent {
  std::string address;
  std::int32_t value = 0;
  bool success = false;
  std::string error;
};

class ScanBench {
 public:
  explicit ScanBench(ScanSubject& s) : s_(s) {
    ScanTables().Clear();
    s_.Link().SetEventSink([this](const std::string& name, std::vector<Variant>& args) {
      if (name == "ScanComplete") {
        ScanEvent e{s_.Loop().Now(), args.at(0).ToInt16(), args.at(1).ToInt16(), {}, args.at(4).ToString()};
        for (const Variant& v : args.at(2).Array()) e.values.push_back(v.ToInt32());
        if (static_cast<std::size_t>(args.at(3).ToInt32()) != e.values.size()) ADD_FAILURE() << "quan disagrees";
        scans.push_back(e);
        if (OnScan) OnScan(e);
      } else if (name == "WriteQueComplete") {
        writes.push_back({args.at(0).ToString(), args.at(1).ToInt32(), args.at(2).ToBool(), args.at(3).ToString()});
        if (OnWrite) OnWrite(writes.back());
      } else {
        others.push_back(name);
      }
    });
  }
  ~ScanBench() { ScanTables().Clear(); }

  void Group(std::int32_t index, int k, std::int16_t count, std::int16_t period, std::int16_t number = 0,
             std::int16_t skip = 0) {
    ScanTables().Group(index) =
        ScanGroup{-1, s_.GroupAddress(k), period, count, number ? number : static_cast<std::int16_t>(index), True,
                  skip, {}};
    const std::int32_t n = std::max(index, ScanTables().ScanGroupCount.ToInt32());
    ScanTables().ScanGroupCount = Variant(static_cast<std::int16_t>(n));
  }
  // A group at an address of the test's own, as a scan file would give it.
  void GroupAt(std::int32_t index, const Variant& address, std::int16_t count, std::int16_t period) {
    Group(index, 0, count, period);
    ScanTables().Group(index).address = address;
  }
  void Set(const char* property, const Variant& value) { s_.Link().SetProperty(property, value); }
  void StartScan(std::int32_t intervalMs = 500) {
    Set("ScanReadIOTimerInterval", Variant(intervalMs));
    Set("ScanReadEnable", Variant(true));
  }
  void StartScanWrites(std::int32_t intervalMs) {
    Set("ScanWriteIOTimerInterval", Variant(intervalMs));
    Set("ScanWriteEnable", Variant(true));
  }
  void Run(std::int64_t micros) { s_.Loop().RunFor(micros); }
  std::int64_t Now() { return s_.Loop().Now(); }

  std::vector<ScanEvent> Of(std::int16_t index) const {
    std::vector<ScanEvent> out;
    for (const ScanEvent& e : scans)
      if (e.index == index) out.push_back(e);
    return out;
  }
  std::vector<ScanEvent> Good(std::int16_t index) const {
    std::vector<ScanEvent> out;
    for (const ScanEvent& e : Of(index))
      if (e.error.empty()) out.push_back(e);
    return out;
  }

  // The host's waiting read of one value through ReadPLC; the value, or nullopt when it failed.
  std::optional<std::int32_t> HostRead(int k) {
    Variant address(s_.Address(k));
    Variant value(VariantArray(1, 1));
    Variant size(std::int16_t{1});
    const Variant result = s_.Link().Invoke("ReadPLC", ArgList{&address, &value, &size});
    if (result.ToInt32() != ResultOk) return std::nullopt;
    return value.Array().Get(1).ToInt32();
  }
  // The host's non-waiting read of one value through ReadPLCNW; its result code.
  std::int32_t HostReadNW(int k) {
    Variant address(s_.Address(k));
    Variant value(VariantArray(1, 1));
    Variant size(std::int16_t{1});
    return s_.Link().Invoke("ReadPLCNW", ArgList{&address, &value, &size}).ToInt32();
  }
  void Force(int k, std::int32_t value) {
    Variant address(s_.Address(k));
    Variant v(value);
    s_.Link().Invoke(s_.ForceMember(), ArgList{&address, &v});
  }

  std::vector<ScanEvent> scans;
  std::vector<WriteEvent> writes;
  std::vector<std::string> others;  // names of the other events raised
  // Called with each ScanComplete once it is recorded, as a host's handler runs.
  std::function<void(const ScanEvent&)> OnScan;
  // The same with each WriteQueComplete.
  std::function<void(const WriteEvent&)> OnWrite;

 private:
  ScanSubject& s_;
};

constexpr std::int64_t kMs = 1000;

// Groups on periods of 500 and 1500 ms read on the ticks they fall due, a skipped group never;
// each completion carries the group's values as the PLC holds them.
inline void ExpectPeriodsKeptAndValuesRead(ScanSubject& s) {
  ScanBench b(s);
  for (int k = 0; k < 8; ++k) s.SetValue(k, 100 + k);
  b.Group(1, 0, 4, 500);
  b.Group(2, 4, 2, 1500);
  b.Group(3, 6, 2, 500, 0, /*skip=*/1);
  const std::int64_t start = b.Now();
  b.StartScan(500);
  b.Run(3200 * kMs);
  const auto fast = b.Of(1), slow = b.Of(2);
  ASSERT_EQ(fast.size(), 6u);
  ASSERT_EQ(slow.size(), 2u);
  EXPECT_TRUE(b.Of(3).empty()) << "a skipped group sends nothing";
  for (std::size_t i = 0; i < fast.size(); ++i) {
    const std::int64_t due = start + static_cast<std::int64_t>(i + 1) * 500 * kMs;
    EXPECT_GE(fast[i].at, due);
    EXPECT_LT(fast[i].at, due + 200 * kMs) << "read " << i << " late";
    EXPECT_EQ(fast[i].values, (std::vector<std::int32_t>{100, 101, 102, 103})) << fast[i].error;
    EXPECT_EQ(fast[i].group, 1);
  }
  EXPECT_GE(slow[0].at, start + 1500 * kMs);
  EXPECT_LT(slow[0].at, start + 1700 * kMs);
  EXPECT_GE(slow[1].at, start + 3000 * kMs);
  EXPECT_EQ(slow[1].values, (std::vector<std::int32_t>{104, 105}));
}

// SetScanRegGroup by number stops a group's reads and starts them again; the other group runs on.
inline void ExpectSetScanRegGroupStopsAndResumes(ScanSubject& s) {
  ScanBench b(s);
  b.Group(1, 0, 2, 500, 7);
  b.Group(2, 2, 2, 500, 8);
  b.StartScan(500);
  b.Run(1100 * kMs);
  ASSERT_EQ(b.Good(1).size(), 2u);
  Variant number(std::int16_t{7}), off(false), on(true);
  s.Link().Invoke("SetScanRegGroup", ArgList{&number, &off});
  b.Run(1000 * kMs);
  EXPECT_EQ(b.Of(1).size(), 2u) << "a disabled group is not read";
  EXPECT_EQ(b.Good(2).size(), 4u);
  s.Link().Invoke("SetScanRegGroup", ArgList{&number, &on});
  b.Run(1000 * kMs);
  EXPECT_EQ(b.Good(1).size(), 4u);
}

// A host's waiting read in progress when a tick falls due: the tick stands aside, the host gets
// its own value, and the group is read at the next tick with the group's values.
inline void ExpectHostReadServedFirst(ScanSubject& s) {
  ScanBench b(s);
  s.SetValue(0, 10);
  s.SetValue(1, 11);
  s.SetValue(5, 555);
  b.Group(1, 0, 2, 500);
  const std::int64_t start = b.Now();
  std::optional<std::int32_t> host;
  bool done = false;
  s.Loop().AddTimer(start + 495 * kMs, [&] {
    host = b.HostRead(5);
    done = true;
  });
  b.StartScan(500);
  b.Run(1300 * kMs);
  ASSERT_TRUE(done);
  EXPECT_EQ(host, 555);
  const auto reads = b.Of(1);
  ASSERT_EQ(reads.size(), 1u) << "the tick at 500 ms stood aside";
  EXPECT_GE(reads[0].at, start + 1000 * kMs);
  EXPECT_EQ(reads[0].values, (std::vector<std::int32_t>{10, 11}));
}

// A host that reads back to back for 6 s with a 200 ms scan running: the ticks only ever find
// the line busy with the host's reads, each a new request, so none is freed and every host read
// gets its value.
inline void ExpectBackToBackHostReadsNeverFreed(ScanSubject& s) {
  ScanBench b(s);
  s.SetValue(0, 10);
  s.SetValue(3, 333);
  b.Group(1, 0, 2, 200);
  b.StartScan(200);
  const std::int64_t end = b.Now() + 6000 * kMs;
  int reads = 0, failed = 0;
  std::string cause;
  while (b.Now() < end) {
    ++reads;
    if (b.HostRead(3) != 333) {
      ++failed;
      if (cause.empty()) cause = s.Link().FailureCause();
    }
  }
  EXPECT_GT(reads, 100);
  EXPECT_EQ(failed, 0) << "of " << reads << " reads; the first: " << cause;
}

// A host that reads back to back while a write waits in the queue: the scan-write tick falls
// inside one of its reads, whose reply comes in milliseconds. That read returns with its value
// then, not after the write has waited out the line behind it; and the write still goes out,
// though the host's loop never turns between its reads.
inline void ExpectAQueuedWriteLetsAHostsReadReturn(ScanSubject& s) {
  ScanBench b(s);
  s.SetValue(3, 333);
  b.StartScanWrites(55);
  b.Run(60 * kMs);
  b.Force(0, 11);
  std::int64_t longest = 0;
  int failed = 0;
  for (int i = 0; i < 40; ++i) {
    const std::int64_t start = b.Now();
    if (b.HostRead(3) != 333) ++failed;
    longest = std::max(longest, b.Now() - start);
  }
  EXPECT_EQ(failed, 0) << s.Link().FailureCause();
  EXPECT_LT(longest, 400 * kMs) << "a read waited for the queued write";
  ASSERT_EQ(b.writes.size(), 1u) << "the queued write went out between the reads";
  EXPECT_TRUE(b.writes[0].success) << b.writes[0].error;
  EXPECT_EQ(s.Value(0), 11);
}

// The port closed while a group's read waits for a PLC that does not answer: that read ends in
// one failed ScanComplete, and once the port is open again the group is read with its values.
inline void ExpectPortClosedMidScan(ScanSubject& s) {
  ScanBench b(s);
  s.SetValue(0, 7);
  b.Group(1, 0, 1, 500);
  s.Answer(false);
  b.StartScan(500);
  b.Run(520 * kMs);
  ASSERT_TRUE(b.scans.empty());
  b.Set("PortOpen", Variant(false));
  b.Run(5000 * kMs);
  ASSERT_EQ(b.Of(1).size(), 1u) << "the read cut off by the closing ends once";
  EXPECT_EQ(b.Of(1)[0].error, "the port was closed while the read waited for its reply");
  EXPECT_TRUE(b.Of(1)[0].values.empty());
  s.Answer(true);
  b.Set("PortOpen", Variant(true));
  b.Run(3000 * kMs);
  ASSERT_FALSE(b.Good(1).empty()) << "read again on the reopened port";
  EXPECT_EQ(b.Good(1).back().values, std::vector<std::int32_t>{7});
}

// The host's WriteQueData writes what the stopped timer left queued: completion n (from 1) is
// a success, and the PLC holds value at element k.
inline void ExpectWriteQueDataWrites(ScanBench& b, ScanSubject& s, std::size_t n, int k, std::int32_t value) {
  s.Link().Invoke("WriteQueData", ArgList{});
  ASSERT_EQ(b.writes.size(), n);
  EXPECT_TRUE(b.writes[n - 1].success) << b.writes[n - 1].error;
  EXPECT_EQ(s.Value(k), value);
}

// The host's WriteQueData drains a write the PLC never answers while scan-write ticks fall due.
// Once the host stops the scan-write timer, a later write waits in the queue for the host's next
// WriteQueData: none of those ticks drains it at the end of a host's read.
inline void ExpectNoDrainAfterScanWriteStopped(ScanSubject& s) {
  ScanBench b(s);
  s.SetValue(3, 333);
  b.Set("NumOfWriteRetries", Variant(std::int16_t{0}));
  b.StartScanWrites(55);
  s.Answer(false);
  b.Force(0, 11);
  s.Link().Invoke("WriteQueData", ArgList{});
  b.Run(500 * kMs);
  ASSERT_EQ(b.writes.size(), 1u);
  EXPECT_FALSE(b.writes[0].success);
  b.Set("ScanWriteEnable", Variant(false));
  s.Answer(true);
  b.Run(500 * kMs);
  b.Force(1, 22);
  EXPECT_EQ(b.HostRead(3), 333) << s.Link().FailureCause();
  b.Run(500 * kMs);
  EXPECT_EQ(b.writes.size(), 1u) << "a write went out with the scan-write timer stopped";
  EXPECT_NE(s.Value(1), 22);
  ExpectWriteQueDataWrites(b, s, 2, 1, 22);
}

// A scan-write tick falls due while a host's read waits for a silent PLC, and the host stops
// the scan-write timer before that read returns (from a handler or a timer of its own): the
// tick kept for the read's end is gone with the timer, and the queued write waits for the
// host's WriteQueData.
inline void ExpectNoDrainOnceStoppedInsideAHostCall(ScanSubject& s) {
  ScanBench b(s);
  b.Set("NumOfWriteRetries", Variant(std::int16_t{0}));
  b.Force(0, 11);
  b.StartScanWrites(55);
  s.Answer(false);
  s.Loop().AddTimer(b.Now() + 300 * kMs, [&] { b.Set("ScanWriteEnable", Variant(false)); });
  EXPECT_FALSE(b.HostRead(3)) << "the PLC is silent";
  s.Answer(true);
  b.Run(500 * kMs);
  EXPECT_TRUE(b.writes.empty()) << "a write went out after the host stopped the scan-write timer";
  EXPECT_NE(s.Value(0), 11);
  ExpectWriteQueDataWrites(b, s, 1, 0, 11);
}

// A host that polls several stations by changing Address queues a write at station 1, then
// turns to station 2 before the queue drains: the write goes to the station it was queued for.
inline void ExpectAQueuedWriteKeepsItsStation(ScanSubject& s) {
  ScanBench b(s);
  b.Set("NumOfWriteRetries", Variant(std::int16_t{0}));
  b.Force(0, 11);
  b.Set("Address", Variant(std::int16_t{2}));
  s.Link().Invoke("WriteQueData", ArgList{});
  b.Run(3000 * kMs);
  ASSERT_EQ(b.writes.size(), 1u);
  EXPECT_TRUE(b.writes[0].success) << b.writes[0].error;
  EXPECT_EQ(b.writes[0].address, s.Address(0)) << "the event names the address as the host gave it";
  EXPECT_EQ(s.Value(0), 11) << "station 1's value";
}

// A control whose ScanElapsed ends at 320 never reads a group beyond it, and says so: each such
// group fails at its period with a text naming the limit, and the groups before and after it
// go on as before.
inline void ExpectGroupsBeyond320ReportedAtTheirPeriod(ScanSubject& s) {
  ScanBench b(s);
  s.SetValue(0, 5);
  b.Group(1, 0, 1, 500);
  b.Group(321, 1, 1, 500);
  b.Group(400, 2, 1, 1000);
  b.StartScan(500);
  b.Run(2100 * kMs);
  EXPECT_EQ(b.Good(1).size(), 4u);
  const auto beyond = b.Of(321), far = b.Of(400);
  ASSERT_EQ(beyond.size(), 4u);
  ASSERT_EQ(far.size(), 2u);
  EXPECT_EQ(beyond[0].error, "scan group 321 is beyond the 320 groups this control scans; it is never read");
  EXPECT_TRUE(beyond[0].values.empty());
  EXPECT_EQ(far[1].error, "scan group 400 is beyond the 320 groups this control scans; it is never read");
  EXPECT_EQ(far[1].group, 400);
}

// A PLC that answers wrongly (fault(true) until fault(false)): the group's read fails with the
// text that says what was wrong, and the next read after it answers well has the values.
inline void ExpectScanFailureSaysWhy(ScanSubject& s, const std::function<void(bool)>& fault, const std::string& why) {
  ScanBench b(s);
  s.SetValue(0, 7);
  b.Group(1, 0, 1, 500);
  fault(true);
  b.StartScan(500);
  b.Run(3000 * kMs);
  fault(false);
  const auto failed = b.Of(1);
  ASSERT_FALSE(failed.empty());
  EXPECT_EQ(failed[0].error, why);
  b.scans.clear();
  b.Run(3000 * kMs);
  ASSERT_FALSE(b.Good(1).empty()) << "read again once the PLC answers well";
  EXPECT_EQ(b.Good(1).back().values, std::vector<std::int32_t>{7});
  // The scan stopped and its last read ended, so that the next check starts on a quiet line.
  b.Set("ScanReadEnable", Variant(false));
  b.Run(2500 * kMs);
}

// The failure cause is the host's calls': scan reads, failing or not, leave it as the host's
// last call left it, a failure's text or empty.
inline void ExpectScanLeavesTheHostsCause(ScanSubject& s) {
  ScanBench b(s);
  b.Group(1, 0, 2, 500);
  s.Answer(false);
  ASSERT_FALSE(b.HostRead(0));
  const std::string failed = s.Link().FailureCause();
  ASSERT_FALSE(failed.empty());
  b.StartScan(500);
  b.Run(5000 * kMs);
  ASSERT_FALSE(b.Of(1).empty());
  EXPECT_EQ(s.Link().FailureCause(), failed) << "after failed scan reads";
  s.Answer(true);
  b.Run(5000 * kMs);
  ASSERT_FALSE(b.Good(1).empty());
  EXPECT_EQ(s.Link().FailureCause(), failed) << "after good scan reads";
  // Read with the scan stopped: RtuLink refuses a read while another is on the line.
  b.Set("ScanReadEnable", Variant(false));
  b.Run(100 * kMs);
  ASSERT_TRUE(b.HostRead(0)) << s.Link().FailureCause();
  EXPECT_EQ(s.Link().FailureCause(), "");
  b.StartScan(500);
  s.Answer(false);
  b.scans.clear();
  b.Run(5000 * kMs);
  ASSERT_FALSE(b.Of(1).empty());
  EXPECT_EQ(s.Link().FailureCause(), "") << "after failed scan reads";
  s.Answer(true);
}

// A host whose ScanComplete handler starts a read of its own when a group's read failed: the
// scan's next read waits for it, and the host's values are never taken for the next group's.
inline void ExpectAHandlersReadIsNotTakenForTheScans(ScanSubject& s) {
  ScanBench b(s);
  s.SetValue(0, 10);
  s.SetValue(2, 20);
  s.SetValue(5, 555);
  b.Group(1, 0, 1, 500);
  b.Group(2, 2, 1, 500);
  bool started = false;
  std::size_t before = 0;
  b.OnScan = [&](const ScanEvent& e) {
    if (e.index != 1 || e.error.empty() || started) return;
    started = true;
    s.Answer(true);
    before = b.others.size();
    b.HostReadNW(5);
  };
  s.Answer(false);  // group 1's read is lost; it is freed while group 2 waits for the line
  b.StartScan(500);
  b.Run(4000 * kMs);
  ASSERT_TRUE(started);
  const auto two = b.Of(2);
  ASSERT_FALSE(two.empty());
  for (const ScanEvent& e : two) {
    if (e.error.empty()) {
      EXPECT_EQ(e.values, std::vector<std::int32_t>{20}) << "at " << e.at;
    }
  }
  EXPECT_EQ(two.front().values, std::vector<std::int32_t>{20}) << two.front().error;
  EXPECT_TRUE(std::any_of(b.others.begin() + static_cast<std::ptrdiff_t>(before), b.others.end(),
                          [](const std::string& name) { return name.starts_with("CommComplete"); }))
      << "the host's read ended in its own event";
}

// A PLC that stops answering: the group in flight is freed and reported failed, the scan goes
// on, and once the PLC answers again every group is read with its values.
inline void ExpectStuckGroupFreed(ScanSubject& s) {
  ScanBench b(s);
  s.SetValue(0, 1);
  s.SetValue(2, 3);
  b.Group(1, 0, 2, 500);
  b.Group(2, 2, 2, 500);
  s.Answer(false);
  const std::int64_t start = b.Now();
  b.StartScan(500);
  b.Run(4000 * kMs);
  const auto failed = b.Of(1);
  ASSERT_FALSE(failed.empty()) << "the unanswered read of group 1 ends";
  EXPECT_EQ(failed[0].error, s.NoReplyText());
  EXPECT_TRUE(failed[0].values.empty());
  EXPECT_LE(failed[0].at, start + 3500 * kMs) << "freed within the 2-second limit";
  s.Answer(true);
  const std::size_t before = b.scans.size();
  b.Run(6000 * kMs);
  std::vector<ScanEvent> after(b.scans.begin() + static_cast<std::ptrdiff_t>(before), b.scans.end());
  bool one = false, two = false;
  for (const ScanEvent& e : after) {
    if (e.index == 1 && e.values == std::vector<std::int32_t>{1, 0}) one = true;
    if (e.index == 2 && e.values == std::vector<std::int32_t>{3, 0}) two = true;
  }
  EXPECT_TRUE(one && two) << "both groups read again once the PLC answers";
}

// Queued writes reach the PLC in order; one the PLC misses is tried again first and written
// once it answers; one it never answers is dropped after 1 + NumOfWriteRetries tries and
// reported, and the next write works.
inline void ExpectWriteQueueDrainsInOrderAndRetries(ScanSubject& s) {
  ScanBench b(s);
  b.Set("NumOfWriteRetries", Variant(std::int16_t{2}));
  b.Set("ScanWriteEnable", Variant(true));
  b.Force(0, 11);
  b.Force(1, 22);
  b.Force(0, 33);
  b.Run(1500 * kMs);
  ASSERT_EQ(b.writes.size(), 3u);
  EXPECT_EQ(b.writes[0].value, 11);
  EXPECT_EQ(b.writes[1].value, 22);
  EXPECT_EQ(b.writes[2].value, 33);
  for (const WriteEvent& w : b.writes) EXPECT_TRUE(w.success) << w.error;
  EXPECT_EQ(b.writes[1].address, s.Address(1));
  EXPECT_EQ(s.Value(0), 33);
  EXPECT_EQ(s.Value(1), 22);

  s.Answer(false);
  b.Force(2, 44);
  b.Force(3, 45);
  b.Run(2500 * kMs);  // the first try has failed by now
  EXPECT_EQ(b.writes.size(), 3u) << "nothing reported while tries remain";
  s.Answer(true);
  b.Run(4000 * kMs);
  ASSERT_EQ(b.writes.size(), 5u);
  EXPECT_TRUE(b.writes[3].success) << b.writes[3].error;
  EXPECT_EQ(b.writes[3].value, 44);
  EXPECT_EQ(b.writes[4].value, 45) << "the write behind it waited for it";
  EXPECT_EQ(s.Value(2), 44);
  EXPECT_EQ(s.Value(3), 45);

  s.Answer(false);
  b.Force(4, 55);
  b.Run(20000 * kMs);
  ASSERT_EQ(b.writes.size(), 6u);
  EXPECT_FALSE(b.writes[5].success);
  EXPECT_NE(b.writes[5].error.find("not written after 3 tries"), std::string::npos) << b.writes[5].error;
  EXPECT_EQ(s.Link().FailureCause(), "") << "the host's last call (its ForceData) succeeded; the queue's writes are not its";
  EXPECT_NE(s.Value(4), 55);
  s.Answer(true);
  b.Force(4, 56);
  b.Run(2000 * kMs);
  ASSERT_EQ(b.writes.size(), 7u);
  EXPECT_TRUE(b.writes[6].success) << b.writes[6].error;
  EXPECT_EQ(s.Value(4), 56);
}

// 256 writes wait at most; one more is refused with a text, as an event and as the failure
// cause; WriteQueData then drains the queue in order.
inline void ExpectWriteQueueBounded(ScanSubject& s) {
  ScanBench b(s);
  for (int i = 1; i <= 256; ++i) b.Force(i % 4, i);
  EXPECT_TRUE(b.writes.empty());
  b.Force(0, 999);
  ASSERT_EQ(b.writes.size(), 1u);
  EXPECT_FALSE(b.writes[0].success);
  EXPECT_EQ(b.writes[0].error, "write queue full (256 writes waiting): " + s.Address(0) + " = 999 not queued");
  EXPECT_EQ(s.Link().FailureCause(), b.writes[0].error);
  s.Link().Invoke("WriteQueData", ArgList{});
  EXPECT_EQ(b.writes.size(), 257u);
  EXPECT_EQ(s.Value(0), 256);
  EXPECT_EQ(s.Value(3), 255);
  EXPECT_TRUE(b.writes.back().success) << b.writes.back().error;
}

// A host that unloads the control from inside ScanComplete (a form closed from the handler),
// with another group due on the same tick: that event is the control's last act, and the loop
// goes on without it. Run with the address sanitizer, a touch of the freed control fails.
inline void ExpectUnloadInsideScanComplete(ScanSubject& s) {
  ScanBench b(s);
  for (int k = 0; k < 4; ++k) s.SetValue(k, 10 + k);
  b.Group(1, 0, 2, 500);
  b.Group(2, 2, 2, 500);
  b.OnScan = [&](const ScanEvent&) { s.Unload(); };
  b.StartScan(500);
  b.Run(3000 * kMs);
  ASSERT_EQ(b.scans.size(), 1u);
  EXPECT_EQ(b.scans[0].values, (std::vector<std::int32_t>{10, 11})) << b.scans[0].error;
}

// The same from inside WriteQueComplete, with another write still queued behind it.
inline void ExpectUnloadInsideWriteQueComplete(ScanSubject& s) {
  ScanBench b(s);
  b.OnWrite = [&](const WriteEvent&) { s.Unload(); };
  b.Force(0, 21);
  b.Force(1, 22);
  b.Set("ScanWriteEnable", Variant(true));
  b.Run(3000 * kMs);
  ASSERT_EQ(b.writes.size(), 1u);
  EXPECT_TRUE(b.writes[0].success) << b.writes[0].error;
  EXPECT_EQ(s.Value(0), 21);
  EXPECT_EQ(s.Value(1), 0) << "the control was gone before its second write";
}

// A host that stops the scan from group 1's ScanComplete (ScanReadEnable = False, or the port
// closed) has no more reads sent: group 2, due in the same tick, is not read and raises nothing.
inline void ExpectTheScanStoppedInsideATickReadsNoMore(ScanSubject& s) {
  for (const char* property : {"ScanReadEnable", "PortOpen"}) {
    ScanBench b(s);
    for (int k = 0; k < 4; ++k) s.SetValue(k, 10 + k);
    b.Group(1, 0, 2, 500);
    b.Group(2, 2, 2, 500);
    b.OnScan = [&](const ScanEvent& e) {
      if (e.index == 1) b.Set(property, Variant(false));
    };
    b.StartScan(500);
    b.Run(1600 * kMs);
    ASSERT_EQ(b.Of(1).size(), 1u) << property;
    EXPECT_EQ(b.Of(1)[0].values, (std::vector<std::int32_t>{10, 11})) << b.Of(1)[0].error;
    for (const ScanEvent& e : b.Of(2)) ADD_FAILURE() << property << " set False, yet group 2 ended: " << e.error;
    b.OnScan = nullptr;
    if (std::string(property) == "PortOpen") b.Set("PortOpen", Variant(true));
    b.StartScan(500);
    b.Run(600 * kMs);
    EXPECT_EQ(b.Good(2).size(), 1u) << property << ": group 2 is read once the scan runs again";
  }
}

// A group's read that the PLC never answers, out when the host stops the scan: it still ends
// in one failed ScanComplete, as it would with the scan running, also when the port is closed
// after the scan was stopped.
inline void ExpectAReadOutWhenTheScanStopsEnds(ScanSubject& s) {
  for (const bool close : {false, true}) {
    ScanBench b(s);
    b.Group(1, 0, 2, 500);
    s.Answer(false);
    b.StartScan(500);
    b.Run(520 * kMs);
    ASSERT_TRUE(b.scans.empty());
    b.Set("ScanReadEnable", Variant(false));
    if (close) b.Set("PortOpen", Variant(false));
    b.Run(6000 * kMs);
    ASSERT_EQ(b.Of(1).size(), 1u) << "the unanswered read ends" << (close ? " (port closed)" : "");
    EXPECT_EQ(b.Of(1)[0].error, close ? std::string("the port was closed while the read waited for its reply") : s.NoReplyText());
    s.Answer(true);
    if (close) b.Set("PortOpen", Variant(true));
  }
}

}  // namespace plc::test
