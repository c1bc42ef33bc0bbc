// The tag and scan database files: every field read, the table limits, each refused record
// reported with its file and line, all-or-nothing loading and reloading.
#include "frame/DatabaseFiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "frame/Configuration.h"
#include "base/CsvRecords.h"
#include "base/ResultCodes.h"
#include "tests/platform/TempFolder.h"

namespace plc {
namespace {

using testing::TempFolder;
using testing::WriteRaw;

const std::string kScanHead = "plclink-scan,1\nindex,control,unit,address,count,period,group,enabled,skip\n";
const std::string kTagHead =
    "plclink-tags,1\n"
    "name,description,control,address,iotype,scan,element,bit,scale,offset,unit,deadband,writable\n";

DatabaseFiles Parse(const std::optional<std::string>& tags, const std::optional<std::string>& scan) {
  return ParseDatabaseFiles(tags ? std::optional<std::string_view>(*tags) : std::nullopt,
                            scan ? std::optional<std::string_view>(*scan) : std::nullopt);
}

std::string Refusals(const DatabaseFiles& f) {
  std::string all;
  for (const DatabaseRefusal& r : f.refusals) all += r.Text() + "\n";
  return all;
}

TEST(DatabaseFiles, EveryFieldIsRead) {
  const std::string scan = kScanHead +
                           "1,Press,3,40001,10,500,7,yes,0\n"
                           "4,Oven,,\"V,2000\",4,1500,,no,1\n";
  const std::string tags = kTagHead +
                           "Press.Temp,\"Platen, upper\",Press,40001,int,1,1,,0.1,-5,°C,0.5,yes\n"
                           "Press.Run,,,40002,bit,1,2,3,,,,,\n"
                           "Oven.Power,,Oven,\"V,2002\",float-le,4,3,,,,kW,,no\n"
                           "Spare,unscanned,Line9,N7:0,,,,,,,,,\n";
  DatabaseFiles f = Parse(tags, scan);
  ASSERT_TRUE(f.refusals.empty()) << Refusals(f);
  ASSERT_EQ(f.groups.size(), 2u);
  const ScanGroup& g1 = f.groups[0].group;
  EXPECT_EQ(f.groups[0].index, 1);
  EXPECT_EQ(g1.control, "Press");
  EXPECT_EQ(g1.unit, 3);
  EXPECT_EQ(g1.address, Variant(std::int32_t{40001}));  // digits are a number
  EXPECT_EQ(g1.count, 10);
  EXPECT_EQ(g1.period, 500);
  EXPECT_EQ(g1.group, 7);
  EXPECT_EQ(g1.enabled, True);
  EXPECT_EQ(g1.skip, 0);
  const ScanGroup& g4 = f.groups[1].group;
  EXPECT_EQ(g4.unit, -1);                    // empty: the control's own
  EXPECT_EQ(g4.address, Variant("V,2000"));  // anything else is text
  EXPECT_EQ(g4.group, 4);                    // empty: the index
  EXPECT_EQ(g4.enabled, False);
  EXPECT_EQ(g4.skip, 1);

  ASSERT_EQ(f.tags.size(), 4u);
  const TagRow& temp = f.tags[0];
  EXPECT_EQ(temp.line, 3);
  EXPECT_EQ(temp.name, "Press.Temp");
  EXPECT_EQ(temp.description, "Platen, upper");
  EXPECT_EQ(temp.control, "Press");
  EXPECT_EQ(temp.address, "40001");
  EXPECT_EQ(temp.ioType, TagIoType::Int);
  EXPECT_EQ(temp.scan, 1);
  EXPECT_EQ(temp.element, 1);
  EXPECT_EQ(temp.bit, -1);
  EXPECT_DOUBLE_EQ(temp.scale, 0.1);
  EXPECT_DOUBLE_EQ(temp.offset, -5);
  EXPECT_EQ(temp.unit, "°C");
  EXPECT_EQ(temp.deadband, 0.5);
  EXPECT_TRUE(temp.writable);
  const TagRow& run = f.tags[1];
  EXPECT_EQ(run.control, "Press");  // taken from its scan group
  EXPECT_EQ(run.ioType, TagIoType::Bit);
  EXPECT_EQ(run.bit, 3);
  EXPECT_DOUBLE_EQ(run.scale, 1);
  EXPECT_FALSE(run.deadband.has_value());
  EXPECT_FALSE(run.writable);
  EXPECT_EQ(f.tags[2].ioType, TagIoType::FloatLowFirst);
  EXPECT_EQ(f.tags[3].scan, 0);

  TagDatabase tagTable;
  ScanDatabase scanTable;
  DatabaseLoad load = InstallDatabases(f, tagTable, scanTable);
  ASSERT_TRUE(load.loaded);
  EXPECT_EQ(load.tags, 4);
  EXPECT_EQ(load.groups, 2);
  EXPECT_EQ(TagAddressFromName(Variant("press.temp"), tagTable), Variant("40001"));
  EXPECT_EQ(TagNameFromAddress(Variant("N7:0"), tagTable), Variant("Spare"));
  EXPECT_TRUE(tagTable.Record(0)->name.IsEmpty());  // failed lookups still find nothing
  EXPECT_EQ(scanTable.ScanGroupCount.ToInt32(), 4);
  EXPECT_EQ(scanTable.Group(4).address, Variant("V,2000"));
  EXPECT_EQ(scanTable.Group(2).enabled, False);  // a gap in the indices is no group
}

TEST(DatabaseFiles, SpreadsheetExportsAreRead) {
  // A byte order mark, CRLF, columns in another order and case, padding cells, comment and
  // empty rows, a quoted field with a doubled quote and a line break.
  const std::string tags =
      "\xEF\xBB\xBFplclink-tags,1,,\r\n"
      "# exported,,,\r\n"
      "ADDRESS,Name,Description,\r\n"
      ",,,\r\n"
      "\"V,2000\",Tank,\"say \"\"hi\"\"\nthere\",\r\n"
      "3;40001,Pump,,\r\n";
  DatabaseFiles f = Parse(tags, std::nullopt);
  ASSERT_TRUE(f.refusals.empty()) << Refusals(f);
  ASSERT_EQ(f.tags.size(), 2u);
  EXPECT_EQ(f.tags[0].address, "V,2000");
  EXPECT_EQ(f.tags[0].description, "say \"hi\"\nthere");
  EXPECT_EQ(f.tags[0].line, 5);
  EXPECT_EQ(f.tags[1].line, 7);  // the quoted line break counts
  EXPECT_EQ(f.tags[1].address, "3;40001");
}

// Each bad record of a file: the line it is on and words of its reason.
TEST(DatabaseFiles, EveryRefusedRecordIsReportedWithItsLine) {
  struct Case {
    const char* record;
    const char* reason;
  };
  const Case tagCases[] = {
      {"9Lives,,,40001,,,,,,,,,", "not a tag name"},
      {"Dup,,,40001,,,,,,,,,", "already used on line"},
      {"Empty,,,,,,,,,,,,", "address is empty"},
      {"Kind,,,40001,double,,,,,,,,", "iotype 'double'"},
      {"NoBit,,,40001,bit,1,1,,,,,,", "needs the bit"},
      {"StrayBit,,,40001,word,1,1,4,,,,,", "bit is given"},
      {"BigBit,,,40001,bit,1,1,16,,,,,", "bit '16'"},
      {"Zero,,,40001,,,,,0,,,,", "scale is 0"},
      {"Scale,,,40001,,,,,x,,,,", "scale 'x' is not a number"},
      {"Dead,,,40001,,,,,,,,-1,", "deadband is negative"},
      {"Wr,,,40001,float,1,1,,,,,,yes", "writable tag is one register"},
      {"WrBit,,,40001,bit,1,1,2,,,,,yes", "not one bit of it"},
      {"Moved,,,40003,word,1,2,,,,,,yes", "writable tag at 40003 is read from 40002 (element 2 of scan group 1)"},
      // Right where a number is an octal V-memory address: the refusal says so and what to write.
      {"Octal,,,2012,word,4,11,,,,,,yes", "one register for both (counting in decimal; for a control that reads "
                                          "numbers as octal V-memory addresses, as SeqLink and UdpLink over ECOM "
                                          "do, it is the right one: give it as V,2012)"},
      {"Yes,,,40001,,,,,,,,,maybe", "neither yes nor no"},
      {"NoGroup,,,40001,,9,1,,,,,,", "scan group 9 is not in scan.csv"},
      {"NoElem,,,40001,,1,,,,,,,", "element is empty"},
      {"Past,,,40001,long,1,4,,,,,,", "element 4 and the next beyond the 4 values"},
      {"Lone,,,40001,,,2,,,,,,", "element is given, but no scan group"},
      {"Other,,Oven,40001,,1,1,,,,,,", "is not the control of scan group 1"},
      {"Ctl,,a]b,40001,,,,,,,,,", "cannot be a section name"},
      {"Extra,,,40001,,,,,,,,,,surplus", "column 14, which the header does not name"},
  };
  std::string tags = kTagHead + "Dup,,,40001,,,,,,,,,\n";
  for (const Case& c : tagCases) tags += std::string(c.record) + "\n";
  const std::string scan = kScanHead +
                           "1,Press,,40001,4,500,,,\n"
                           "0,,,40001,4,500,,,\n"
                           "1,,,40001,4,500,,,\n"
                           "2,,,,4,500,,,\n"
                           "3,,,40001,1001,500,,,\n"
                           "5,,,40001,4,40000,,,\n"
                           "6,,-2,40001,4,500,,,\n"
                           "4,Line,,2000,16,500,,,\n";
  DatabaseFiles f = Parse(tags, scan);
  const std::string all = Refusals(f);
  // The scan file first, then the tags (whose first good record is on line 3).
  const Case scanCases[] = {{"", "index '0'"},
                            {"", "index 1 already used on line 3"},
                            {"", "address is empty"},
                            {"", "count '1001'"},
                            {"", "period '40000'"},
                            {"", "unit '-2'"}};
  std::size_t k = 0;
  for (int line = 4; line <= 9; ++line, ++k) {
    ASSERT_LT(k, f.refusals.size()) << all;
    EXPECT_EQ(f.refusals[k].file, "scan.csv");
    EXPECT_EQ(f.refusals[k].line, line) << all;
    EXPECT_NE(f.refusals[k].reason.find(scanCases[k].reason), std::string::npos) << f.refusals[k].Text();
  }
  for (std::size_t t = 0; t < std::size(tagCases); ++t, ++k) {
    ASSERT_LT(k, f.refusals.size()) << all;
    EXPECT_EQ(f.refusals[k].file, "tags.csv");
    EXPECT_EQ(f.refusals[k].line, static_cast<int>(t) + 4) << all;
    EXPECT_NE(f.refusals[k].reason.find(tagCases[t].reason), std::string::npos)
        << "line " << t + 4 << ": " << f.refusals[k].Text();
  }
  EXPECT_EQ(k, f.refusals.size()) << all;
}

TEST(DatabaseFiles, FileKindVersionAndHeaderAreChecked) {
  struct Case {
    std::string text;
    int line;
    const char* reason;
  };
  for (const Case& c : {Case{"", 0, "first record must be 'plclink-tags,1'"},
                        Case{"plclink-scan,1\nname,address\n", 1, "first record must be 'plclink-tags,1'"},
                        Case{"# notes\nplclink-tags,2\nname,address\n", 2, "format version '2'"},
                        Case{"plclink-tags,1\n", 1, "no header record"},
                        Case{"plclink-tags,1\nname,address,adress\n", 2, "unknown column 'adress'"},
                        Case{"plclink-tags,1\nname\n", 2, "no column 'address'"},
                        Case{"plclink-tags,1\nname,address,Name\n", 2, "column 'name' named twice"},
                        Case{"plclink-tags,1\nname,address\n\"Tank,V\n", 3, "a quote that is never closed"},
                        Case{"plclink-tags,1\nname,address\n\"Tank\"x,1\n", 3, "text after the closing quote"},
                        Case{std::string("plclink-tags,1\nname,address\nA,1\0\n", 34), 0, "a NUL byte"}}) {
    DatabaseFiles f = Parse(c.text, std::nullopt);
    ASSERT_EQ(f.refusals.size(), 1u) << c.text << "\n" << Refusals(f);
    EXPECT_EQ(f.refusals[0].line, c.line) << c.text;
    EXPECT_NE(f.refusals[0].reason.find(c.reason), std::string::npos) << f.refusals[0].Text();
  }
  DatabaseFiles needsScan = Parse(kTagHead + "A,,,1,,2,1,,,,,,\n", std::nullopt);
  ASSERT_EQ(needsScan.refusals.size(), 1u);
  EXPECT_NE(needsScan.refusals[0].reason.find("there is no scan.csv"), std::string::npos);
}

TEST(DatabaseFiles, TheTablesHold2000TagsAnd1000Groups) {
  std::string tags = kTagHead;
  for (int i = 1; i <= 2000; ++i) tags += "T" + std::to_string(i) + ",,,4" + std::to_string(i) + ",,,,,,,,,\n";
  std::string scan = kScanHead + "1000,,,40001,1,500,,,\n";
  DatabaseFiles full = Parse(tags, scan);
  ASSERT_TRUE(full.refusals.empty()) << Refusals(full);
  TagDatabase tagTable;
  ScanDatabase scanTable;
  ASSERT_TRUE(InstallDatabases(full, tagTable, scanTable).loaded);
  EXPECT_EQ(TagAddressFromName(Variant("T2000"), tagTable), Variant("42000"));
  EXPECT_EQ(scanTable.ScanGroupCount.ToInt32(), 1000);

  DatabaseFiles over = Parse(tags + "T2001,,,1,,,,,,,,,\n", scan + "1001,,,40001,1,500,,,\n");
  ASSERT_EQ(over.refusals.size(), 2u) << Refusals(over);
  EXPECT_EQ(over.refusals[0].line, 4);
  EXPECT_NE(over.refusals[0].reason.find("index '1001'"), std::string::npos);
  EXPECT_EQ(over.refusals[1].line, 2003);
  EXPECT_NE(over.refusals[1].reason.find("more than 2000 tags"), std::string::npos);
}

TEST(DatabaseFiles, TwoTagsMayShareAnAddress) {
  DatabaseFiles f = Parse(kTagHead + "Word,,,40010,,,,,,,,,\nBit3,,,40010,,,,,,,,,\n", std::nullopt);
  TagDatabase tagTable;
  ScanDatabase scanTable;
  ASSERT_TRUE(InstallDatabases(f, tagTable, scanTable).loaded) << Refusals(f);
  EXPECT_EQ(TagAddressFromName(Variant("Bit3"), tagTable), Variant("40010"));
  EXPECT_EQ(TagNameFromAddress(Variant("40010"), tagTable), Variant("Word"));  // the first
}

// Rows that passed the checks but that the tag table still refuses: nothing is loaded, and the
// refusal names the line.
TEST(DatabaseFiles, ARowTheTagTableRefusesRefusesTheLoad) {
  DatabaseFiles f = Parse(kTagHead + "Pump,,,40001,,,,,,,,,\nValve,,,40002,,,,,,,,,\n", kScanHead);
  ASSERT_TRUE(f.refusals.empty()) << Refusals(f);
  f.tags[1].name = "PUMP";  // as the table compares names
  TagDatabase tagTable;
  ScanDatabase scanTable;
  ASSERT_TRUE(tagTable.AddTag(1, Variant("Kept"), Variant("1")));
  scanTable.ScanGroupCount = Variant(std::int16_t{3});
  const DatabaseLoad load = InstallDatabases(f, tagTable, scanTable);
  EXPECT_FALSE(load.loaded);
  ASSERT_EQ(load.refusals.size(), 1u);
  EXPECT_EQ(load.refusals[0].Text(),
            "tags.csv:4: the tag table refused tag 'PUMP' as record 2 (its name is taken or the table is full)");
  EXPECT_EQ(TagAddressFromName(Variant("Kept"), tagTable), Variant("1")) << "the old tables stay";
  EXPECT_EQ(TagAddressFromName(Variant("Pump"), tagTable), Variant());
  EXPECT_EQ(scanTable.ScanGroupCount.ToInt32(), 3);
}

// Loading from a folder: all or nothing, a reload replaces, no files change nothing.
class DatabaseFolder : public ::testing::Test {
 protected:
  void Write(const std::string& tags, const std::string& scan) {
    WriteRaw(folder.File("tags.csv"), tags);
    WriteRaw(folder.File("scan.csv"), scan);
  }
  std::string Address(const char* name) { return TagAddressFromName(Variant(name), tagTable).ToString(); }

