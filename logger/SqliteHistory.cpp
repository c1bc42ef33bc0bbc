#include "logger/SqliteHistory.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "logger/SeriesReducer.h"

namespace plc::logger {

namespace {

// The schema of version 1; every statement may run again on an existing file.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS tags (
  id          INTEGER PRIMARY KEY,
  name        TEXT NOT NULL UNIQUE,
  control     TEXT NOT NULL,
  address     TEXT NOT NULL,
  description TEXT NOT NULL,
  unit        TEXT NOT NULL,
  iotype      TEXT NOT NULL,
  scale       REAL NOT NULL,
  offset      REAL NOT NULL,
  deadband    REAL,
  writable    INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS batches (
  id      INTEGER PRIMARY KEY,
  time_us INTEGER NOT NULL,
  samples INTEGER NOT NULL,
  failures INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS samples (
  tag_id  INTEGER NOT NULL REFERENCES tags(id),
  time_us INTEGER NOT NULL,
  value   REAL,
  quality TEXT NOT NULL CHECK (quality IN ('good', 'bad')),
  error   TEXT,
  batch   INTEGER NOT NULL REFERENCES batches(id)
);
CREATE INDEX IF NOT EXISTS samples_by_tag ON samples (tag_id, time_us);
CREATE TABLE IF NOT EXISTS failures (
  id         INTEGER PRIMARY KEY,
  time_us    INTEGER NOT NULL,
  kind       TEXT NOT NULL,
  control    TEXT NOT NULL,
  tag_id     INTEGER REFERENCES tags(id),
  scan_group INTEGER,
  text       TEXT NOT NULL,
  batch      INTEGER NOT NULL REFERENCES batches(id)
);
)sql";

// Rolls back a transaction that did not commit.
class Transaction {
 public:
  explicit Transaction(SqliteFile& file) : file_(file) { file_.Exec("BEGIN IMMEDIATE"); }
  ~Transaction() {
    if (!committed_) sqlite3_exec(file_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void Commit() {
    file_.Exec("COMMIT");
    committed_ = true;
  }

 private:
  SqliteFile& file_;
  bool committed_ = false;
};

}  // namespace

const char* FailureKindName(FailureKind kind) {
  switch (kind) {
    case FailureKind::Failed: return "failed";
    case FailureKind::Recovered: return "recovered";
    case FailureKind::WriteFailed: return "write failed";
    case FailureKind::Refused: return "refused";
  }
  return "failed";
}

SqliteFile::SqliteFile(const std::string& path, bool readOnly) : path_(path) {
  const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw SinkError(path + ": cannot open: " + why);
  }
  // A reader meets the writer's transactions: it waits for them a while instead of failing.
  sqlite3_busy_timeout(db_, 2000);
}

SqliteFile::~SqliteFile() { sqlite3_close(db_); }

namespace {

// Another connection holds the lock the statement needed: it may go through later.
bool Busy(int rc) { return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED; }

// SQLite's words, and where the system refused a read or write (a file-size limit, a full or
// read-only disk), the system's: "disk I/O error" alone does not say which.
// errnoAfter: errno as the failed call left it, cleared before the call (SQLite does not
// always keep the system's error for sqlite3_system_errno).
std::string Why(sqlite3* db, int rc, const char* text, int errnoAfter) {
  std::string why = text;
  const int primary = rc & 0xFF;
  const int system = sqlite3_system_errno(db) != 0 ? sqlite3_system_errno(db) : errnoAfter;
  if ((primary == SQLITE_IOERR || primary == SQLITE_FULL || primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY) &&
      system != 0)
    why += std::string(" (") + std::strerror(system) + ")";
  return why;
}

}  // namespace

void SqliteFile::Exec(const std::string& sql) {
  char* message = nullptr;
  errno = 0;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  const int system = errno;
  if (rc != SQLITE_OK) {
    const std::string why = path_ + ": " + Why(db_, rc, message ? message : sqlite3_errmsg(db_), system);
    sqlite3_free(message);
    if (Busy(rc)) throw SinkBusy(why);
    throw SinkError(why);
  }
}

void SqliteFile::Fail(const std::string& what, int errnoAfter) const {
  const std::string why = path_ + ": " + what + ": " + Why(db_, sqlite3_errcode(db_), sqlite3_errmsg(db_), errnoAfter);
  if (Busy(sqlite3_errcode(db_))) throw SinkBusy(why);
  throw SinkError(why);
}

Statement::Statement(const SqliteFile& file, const char* sql) : file_(file) {
  if (sqlite3_prepare_v2(file.Handle(), sql, -1, &stmt_, nullptr) != SQLITE_OK) file_.Fail("cannot prepare a statement");
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, std::int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) file_.Fail("bind");
  return *this;
}

Statement& Statement::Bind(int index, double value) {
  if (sqlite3_bind_double(stmt_, index, value) != SQLITE_OK) file_.Fail("bind");
  return *this;
}

Statement& Statement::Bind(int index, const std::string& text) {
  if (sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) != SQLITE_OK)
    file_.Fail("bind");
  return *this;
}

