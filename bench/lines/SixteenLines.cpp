// Sixteen lines on one thread: four of each control, each on a line of its own to its simulated
// PLC, all polled at once by one host thread, as a plant's panel PC polls its lines. Every read
// is non-waiting (ReadPLCNW); its completion arrives through the thread's event loop and the next
// read of that line goes out as soon as it is handled. Values are checked against the PLC.
//
// Polling rules, as a host would keep them: a line reads again as soon as its read ended; a
// control refused because the driver state it shares with the others of its kind is busy tries
// again when a sibling's read ends (the one that waited longest first); after a failed or unanswered read (no completion within 3 s) a line waits
// 100 ms.
//
// It prints (rates are medians of rounds that alternate the single lines with all sixteen):
//   - each kind alone on one line (reads/s, the host thread's CPU per read), and what sixteen
//     such lines would do side by side (4 x the four single-line rates);
//   - all sixteen at once: reads/s per kind and in all, the scaling (aggregate over sixteen
//     single lines), CPU per read, and where the host thread's time went; the same for the
//     twelve serial lines without the UdpLinks;
//   - the heap each control takes (creation to open port; the least of its kind's four);
//   - one line of each kind gone silent in turn: what the fifteen others then read per second,
//     against what they read with all lines answering.
//
// sixteen_lines [--seconds S] [--rounds R] [--words N]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/faults/LineUnderTest.h"
#include "bench/faults/ProcessMemory.h"
#include "platform/EventLoop.h"

namespace plc::faults {
namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr ControlKind kKinds[] = {ControlKind::RtuLink, ControlKind::SeqLink, ControlKind::DfLink, ControlKind::UdpLink};
constexpr std::int64_t kBusyRetryMicros = 20000;  // should no sibling hand the turn on
constexpr std::int64_t kTurnMicros = 1000;         // a line that handed the turn on waits this
constexpr std::int64_t kFailedRetryMicros = 100000;
constexpr std::int64_t kNoAnswerMicros = 3000000;

double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Counts {
  long good = 0, wrong = 0, failed = 0, unanswered = 0, busy = 0;
  double inStart = 0;  // seconds the host thread spent inside StartRead
  Counts& operator+=(const Counts& o) {
    inStart += o.inStart;
    good += o.good;
    wrong += o.wrong;
    failed += o.failed;
    unanswered += o.unanswered;
    busy += o.busy;
    return *this;
  }
};

// The lines of one kind whose control was refused as busy, in the order they asked: when a line
// of the kind ends a read, the one that waited longest goes next (a host polls them in turn).
struct Turns {
  std::deque<class Poller*> waiting;
};

// Drives one line: the next read as soon as the last one ended, by the rules above.
class Poller {
 public:
  Poller(LineUnderTest& line, ControlKind kind, int words, EventLoop& loop, Turns& turns, std::uint32_t seed)
      : line_(line), kind_(kind), words_(std::min(words, line.MaxCount())), loop_(loop), turns_(turns), random_(seed),
        model_(line.DeviceWords(0, line.Span())) {
    line_.Completed = [this](bool good, const Words& values) { Ended(good, values); };
  }
  ~Poller() {
    Stop();
    line_.Completed = nullptr;
  }

  void Go() {
    running_ = true;
    Schedule(0);
  }
  void Stop() {
    running_ = false;
    std::erase(turns_.waiting, this);
    if (timer_) loop_.CancelTimer(timer_);
    timer_ = 0;
  }
  ControlKind Kind() const { return kind_; }
  Counts Take() {
    Counts c = counts_;
    counts_ = {};
    return c;
  }
  void Schedule(std::int64_t afterMicros) {
    if (timer_) loop_.CancelTimer(timer_);
    timer_ = loop_.AddTimer(loop_.Now() + afterMicros, [this] {
      timer_ = 0;
      Next();
    });
  }

