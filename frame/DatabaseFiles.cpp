#include "frame/DatabaseFiles.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "base/OctalText.h"
#include "frame/Configuration.h"
#include "base/CsvRecords.h"
#include "base/Dispatch.h"
#include "base/ResultCodes.h"

namespace plc {

namespace {

constexpr std::size_t kMaxNameBytes = 64;
constexpr std::size_t kMaxAddressBytes = 64;
constexpr std::size_t kMaxUnitBytes = 32;

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}


std::optional<std::int64_t> Whole(const std::string& text) {
  std::string_view v = text;
  if (!v.empty() && v.front() == '+') v.remove_prefix(1);
  std::int64_t n = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  if (v.empty() || ec != std::errc() || end != v.data() + v.size()) return std::nullopt;
  return n;
}

std::optional<double> Number(const std::string& text) {
  std::string_view v = text;
  if (!v.empty() && v.front() == '+') v.remove_prefix(1);
  double d = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), d);
  if (v.empty() || ec != std::errc() || end != v.data() + v.size() || !std::isfinite(d)) return std::nullopt;
  return d;
}

std::optional<bool> YesNo(const std::string& text) {
  const std::string v = Lower(text);
  if (v == "yes" || v == "true" || v == "1" || v == "-1" || v == "on" || v == "y") return true;
  if (v == "no" || v == "false" || v == "0" || v == "off" || v == "n") return false;
  return std::nullopt;
}

// A tag name: a letter or "_" first, then letters, digits, "_", "." and "-". Such a name is
// never taken for an address by any control, and is a topic level as it stands.
bool ValidTagName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameBytes) return false;
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!letter(name.front())) return false;
  return std::all_of(name.begin(), name.end(), [&](char c) {
    return letter(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
  });
}

// No control characters; lineBreaks allows line feeds and tabs (a description a spreadsheet
// cell wrapped).
bool Printable(const std::string& text, bool lineBreaks = false) {
  return std::none_of(text.begin(), text.end(), [lineBreaks](char c) {
    return static_cast<unsigned char>(c) < 0x20 && !(lineBreaks && (c == '\n' || c == '\t'));
  });
}

// A control's section name in a plant document: one line, no "]".
bool ValidControlName(const std::string& name) {
  return name.size() <= kMaxNameBytes && Printable(name) && name.find(']') == std::string::npos;
}

struct Column {
  const char* name;
  bool required;
};

const Column kTagColumns[] = {{"name", true},     {"description", false}, {"control", false}, {"address", true},
                              {"iotype", false},  {"scan", false},        {"element", false}, {"bit", false},
                              {"scale", false},   {"offset", false},      {"unit", false},    {"deadband", false},
                              {"writable", false}};
const Column kScanColumns[] = {{"index", true},   {"group", false},   {"control", false}, {"unit", false},
                               {"address", true}, {"count", true},    {"period", true},   {"enabled", false},
                               {"skip", false}};

// One file: its records after the format and header records, each field under its column.
class FileReader {
 public:
  FileReader(std::string path, std::vector<DatabaseRefusal>& refusals) : path_(std::move(path)), refusals_(refusals) {}

  void Refuse(int line, std::string reason) { refusals_.push_back({path_, line, std::move(reason)}); }