Statement& Statement::BindNull(int index) {
  if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) file_.Fail("bind");
  return *this;
}

bool Statement::Step() {
  errno = 0;
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  file_.Fail("step", errno);
}

void Statement::Run() {
  while (Step()) {
  }
  Reset();
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

std::int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }
double Statement::Real(int column) const { return sqlite3_column_double(stmt_, column); }
bool Statement::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(stmt_, column);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
              : std::string();
}

SqliteHistory::SqliteHistory(const std::string& path, const std::vector<TagInfo>& tags)
    : path_(path), file_(std::make_unique<SqliteFile>(path, false)) {
  {
    Statement version(*file_, "PRAGMA user_version");
    const std::int64_t found = version.Step() ? version.Int(0) : 0;
    if (found > kHistorySchemaVersion)
      throw SinkError(path + ": schema version " + std::to_string(found) + " is newer than this program's (" +
                      std::to_string(kHistorySchemaVersion) + ")");
  }
  {
    Statement mode(*file_, "PRAGMA journal_mode=WAL");
    if (!mode.Step() || mode.Text(0) != "wal") file_->Fail("cannot use write-ahead logging");
  }
  file_->Exec("PRAGMA synchronous=NORMAL");
  file_->Exec("PRAGMA foreign_keys=ON");
  Transaction schema(*file_);
  file_->Exec(kSchema);
  file_->Exec("PRAGMA user_version=" + std::to_string(kHistorySchemaVersion));
  // A tag logged before keeps its id, so its earlier samples stay its own; its name (in the case
  // the tag file writes it now: names are one name whatever their case), description and
  // scaling are what the tag file says now.
  Statement find(*file_, "SELECT id FROM tags WHERE name = ?1 COLLATE NOCASE ORDER BY name = ?1 DESC, id LIMIT 1");
  Statement insert(*file_,
                   "INSERT INTO tags (name, control, address, description, unit, iotype, scale, offset, deadband, "
                   "writable) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
  Statement update(*file_,
                   "UPDATE tags SET name=?1, control=?2, address=?3, description=?4, unit=?5, iotype=?6, scale=?7, "
                   "offset=?8, deadband=?9, writable=?10 WHERE id=?11");
  for (const TagInfo& t : tags) {
    find.Bind(1, t.name);
    const bool known = find.Step();
    const std::int64_t knownId = known ? find.Int(0) : 0;
    find.Reset();
    Statement& store = known ? update : insert;
    store.Bind(1, t.name).Bind(2, t.control).Bind(3, t.address).Bind(4, t.description).Bind(5, t.unit);
    store.Bind(6, t.ioType).Bind(7, t.scale).Bind(8, t.offset);
    if (t.deadband) store.Bind(9, *t.deadband);
    else store.BindNull(9);
    store.Bind(10, std::int64_t{t.writable ? 1 : 0});
    if (known) store.Bind(11, knownId);
    store.Run();
    tagIds_.push_back(known ? knownId : sqlite3_last_insert_rowid(file_->Handle()));
  }
  schema.Commit();
  // Batches are written on the thread of the PLC lines: another writer holding the file is
  // waited for only briefly, and SinkBusy lets the caller keep the batch for a later try.
  sqlite3_busy_timeout(file_->Handle(), kWriteBusyMs);
  struct stat opened {};
  if (::stat(path_.c_str(), &opened) != 0) throw SinkError(path_ + ": gone as soon as it was opened");
  device_ = opened.st_dev;
  inode_ = opened.st_ino;
}

SqliteHistory::~SqliteHistory() {
  try {
    Close();
  } catch (const SinkError&) {
    // Closing in a destructor after an error: the file stays as the last commit left it.
  }
}

void SqliteHistory::Write(const Batch& batch) {
  if (!file_) throw SinkError(path_ + ": written after it was closed");
  if (batch.Empty()) return;
  struct stat now {};
  const bool looked = ::stat(path_.c_str(), &now) == 0;
  // A folder the gateway may no longer look into is no sign of another file.
  if (!looked && (errno == ENOENT || errno == ENOTDIR))
    throw SinkError(path_ + ": the history file was deleted while the gateway wrote it (what it held since it "
                            "was opened is gone with it)");
  if (looked && (now.st_dev != device_ || now.st_ino != inode_))
    throw SinkError(path_ + ": the history file was replaced by another (moved or copied over) while the gateway "
                            "wrote it");
  Transaction tx(*file_);
  Statement head(*file_, "INSERT INTO batches (time_us, samples, failures) VALUES (?1, ?2, ?3)");
  const std::int64_t last = batch.samples.empty() ? batch.failures.back().timeUs : batch.samples.back().timeUs;
  head.Bind(1, last).Bind(2, static_cast<std::int64_t>(batch.samples.size()));
  head.Bind(3, static_cast<std::int64_t>(batch.failures.size())).Run();
  const std::int64_t batchId = sqlite3_last_insert_rowid(file_->Handle());
  Statement sample(*file_,
                   "INSERT INTO samples (tag_id, time_us, value, quality, error, batch) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  for (const Sample& s : batch.samples) {
    if (s.tag < 0 || static_cast<std::size_t>(s.tag) >= tagIds_.size()) throw SinkError(path_ + ": a sample of no tag");
    sample.Bind(1, tagIds_[static_cast<std::size_t>(s.tag)]).Bind(2, s.timeUs);
    if (s.value) sample.Bind(3, *s.value);
    else sample.BindNull(3);
    sample.Bind(4, std::string(s.quality == Quality::Good ? "good" : "bad"));
    if (s.quality == Quality::Good) sample.BindNull(5);
    else sample.Bind(5, s.error);
    sample.Bind(6, batchId).Run();
  }
  Statement failure(*file_,
                    "INSERT INTO failures (time_us, kind, control, tag_id, scan_group, text, batch) VALUES (?1, ?2, ?3, "
                    "?4, ?5, ?6, ?7)");
  for (const Failure& f : batch.failures) {
    failure.Bind(1, f.timeUs).Bind(2, std::string(FailureKindName(f.kind))).Bind(3, f.control);
    if (f.tag && *f.tag >= 0 && static_cast<std::size_t>(*f.tag) < tagIds_.size())
      failure.Bind(4, tagIds_[static_cast<std::size_t>(*f.tag)]);
    else failure.BindNull(4);
    if (f.scanGroup) failure.Bind(5, std::int64_t{*f.scanGroup});
    else failure.BindNull(5);
    failure.Bind(6, f.text).Bind(7, batchId).Run();
  }
  tx.Commit();
  ++batches_;
  samples_ += static_cast<std::int64_t>(batch.samples.size());
}

void SqliteHistory::Close() {
  if (!file_) return;
  std::unique_ptr<SqliteFile> file = std::move(file_);
  // The log folded into the file, so that the file alone holds everything.
  file->Exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

HistoryReader::HistoryReader(const std::string& path) : file_(path, true) {
  Statement version(file_, "PRAGMA user_version");
  const std::int64_t found = version.Step() ? version.Int(0) : 0;
  if (found != kHistorySchemaVersion)
    throw SinkError(path + ": not a history of this program (schema version " + std::to_string(found) + ")");
}

namespace {
constexpr std::int64_t kEarliest = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kLatest = std::numeric_limits<std::int64_t>::max();
}  // namespace

HistorySeries HistoryReader::Series(const std::string& tag, const HistoryWindow& window) const {
  HistorySeries series;
  Statement info(file_, "SELECT id, name, unit, description, control FROM tags WHERE name = ?1 COLLATE NOCASE "
                          "ORDER BY name = ?1 DESC, id LIMIT 1");
  info.Bind(1, tag);
  if (!info.Step()) throw SinkError(file_.Path() + ": no tag named " + tag);
  const std::int64_t id = info.Int(0);
  series.tag = info.Text(1);
  series.unit = info.Text(2);
  series.description = info.Text(3);
  series.control = info.Text(4);
  Statement samples(file_,
                    "SELECT time_us, value, quality, error FROM samples WHERE tag_id = ?1 AND time_us BETWEEN ?2 AND ?3 "
                    "ORDER BY time_us, rowid");
  const std::int64_t from = window.fromUs.value_or(kEarliest), to = window.toUs.value_or(kLatest);
  samples.Bind(1, id).Bind(2, from).Bind(3, to);
  auto point = [](const Statement& row) {
    HistoryPoint p;
    p.timeUs = row.Int(0);
    if (row.Text(2) == "good" && !row.IsNull(1)) p.value = row.Real(1);
    else p.error = row.Text(3);
    return p;
  };
  // A value holds until the next sample: the window starts with the one held at its start (a
  // tag logged on change may have no sample of its own for hours).
  std::optional<HistoryPoint> held;
  if (window.fromUs) {
    Statement before(file_,
                     "SELECT time_us, value, quality, error FROM samples WHERE tag_id = ?1 AND time_us < ?2 "
                     "ORDER BY time_us DESC, rowid DESC LIMIT 1");
    before.Bind(1, id).Bind(2, from);
    if (before.Step()) {
      held = point(before);
      held->timeUs = from;
    }
  }
  // Read one row at a time into the reducer: a long history is never held whole.
  SeriesReducer reduced(from, to, window.fromUs && window.toUs ? window.columns : 0);
  while (samples.Step()) {
    HistoryPoint p = point(samples);
    if (held && p.timeUs > from) reduced.Add(std::move(*held));
    held.reset();
    reduced.Add(std::move(p));
  }
  if (held) reduced.Add(std::move(*held));
  series.points = reduced.Take();
  return series;
}

std::optional<std::pair<std::int64_t, std::int64_t>> HistoryReader::Span(const std::vector<std::string>& tags,
                                                                         const std::vector<std::string>& controls,
                                                                         const HistoryWindow& window) const {
  const std::int64_t from = window.fromUs.value_or(kEarliest), to = window.toUs.value_or(kLatest);
  std::optional<std::pair<std::int64_t, std::int64_t>> span;
  auto widen = [&](Statement& q) {
    if (q.Step() && !q.IsNull(0)) {
      const std::int64_t first = q.Int(0), last = q.Int(1);
      span = span ? std::make_pair(std::min(span->first, first), std::max(span->second, last))
                  : std::make_pair(first, last);
    }
    q.Reset();
  };
  Statement samples(file_,
                    "SELECT min(s.time_us), max(s.time_us) FROM samples s JOIN tags t ON t.id = s.tag_id "
                    "WHERE t.name = ?1 COLLATE NOCASE AND s.time_us BETWEEN ?2 AND ?3");
  for (const std::string& tag : tags) {
    samples.Bind(1, tag).Bind(2, from).Bind(3, to);
    widen(samples);
  }
  Statement failures(file_,
                     "SELECT min(time_us), max(time_us) FROM failures "
                     "WHERE control = ?1 COLLATE NOCASE AND time_us BETWEEN ?2 AND ?3");
  for (const std::string& control : controls) {
    failures.Bind(1, control).Bind(2, from).Bind(3, to);
    widen(failures);
  }
  return span;
}

std::string HistoryReader::ControlOf(const std::string& tag) const {
  Statement q(file_, "SELECT control FROM tags WHERE name = ?1 COLLATE NOCASE ORDER BY name = ?1 DESC, id LIMIT 1");
  q.Bind(1, tag);
  return q.Step() ? q.Text(0) : std::string();
}

std::vector<HistoryFailure> HistoryReader::Failures(const std::vector<std::string>& controls,
                                                    const HistoryWindow& window) const {
  std::vector<HistoryFailure> out;
  // The gateway matches control names without regard to case; so does the picture.
  Statement q(file_,
              "SELECT time_us, kind, control, text FROM failures WHERE control = ?1 COLLATE NOCASE "
              "AND time_us BETWEEN ?2 AND ?3 ORDER BY time_us, id LIMIT ?4");
  for (const std::string& c : controls) {
    q.Bind(1, c).Bind(2, window.fromUs.value_or(kEarliest)).Bind(3, window.toUs.value_or(kLatest));
    q.Bind(4, std::int64_t{kMaxFailures});
    while (q.Step()) out.push_back({q.Int(0), q.Text(1), q.Text(2), q.Text(3)});
    q.Reset();
  }
  std::sort(out.begin(), out.end(), [](const HistoryFailure& a, const HistoryFailure& b) { return a.timeUs < b.timeUs; });
  if (out.size() > static_cast<std::size_t>(kMaxFailures)) out.resize(kMaxFailures);
  return out;
}

}  // namespace plc::logger
