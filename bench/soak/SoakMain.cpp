// The soak: each control runs many transactions (reads, and a share of writes) against its
// simulated PLC while a relay on its line injects a fault into about one in a hundred, chosen at
// random among every kind the relay can act out and those the simulated PLC acts out itself (an
// error status, a stale answer ahead of the right one). Every result is checked: a read's values
// against what the PLC holds at those addresses (which differ at every address), a write's
// against what the PLC holds after it. It prints, per control:
//   transactions  the calls made
//   injected      transactions that a fault struck
//   failed        calls that returned a failure
//   wrong         calls that returned success with values the PLC does not hold, or under a
//                 refusal of the device (the bar: 0)
//   lost          failures no injected fault explains, or that only a harmless one (a reply split
//                 or delayed within the time-out) met (the bar: 0)
//   no cause      failures that left FailureCause empty (the bar: 0)
//   busy          calls refused because an earlier transaction still held the line, shortly after
//                 an injected fault (where the control's watchdog frees it); one that no recent
//                 fault explains is lost
//   RSS           resident memory after the warm-up and at the end
//   leaks         as given by --leaks (scripts/soak.sh measures them under AddressSanitizer)
//
// soak [--control rtulink|seqlink|dflink|udplink|all] [--transactions N] [--fault-rate F]
//      [--write-share F] [--seed S] [--faults silence,corrupt,...] [--leaks "RtuLink=0 B,..."]
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/faults/LineUnderTest.h"
#include "bench/faults/ProcessMemory.h"

namespace plc::faults {
namespace {

using SteadyClock = std::chrono::steady_clock;
// How long after a fault a control may still refuse calls as busy (a watchdog of 2 s, counted in
// whole seconds of the wall clock, and a margin).
constexpr auto kBusyAfterFault = std::chrono::seconds(5);
// A host waits this long before it tries again after a busy refusal.
constexpr auto kBusyRetry = std::chrono::milliseconds(50);

struct Options {
  std::vector<ControlKind> kinds{ControlKind::RtuLink, ControlKind::SeqLink, ControlKind::DfLink, ControlKind::UdpLink};
  long transactions = 10000;
  double faultRate = 0.01;
  double writeShare = 0.1;
  std::uint32_t seed = 1;
  std::map<std::string, std::string> leaks;
  std::vector<std::string> faults;  // only these kinds (names as FaultName gives them); empty: all
};

struct Tally {
  long transactions = 0, reads = 0, writes = 0, injected = 0, failed = 0, wrong = 0, lost = 0, mute = 0, busy = 0;
  long rssStart = 0, rssEnd = 0;
  double seconds = 0;
  std::map<Fault, std::pair<long, long>> byFault;  // struck, failed
  std::map<int, long> results;                     // failure result codes
};

// Aborts the run when one call outlives any time-out a control has: a hang is a finding, not a
// wait.
class HangWatch {
 public:
  HangWatch() : thread_([this] { Watch(); }) {}
  ~HangWatch() {
    stop_ = true;
    thread_.join();
  }
  void Starting(const std::string& what) {
    std::lock_guard lock(mutex_);
    what_ = what;
    since_ = SteadyClock::now();
    busy_ = true;
  }
  void Done() { busy_ = false; }

 private:
  void Watch() {
    while (!stop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      std::lock_guard lock(mutex_);
      if (busy_ && SteadyClock::now() - since_ > std::chrono::seconds(30)) {
        std::fprintf(stderr, "soak: HANG: %s has not returned after 30 s\n", what_.c_str());
        std::fflush(stderr);
        std::_Exit(3);
      }
    }
  }
  std::mutex mutex_;
  std::string what_;
  SteadyClock::time_point since_;
  std::atomic<bool> busy_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::string Describe(const Words& w, std::size_t from) {
  std::string s;
  for (std::size_t i = from; i < w.size() && i < from + 4; ++i) s += (s.empty() ? "" : " ") + std::to_string(w[i]);
  return s;
}

class Soak {
 public:
  Soak(LineUnderTest& line, const Options& options, std::uint32_t seed) : line_(line), options_(options), random_(seed) {
    model_ = line_.DeviceWords(0, line_.Span());
  }

