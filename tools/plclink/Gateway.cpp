#include "tools/plclink/Gateway.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <optional>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "base/Dispatch.h"
#include "base/OctalText.h"
#include "base/RuntimeError.h"
#include "logger/MqttPublisher.h"
#include "logger/SetMessages.h"
#include "logger/SqliteHistory.h"
#include "logger/TagValues.h"
#include "logger/TimeText.h"
#include "platform/EventLoop.h"
#include "platform/IntervalTimer.h"
#include "tools/plclink/CommandLine.h"
#include "tools/plclink/PlantSource.h"
#include "tools/plclink/StopSignals.h"

namespace plc::plclink {

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// A batch this large is committed at once rather than at the next commit tick.
constexpr std::size_t kBatchLimit = 5000;
constexpr std::int32_t kStatusMs = 1000;
// How often the end (Ctrl-C, --seconds, a failed sink) is looked for.
constexpr std::int32_t kStopCheckMs = 50;
// Without a terminal the status line is printed this seldom.
constexpr std::int64_t kQuietStatusUs = 10'000'000;
// A history another writer holds keeps the batches waiting this long at most, and this many
// samples: beyond, the gateway ends as with a history it cannot write.
constexpr std::int64_t kBusyLimitUs = 60'000'000;
constexpr std::size_t kBusySamplesLimit = 20 * kBatchLimit;
// At the end, a held history is tried again this often, this long.
constexpr std::int64_t kFinalCommitRetryUs = 200'000;
constexpr std::int64_t kFinalCommitLimitUs = 10'000'000;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

std::string Fixed(double v, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The station a group is read from where it names one: the one before ';' in its address, else
// its unit; nullopt when it is the control's Address.
std::optional<std::int32_t> GroupStation(const ScanGroup& group) {
  const std::string text = group.address.ToString();
  if (const auto semi = text.find(';'); semi != std::string::npos) {
    const std::string named = text.substr(0, semi);
    if (AllDigits(named) && named.size() <= 5) return std::stoi(named);
    return std::nullopt;  // the group is refused at every read, saying why
  }
  if (group.unit != -1) return group.unit;
  return std::nullopt;
}

class Gateway {
 public:
  Gateway(GatewayOptions options, EventLoop& loop)
      : options_(std::move(options)),
        loop_(loop),
        commitTimer_(1000, loop),
        statusTimer_(kStatusMs, loop),
        stopTimer_(kStopCheckMs, loop) {}

  int Run();

 private:
  void Open();
  void OnScan(logger::ScanResult& r);
  void OnWrite(QueuedWriteEnd& w);
  void OnSet(const logger::SetMessage& set);
  void Note(logger::Failure f);
  // Hands what is pending to the sinks (all of them, the history first) as one batch.
  void Commit() { Commit(sinks_); }
  void Commit(const std::vector<logger::Sink*>& to);
  void Status();
  void Summary();
  void Print(const std::string& line);
  PlantSource* SourceOf(const std::string& control);
  void PlaceWrites(const std::vector<ScanRow>& groups);
  void CheckOctalWrites(const std::vector<ScanRow>& groups);
  std::optional<std::int32_t> TagWrittenAt(const std::string& control, const std::string& address) const;
  void NoteUnwritten();

  GatewayOptions options_;
  EventLoop& loop_;
  PlantDocument plant_;
  std::optional<logger::TagValues> values_;
  // By tag id: the address a set of the tag is queued at, so that it lands where the tag is read.
  std::vector<std::string> writeAt_;
  // The sets queued and not yet reported by their control, in the order they were queued.
  struct WaitingWrite {
    std::string control;
    std::string address;
    std::int32_t value = 0;
    std::int32_t tag = 0;
  };
  std::deque<WaitingWrite> waiting_;
  // The set being handed to its control's queue: a report during that call is its refusal.
  std::optional<WaitingWrite> forcing_;
  std::vector<std::unique_ptr<PlantSource>> sources_;
  // By control: why it did not start. Its write queue is never drained, so its sets are refused.
  std::map<std::string, std::string> notStarted_;
  std::unique_ptr<logger::SqliteHistory> history_;
  std::unique_ptr<logger::MqttPublisher> mqtt_;
  std::vector<logger::Sink*> sinks_;
  logger::Batch pending_;
  IntervalTimer commitTimer_;
  IntervalTimer statusTimer_;
  IntervalTimer stopTimer_;
  std::optional<std::string> fatal_;
  // The samples of the batches the history refused once it could not be written.
  std::int64_t unwritten_ = 0;
  // Since when (the loop's monotonic time) another writer has held the history, the batch
  // waiting for it. Waits are measured on the monotonic clock: the wall clock may be set
  // forward or back meanwhile, and only the samples' times are history.
  std::optional<std::int64_t> historyBusySinceUs_;
  // The run is ending: the reads given up by the stop are no failures of the plant.
  bool stopping_ = false;
  bool tty_ = ::isatty(STDERR_FILENO) == 1;
  bool statusShown_ = false;
  // The loop's monotonic time: the run's length and rate stay true across a wall clock step.
  std::int64_t startUs_ = 0;
  std::int64_t lastStatusUs_ = 0;
  std::int64_t lastPrintedUs_ = 0;
  std::int64_t readsAtStatus_ = 0;
  double rate_ = 0;
  std::map<std::pair<std::string, std::int32_t>, bool> failing_;
  std::int64_t reads_ = 0, failedReads_ = 0, samples_ = 0, failuresLogged_ = 0;
  std::int64_t writesQueued_ = 0, written_ = 0, writeFailed_ = 0, refused_ = 0;
};

PlantSource* Gateway::SourceOf(const std::string& control) {
  for (auto& s : sources_)
    if (NamesEqual(s->Name(), control)) return s.get();
  return nullptr;
}

void Gateway::Print(const std::string& line) {
  if (statusShown_ && tty_) std::cerr << "\r\033[K";
  statusShown_ = false;
  std::cerr << line << "\n";
}

void Gateway::Open() {
  plant_ = ReadPlantDocument(options_.plant);
  const DatabaseFiles files = ReadDatabaseFiles(plant_.databases);
  if (!files.refusals.empty()) {
    std::string all;
    for (const DatabaseRefusal& r : files.refusals) all += "\n" + r.Text();
    throw std::runtime_error(std::to_string(files.refusals.size()) + " refusals in the databases of " +
                             plant_.databases + ":" + all);
  }
  if (!files.tagFile) throw std::runtime_error("no " + std::string(kTagFileName) + " in " + plant_.databases +
                                               ": the gateway has no tags to log");
  std::set<std::string> sections;
  for (const PlantControl& c : plant_.controls) sections.insert(Lower(c.section));
  // A group naming no control is read by every control that loads it: hosts may want that, the
  // gateway, with many lines, never does.
  for (const ScanRow& g : files.groups)
    if (g.group.control.empty())
      throw std::runtime_error(plant_.databases + "/" + kScanFileName + ":" + std::to_string(g.line) + ": scan group " +
                               std::to_string(g.index) +
                               " names no control: the gateway needs each scan group to name its control (a section "
                               "of " + plant_.path + ")");
  for (const TagRow& t : files.tags)
    if (t.scan != 0 && !sections.count(Lower(t.control)))
      throw std::runtime_error(plant_.databases + "/" + kTagFileName + ":" + std::to_string(t.line) + ": control '" +
                               t.control + "' of tag " + t.name + " is no section of " + plant_.path);
  for (const ScanRow& g : files.groups)
    if (!g.group.control.empty() && !sections.count(Lower(g.group.control)))
      throw std::runtime_error(plant_.databases + "/" + kScanFileName + ":" + std::to_string(g.line) + ": control '" +
                               g.group.control + "' is no section of " + plant_.path);
  values_.emplace(files.tags);

  std::set<std::string> loaded;
  for (const PlantControl& c : plant_.controls) {
    auto source = std::make_unique<PlantSource>(c, plant_.path);
    // One load per plug-in: its controls share its tables.
    if (loaded.insert(source->Library()).second) {
      const DatabaseLoad load = source->LoadDatabases(plant_.databases);
      if (!load.loaded) throw std::runtime_error(c.section + " (" + source->ClassName() + "): " + load.Text());
    }
    source->OnScan = [this](logger::ScanResult& r) { OnScan(r); };
    source->OnWrite = [this](QueuedWriteEnd& w) { OnWrite(w); };
    sources_.push_back(std::move(source));
  }
  CheckOctalWrites(files.groups);
  PlaceWrites(files.groups);

  const std::string db = options_.database ? *options_.database : plant_.history;
  history_ = std::make_unique<logger::SqliteHistory>(std::filesystem::absolute(db).string(), values_->Tags());
  sinks_.push_back(history_.get());
  if (options_.mqtt) {
    logger::MqttOptions mqtt;
    const std::string& where = *options_.mqtt;
    const auto colon = where.rfind(':');
    mqtt.host = colon == std::string::npos ? where : where.substr(0, colon);
    if (colon != std::string::npos) mqtt.port = static_cast<int>(*ParseWholeNumber(where.substr(colon + 1)));
    mqtt.prefix = options_.topic.value_or(plant_.topic);
    mqtt_ = std::make_unique<logger::MqttPublisher>(mqtt, values_->Tags(), loop_);
    mqtt_->OnNotice = [this](const std::string& text) { Print(logger::IsoTimeUtc(logger::NowUs()).substr(11, 8) + " " + text); };
    mqtt_->OnSet = [this](const logger::SetMessage& set) { OnSet(set); };
    sinks_.push_back(mqtt_.get());
  }
}

void Gateway::PlaceWrites(const std::vector<ScanRow>& groups) {
  for (const TagRow& t : values_->Rows()) {
    std::string at = t.address;
    const auto group = std::find_if(groups.begin(), groups.end(), [&](const ScanRow& g) { return g.index == t.scan; });
    PlantSource* source = SourceOf(t.control);
    // A group read from a station of its own: its tag's address names none, and would otherwise
    // be written at the control's Address, another station's register.
    const std::optional<std::int32_t> station = group != groups.end() ? GroupStation(group->group) : std::nullopt;
    if (t.writable && station && source && t.address.find(';') == std::string::npos) {
      std::int32_t own = -1;
      try {
        own = source->Get().GetProperty("Address").ToInt32();
      } catch (const RuntimeError&) {
      }
      if (own != *station) at = std::to_string(*station) + ";" + t.address;
    }
    writeAt_.push_back(std::move(at));
  }
}

// The loader holds a writable tag's address to its element's register counting in decimal, as
// RtuLink's references count; a control that reads numbers as octal V-memory addresses would
// read the tag from one register and write it at another.
void Gateway::CheckOctalWrites(const std::vector<ScanRow>& groups) {
  for (const TagRow& t : values_->Rows()) {
    if (!t.writable || t.scan == 0 || !AllDigits(t.address)) continue;
    const auto group = std::find_if(groups.begin(), groups.end(), [&](const ScanRow& g) { return g.index == t.scan; });
    PlantSource* source = SourceOf(t.control);
    if (group == groups.end() || !group->group.address.IsNumeric() || !source || !source->NumbersAreOctal()) continue;
    const std::string first = group->group.address.ToString();
    const auto start = OctalValue(first);
    if (!start) continue;  // the group itself is refused at every read, saying why
    const std::int64_t read = *start + t.element - 1;
    const auto own = OctalValue(t.address);
    if (own == read) continue;
    throw std::runtime_error(
        plant_.databases + "/" + kTagFileName + ":" + std::to_string(t.line) + ": writable tag " + t.name + " at " +
        t.address + " is read from V" + OctalDigits(read) + " (element " + std::to_string(t.element) +
        " of scan group " + std::to_string(t.scan) + " at " + first + "; " + source->ClassName() +
        " reads numbers as octal V-memory addresses) but would be written at " +
        (own ? "V" + OctalDigits(*own) : "'" + t.address + "', no octal number") +
        ": one register for both (write its address as V," + OctalDigits(read) + ")");
  }
}

// The writable tag of the control whose sets are queued at the address, as a queued write's
// report names it (by register, not by tag); the first when two share it.
std::optional<std::int32_t> Gateway::TagWrittenAt(const std::string& control, const std::string& address) const {
  const auto& rows = values_->Rows();
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i].writable && NamesEqual(rows[i].control, control) && NamesEqual(writeAt_[i], address))
      return static_cast<std::int32_t>(i);
  return std::nullopt;
}

