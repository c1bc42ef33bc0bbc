#pragma once
// The tag database and the scan database as files, and the loader that fills the shared tables
// from them (TagDatabase.h, ScanEngine.h).
//
// Both are CSV files in one folder (DatabasePath, or a folder the host names): a spreadsheet
// exports them as they are, and a person edits them in any text editor. Each starts with a
// format record naming the file and its version, then a header record naming the columns (in
// any order, matched without regard to case), then one record per tag or group:
//
//   tags.csv                                   scan.csv
//   plclink-tags,1                             plclink-scan,1
//   name,control,address,scan,element,...      index,control,unit,address,count,period,...
//   Press.Temp,Press,40001,1,1,...             1,Press,1,40001,10,500,...
//
// Records whose first field starts with "#" are comments; blank records are skipped. The
// columns and their checks are in the README ("Tag and scan databases").
//
// Loading is all or nothing: every record is checked first, and only when none is refused are
// the tables cleared and filled; otherwise they keep what they held, and every refused record
// is reported with its file, line and reason. With neither file in the folder nothing changes.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/ScanEngine.h"
#include "frame/TagDatabase.h"

namespace plc {

inline constexpr const char* kTagFileName = "tags.csv";
inline constexpr const char* kScanFileName = "scan.csv";
inline constexpr int kDatabaseFormatVersion = 1;
// Larger files are refused unread (2000 tags of a few hundred bytes each fit many times over).
inline constexpr std::size_t kMaxDatabaseFileBytes = 4 * 1024 * 1024;
// Tags a table holds: records 1..2000 (record 0 answers failed lookups and stays empty).
inline constexpr std::int32_t kMaxTags = TagDatabase::kLastIndex;

// How a tag's value is made of the values of its scan group's read, from its element on.
enum class TagIoType {
  Word,           // the element as the control gave it (a register word, a DF1 element)
  Int,            // the element's 16 bits as a signed number
  Bcd,            // the element's 16 bits as four BCD digits
  Bit,            // bit `bit` (0..15) of the element
  Long,           // two elements as a signed 32-bit number, the first the high word
  LongLowFirst,   // the same, the first the low word (DirectLOGIC keeps them so)
  Float,          // two elements as an IEEE-754 single, the first the high word
  FloatLowFirst,  // the same, the first the low word
  Fixed,          // two elements: whole part and ten-thousandths (the controls' ioFloat)
};

// Elements a value of the type takes: 1 or 2.
std::int32_t ElementsOf(TagIoType type);
// "word", "int", "bcd", "bit", "long", "long-le", "float", "float-le", "fixed".
const char* TagIoTypeName(TagIoType type);
std::optional<TagIoType> ParseTagIoType(std::string_view text);

struct TagRow {
  int line = 0;
  std::string name;
  std::string description;
  std::string control;  // section of the plant document; taken from its scan group when empty
  std::string address;
  TagIoType ioType = TagIoType::Word;
  std::int32_t scan = 0;     // scan group index, 0: the tag is not scanned
  std::int32_t element = 0;  // position of its first value in the group's read, from 1
  std::int32_t bit = -1;     // Bit: 0..15
  double scale = 1;          // value = raw * scale + offset
  double offset = 0;
  std::string unit;
  std::optional<double> deadband;  // none: every read is a sample; else a change beyond it
  bool writable = false;
};

struct ScanRow {
  int line = 0;
  std::int32_t index = 0;  // 1..1000
  ScanGroup group;
};

struct DatabaseRefusal {
  std::string file;  // the file's path
  int line = 0;      // 0: the file as a whole
  std::string reason;
  // "FILE:LINE: reason".
  std::string Text() const;
};

struct DatabaseFiles {
  bool tagFile = false;   // tags.csv was there
  bool scanFile = false;  // scan.csv was there
  std::vector<TagRow> tags;
  std::vector<ScanRow> groups;
  std::vector<DatabaseRefusal> refusals;
  std::string tagPath = kTagFileName;  // as refusals name the tag file
};

// Checks the text of the files (nullopt: that file is absent); tagPath and scanPath name them
// in the refusals.
DatabaseFiles ParseDatabaseFiles(std::optional<std::string_view> tagText, std::optional<std::string_view> scanText,
                                 const std::string& tagPath = kTagFileName,
                                 const std::string& scanPath = kScanFileName);
// Reads and checks the files of folder.
DatabaseFiles ReadDatabaseFiles(const std::string& folder);

struct DatabaseLoad {
  bool loaded = false;  // the tables now hold the files
  std::int32_t tags = 0;
  std::int32_t groups = 0;
  std::vector<DatabaseRefusal> refusals;
  std::string folder;
  // One line: what was loaded, or why nothing was; then one line per refusal.
  std::string Text() const;
};

// Fills the tables from checked files: cleared and filled when no record was refused and at
// least one file was there, else left as they were.
DatabaseLoad InstallDatabases(const DatabaseFiles& files, TagDatabase& tags = Tags(),
                              ScanDatabase& scan = ScanTables());
// ReadDatabaseFiles, then InstallDatabases: the load call of the frame.
DatabaseLoad LoadDatabases(const std::string& folder, TagDatabase& tags = Tags(), ScanDatabase& scan = ScanTables());

// RtuLink's ReadScanDatabase: LoadDatabases from DatabasePath (as mains read it from QVL.INI;
// read now, without writing QVL.INI, when mains has not run).
DatabaseLoad ReadScanDatabase();

// The entry point each plug-in exports, so that a host that loads controls by name fills that
// plug-in's tables (each plug-in keeps its own): PlcLoadDatabases(folder, result).
extern "C" {
using PlcLoadDatabasesFn = void (*)(const char* folder, DatabaseLoad* result);
}
inline constexpr const char* kLoadDatabasesSymbol = "PlcLoadDatabases";

// The body of every plug-in's PlcLoadDatabases. Nothing is thrown across the C boundary: an
// exception that escapes the load is returned as a refusal of the folder, nothing loaded.
// load: the load itself (LoadDatabases of this thread's tables unless given).
void PluginLoadDatabases(const char* folder, DatabaseLoad* result,
                         const std::function<DatabaseLoad(const std::string&)>& load = {}) noexcept;

}  // namespace plc
