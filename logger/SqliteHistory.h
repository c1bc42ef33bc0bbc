#pragma once
// The plant's history in one SQLite file: the tags, their samples with time and quality, the
// failures with their text, and a row per committed batch. The schema is in the README
// ("The history database"); its version is the file's user_version.
//
// SqliteHistory is the sink: the file in WAL mode, each batch one transaction (its samples, its
// failures and its batch row together), a checkpoint on Close. A process killed at any moment
// leaves a file that opens and passes PRAGMA integrity_check, holding every batch whose commit
// returned and nothing of the one in progress. synchronous=NORMAL: a power cut, unlike a killed
// process, may take the last batches committed before it.
//
// HistoryReader reads it back for the trend picture.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "logger/Sink.h"

struct sqlite3;
struct sqlite3_stmt;

namespace plc::logger {

inline constexpr int kHistorySchemaVersion = 1;
// How long a batch's write waits for another writer that holds the file (ms).
inline constexpr int kWriteBusyMs = 50;

// One open database, closed with it. Errors are SinkError with the file and SQLite's text.
class SqliteFile {
 public:
  SqliteFile(const std::string& path, bool readOnly);
  ~SqliteFile();
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  sqlite3* Handle() const { return db_; }
  const std::string& Path() const { return path_; }
  // Runs statements that return no rows.
  void Exec(const std::string& sql);
  // errnoAfter: errno as the failed call left it, where the system refused a read or write.
  [[noreturn]] void Fail(const std::string& what, int errnoAfter = 0) const;

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
};

// A prepared statement, finalized with it.
class Statement {
 public:
  Statement(const SqliteFile& file, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, double value);
  Statement& Bind(int index, const std::string& text);
  Statement& BindNull(int index);
  // Steps once: true while a row is there.
  bool Step();
  // Steps to the end of a statement that returns no rows, then resets it for the next binds.
  void Run();
  // Ready for the next binds (a statement stepped past its end would run again).
  void Reset();
  std::int64_t Int(int column) const;
  double Real(int column) const;
  bool IsNull(int column) const;
  std::string Text(int column) const;

 private:
  const SqliteFile& file_;
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteHistory final : public Sink {
 public:
  // Opens (or creates) the file and records the tags; SinkError when it cannot, or when the
  // file holds a newer schema or is no SQLite database.
  SqliteHistory(const std::string& path, const std::vector<TagInfo>& tags);
  ~SqliteHistory() override;

  // One transaction; SinkError (nothing of the batch stored) when it fails or when the path no
  // longer names the file opened (deleted, or replaced by another), SinkBusy when another
  // writer held the file beyond kWriteBusyMs (the batch may be written again later).
  void Write(const Batch& batch) override;
  // Each batch is committed when written; nothing waits here.
  void Flush() override {}
  // Checkpoints the write-ahead log into the file and closes it.
  void Close() override;

  const std::string& Path() const { return path_; }
  std::int64_t Batches() const { return batches_; }
  std::int64_t Samples() const { return samples_; }

 private:
  std::string path_;
  std::unique_ptr<SqliteFile> file_;
  std::vector<std::int64_t> tagIds_;  // database id of each tag, by the gateway's index
  // The file opened, by device and inode: SQLite goes on writing a file deleted under it, and
  // everything written from then on goes with it when it closes.
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
  std::int64_t batches_ = 0;
  std::int64_t samples_ = 0;
};

struct HistoryPoint {
  std::int64_t timeUs = 0;
  std::optional<double> value;  // none: a bad sample
  std::string error;
};

struct HistorySeries {
  std::string tag;
  std::string control;
  std::string unit;
  std::string description;
  std::vector<HistoryPoint> points;  // in time order
};

struct HistoryFailure {
  std::int64_t timeUs = 0;
  std::string kind;
  std::string control;
  std::string text;
};

// The part of a history read: a time range (each end optional), and the columns of the picture
// it is read for (0: every sample; else a few samples per column, see SeriesReducer).
struct HistoryWindow {
  std::optional<std::int64_t> fromUs;
  std::optional<std::int64_t> toUs;
  int columns = 0;
};

class HistoryReader {
 public:
  // A picture marks at most this many failures (the first in the window).
  static constexpr int kMaxFailures = 2000;

  explicit HistoryReader(const std::string& path);
  // The tag's samples in time order within the window, reduced to its columns once both ends are
  // given; SinkError naming the tag when the file has no such tag.
  HistorySeries Series(const std::string& tag, const HistoryWindow& window = {}) const;
  // The first and last time of a sample of these tags or a failure of these controls within the
  // window; none when there is none.
  std::optional<std::pair<std::int64_t, std::int64_t>> Span(const std::vector<std::string>& tags,
                                                           const std::vector<std::string>& controls,
                                                           const HistoryWindow& window = {}) const;
  // The failures of these controls (names compared without regard to case) within the window,
  // in time order, at most kMaxFailures.
  std::vector<HistoryFailure> Failures(const std::vector<std::string>& controls,
                                       const HistoryWindow& window = {}) const;
  std::string ControlOf(const std::string& tag) const;

 private:
  SqliteFile file_;
};

}  // namespace plc::logger