void Gateway::Note(logger::Failure f) {
  std::string where = f.control;
  if (f.scanGroup) where += " group " + std::to_string(*f.scanGroup);
  if (f.tag) where += " " + values_->Tags()[static_cast<std::size_t>(*f.tag)].name;
  Print(logger::IsoTimeUtc(f.timeUs).substr(11, 8) + " " + where + " " + logger::FailureKindName(f.kind) + ": " +
        f.text);
  pending_.failures.push_back(std::move(f));
}

void Gateway::OnScan(logger::ScanResult& r) {
  if (stopping_) return;
  ++reads_;
  if (!r.error.empty()) ++failedReads_;
  failing_[{r.control, r.index}] = !r.error.empty();
  logger::Batch made;
  values_->Take(r, made);
  for (logger::Failure& f : made.failures) Note(std::move(f));
  for (logger::Sample& s : made.samples) pending_.samples.push_back(std::move(s));
  // A held history is tried again at the commit tick, not at every read.
  if (pending_.samples.size() >= kBatchLimit && !historyBusySinceUs_) Commit();
}

void Gateway::OnWrite(QueuedWriteEnd& w) {
  std::optional<std::int32_t> tag;
  if (forcing_ && NamesEqual(forcing_->control, w.control)) {
    // The set being queued, refused by a full queue: the sets waiting keep their own ends.
    tag = forcing_->tag;
  } else {
    // A control drains its queue in order: the first set waiting with this address and value.
    const auto set = std::find_if(waiting_.begin(), waiting_.end(), [&](const WaitingWrite& q) {
      return NamesEqual(q.control, w.control) && q.address == w.address && q.value == w.value;
    });
    if (set != waiting_.end()) {
      tag = set->tag;
      waiting_.erase(set);
    }
  }
  if (w.written) {
    ++written_;
    return;
  }
  ++writeFailed_;
  logger::Failure f{logger::NowUs(), logger::FailureKind::WriteFailed, w.control, std::nullopt, std::nullopt, w.error};
  f.tag = tag ? tag : TagWrittenAt(w.control, w.address);
  Note(std::move(f));
}