  Tally Run(HangWatch& watch) {
    const long warmUp = std::min<long>(200, options_.transactions / 10);
    const auto start = SteadyClock::now();
    bool releasedBefore = false;
    auto lastFault = SteadyClock::now() - kBusyAfterFault * 2;
    std::vector<Fault> kinds, offered = line_.Faults();
    for (Fault f : line_.DeviceFaults()) offered.push_back(f);
    for (Fault f : offered)
      if (options_.faults.empty() || std::find(options_.faults.begin(), options_.faults.end(), FaultName(f)) != options_.faults.end())
        kinds.push_back(f);
    const double rate = kinds.empty() ? 0 : options_.faultRate;
    for (long t = 0; t < options_.transactions; ++t) {
      if (t == warmUp) tally_.rssStart = ResidentKiB();
      FaultSpec spec;
      if (Chance(rate)) {
        spec.kind = kinds[Below(kinds.size())];
        spec.exchange = 1 + static_cast<int>(Below(static_cast<std::size_t>(line_.RepliesPerTransaction())));
      }
      const bool write = Chance(options_.writeShare);
      const int most = write ? line_.MaxWriteCount() : line_.MaxCount();
      const int count = Chance(0.5) ? 1 + static_cast<int>(Below(static_cast<std::size_t>(std::min(8, most))))
                                    : 1 + static_cast<int>(Below(static_cast<std::size_t>(most)));
      const int at = static_cast<int>(Below(static_cast<std::size_t>(line_.Span() - count + 1)));
      Words values, sent;
      if (write)
        for (int i = 0; i < count; ++i) sent.push_back(static_cast<std::uint16_t>(Below(65536)));

      FaultRelay& relay = line_.Relay();
      const std::uint64_t before = relay.Disturbances();
      const bool onDevice = DeviceFault(spec.kind);
      if (onDevice) line_.ArmDeviceFault(spec.kind);
      relay.Begin(onDevice ? FaultSpec{} : spec);
      watch.Starting(line_.Name() + " transaction " + std::to_string(t) + (write ? " (write" : " (read") + " of " +
                     std::to_string(count) + " at " + std::to_string(at) + ", fault " + FaultName(spec.kind) + ")");
      const Result result = write ? line_.Write(at, sent) : line_.Read(at, count, values);
      watch.Done();
      bool released = false;
      Fault struck = relay.End(&released);
      const bool deviceStruck = onDevice && line_.DeviceFaultStruck();
      if (deviceStruck) struck = spec.kind;
      // Late bytes set free now must reach the control's input before its next request.
      if (released) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      const std::uint64_t disturbances = relay.Disturbances() - before + (deviceStruck ? 1 : 0);
      const bool explained = disturbances > 0 || releasedBefore;
      const bool onlyHarmless = !releasedBefore && disturbances == 1 && Harmless(struck);
      releasedBefore = released;

      ++tally_.transactions;
      ++(write ? tally_.writes : tally_.reads);
      if (struck != Fault::None) {
        ++tally_.injected;
        ++tally_.byFault[struck].first;
      }
      if (explained) lastFault = SteadyClock::now();
      if (line_.BusyRefusal(result)) {
        ++tally_.busy;
        if (SteadyClock::now() - lastFault > kBusyAfterFault)
          Report("LOST (busy)", t, write, at, count, struck, result, {}, {}, ++tally_.lost);
        std::this_thread::sleep_for(kBusyRetry);
        continue;
      }
      // A write that failed on the link may still have been carried out, now or (its request
      // on its way) a moment later; the exchanges that follow it on the line come after it, so
      // its words are the PLC's again once one of them has gone through.
      for (const auto& [from, n] : unsettled_) Resync(from, n);
      if (result == ResultOk) unsettled_.clear();
      // A success under a refusal hands over what the device refused, whatever the values.
      if (result == ResultOk && MustFail(struck))
        Report("WRONG (success under a refusal)", t, write, at, count, struck, result, {}, {}, ++tally_.wrong);
      if (write) {
        // The PLC is the model again after a write, whatever became of it.
        const Words now = Resync(at, count);
        if (result == ResultOk && now != sent) Report("WRONG", t, write, at, count, struck, result, now, sent, ++tally_.wrong);
        if (result != ResultOk) unsettled_.emplace_back(at, count);
      } else if (result == ResultOk) {
        const Words expected(model_.begin() + at, model_.begin() + at + count);
        if (values != expected) Report("WRONG", t, write, at, count, struck, result, values, expected, ++tally_.wrong);
      }
      if (result != ResultOk) {
        ++tally_.failed;
        ++tally_.results[result];
        if (struck != Fault::None) ++tally_.byFault[struck].second;
        if (line_.Cause().empty()) Report("NO CAUSE", t, write, at, count, struck, result, {}, {}, ++tally_.mute);
        if (!explained || onlyHarmless) Report("LOST", t, write, at, count, struck, result, {}, {}, ++tally_.lost);
      }
      previous_ = struck;
      if (options_.transactions >= 20 && (t + 1) % (options_.transactions / 20) == 0) {
        std::fprintf(stderr, "\r%s: %ld of %ld", line_.Name().c_str(), t + 1, options_.transactions);
        std::fflush(stderr);
      }
    }
    std::fprintf(stderr, "\n");
    tally_.rssEnd = ResidentKiB();
    tally_.seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    return tally_;
  }

 private:
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }
  std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }

  void Report(const char* what, long t, bool write, int at, int count, Fault struck, Result result, const Words& got,
              const Words& expected, long nth) {
    if (nth > 10) return;  // the first ones tell the story
    std::printf("  %s %s transaction %ld: %s of %d at %d, fault %s (before it: %s), result %d, cause \"%s\", text \"%s\"",
                what, line_.Name().c_str(), t, write ? "write" : "read", count, at, FaultName(struck),
                FaultName(previous_), result, line_.Cause().c_str(), line_.ClassicText().c_str());
    std::size_t i = 0;
    while (i < got.size() && i < expected.size() && got[i] == expected[i]) ++i;
    if (!got.empty() || !expected.empty())
      std::printf("; from word %zu: got %s, PLC holds %s", i, Describe(got, i).c_str(), Describe(expected, i).c_str());
    std::printf("\n");
    std::fflush(stdout);
  }

