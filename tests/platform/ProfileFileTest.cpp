#include "platform/ProfileFile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/platform/TempFolder.h"

namespace plc {
namespace {

using testing::FileSizeLimit;
using testing::ReadRaw;
using testing::TempFolder;
using testing::WriteRaw;

struct EditCase {
  const char* name;
  std::string before;
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

// Each case writes one key into a file and expects exactly the bytes shown: everything that
// was not that key survives unchanged.
TEST(ProfileFile, WritingOneKeyKeepsTheRestByteForByte) {
  const std::vector<EditCase> cases = {
      {"rewrites only the key's line",
       "; shared settings\n\n[DatabasePath]\npDatabasePath = /old\n  # note\n[IOType]\nIODevice=ABDH\n",
       "databasepath", "PDATABASEPATH", "/new",
       "; shared settings\n\n[DatabasePath]\npDatabasePath=/new\n  # note\n[IOType]\nIODevice=ABDH\n"},
      {"keeps CRLF line ends",
       "[A]\r\nx=1\r\n\r\n[IOType]\r\nIODevice=ABDH\r\ny=2\r\n", "IOType", "IODevice", "Modbus",
       "[A]\r\nx=1\r\n\r\n[IOType]\r\nIODevice=Modbus\r\ny=2\r\n"},
      {"keeps a missing final line end", "[IOType]\nIODevice=ABDH", "IOType", "IODevice", "Modbus",
       "[IOType]\nIODevice=Modbus"},
      {"adds a key after the section's last key, before what leads into the next",
       "[A]\r\nx=1\r\n\r\n; next\r\n[B]\r\ny=2\r\n", "a", "z", "3",
       "[A]\r\nx=1\r\nz=3\r\n\r\n; next\r\n[B]\r\ny=2\r\n"},
      {"adds a key to a last section without a final line end", "[A]\nx=1", "A", "z", "3", "[A]\nx=1\nz=3"},
      {"appends a missing section in the file's line ends", "[A]\r\nx=1\r\n", "IOType", "IODevice", "Modbus",
       "[A]\r\nx=1\r\n\r\n[IOType]\r\nIODevice=Modbus\r\n"},
      {"creates a missing file", "", "IOType", "IODevice", "Modbus", "[IOType]\nIODevice=Modbus\n"},
      {"keeps a UTF-8 mark and the value's own blanks", "\xEF\xBB\xBF[A]\nx=1\n", "A", "x", "  a b ",
       "\xEF\xBB\xBF[A]\nx=  a b \n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder dir;
    std::string file = dir.File("QVL.INI");
    if (!c.before.empty()) WriteRaw(file, c.before);
    ASSERT_TRUE(WriteProfileString(file, c.section, c.key, c.value));
    EXPECT_EQ(ReadRaw(file), c.after);
    EXPECT_EQ(dir.Count(), 1u) << "no temporary file left behind";
  }
}

TEST(ProfileFile, ReadsAsTheProfileApiDoes) {
  TempFolder dir;
  std::string file = dir.File("QVL.INI");
  WriteRaw(file,
           "[DatabasePath]\r\n  pDatabasePath =  C:\\data\\  \r\nquoted=\" padded \"\r\nempty=\r\n"
           "[Other]\r\npDatabasePath=wrong section\r\n[DatabasePath]\r\nlater=ignored duplicate\r\n");
  struct {
    const char* section;
    const char* key;
    const char* expected;
  } reads[] = {
      {"DatabasePath", "pDatabasePath", "C:\\data\\"},
      {"DATABASEPATH", "pdatabasepath", "C:\\data\\"},
      {"DatabasePath", "quoted", " padded "},
      {"DatabasePath", "empty", ""},
      {"DatabasePath", "missing", "dflt"},
      {"Missing", "pDatabasePath", "dflt"},
      {"Other", "pDatabasePath", "wrong section"},
  };
  for (const auto& r : reads)
    EXPECT_EQ(ReadProfileString(file, r.section, r.key, "dflt"), r.expected) << r.section << "/" << r.key;
  EXPECT_EQ(ReadProfileString(dir.File("absent.ini"), "DatabasePath", "pDatabasePath", "dflt"), "dflt");
  EXPECT_EQ(ReadProfileString(dir.Path(), "DatabasePath", "pDatabasePath", "dflt"), "dflt") << "a folder";
}

TEST(ProfileFile, AFileThatIsNoProfileReadsAsDefaultsAndIsNeverOverwritten) {
  const char raw[] = "[IOType]\nIODevice=x\n\x7f" "ELF\0\0\x01\x02=\xff\n";
  const std::string binary(raw, sizeof raw - 1);
  const std::vector<std::string> foreign = {binary, "[IOType]\nIODevice=x\nthis line has no equals sign\n",
                                            "[IOType\nIODevice=x\n"};
  for (const auto& content : foreign) {
    TempFolder dir;
    std::string file = dir.File("QVL.INI");
    WriteRaw(file, content);
    EXPECT_EQ(ReadProfileString(file, "IOType", "IODevice", "dflt"), "dflt");
    EXPECT_FALSE(WriteProfileString(file, "IOType", "IODevice", "Modbus"));
    EXPECT_EQ(ReadRaw(file), content);
  }
}

TEST(ProfileFile, ParseNamesTheFirstBadLine) {
  int line = 0;
  EXPECT_FALSE(ProfileDocument::Parse("; ok\n[A]\nx=1\nbad\n", &line));
  EXPECT_EQ(line, 4);
  EXPECT_FALSE(ProfileDocument::Parse(std::string("[A]\nx=\0\n", 8), &line));
  EXPECT_EQ(line, 2);
  EXPECT_TRUE(ProfileDocument::Parse("[A]\r\n=\r\n", &line) == std::nullopt) << "an entry without a name";
}

TEST(ProfileFile, AFailedWriteLeavesTheOldFileWhole) {
  TempFolder dir;
  std::string file = dir.File("QVL.INI");
  const std::string old = "[IOType]\nIODevice=ABDH\n";
  WriteRaw(file, old);
  bool written = true;
  {
    FileSizeLimit limit(old.size());  // the new file would be longer than the limit
    written = WriteProfileString(file, "IOType", "IODevice", "a device name longer than before");
  }
  EXPECT_FALSE(written);
  EXPECT_EQ(ReadRaw(file), old);
  EXPECT_EQ(dir.Count(), 1u) << "the temporary file is removed";

  EXPECT_FALSE(WriteProfileString(dir.File("no/such/folder/QVL.INI"), "IOType", "IODevice", "Modbus"));
  // Entries that cannot live on one line are refused rather than splitting the file.
  EXPECT_FALSE(WriteProfileString(file, "IOType", "IODevice", "two\nlines"));
  EXPECT_FALSE(WriteProfileString(file, "IOType", "a=b", "x"));
  EXPECT_FALSE(WriteProfileString(file, "IO]Type", "k", "x"));
  EXPECT_EQ(ReadRaw(file), old);
}

TEST(ProfileFile, AReadOnlyFolderRefusesTheWrite) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders; the file-size test covers a failed write";
  TempFolder dir;
  std::string file = dir.File("QVL.INI");
  WriteRaw(file, "[IOType]\nIODevice=ABDH\n");
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
  EXPECT_FALSE(WriteProfileString(file, "IOType", "IODevice", "Modbus"));
  ::chmod(dir.Path().c_str(), 0755);
  EXPECT_EQ(ReadRaw(file), "[IOType]\nIODevice=ABDH\n");
}

TEST(ProfileFile, AWriteKeepsTheFileModeAndALinkToIt) {
  TempFolder dir;
  std::string file = dir.File("QVL.INI");
  std::string link = dir.File("link.ini");
  WriteRaw(file, "[A]\nx=1\n");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
  ASSERT_TRUE(WriteProfileString(link, "A", "x", "2"));
  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadRaw(file), "[A]\nx=2\n");
}

TEST(ProfileFile, ReplaceSectionTouchesOnlyTheLinesThatChange) {
  auto doc = ProfileDocument::Parse("[Top]\na=1\n\n[Ctl]\n; kept comment\nOld=1\nSame=2\nGone=3\n[Tail]\nb=2\n[ctl]\nDup=9\n");
  ASSERT_TRUE(doc);
  doc->ReplaceSection("CTL", {{"Same", "2"}, {"New", "4"}, {"old", "5"}});
  EXPECT_EQ(doc->Serialize(), "[Top]\na=1\n\n[Ctl]\n; kept comment\nOld=5\nSame=2\nNew=4\n[Tail]\nb=2\n");
  doc->RemoveSection("ctl");
  EXPECT_EQ(doc->Serialize(), "[Top]\na=1\n\n[Tail]\nb=2\n");
  EXPECT_EQ(doc->Sections(), (std::vector<std::string>{"Top", "Tail"}));
}

TEST(ProfileFile, SystemDirectoryFollowsTheEnvironment) {
  const char* saved = std::getenv("QVL_SYSTEM_DIR");
  std::string keep = saved ? saved : "";
  ::setenv("QVL_SYSTEM_DIR", "/srv/qvl", 1);
  EXPECT_EQ(SystemDirectory(), "/srv/qvl");
  ::setenv("QVL_SYSTEM_DIR", "", 1);
  EXPECT_EQ(SystemDirectory(), "/etc");
  ::unsetenv("QVL_SYSTEM_DIR");
  EXPECT_EQ(SystemDirectory(), "/etc");
  if (saved) ::setenv("QVL_SYSTEM_DIR", keep.c_str(), 1);
}

}  // namespace
}  // namespace plc