  // False when the file cannot be read as a table (its refusals given).
  template <std::size_t N>
  bool Open(std::string_view text, std::string_view kind, const Column (&columns)[N]) {
    if (text.find('\0') != std::string_view::npos) {
      Refuse(0, "a NUL byte: this is not a text file");
      return false;
    }
    read_ = ReadCsvRecords(text);
    if (read_.error) {
      Refuse(read_.error->line, read_.error->reason);
      return false;
    }
    std::size_t i = 0;
    auto next = [&]() -> const CsvRecord* {
      while (i < read_.records.size()) {
        const CsvRecord& r = read_.records[i++];
        if (r.Blank() || Trim(r.fields.front()).starts_with('#')) continue;
        return &r;
      }
      return nullptr;
    };
    const CsvRecord* format = next();
    const std::string wanted = "plclink-" + std::string(kind);
    if (!format || !NamesEqual(Trim(format->fields[0]), wanted)) {
      Refuse(format ? format->line : 0, "the first record must be '" + wanted + "," +
                                            std::to_string(kDatabaseFormatVersion) + "' (file kind and version)");
      return false;
    }
    const std::string version = format->fields.size() > 1 ? Trim(format->fields[1]) : std::string();
    if (Whole(version) != kDatabaseFormatVersion) {
      Refuse(format->line, "format version '" + version + "' is not one this program reads (it reads version " +
                               std::to_string(kDatabaseFormatVersion) + ")");
      return false;
    }
    const CsvRecord* header = next();
    if (!header) {
      Refuse(format->line, "no header record naming the columns after the format record");
      return false;
    }
    bool good = true;
    for (const std::string& field : header->fields) {
      const std::string name = Lower(Trim(field));
      names_.push_back(name);
      if (name.empty()) continue;
      const bool known = std::any_of(std::begin(columns), std::end(columns), [&](const Column& c) { return name == c.name; });
      if (!known) {
        Refuse(header->line, "unknown column '" + Trim(field) + "'");
        good = false;
      } else if (std::count(names_.begin(), names_.end(), name) > 1) {
        Refuse(header->line, "column '" + name + "' named twice");
        good = false;
      }
    }
    for (const Column& c : columns) {
      if (c.required && std::find(names_.begin(), names_.end(), c.name) == names_.end()) {
        Refuse(header->line, std::string("no column '") + c.name + "'");
        good = false;
      }
    }
    while (const CsvRecord* r = next()) rows_.push_back(r);
    return good;
  }

  const std::vector<const CsvRecord*>& Rows() const { return rows_; }

  // The trimmed field of a row under the column (empty when the row is shorter).
  std::string Field(const CsvRecord& row, std::string_view column) const {
    for (std::size_t k = 0; k < names_.size() && k < row.fields.size(); ++k)
      if (names_[k] == column) return Trim(row.fields[k]);
    return {};
  }

  // Values under no column: a spreadsheet pads rows with empty cells, but a value there is a
  // mistake (a missing header cell, a stray comma).
  void CheckUnnamed(const CsvRecord& row) {
    for (std::size_t k = 0; k < row.fields.size(); ++k) {
      if (Trim(row.fields[k]).empty() || (k < names_.size() && !names_[k].empty())) continue;
      Refuse(row.line, "a value in column " + std::to_string(k + 1) + ", which the header does not name");
      return;
    }
  }

 private:
  std::string path_;
  std::vector<DatabaseRefusal>& refusals_;
  CsvRead read_;
  std::vector<std::string> names_;
  std::vector<const CsvRecord*> rows_;
};

// The checks of one record's fields: each failed one is refused with the column named.
class RowChecker {
 public:
  RowChecker(FileReader& file, const CsvRecord& row) : file_(file), row_(row) { file_.CheckUnnamed(row); }

  std::string Text(std::string_view column) const { return file_.Field(row_, column); }
  bool Good() const { return good_; }
  void Refuse(std::string reason) {
    file_.Refuse(row_.line, std::move(reason));
    good_ = false;
  }

  // A whole number in low..high; fallback when the field is empty (nullopt: it is required).
  std::int32_t Whole(std::string_view column, std::int64_t low, std::int64_t high,
                     std::optional<std::int32_t> fallback) {
    const std::string text = Text(column);
    if (text.empty()) {
      if (fallback) return *fallback;
      Refuse(std::string(column) + " is empty");
      return 0;
    }
    const auto n = plc::Whole(text);
    if (!n || *n < low || *n > high) {
      Refuse(std::string(column) + " '" + text + "' is not a whole number from " + std::to_string(low) + " to " +
             std::to_string(high));
      return 0;
    }
    return static_cast<std::int32_t>(*n);
  }

  std::optional<double> Number(std::string_view column) {
    const std::string text = Text(column);
    if (text.empty()) return std::nullopt;
    const auto d = plc::Number(text);
    if (!d) Refuse(std::string(column) + " '" + text + "' is not a number");
    return d;
  }