 private:
  void Next() {
    if (!running_) return;
    std::erase(turns_.waiting, this);
    at_ = static_cast<int>(std::uniform_int_distribution<int>(0, line_.Span() - words_)(random_));
    outstanding_ = true;
    const std::uint64_t read = ++reads_;
    const auto t0 = SteadyClock::now();
    const LineUnderTest::Start started = line_.StartRead(at_, words_);
    counts_.inStart += std::chrono::duration<double>(SteadyClock::now() - t0).count();
    switch (started) {
      case LineUnderTest::Start::Sent:
        // Unless it already ended (a transport that answers within the call), watch for no answer.
        if (outstanding_ && reads_ == read)
          timer_ = loop_.AddTimer(loop_.Now() + kNoAnswerMicros, [this] {
            timer_ = 0;
            outstanding_ = false;
            ++counts_.unanswered;
            Release(kFailedRetryMicros);
          });
        return;
      case LineUnderTest::Start::Busy:
        outstanding_ = false;
        ++counts_.busy;
        turns_.waiting.push_back(this);
        Schedule(kBusyRetryMicros);
        return;
      case LineUnderTest::Start::Failed:
        outstanding_ = false;
        ++counts_.failed;
        Release(kFailedRetryMicros);
        return;
    }
  }

  void Ended(bool good, const Words& values) {
    if (!outstanding_) return;  // a late completion of a read already given up
    outstanding_ = false;
    if (!good) {
      ++counts_.failed;
    } else if (values != Words(model_.begin() + at_, model_.begin() + at_ + words_)) {
      ++counts_.wrong;
    } else {
      ++counts_.good;
    }
    // From the loop, not from inside the control's event.
    if (running_) loop_.Post([this, good] { Release(good ? 0 : kFailedRetryMicros); });
  }

  // This line's read ended: a sibling that waited for the shared driver goes first.
  void Release(std::int64_t afterMicros) {
    if (!running_) return;
    if (timer_) loop_.CancelTimer(timer_);
    timer_ = 0;
    if (turns_.waiting.empty()) {
      Schedule(afterMicros);
      return;
    }
    Poller* next = turns_.waiting.front();
    turns_.waiting.pop_front();
    next->Schedule(0);
    Schedule(std::max(afterMicros, kTurnMicros));
  }

  LineUnderTest& line_;
  ControlKind kind_;
  int words_;
  EventLoop& loop_;
  Turns& turns_;
  std::mt19937 random_;
  Words model_;
  Counts counts_;
  EventLoop::Handle timer_ = 0;
  bool running_ = false;
  bool outstanding_ = false;
  int at_ = 0;
  std::uint64_t reads_ = 0;
};

struct Round {
  std::vector<Counts> byLine;  // in the pollers' order
  std::map<ControlKind, Counts> byKind;
  Counts all;
  double seconds = 0;
  double cpu = 0;         // host thread, seconds
  double processCpu = 0;  // every thread of the process: simulators and relays too
};

double Rate(const Counts& c, double seconds) { return static_cast<double>(c.good) / seconds; }
double CpuPerRead(const Round& r) { return r.all.good ? r.cpu / static_cast<double>(r.all.good) * 1e6 : 0.0; }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// A round that polls only the lines marked.
Round RunSome(std::vector<std::unique_ptr<Poller>>& pollers, const std::vector<bool>& on, EventLoop& loop,
              double seconds) {
  std::vector<Poller*> chosen;
  for (std::size_t i = 0; i < pollers.size(); ++i)
    if (on[i]) chosen.push_back(pollers[i].get());
  for (auto& p : pollers) p->Take();
  const double cpu0 = CpuSeconds(RUSAGE_THREAD), process0 = CpuSeconds(RUSAGE_SELF);
  const auto start = SteadyClock::now();
  for (Poller* p : chosen) p->Go();
  loop.RunFor(static_cast<std::int64_t>(seconds * 1e6));
  for (Poller* p : chosen) p->Stop();
  Round r;
  r.seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
  r.cpu = CpuSeconds(RUSAGE_THREAD) - cpu0;
  r.processCpu = CpuSeconds(RUSAGE_SELF) - process0;
  for (auto& p : pollers) {
    const Counts c = p->Take();
    r.byLine.push_back(c);
    r.byKind[p->Kind()] += c;
    r.all += c;
  }
  // What is still on the lines ends before the next round.
  loop.RunFor(300000);
  return r;
}

}  // namespace
}  // namespace plc::faults

