// The SQLite history: batches committed whole, tags kept by name across runs, the schema
// version guarded, and what the trend reads back.
#include "logger/SqliteHistory.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "tests/platform/TempFolder.h"

namespace plc::logger {
namespace {

std::vector<TagInfo> TwoTags() {
  return {TagInfo{"Press.Temp", "Press", "40001", "Platen", "°C", "int", 0.1, 0, 0.5, true},
          TagInfo{"Line.Count", "Line", "V,2001", "", "", "word", 1, 0, std::nullopt, false}};
}

std::int64_t Count(const std::string& path, const std::string& sql) {
  SqliteFile file(path, true);
  Statement q(file, sql.c_str());
  return q.Step() ? q.Int(0) : -1;
}

TEST(SqliteHistory, BatchesAreCommittedWholeAndReadBack) {
  testing::TempFolder folder;
  const std::string path = folder.File("plant.db");
  {
    SqliteHistory history(path, TwoTags());
    Batch b;
    b.samples = {{0, 1'000'000, 21.5, Quality::Good, {}}, {1, 1'000'000, 7, Quality::Good, {}}};
    history.Write(b);
    Batch bad;
    bad.samples = {{1, 2'000'000, std::nullopt, Quality::Bad, "no reply within 2 s"}};
    bad.failures = {{2'000'000, FailureKind::Failed, "Line", std::nullopt, 3, "no reply within 2 s"}};
    history.Write(bad);
    history.Write(Batch{});  // nothing: no batch row
    EXPECT_EQ(history.Batches(), 2);
    EXPECT_EQ(history.Samples(), 3);
    history.Close();
  }
  EXPECT_EQ(Count(path, "PRAGMA user_version"), kHistorySchemaVersion);
  EXPECT_EQ(Count(path, "SELECT count(*) FROM batches"), 2);
  EXPECT_EQ(Count(path, "SELECT sum(samples) FROM batches"), Count(path, "SELECT count(*) FROM samples"));
  EXPECT_EQ(Count(path, "SELECT count(*) FROM failures WHERE kind = 'failed' AND scan_group = 3"), 1);
  EXPECT_FALSE(std::filesystem::exists(path + "-wal") && std::filesystem::file_size(path + "-wal") > 0)
      << "the log is folded into the file on close";

  HistoryReader reader(path);
  const HistorySeries count = reader.Series("line.count");
  EXPECT_EQ(count.tag, "Line.Count");
  EXPECT_EQ(count.control, "Line");
  ASSERT_EQ(count.points.size(), 2u);
  EXPECT_EQ(count.points[0].value, 7);
  EXPECT_FALSE(count.points[1].value);
  EXPECT_EQ(count.points[1].error, "no reply within 2 s");
  EXPECT_EQ(reader.Series("Press.Temp").unit, "°C");
  ASSERT_EQ(reader.Failures({"Line"}).size(), 1u);
  EXPECT_TRUE(reader.Failures({"Press"}).empty());
  EXPECT_THROW(reader.Series("Nothing"), SinkError);
  EXPECT_EQ(reader.Failures({"LINE"}).size(), 1u) << "control names compared as the gateway does";
}

// The picture reads a window of a long history: samples within it, a few per column, and the
// span of what is logged there.
TEST(SqliteHistory, AWindowIsReadInAFewSamplesPerColumn) {
  testing::TempFolder folder;
  const std::string path = folder.File("plant.db");
  {
    SqliteHistory history(path, TwoTags());
    Batch b;
    for (std::int64_t t = 0; t < 20000; ++t) b.samples.push_back({0, t * 1000, static_cast<double>(t % 7), Quality::Good, {}});
    b.failures = {{5'000'000, FailureKind::Failed, "Press", std::nullopt, 1, "no reply"},
                  {15'000'000, FailureKind::Recovered, "Press", std::nullopt, 1, "read again"}};
    history.Write(b);
    history.Close();
  }
  HistoryReader reader(path);
  const auto all = reader.Span({"press.temp"}, {"press"});
  ASSERT_TRUE(all);
  EXPECT_EQ(all->first, 0);
  EXPECT_EQ(all->second, 19'999'000);
  HistoryWindow window{std::int64_t{4'000'000}, std::int64_t{6'000'000}, 50};
  const auto part = reader.Span({"Press.Temp"}, {"Press"}, window);
  ASSERT_TRUE(part);
  EXPECT_EQ(part->first, 4'000'000);
  EXPECT_EQ(part->second, 6'000'000);
  const HistorySeries series = reader.Series("Press.Temp", window);
  EXPECT_LE(series.points.size(), 5u * 51u) << "2001 samples in the window";
  EXPECT_GT(series.points.size(), 50u);
  EXPECT_EQ(series.points.front().timeUs, 4'000'000);
  EXPECT_EQ(series.points.back().timeUs, 6'000'000);
  const auto failures = reader.Failures({"Press"}, window);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].kind, "failed");
  EXPECT_FALSE(reader.Span({"Press.Temp"}, {}, HistoryWindow{std::int64_t{30'000'000}, std::nullopt, 0}));
}