  bool YesNo(std::string_view column, bool fallback) {
    const std::string text = Text(column);
    if (text.empty()) return fallback;
    const auto b = plc::YesNo(text);
    if (!b) Refuse(std::string(column) + " '" + text + "' is neither yes nor no");
    return b.value_or(fallback);
  }

  std::string Bounded(std::string_view column, std::size_t limit, bool lineBreaks = false) {
    std::string text = Text(column);
    if (text.size() > limit) Refuse(std::string(column) + " is longer than " + std::to_string(limit) + " bytes");
    else if (!Printable(text, lineBreaks)) Refuse(std::string(column) + " holds a control character");
    return text;
  }

 private:
  FileReader& file_;
  const CsvRecord& row_;
  bool good_ = true;
};

void CheckScanRows(FileReader& file, std::vector<ScanRow>& out) {
  std::map<std::int32_t, int> seen;  // index -> line
  for (const CsvRecord* r : file.Rows()) {
    RowChecker row(file, *r);
    ScanRow s;
    s.line = r->line;
    s.index = row.Whole("index", 1, ScanDatabase::kLastGroup, std::nullopt);
    ScanGroup& g = s.group;
    g.group = static_cast<std::int16_t>(row.Whole("group", -32768, 32767, s.index));
    g.control = row.Bounded("control", kMaxNameBytes);
    if (!ValidControlName(g.control)) row.Refuse("control '" + g.control + "' cannot be a section name");
    g.unit = static_cast<std::int16_t>(row.Whole("unit", -1, 32767, -1));
    const std::string address = row.Bounded("address", kMaxAddressBytes);
    if (address.empty()) row.Refuse("address is empty");
    // Digits alone are a number, as RtuLink reads a group's address; anything else is text.
    const auto numeric = plc::Whole(address);
    g.address = numeric && *numeric >= 0 && *numeric <= INT32_MAX ? Variant(static_cast<std::int32_t>(*numeric))
                                                                 : Variant(address);
    g.count = static_cast<std::int16_t>(row.Whole("count", 1, 1000, std::nullopt));
    g.period = static_cast<std::int16_t>(row.Whole("period", 0, 32767, std::nullopt));
    g.enabled = row.YesNo("enabled", true) ? True : False;
    g.skip = static_cast<std::int16_t>(row.Whole("skip", -32768, 32767, 0));
    if (s.index > 0) {
      if (auto [it, fresh] = seen.emplace(s.index, s.line); !fresh)
        row.Refuse("index " + std::to_string(s.index) + " already used on line " + std::to_string(it->second));
    }
    if (row.Good()) out.push_back(std::move(s));
  }
}

// The loader counts a group's registers in decimal, as register numbers count; SeqLink and UdpLink
// over ECOM read a number as an octal V-memory address. A tag right in that reading is told so.
std::string OctalReadingHint(const std::string& groupAddress, std::int32_t element, const std::string& tagAddress) {
  const auto first = OctalValue(groupAddress);
  const auto own = OctalValue(tagAddress);
  if (!first || !own || *own != *first + element - 1) return {};
  return " (counting in decimal; for a control that reads numbers as octal V-memory addresses, as SeqLink and "
         "UdpLink over ECOM do, it is the right one: give it as V," + tagAddress + ")";
}