// The controls forget what their queues still hold when they go: each such set is a write that
// was never made, said as one.
void Gateway::NoteUnwritten() {
  for (const WaitingWrite& q : waiting_) {
    ++writeFailed_;
    Note({logger::NowUs(), logger::FailureKind::WriteFailed, q.control, q.tag, std::nullopt,
          q.address + " = " + std::to_string(q.value) +
              " not written: the gateway ended while it waited in the write queue"});
  }
  waiting_.clear();
}

void Gateway::OnSet(const logger::SetMessage& set) {
  const std::string& tag = set.tag;
  const std::string& payload = set.payload;
  const std::int64_t now = logger::NowUs();
  // Topic and payload are anyone's text: bounded and with control bytes shown, never raw, in
  // the log and on the terminal.
  auto refuse = [&](std::string control, std::optional<std::int32_t> id, const std::string& why) {
    ++refused_;
    Note({now, logger::FailureKind::Refused, std::move(control), id, std::nullopt,
          "set of " + logger::PrintableText(tag, 64) + " to '" + logger::PrintableText(payload, 40) +
              "' refused: " + why});
  };
  const auto id = values_->Find(tag);
  if (!id) return refuse({}, std::nullopt, "no such tag");
  const TagRow& row = values_->Rows()[static_cast<std::size_t>(*id)];
  // The controls stop or have stopped: a set queued now would be neither written nor said.
  if (stopping_) return refuse(row.control, id, "the gateway is ending");
  if (set.retained)
    return refuse(row.control, id,
                  "retained set ignored (the broker replays it at every connect; publish sets without retain)");
  if (set.payloadBytes > logger::kMaxSetPayloadBytes)
    return refuse(row.control, id,
                  "the payload has " + std::to_string(set.payloadBytes) + " bytes, more than the " +
                      std::to_string(logger::kMaxSetPayloadBytes) + " a set may have");
  const auto value = logger::SetPayloadValue(payload);
  if (!value) return refuse(row.control, id, "the payload is no number (send 42 or {\"value\":42})");
  std::string why;
  const auto raw = values_->RawForWrite(*id, *value, why);
  if (!raw) return refuse(row.control, id, why);
  PlantSource* source = SourceOf(row.control);
  if (!source) return refuse(row.control, id, "its control is not in the plant");
  if (const auto down = notStarted_.find(source->Name()); down != notStarted_.end())
    return refuse(row.control, id, source->Name() + " did not start (" + down->second + "); nothing is written to it");
  const std::string& at = writeAt_[static_cast<std::size_t>(*id)];
  forcing_ = WaitingWrite{source->Name(), at, *raw, *id};
  std::string refusal;
  try {
    refusal = source->Force(at, *raw);
  } catch (...) {
    forcing_.reset();
    throw;
  }
  forcing_.reset();
  // A full queue reports itself as a failed queued write.
  if (refusal.empty()) {
    ++writesQueued_;
    waiting_.push_back({source->Name(), at, *raw, *id});
  }
}