// A value holds until the next sample (a tag with a deadband is logged only when it moves): a
// window that starts after a sample starts with that sample's value, or its failure, not with
// nothing until the window's first sample.
TEST(SqliteHistory, AWindowStartsWithTheValueHeldAtItsStart) {
  testing::TempFolder folder;
  const std::string path = folder.File("plant.db");
  {
    SqliteHistory history(path, TwoTags());
    Batch b;
    b.samples = {{0, 1'000'000, 21.5, Quality::Good, {}},
                 {0, 9'000'000, 22.0, Quality::Good, {}},
                 {1, 2'000'000, 7, Quality::Good, {}},
                 {1, 3'000'000, std::nullopt, Quality::Bad, "no reply within 2 s"},
                 {1, 8'000'000, 8, Quality::Good, {}}};
    history.Write(b);
    history.Close();
  }
  HistoryReader reader(path);
  for (int columns : {0, 50}) {
    const HistoryWindow window{std::int64_t{5'000'000}, std::int64_t{10'000'000}, columns};
    const HistorySeries temp = reader.Series("Press.Temp", window);
    ASSERT_EQ(temp.points.size(), 2u) << columns;
    EXPECT_EQ(temp.points[0].timeUs, 5'000'000) << "held from the window's start";
    EXPECT_EQ(temp.points[0].value, 21.5);
    EXPECT_EQ(temp.points[1].timeUs, 9'000'000);
    const HistorySeries count = reader.Series("Line.Count", window);
    ASSERT_EQ(count.points.size(), 2u) << columns;
    EXPECT_EQ(count.points[0].timeUs, 5'000'000);
    EXPECT_FALSE(count.points[0].value) << "bad since before the window";
    EXPECT_EQ(count.points[0].error, "no reply within 2 s");
    EXPECT_EQ(count.points[1].value, 8);
  }
  // A window of no sample of its own still shows the value held through it.
  const HistorySeries quiet = reader.Series("Press.Temp", HistoryWindow{std::int64_t{2'000'000}, std::int64_t{4'000'000}, 50});
  ASSERT_EQ(quiet.points.size(), 1u);
  EXPECT_EQ(quiet.points[0].timeUs, 2'000'000);
  EXPECT_EQ(quiet.points[0].value, 21.5);
  // A sample at the window's start is that value, once.
  const HistorySeries exact = reader.Series("Press.Temp", HistoryWindow{std::int64_t{1'000'000}, std::nullopt, 0});
  ASSERT_EQ(exact.points.size(), 2u);
  EXPECT_EQ(exact.points[0].timeUs, 1'000'000);
  // Before the first sample there is nothing to hold.
  EXPECT_TRUE(reader.Series("Press.Temp", HistoryWindow{std::int64_t{0}, std::int64_t{500'000}, 50}).points.empty());
}

TEST(SqliteHistory, ATagKeepsItsIdAcrossRuns) {
  testing::TempFolder folder;
  const std::string path = folder.File("plant.db");
  {
    SqliteHistory first(path, TwoTags());
    Batch b;
    b.samples = {{1, 1, 5, Quality::Good, {}}};
    first.Write(b);
  }
  auto tags = TwoTags();
  std::swap(tags[0], tags[1]);  // another order, Line.Count now first
  tags[0].unit = "parts";
  SqliteHistory second(path, tags);
  Batch b;
  b.samples = {{0, 2, 6, Quality::Good, {}}};
  second.Write(b);
  second.Close();
  HistoryReader reader(path);
  const HistorySeries count = reader.Series("Line.Count");
  ASSERT_EQ(count.points.size(), 2u) << "both runs' samples are the same tag's";
  EXPECT_EQ(count.unit, "parts");
}

// Tag names are one name whatever their case (the tag file, the gateway and the trend say so):
// a tag file that writes a name in another case keeps the tag's id and its history.
TEST(SqliteHistory, ATagWrittenInAnotherCaseKeepsItsIdAndHistory) {
  testing::TempFolder folder;
  const std::string path = folder.File("plant.db");
  {
    SqliteHistory first(path, TwoTags());
    Batch b;
    b.samples = {{0, 1, 20, Quality::Good, {}}};
    first.Write(b);
  }
  auto tags = TwoTags();
  tags[0].name = "PRESS.TEMP";
  {
    SqliteHistory second(path, tags);
    Batch b;
    b.samples = {{0, 2, 30, Quality::Good, {}}};
    second.Write(b);
    second.Close();
  }
  EXPECT_EQ(Count(path, "SELECT count(*) FROM tags"), 2);
  HistoryReader reader(path);
  const HistorySeries temp = reader.Series("Press.Temp");
  EXPECT_EQ(temp.tag, "PRESS.TEMP") << "the name as the tag file writes it now";
  ASSERT_EQ(temp.points.size(), 2u) << "both runs' samples are the same tag's";
  EXPECT_EQ(temp.points[0].value, 20);
  EXPECT_EQ(temp.points[1].value, 30);
}

TEST(SqliteHistory, AFileItCannotUseIsRefusedWithItsName) {
  testing::TempFolder folder;
  testing::WriteRaw(folder.File("text.db"), "this is no database, not even close to one at all........");
  try {
    SqliteHistory h(folder.File("text.db"), TwoTags());
    FAIL() << "a text file is no history";
  } catch (const SinkError& e) {
    EXPECT_NE(std::string(e.what()).find(folder.File("text.db")), std::string::npos) << e.what();
  }
  {
    SqliteFile newer(folder.File("newer.db"), false);
    newer.Exec("PRAGMA user_version=2");
  }
  try {
    SqliteHistory h(folder.File("newer.db"), TwoTags());
    FAIL() << "a newer schema is refused";
  } catch (const SinkError& e) {
    EXPECT_NE(std::string(e.what()).find("schema version 2 is newer"), std::string::npos) << e.what();
  }
  EXPECT_THROW(SqliteHistory(folder.File("no/such/folder.db"), TwoTags()), SinkError);
}

TEST(SqliteHistory, AFailedBatchLeavesNothingOfIt) {
  testing::TempFolder folder;
  const std::string path = folder.File("plant.db");
  SqliteHistory history(path, TwoTags());
  Batch b;
  b.samples = {{0, 1, 1, Quality::Good, {}}, {7, 1, 1, Quality::Good, {}}};  // tag 7 is none
  EXPECT_THROW(history.Write(b), SinkError);
  history.Close();
  EXPECT_EQ(Count(path, "SELECT count(*) FROM samples"), 0);
  EXPECT_EQ(Count(path, "SELECT count(*) FROM batches"), 0);
}

}  // namespace
}  // namespace plc::logger