  TempFolder folder;
  TagDatabase tagTable;
  ScanDatabase scanTable;
};

TEST_F(DatabaseFolder, NothingIsHalfLoadedAndAReloadReplaces) {
  Write(kTagHead + "Pump,,,40001,,1,1,,,,,,\n", kScanHead + "1,,,40001,2,500,,,\n");
  DatabaseLoad first = LoadDatabases(folder.Path(), tagTable, scanTable);
  ASSERT_TRUE(first.loaded) << first.Text();
  EXPECT_EQ(first.Text(), "loaded 1 tag and 1 scan group from " + folder.Path());

  // One bad record among good ones: nothing of the new files, the old tables stay.
  Write(kTagHead + "Valve,,,40005,,,,,,,,,\nBroken,,,,,,,,,,,,\n", kScanHead + "1,,,40005,2,500,,,\n2,,,40009,2,99999,,,\n");
  DatabaseLoad bad = LoadDatabases(folder.Path(), tagTable, scanTable);
  EXPECT_FALSE(bad.loaded);
  EXPECT_EQ(Address("Pump"), "40001");
  EXPECT_EQ(Address("Valve"), "");
  EXPECT_EQ(scanTable.Group(1).address, Variant(std::int32_t{40001}));
  EXPECT_EQ(scanTable.ScanGroupCount.ToInt32(), 1);
  const std::string text = bad.Text();
  EXPECT_NE(text.find("2 refusals in " + folder.Path() + ": nothing loaded"), std::string::npos) << text;
  EXPECT_NE(text.find(folder.File("scan.csv") + ":4: period '99999'"), std::string::npos) << text;
  EXPECT_NE(text.find(folder.File("tags.csv") + ":4: address is empty"), std::string::npos) << text;

  Write(kTagHead + "Valve,,,40005,,1,1,,,,,,\n", kScanHead + "1,,,40005,2,250,,,\n");
  ASSERT_TRUE(LoadDatabases(folder.Path(), tagTable, scanTable).loaded);
  EXPECT_EQ(Address("Pump"), "");
  EXPECT_EQ(Address("Valve"), "40005");
  EXPECT_EQ(scanTable.Group(1).period, 250);
}

TEST_F(DatabaseFolder, NoFilesChangeNothing) {
  ASSERT_TRUE(tagTable.AddTag(1, Variant("Kept"), Variant("1")));
  DatabaseLoad load = LoadDatabases(folder.Path(), tagTable, scanTable);
  EXPECT_FALSE(load.loaded);
  EXPECT_TRUE(load.refusals.empty());
  EXPECT_EQ(load.Text(), "no tags.csv or scan.csv in " + folder.Path() + ": nothing loaded");
  EXPECT_EQ(Address("Kept"), "1");
}

TEST_F(DatabaseFolder, UnreadableAndOversizedFilesAreRefused) {
  std::filesystem::create_directory(folder.File("tags.csv"));
  WriteRaw(folder.File("scan.csv"), std::string(kMaxDatabaseFileBytes + 1, '#'));
  DatabaseLoad load = LoadDatabases(folder.Path(), tagTable, scanTable);
  EXPECT_FALSE(load.loaded);
  ASSERT_EQ(load.refusals.size(), 2u) << load.Text();
  EXPECT_EQ(load.refusals[0].Text(), folder.File("tags.csv") + ": cannot be read: it is a folder");
  EXPECT_EQ(load.refusals[1].Text(), folder.File("scan.csv") + ": larger than 4 MiB");

  // A file the user may not read says why (root reads it all the same); one that cannot be
  // looked at (a link to itself) is not taken for absent.
  std::filesystem::remove(folder.File("tags.csv"));
  WriteRaw(folder.File("tags.csv"), kTagHead);
  WriteRaw(folder.File("scan.csv"), kScanHead);
  std::filesystem::permissions(folder.File("tags.csv"), std::filesystem::perms::none);
  DatabaseLoad locked = LoadDatabases(folder.Path(), tagTable, scanTable);
  if (::geteuid() != 0) {
    ASSERT_EQ(locked.refusals.size(), 1u) << locked.Text();
    EXPECT_EQ(locked.refusals[0].Text(), folder.File("tags.csv") + ": cannot be read: Permission denied");
  } else {
    EXPECT_TRUE(locked.loaded) << locked.Text();
  }
  std::filesystem::remove(folder.File("tags.csv"));
  std::filesystem::create_symlink(folder.File("tags.csv"), folder.File("tags.csv"));
  DatabaseLoad looped = LoadDatabases(folder.Path(), tagTable, scanTable);
  EXPECT_FALSE(looped.loaded);
  ASSERT_EQ(looped.refusals.size(), 1u) << looped.Text();
  EXPECT_EQ(looped.refusals[0].Text(), folder.File("tags.csv") + ": cannot be looked at: Too many levels of symbolic links");
}

// The plug-ins' C entry point: a load that throws comes back as a refusal naming the folder,
// never as an exception through the C boundary; a good load comes back whole.
TEST_F(DatabaseFolder, ThePluginEntryReturnsAnExceptionAsARefusal) {
  DatabaseLoad result;
  result.loaded = true;
  PluginLoadDatabases(folder.Path().c_str(), &result,
                      [](const std::string&) -> DatabaseLoad { throw std::length_error("vector::reserve"); });
  EXPECT_FALSE(result.loaded);
  EXPECT_EQ(result.Text(), "1 refusal in " + folder.Path() + ": nothing loaded, the tables are as they were\n" +
                               folder.Path() + ": the load failed: vector::reserve");
  PluginLoadDatabases(nullptr, &result, [](const std::string&) -> DatabaseLoad { throw 42; });
  ASSERT_EQ(result.refusals.size(), 1u);
  EXPECT_EQ(result.refusals[0].reason, "the load failed with an unknown error");

  Write(kTagHead + "Pump,,,40001,,,,,,,,,\n", kScanHead);
  PluginLoadDatabases(folder.Path().c_str(), &result,
                      [this](const std::string& where) { return LoadDatabases(where, tagTable, scanTable); });
  EXPECT_TRUE(result.loaded) << result.Text();
  EXPECT_EQ(result.tags, 1);
  EXPECT_EQ(Address("Pump"), "40001");
}

TEST_F(DatabaseFolder, ReadScanDatabaseLoadsFromDatabasePath) {
  const char* old = std::getenv("QVL_SYSTEM_DIR");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  TempFolder system;
  ::setenv("QVL_SYSTEM_DIR", system.Path().c_str(), 1);
  WriteRaw(system.File("QVL.INI"), "[DatabasePath]\npDatabasePath=" + folder.Path() + "\n");
  Write(kTagHead + "Pump,,,40001,,,,,,,,,\n", kScanHead);
  Configuration() = {};
  Tags().Clear();
  // Without mains the path is read from QVL.INI as mains would.
  DatabaseLoad load = ReadScanDatabase();
  EXPECT_TRUE(load.loaded) << load.Text();
  EXPECT_EQ(TagAddressFromName(Variant("Pump")), Variant("40001"));
  Tags().Clear();
  ScanTables().Clear();
  if (saved) ::setenv("QVL_SYSTEM_DIR", saved->c_str(), 1);
  else ::unsetenv("QVL_SYSTEM_DIR");
}

TEST(CsvRecords, FieldsWrittenByCsvFieldReadBack) {
  for (const std::string& text : {std::string("plain"), std::string("a,b"), std::string("say \"x\""),
                                  std::string(" padded "), std::string("two\nlines"), std::string(),
                                  std::string("\xEF\xBB\xBFmark")}) {
    CsvRead read = ReadCsvRecords(CsvField(text) + ",end\n");
    ASSERT_FALSE(read.error) << text;
    ASSERT_EQ(read.records.size(), 1u);
    EXPECT_EQ(read.records[0].fields, (std::vector<std::string>{text, "end"}));
  }
  // Line breaks inside a quoted field count as the file's own: LF, CRLF and a lone CR.
  for (const char* breakText : {"\n", "\r\n", "\r"}) {
    const std::string b = breakText;
    CsvRead lines = ReadCsvRecords("a" + b + "\"two" + b + "lines\"" + b + "c" + b);
    ASSERT_FALSE(lines.error);
    ASSERT_EQ(lines.records.size(), 3u);
    EXPECT_EQ(lines.records[2].line, 4) << "after a quoted field broken by " << (b == "\r" ? "CR" : "LF or CRLF");
  }
  CsvRead wide = ReadCsvRecords(std::string(64, ',') + "\n");
  ASSERT_TRUE(wide.error);
  EXPECT_EQ(wide.error->reason, "more than 64 fields in one record");
  CsvRead longField = ReadCsvRecords("ok\n" + std::string(1025, 'x'));
  ASSERT_TRUE(longField.error);
  EXPECT_EQ(longField.error->line, 2);
}

}  // namespace
}  // namespace plc