void Gateway::Commit(const std::vector<logger::Sink*>& to) {
  if (pending_.Empty()) return;
  logger::Batch batch = std::move(pending_);
  pending_ = {};
  try {
    for (logger::Sink* sink : to) sink->Write(batch);
  } catch (const logger::SinkBusy& e) {
    // Only the history, the first sink, is ever busy, so no sink has the batch yet: it waits,
    // whole, for the next commit, and the reads meanwhile join it.
    const std::int64_t now = loop_.Now();
    pending_ = std::move(batch);
    if (!historyBusySinceUs_) {
      historyBusySinceUs_ = now;
      Print(logger::IsoTimeUtc(logger::NowUs()).substr(11, 8) + " history busy (another writer holds it): " + e.what() +
            "; the values wait and go in once it is free");
    } else if (now - *historyBusySinceUs_ > kBusyLimitUs || pending_.samples.size() > kBusySamplesLimit) {
      fatal_ = std::string(e.what()) + " for " + Fixed(static_cast<double>(now - *historyBusySinceUs_) / 1e6, 1) +
               " s; " + std::to_string(pending_.samples.size()) + " samples were not written";
    }
    return;
  } catch (const logger::SinkError& e) {
    // The run ends: the batch in hand, and each one the end still hands over, is lost, said so.
    unwritten_ += static_cast<std::int64_t>(batch.samples.size());
    if (!fatal_) fatal_ = e.what();
    return;
  }
  if (historyBusySinceUs_) {
    Print(logger::IsoTimeUtc(logger::NowUs()).substr(11, 8) + " history free again: " +
          std::to_string(batch.samples.size()) + " samples that waited written");
    historyBusySinceUs_.reset();
  }
  samples_ += static_cast<std::int64_t>(batch.samples.size());
  failuresLogged_ += static_cast<std::int64_t>(batch.failures.size());
  if (options_.verbose) {
    std::cout << "batch " << history_->Batches() << " committed: " << batch.samples.size() << " samples, "
              << batch.failures.size() << " failures, " << samples_ << " samples in all" << std::endl;
  }
}