void CheckTagRows(FileReader& file, const std::vector<ScanRow>& groups, bool scanFile, std::vector<TagRow>& out) {
  std::map<std::string, int> seen;  // lower-case name -> line
  std::int32_t counted = 0;
  for (const CsvRecord* r : file.Rows()) {
    RowChecker row(file, *r);
    if (++counted > kMaxTags) {
      row.Refuse("more than " + std::to_string(kMaxTags) + " tags: the tag table holds " + std::to_string(kMaxTags));
      continue;
    }
    TagRow t;
    t.line = r->line;
    t.name = row.Text("name");
    if (!ValidTagName(t.name)) {
      row.Refuse("name '" + t.name +
                 "' is not a tag name (a letter or _ first, then letters, digits, _ . -; at most 64)");
    } else if (auto [it, fresh] = seen.emplace(Lower(t.name), t.line); !fresh) {
      row.Refuse("name '" + t.name + "' already used on line " + std::to_string(it->second));
    }
    t.description = row.Bounded("description", kMaxFieldBytes, true);
    t.control = row.Bounded("control", kMaxNameBytes);
    if (!ValidControlName(t.control)) row.Refuse("control '" + t.control + "' cannot be a section name");
    t.address = row.Bounded("address", kMaxAddressBytes);
    if (t.address.empty()) row.Refuse("address is empty");
    const std::string ioType = row.Text("iotype");
    if (auto type = ParseTagIoType(ioType.empty() ? "word" : ioType)) {
      t.ioType = *type;
    } else {
      row.Refuse("iotype '" + ioType + "' is none of word, int, bcd, bit, long, long-le, float, float-le, fixed");
    }
    t.scan = row.Whole("scan", 1, ScanDatabase::kLastGroup, 0);
    t.element = row.Whole("element", 1, 1000, 0);
    t.bit = row.Whole("bit", 0, 15, -1);
    if (t.ioType == TagIoType::Bit && t.bit < 0) row.Refuse("iotype bit needs the bit (0 to 15)");
    if (t.ioType != TagIoType::Bit && t.bit >= 0) row.Refuse("bit is given, but iotype is not bit");
    t.scale = row.Number("scale").value_or(1);
    if (t.scale == 0) row.Refuse("scale is 0: every value would read 0");
    t.offset = row.Number("offset").value_or(0);
    t.unit = row.Bounded("unit", kMaxUnitBytes);
    t.deadband = row.Number("deadband");
    if (t.deadband && *t.deadband < 0) row.Refuse("deadband is negative");
    t.writable = row.YesNo("writable", false);
    if (t.writable && ElementsOf(t.ioType) != 1)
      row.Refuse(std::string("a writable tag is one register written whole (word, int or bcd), not ") +
                 TagIoTypeName(t.ioType));
    if (t.writable && t.ioType == TagIoType::Bit)
      row.Refuse("a writable tag is one register written whole (word, int or bcd), not one bit of it");

    if (t.scan == 0 && t.element != 0) row.Refuse("element is given, but no scan group");
    if (t.scan != 0) {
      const auto group = std::find_if(groups.begin(), groups.end(), [&](const ScanRow& g) { return g.index == t.scan; });
      if (!scanFile) {
        row.Refuse("scan group " + std::to_string(t.scan) + " named, but there is no " + kScanFileName);
      } else if (group == groups.end()) {
        row.Refuse("scan group " + std::to_string(t.scan) + " is not in " + kScanFileName);
      } else {
        if (t.element == 0) row.Refuse("element is empty: the tag's place in scan group " + std::to_string(t.scan));
        const std::int32_t last = t.element + ElementsOf(t.ioType) - 1;
        if (t.element != 0 && last > group->group.count)
          row.Refuse("element " + std::to_string(t.element) + (ElementsOf(t.ioType) > 1 ? " and the next" : "") +
                     " beyond the " + std::to_string(group->group.count) + " values scan group " +
                     std::to_string(t.scan) + " reads");
        // A writable tag is read as its element of the group but written at its own address:
        // where both are register numbers, they must be the same register.
        const auto own = plc::Whole(t.address);
        if (t.writable && t.element != 0 && own && group->group.address.IsNumeric()) {
          const std::int64_t read = std::int64_t{group->group.address.ToInt32()} + t.element - 1;
          if (*own != read)
            row.Refuse("writable tag at " + t.address + " is read from " + std::to_string(read) + " (element " +
                       std::to_string(t.element) + " of scan group " + std::to_string(t.scan) +
                       ") but would be written at " + t.address + ": one register for both" +
                       OctalReadingHint(group->group.address.ToString(), t.element, t.address));
        }
        if (t.control.empty()) {
          t.control = group->group.control;
        } else if (!NamesEqual(t.control, group->group.control)) {
          row.Refuse("control '" + t.control + "' is not the control of scan group " + std::to_string(t.scan) +
                     " ('" + group->group.control + "')");
        }
      }
    }
    if (row.Good()) out.push_back(std::move(t));
  }
}

