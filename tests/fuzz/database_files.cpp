// The tag and scan database files. Input: the text of tags.csv, then after a NUL byte the text
// of scan.csv (no NUL: no scan file). Checking never raises; every refusal names a line of its
// file; a check without refusals loads, and every tag then resolves to its address within the
// tables' bounds; the CSV records read back the same once written again field by field.
// fuzz-libs: plcframe
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/CsvRecords.h"
#include "frame/DatabaseFiles.h"

namespace {

// Lines as the reader counts them: ended by LF, CRLF or a lone CR.
int Lines(std::string_view text) {
  int lines = 1;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) ++lines;
  return lines;
}

void CheckRoundTrip(std::string_view text) {
  const plc::CsvRead read = plc::ReadCsvRecords(text);
  if (read.error && (read.error->line < 1 || read.error->line > Lines(text))) std::abort();
  if (!read.error) {
    // A record after the last stands on the text's last line, however the lines before it
    // broke (inside quoted fields too).
    const std::string more = std::string(text) + "\nlast";
    const plc::CsvRead after = plc::ReadCsvRecords(more);
    if (after.error || after.records.empty() || after.records.back().line != Lines(more)) std::abort();
  }
  std::string again;
  for (const plc::CsvRecord& r : read.records) {
    for (std::size_t k = 0; k < r.fields.size(); ++k) again += (k ? "," : "") + plc::CsvField(r.fields[k]);
    again += "\n";
  }
  const plc::CsvRead reread = plc::ReadCsvRecords(again);
  if (reread.error || reread.records.size() != read.records.size()) std::abort();
  for (std::size_t i = 0; i < read.records.size(); ++i)
    if (reread.records[i].fields != read.records[i].fields) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto cut = input.find('\0');
  const std::string_view tags = input.substr(0, cut);
  const std::optional<std::string_view> scan =
      cut == std::string_view::npos ? std::nullopt : std::optional<std::string_view>(input.substr(cut + 1));
  CheckRoundTrip(tags);

  const plc::DatabaseFiles files = plc::ParseDatabaseFiles(tags, scan);
  for (const plc::DatabaseRefusal& r : files.refusals) {
    const std::string_view text = r.file == plc::kTagFileName ? tags : scan.value_or("");
    if (r.line < 0 || r.line > Lines(text) || r.reason.empty()) std::abort();
  }
  plc::TagDatabase tagTable;
  plc::ScanDatabase scanTable;
  const plc::DatabaseLoad load = plc::InstallDatabases(files, tagTable, scanTable);
  if (load.loaded != files.refusals.empty()) std::abort();
  if (!load.loaded) return 0;
  if (files.tags.size() > static_cast<std::size_t>(plc::kMaxTags)) std::abort();
  for (const plc::TagRow& t : files.tags) {
    if (plc::TagAddressFromName(plc::Variant(t.name), tagTable).ToString() != t.address) std::abort();
    if (t.scan != 0 && (t.element < 1 || t.element + plc::ElementsOf(t.ioType) - 1 > scanTable.Group(t.scan).count))
      std::abort();
  }
  for (const plc::ScanRow& g : files.groups) {
    if (g.index < 1 || g.index > plc::ScanDatabase::kLastGroup) std::abort();
    if (g.group.count < 1 || g.group.period < 0) std::abort();
    if (g.index > scanTable.ScanGroupCount.ToInt32()) std::abort();
  }
  return 0;
}