void Gateway::Status() {
  const std::int64_t now = loop_.Now();
  const double seconds = static_cast<double>(now - lastStatusUs_) / 1e6;
  if (seconds > 0) rate_ = static_cast<double>(reads_ - readsAtStatus_) / seconds;
  lastStatusUs_ = now;
  readsAtStatus_ = reads_;
  if (!tty_ && now - lastPrintedUs_ < kQuietStatusUs) return;
  lastPrintedUs_ = now;
  std::int64_t failing = 0;
  for (const auto& [group, bad] : failing_) failing += bad ? 1 : 0;
  std::string line = "gateway: " + std::to_string(sources_.size()) + " controls, " +
                     std::to_string(values_->Tags().size()) + " tags | " + Fixed(rate_, 1) + " reads/s, " +
                     std::to_string(failing) + " groups failing | " + std::to_string(samples_) + " samples logged";
  if (mqtt_) {
    line += " | mqtt " + std::string(mqtt_->Connected() ? "connected" : "offline") + ", " +
            std::to_string(mqtt_->Waiting()) + " waiting";
  }
  if (tty_) {
    std::cerr << "\r\033[K" << line << std::flush;
    statusShown_ = true;
  } else {
    std::cerr << line << "\n";
  }
}

void Gateway::Summary() {
  if (statusShown_ && tty_) std::cerr << "\n";
  const double ran = static_cast<double>(loop_.Now() - startUs_) / 1e6;
  std::cout << "gateway: ran " << Fixed(ran, 1) << " s with " << sources_.size() << " controls and "
            << values_->Tags().size() << " tags\n"
            << "  reads: " << reads_ << " (" << reads_ - failedReads_ << " good, " << failedReads_ << " failed), "
            << Fixed(ran > 0 ? static_cast<double>(reads_) / ran : 0, 1) << " per second\n";
  for (const auto& s : sources_) {
    std::cout << "    " << s->Name() << " (" << s->ClassName() << "): " << s->Reads() << " reads, " << s->Failed()
              << " failed\n";
  }
  std::cout << "  samples: " << samples_ << " logged in " << history_->Batches() << " batches; failures logged: "
            << failuresLogged_ << "\n"
            << "  writes: " << writesQueued_ << " queued, " << written_ << " written, " << writeFailed_ << " failed, "
            << refused_ << " refused\n";
  if (mqtt_) {
    std::cout << "  mqtt: " << mqtt_->Where() << ", " << mqtt_->Stats().delivered << " delivered, "
              << mqtt_->Waiting() << " not delivered, " << mqtt_->Stats().dropped << " dropped\n";
  }
  std::cout << "  database: " << history_->Path() << std::endl;
}