// At most the limit and one byte more, so that a larger file (or an endless one) is told.
std::optional<std::string> ReadBounded(const std::string& path, std::vector<DatabaseRefusal>& refusals,
                                       bool& present) {
  std::error_code ec;
  present = std::filesystem::exists(path, ec);
  if (ec) {
    // Not known to be absent (a folder we may not search, say): that is no "no file".
    present = true;
    refusals.push_back({path, 0, "cannot be looked at: " + ec.message()});
    return std::nullopt;
  }
  if (!present) return std::nullopt;
  if (std::filesystem::is_directory(path, ec)) {
    refusals.push_back({path, 0, "cannot be read: it is a folder"});
    return std::nullopt;
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  std::string text(kMaxDatabaseFileBytes + 1, '\0');
  if (in) in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (!in && !in.eof()) {
    const int error = errno;
    refusals.push_back({path, 0, error != 0 ? "cannot be read: " + std::string(std::strerror(error)) : "cannot be read"});
    return std::nullopt;
  }
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxDatabaseFileBytes) {
    refusals.push_back({path, 0, "larger than " + std::to_string(kMaxDatabaseFileBytes / (1024 * 1024)) + " MiB"});
    return std::nullopt;
  }
  return text;
}

std::string InFolder(const std::string& folder, const char* file) {
  if (folder.empty()) return file;
  return folder.back() == '/' ? folder + file : folder + "/" + file;
}

}  // namespace

std::int32_t ElementsOf(TagIoType type) {
  switch (type) {
    case TagIoType::Long:
    case TagIoType::LongLowFirst:
    case TagIoType::Float:
    case TagIoType::FloatLowFirst:
    case TagIoType::Fixed:
      return 2;
    default:
      return 1;
  }
}

namespace {
struct IoTypeName {
  TagIoType type;
  const char* name;
};
constexpr IoTypeName kIoTypeNames[] = {
    {TagIoType::Word, "word"},         {TagIoType::Int, "int"},   {TagIoType::Bcd, "bcd"},
    {TagIoType::Bit, "bit"},           {TagIoType::Long, "long"}, {TagIoType::LongLowFirst, "long-le"},
    {TagIoType::Float, "float"},       {TagIoType::FloatLowFirst, "float-le"},
    {TagIoType::Fixed, "fixed"},
};
}  // namespace

const char* TagIoTypeName(TagIoType type) {
  for (const IoTypeName& n : kIoTypeNames)
    if (n.type == type) return n.name;
  return "word";
}

std::optional<TagIoType> ParseTagIoType(std::string_view text) {
  for (const IoTypeName& n : kIoTypeNames)
    if (NamesEqual(text, n.name)) return n.type;
  return std::nullopt;
}

std::string DatabaseRefusal::Text() const {
  return file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + reason;
}

DatabaseFiles ParseDatabaseFiles(std::optional<std::string_view> tagText, std::optional<std::string_view> scanText,
                                 const std::string& tagPath, const std::string& scanPath) {
  DatabaseFiles files;
  files.tagPath = tagPath;
  files.tagFile = tagText.has_value();
  files.scanFile = scanText.has_value();
  if (scanText) {
    FileReader scan(scanPath, files.refusals);
    if (scan.Open(*scanText, "scan", kScanColumns)) CheckScanRows(scan, files.groups);
  }
  if (tagText) {
    FileReader tags(tagPath, files.refusals);
    // Tags are checked against the groups that passed; a tag of a refused group is refused too,
    // which says no more than the group's own refusal, but nothing is loaded either way.
    if (tags.Open(*tagText, "tags", kTagColumns)) CheckTagRows(tags, files.groups, files.scanFile, files.tags);
  }
  return files;
}