  Words Resync(int at, int count) {
    const Words now = line_.DeviceWords(at, count);
    std::copy(now.begin(), now.end(), model_.begin() + at);
    return now;
  }

  LineUnderTest& line_;
  const Options& options_;
  std::mt19937 random_;
  Words model_;
  Tally tally_;
  Fault previous_ = Fault::None;  // the fault of the transaction before
  std::vector<std::pair<int, int>> unsettled_;  // failed writes since the last success: at, count
};

bool ParseKind(const std::string& name, std::vector<ControlKind>& kinds) {
  const std::map<std::string, ControlKind> known = {{"rtulink", ControlKind::RtuLink},
                                                    {"seqlink", ControlKind::SeqLink},
                                                    {"dflink", ControlKind::DfLink},
                                                    {"udplink", ControlKind::UdpLink}};
  if (name == "all") return true;
  auto it = known.find(name);
  if (it == known.end()) return false;
  kinds = {it->second};
  return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (arg == "--control") {
      if (!ParseKind(value, o.kinds)) return false;
    } else if (arg == "--transactions" || arg == "-n") {
      o.transactions = std::atol(value.c_str());
    } else if (arg == "--fault-rate") {
      o.faultRate = std::atof(value.c_str());
    } else if (arg == "--write-share") {
      o.writeShare = std::atof(value.c_str());
    } else if (arg == "--seed") {
      o.seed = static_cast<std::uint32_t>(std::atol(value.c_str()));
    } else if (arg == "--faults") {
      for (std::size_t start = 0; start <= value.size();) {
        auto comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        o.faults.push_back(value.substr(start, comma - start));
        start = comma + 1;
      }
    } else if (arg == "--leaks") {
      // "RtuLink=0 B,SeqLink=0 B"
      std::size_t start = 0;
      while (start < value.size()) {
        auto comma = value.find(',', start);
        const std::string item = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const auto eq = item.find('=');
        if (eq != std::string::npos) o.leaks[item.substr(0, eq)] = item.substr(eq + 1);
        start = comma == std::string::npos ? value.size() : comma + 1;
      }
    } else {
      return false;
    }
  }
  return o.transactions > 0 && o.faultRate >= 0 && o.faultRate <= 1 && o.writeShare >= 0 && o.writeShare <= 1;
}

}  // namespace
}  // namespace plc::faults

int main(int argc, char** argv) {
  using namespace plc::faults;
  ::signal(SIGPIPE, SIG_IGN);
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: soak [--control rtulink|seqlink|dflink|udplink|all] [--transactions N] [--fault-rate F]\n"
                 "            [--write-share F] [--seed S] [--faults silence,corrupt,...] [--leaks \"RtuLink=0 B,...\"]\n");
    return 2;
  }
  std::printf("soak: %ld transactions per control, %.1f%% with an injected fault, %.0f%% writes, seed %u\n",
              options.transactions, options.faultRate * 100, options.writeShare * 100, options.seed);
  std::fflush(stdout);
  HangWatch watch;
  std::vector<std::pair<std::string, Tally>> rows;
  for (ControlKind kind : options.kinds) {
    auto lines = MakeLines(kind, 0, 1, options.seed);
    Soak soak(*lines.front(), options, options.seed);
    rows.emplace_back(KindName(kind), soak.Run(watch));
    lines.clear();
  }

  bool met = true;
  std::printf("\n%-8s %12s %9s %7s %6s %5s %9s %5s %10s %10s %12s %8s\n", "control", "transactions", "injected", "failed",
              "wrong", "lost", "no cause", "busy", "RSS start", "RSS end", "leaks", "seconds");
  for (const auto& [name, t] : rows) {
    const auto leak = options.leaks.find(name);
    std::printf("%-8s %12ld %9ld %7ld %6ld %5ld %9ld %5ld %6ld KiB %6ld KiB %12s %8.0f\n", name.c_str(), t.transactions,
                t.injected, t.failed, t.wrong, t.lost, t.mute, t.busy, t.rssStart, t.rssEnd,
                leak == options.leaks.end() ? "-" : leak->second.c_str(), t.seconds);
    met = met && t.wrong == 0 && t.lost == 0 && t.mute == 0;
  }
  std::printf("\nfaults struck / failures they caused, and the failures' result codes:\n");
  for (const auto& [name, t] : rows) {
    std::printf("  %-8s", name.c_str());
    for (const auto& [fault, n] : t.byFault) std::printf(" %s %ld/%ld", FaultName(fault), n.first, n.second);
    std::printf(";  results:");
    for (const auto& [code, n] : t.results) std::printf(" %d x%ld", code, n);
    std::printf("\n");
  }
  return met ? 0 : 1;
}