int Gateway::Run() {
  StopSignals stop(loop_);
  // A history past the process's file-size limit (ulimit -f, LimitFSIZE=) is a write that fails
  // and ends the run with its summary and reason, not a signal that kills it mid-batch.
  std::signal(SIGXFSZ, SIG_IGN);
  Open();
  startUs_ = lastStatusUs_ = lastPrintedUs_ = loop_.Now();
  for (auto& s : sources_) {
    const std::string failed = s->Start();
    if (failed.empty()) continue;
    notStarted_[s->Name()] = failed;
    Note({logger::NowUs(), logger::FailureKind::Failed, s->Name(), std::nullopt, std::nullopt,
          "cannot start: " + failed});
  }
  // As serve does: a line a supervising program can wait for.
  std::cout << "READY gateway: " << sources_.size() << " controls, " << values_->Tags().size()
            << " tags, history in " << history_->Path() << "; Ctrl-C ends it" << std::endl;
  commitTimer_.SetInterval(options_.commitMs.value_or(plant_.commitMs));
  commitTimer_.OnTick = [this] { Commit(); };
  commitTimer_.SetEnabled(true);
  statusTimer_.OnTick = [this] { Status(); };
  statusTimer_.SetEnabled(true);
  const std::int64_t deadline =
      options_.seconds ? loop_.Now() + static_cast<std::int64_t>(*options_.seconds * 1e6) : INT64_MAX;
  // The scan ticks of the controls wait for their lines inside one another, so the loop may
  // not come back here while they run: the end is decided by a timer of its own, which stops
  // every scan first; the waits in progress then end with their replies.
  stopTimer_.OnTick = [&] {
    if (stopping_ || !(stop.Stopped() || fatal_ || loop_.Now() >= deadline)) return;
    stopping_ = true;
    for (auto& s : sources_) s->StopScan();
  };
  stopTimer_.SetEnabled(true);
  while (!stopping_) loop_.WaitUntil([&] { return stopping_; }, INT64_MAX);
  stopTimer_.SetEnabled(false);
  commitTimer_.SetEnabled(false);
  statusTimer_.SetEnabled(false);
  for (auto& s : sources_) s->Stop();
  NoteUnwritten();
  Commit();
  for (const std::int64_t end = loop_.Now() + kFinalCommitLimitUs;
       historyBusySinceUs_ && !fatal_ && loop_.Now() < end;) {
    std::this_thread::sleep_for(std::chrono::microseconds(kFinalCommitRetryUs));
    Commit();
  }
  if (historyBusySinceUs_ && !fatal_)
    fatal_ = history_->Path() + ": still held by another writer at the end; " +
             std::to_string(pending_.samples.size()) + " samples were not written";
  // The publisher closes first: the sets that come while it flushes are refused, and their
  // refusals go into the history, which closes last.
  for (auto sink = sinks_.rbegin(); sink != sinks_.rend(); ++sink) {
    if (*sink == history_.get() && !fatal_ && !historyBusySinceUs_) Commit({history_.get()});
    try {
      (*sink)->Close();
    } catch (const logger::SinkError& e) {
      if (!fatal_) fatal_ = e.what();
    }
  }
  Summary();
  if (fatal_) {
    std::cerr << "plclink gateway: " << *fatal_;
    if (unwritten_ > 0) std::cerr << "; " << unwritten_ << " samples were not written";
    std::cerr << "\n";
    return kExitFailed;
  }
  return 0;
}

}  // namespace