int main(int argc, char** argv) {
  using namespace plc::faults;
  double seconds = 2;
  int words = 10, rounds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--seconds") seconds = std::atof(argv[i + 1]);
    else if (arg == "--words") words = std::atoi(argv[i + 1]);
    else if (arg == "--rounds") rounds = std::atoi(argv[i + 1]);
  }
  if (seconds <= 0 || words < 1 || rounds < 1) {
    std::fprintf(stderr, "usage: sixteen_lines [--seconds S] [--rounds R] [--words N]\n");
    return 2;
  }
  plc::EventLoop& loop = plc::EventLoop::Current();

  std::vector<std::unique_ptr<LineUnderTest>> lines;
  std::map<ControlKind, long> heap;
  const long rss0 = ResidentKiB();
  for (ControlKind kind : kKinds) {
    auto some = MakeLines(kind, 0, 4, 200);
    for (auto& l : some) {
      // The least of the four: the first of a kind also pays for what the kind sets up once
      // per thread.
      heap[kind] = heap.count(kind) ? std::min(heap[kind], l->ControlBytes()) : l->ControlBytes();
      lines.push_back(std::move(l));
    }
  }
  const long rss1 = ResidentKiB();
  std::vector<std::unique_ptr<Poller>> pollers;
  Turns turns[4];
  for (std::size_t i = 0; i < lines.size(); ++i)
    pollers.push_back(
        std::make_unique<Poller>(*lines[i], kKinds[i / 4], words, loop, turns[i / 4], static_cast<std::uint32_t>(10 + i)));

  // Rounds of: each kind's first line alone, then all sixteen; the medians are compared, so
  // that load from other programs falls on both alike.
  std::printf("Sixteen lines on one thread: non-waiting reads of %d words; %d rounds of %.0f s per measurement\n\n",
              words, rounds, seconds);
  std::map<ControlKind, std::vector<double>> singleRate, singleCpu;
  std::vector<double> aggregate, serialAggregate, allCpu, processCpu, hostBusy;
  std::map<ControlKind, std::vector<double>> inStart;
  std::map<ControlKind, std::vector<double>> kindRate;
  std::vector<std::vector<double>> lineRate(lines.size());
  Counts allCounts;
  std::map<ControlKind, Counts> kindCounts;
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t k = 0; k < 4; ++k) {
      std::vector<bool> on(lines.size(), false);
      on[4 * k] = true;
      const Round r = RunSome(pollers, on, loop, seconds);
      singleRate[kKinds[k]].push_back(Rate(r.all, r.seconds));
      singleCpu[kKinds[k]].push_back(CpuPerRead(r));
      allCounts.wrong += r.all.wrong;
    }
    // The twelve serial lines without the UdpLinks, whose ECOM reads hold the thread while they
    // wait for their answer.
    std::vector<bool> serial(lines.size(), true);
    for (std::size_t i = 12; i < 16; ++i) serial[i] = false;
    const Round twelve = RunSome(pollers, serial, loop, seconds);
    serialAggregate.push_back(Rate(twelve.all, twelve.seconds));
    allCounts.wrong += twelve.all.wrong;
    const Round r = RunSome(pollers, std::vector<bool>(lines.size(), true), loop, seconds);
    aggregate.push_back(Rate(r.all, r.seconds));
    allCpu.push_back(CpuPerRead(r));
    processCpu.push_back(r.processCpu / r.seconds);
    hostBusy.push_back(r.cpu / r.seconds);
    for (ControlKind kind : kKinds) {
      inStart[kind].push_back(r.byKind.at(kind).inStart / r.seconds);
      kindRate[kind].push_back(Rate(r.byKind.at(kind), r.seconds));
      kindCounts[kind] += r.byKind.at(kind);
    }
    for (std::size_t i = 0; i < lines.size(); ++i) lineRate[i].push_back(Rate(r.byLine[i], r.seconds));
    allCounts += r.all;
  }

  double sixteenSingles = 0;
  std::printf("%-8s %14s %14s\n", "one line", "reads/s", "CPU us/read");
  for (ControlKind kind : kKinds) {
    sixteenSingles += 4 * Median(singleRate[kind]);
    std::printf("%-8s %14.0f %14.1f\n", KindName(kind), Median(singleRate[kind]), Median(singleCpu[kind]));
  }
  std::printf("%-8s %14.0f   (4 x each single line)\n\n", "16 lines", sixteenSingles);

  std::printf("%-8s %14s %16s %8s %8s %8s %12s\n", "all 16", "reads/s", "vs 4 x one line", "wrong", "failed",
              "no reply", "heap/control");
  for (ControlKind kind : kKinds) {
    const Counts& c = kindCounts[kind];
    const double rate = Median(kindRate[kind]);
    std::printf("%-8s %14.0f %15.2fx %8ld %8ld %8ld %8.1f KiB\n", KindName(kind), rate,
                rate / (4 * Median(singleRate[kind])), c.wrong, c.failed, c.unanswered,
                static_cast<double>(heap[kind]) / 1024);
  }
  const double total = Median(aggregate);
  std::printf("%-8s %14.0f %15.2fx %8ld %8ld %8ld\n", "in all", total, total / sixteenSingles, allCounts.wrong,
              allCounts.failed, allCounts.unanswered);
  std::printf("\nscaling (aggregate / sixteen single lines): %.2f\n", total / sixteenSingles);
  double twelveSingles = 0;
  for (std::size_t k = 0; k < 3; ++k) twelveSingles += 4 * Median(singleRate[kKinds[k]]);
  std::printf("the twelve serial lines alone (no UdpLink): %.0f reads/s, %.2f of twelve single lines\n",
              Median(serialAggregate), Median(serialAggregate) / twelveSingles);
  std::printf("host thread with all sixteen: %.1f us CPU per read, busy %.0f%% of the time\n", Median(allCpu),
              100 * Median(hostBusy));
  std::printf("share of the time the host thread spent inside the calls that start a read:");
  for (ControlKind kind : kKinds) std::printf(" %s %.0f%%", KindName(kind), 100 * Median(inStart[kind]));
  std::printf("\n");
  std::printf("CPU of the whole process with all sixteen (simulators and relays; the libmodbus servers run apart): "
              "%.0f%% of %ld cores\n",
              100 * Median(processCpu), ::sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("resident memory of the sixteen lines with their simulators and relays: %ld KiB\n\n", rss1 - rss0);

  // One line of each kind silent in turn, for longer: a silent line's waits end by time-outs of
  // seconds.
  const double silentSeconds = std::max(3 * seconds, 6.0);
  std::printf("one line silent (%.0f s each): reads/s of the others, against all answering (medians above)\n",
              silentSeconds);
  std::printf("%-15s", "silent line");
  for (ControlKind kind : kKinds) std::printf(" %16s", KindName(kind));
  std::printf(" %16s\n", "15 others");
  for (std::size_t k = 0; k < 4; ++k) {
    LineUnderTest& quiet = *lines[4 * k];
    quiet.Relay().SetSilent(true);
    const Round r = RunSome(pollers, std::vector<bool>(lines.size(), true), loop, silentSeconds);
    quiet.Relay().SetSilent(false);
    allCounts.wrong += r.all.wrong;
    std::printf("%-15s", quiet.Name().c_str());
    double others = 0, othersBefore = 0;
    for (std::size_t kind = 0; kind < 4; ++kind) {
      // The silent line itself is left out: the others of its kind are compared.
      double now = 0, before = 0;
      for (std::size_t i = 4 * kind; i < 4 * kind + 4; ++i) {
        if (i == 4 * k) continue;
        now += Rate(r.byLine[i], r.seconds);
        before += Median(lineRate[i]);
      }
      others += now;
      othersBefore += before;
      std::printf(" %7.1f (%5.2fx)", now, before > 0 ? now / before : 0.0);
    }
    std::printf(" %7.0f (%5.2fx)\n", others, othersBefore > 0 ? others / othersBefore : 0.0);
  }
  pollers.clear();
  lines.clear();
  if (allCounts.wrong != 0) std::printf("\n%ld reads delivered values the PLC does not hold\n", allCounts.wrong);
  return allCounts.wrong == 0 ? 0 : 1;
}