DatabaseFiles ReadDatabaseFiles(const std::string& folder) {
  std::vector<DatabaseRefusal> unreadable;
  const std::string tagPath = InFolder(folder, kTagFileName);
  const std::string scanPath = InFolder(folder, kScanFileName);
  bool tagPresent = false, scanPresent = false;
  const auto tagText = ReadBounded(tagPath, unreadable, tagPresent);
  const auto scanText = ReadBounded(scanPath, unreadable, scanPresent);
  DatabaseFiles files = ParseDatabaseFiles(tagText ? std::optional<std::string_view>(*tagText) : std::nullopt,
                                           scanText ? std::optional<std::string_view>(*scanText) : std::nullopt,
                                           tagPath, scanPath);
  files.tagFile = tagPresent;
  files.scanFile = scanPresent;
  files.refusals.insert(files.refusals.begin(), unreadable.begin(), unreadable.end());
  return files;
}

DatabaseLoad InstallDatabases(const DatabaseFiles& files, TagDatabase& tags, ScanDatabase& scan) {
  DatabaseLoad load;
  load.refusals = files.refusals;
  if (!load.refusals.empty() || (!files.tagFile && !files.scanFile)) return load;
  // The tags go into a table of their own first: one the table refuses leaves the old tables.
  TagDatabase filled;
  std::int32_t index = 0;
  for (const TagRow& t : files.tags) {
    if (!filled.AddTagSharingAddress(++index, Variant(t.name), Variant(t.address))) {
      load.refusals.push_back(DatabaseRefusal{files.tagPath, t.line,
                                              "the tag table refused tag '" + t.name + "' as record " +
                                                  std::to_string(index) + " (its name is taken or the table is full)"});
      return load;
    }
  }
  tags = std::move(filled);
  scan.Clear();
  std::int32_t last = 0;
  for (const ScanRow& s : files.groups) {
    scan.Group(s.index) = s.group;
    last = std::max(last, s.index);
  }
  if (last > 0) scan.ScanGroupCount = Variant(static_cast<std::int16_t>(last));
  load.loaded = true;
  load.tags = static_cast<std::int32_t>(files.tags.size());
  load.groups = static_cast<std::int32_t>(files.groups.size());
  return load;
}

DatabaseLoad LoadDatabases(const std::string& folder, TagDatabase& tags, ScanDatabase& scan) {
  DatabaseLoad load = InstallDatabases(ReadDatabaseFiles(folder), tags, scan);
  load.folder = folder;
  return load;
}

void PluginLoadDatabases(const char* folder, DatabaseLoad* result,
                         const std::function<DatabaseLoad(const std::string&)>& load) noexcept {
  try {
    const std::string where = folder ? folder : "";
    DatabaseLoad done;
    try {
      done = load ? load(where) : LoadDatabases(where);
    } catch (const std::exception& e) {
      done = DatabaseLoad{};
      done.folder = where;
      done.refusals.push_back(DatabaseRefusal{where, 0, std::string("the load failed: ") + e.what()});
    } catch (...) {
      done = DatabaseLoad{};
      done.folder = where;
      done.refusals.push_back(DatabaseRefusal{where, 0, "the load failed with an unknown error"});
    }
    if (result) *result = std::move(done);
  } catch (...) {
    // Out of memory for the refusal's text itself: all that can be said is that nothing loaded.
    if (result) {
      result->loaded = false;
      result->tags = 0;
      result->groups = 0;
    }
  }
}

DatabaseLoad ReadScanDatabase() {
  std::string folder = Configuration().DatabasePath;
  if (folder.empty()) folder = ConfiguredDatabasePath();
  return LoadDatabases(folder);
}

std::string DatabaseLoad::Text() const {
  const std::string where = folder.empty() ? std::string("the databases") : folder;
  std::string text;
  if (loaded) {
    text = "loaded " + std::to_string(tags) + " tag" + (tags == 1 ? "" : "s") + " and " + std::to_string(groups) +
           " scan group" + (groups == 1 ? "" : "s") + " from " + where;
  } else if (refusals.empty()) {
    text = std::string("no ") + kTagFileName + " or " + kScanFileName + " in " + where + ": nothing loaded";
  } else {
    text = std::to_string(refusals.size()) + (refusals.size() == 1 ? " refusal in " : " refusals in ") + where +
           ": nothing loaded, the tables are as they were";
  }
  for (const DatabaseRefusal& r : refusals) text += "\n" + r.Text();
  return text;
}

}  // namespace plc