std::string GatewayUsage() {
  return R"(usage: plclink gateway PLANT.ini [--db FILE] [--mqtt HOST[:PORT]] [--topic PREFIX]
                       [--seconds N] [--commit-ms N] [--verbose]

Runs every control of the plant document (each section with a Control key), scanning the
groups of scan.csv and logging the values of the tags of tags.csv (both in the folder its
[Gateway] Databases names) until Ctrl-C, then prints a summary.
  --db FILE            the SQLite history (default: [Gateway] History, or PLANT.db)
  --mqtt HOST[:PORT]   also publish each value to this broker (port 1883), retained, QoS 1,
                       as PREFIX/TAG; PREFIX/TAG/set writes a writable tag
  --topic PREFIX       the topic prefix (default: [Gateway] Topic, or plant)
  --seconds N          stop after N seconds
  --commit-ms N        commit a batch of samples every N ms (default: [Gateway] CommitMs, 1000)
  --verbose            print each committed batch on standard output
)";
}

GatewayOptions ParseGatewayArguments(const std::vector<std::string>& args) {
  GatewayOptions o;
  auto value = [&](std::size_t& i) -> const std::string& {
    if (i + 1 >= args.size()) throw UsageError(args[i] + " needs a value");
    return args[++i];
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--db") {
      o.database = value(i);
    } else if (a == "--mqtt") {
      const std::string& where = value(i);
      const auto colon = where.rfind(':');
      if (where.empty() || colon == 0) throw UsageError("--mqtt wants HOST[:PORT], not '" + where + "'");
      if (colon != std::string::npos) {
        const auto port = ParseWholeNumber(where.substr(colon + 1));
        if (!port || *port < 1 || *port > 65535) throw UsageError("--mqtt wants a port from 1 to 65535 in '" + where + "'");
      }
      o.mqtt = where;
    } else if (a == "--topic") {
      const std::string& t = value(i);
      if (!logger::IsTopicPrefix(t))
        throw UsageError("--topic wants a topic prefix in UTF-8 without + or #, not '" + logger::PrintableText(t, 64) +
                         "'");
      o.topic = t;
    } else if (a == "--seconds") {
      const std::string& t = value(i);
      char* end = nullptr;
      const double s = std::strtod(t.c_str(), &end);
      if (t.empty() || *end != '\0' || !(s > 0) || s > 1e7) throw UsageError("--seconds wants a positive number, not '" + t + "'");
      o.seconds = s;
    } else if (a == "--commit-ms") {
      const auto ms = ParseWholeNumber(value(i));
      if (!ms || *ms < 50 || *ms > 60000) throw UsageError("--commit-ms wants 50 to 60000");
      o.commitMs = static_cast<int>(*ms);
    } else if (a == "--verbose") {
      o.verbose = true;
    } else if (!a.empty() && a[0] == '-') {
      throw UsageError("gateway has no option " + a);
    } else if (o.plant.empty()) {
      o.plant = a;
    } else {
      throw UsageError("gateway takes one plant document, not also '" + a + "'");
    }
  }
  if (o.plant.empty()) throw UsageError("gateway needs a plant document (PLANT.ini)");
  return o;
}

int RunGateway(const std::vector<std::string>& args) {
  GatewayOptions options;
  try {
    options = ParseGatewayArguments(args);
  } catch (const UsageError& e) {
    std::cerr << "plclink gateway: " << e.what() << "\n" << GatewayUsage();
    return kExitUsage;
  }
  try {
    Gateway gateway(options, EventLoop::Current());
    return gateway.Run();
  } catch (const RuntimeError& e) {
    std::cerr << "plclink gateway: " << e.what() << " (error " << e.Number() << ")\n";
  } catch (const std::exception& e) {
    std::cerr << "plclink gateway: " << e.what() << "\n";
  }
  return kExitFailed;
}

}  // namespace plc::plclink
