#include "frame/Configuration.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/ProfileFile.h"

namespace plc {
namespace {

namespace fs = std::filesystem;

// A fresh folder as the system directory for one test; the old environment comes back after.
class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("QVL_SYSTEM_DIR")) saved_ = old;
    std::string tmpl = (fs::temp_directory_path() / "qvl-values-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    UseDirectory(dir_);
  }
  void TearDown() override {
    if (saved_) ::setenv("QVL_SYSTEM_DIR", saved_->c_str(), 1);
    else ::unsetenv("QVL_SYSTEM_DIR");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  static void UseDirectory(const std::string& dir) { ::setenv("QVL_SYSTEM_DIR", dir.c_str(), 1); }
  std::string Ini() const { return dir_ + "/QVL.INI"; }
  void WriteIni(const std::string& content) const { std::ofstream(Ini(), std::ios::binary) << content; }
  std::string ReadIni() const {
    std::ifstream in(Ini(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  std::string dir_;
  std::optional<std::string> saved_;
};

TEST_F(ConfigurationTest, MissingFileGivesTheDefaultPathAndRecordsTheDevice) {
  LoadConfiguration(kModbusDeviceName);
  EXPECT_EQ(Configuration().SystemDirectory, dir_);
  EXPECT_EQ(Configuration().DatabasePath, dir_ + "/");
  EXPECT_EQ(ReadProfileString(Ini(), "IOType", "IODevice", "?"), "Modbus");

  LoadConfiguration(kDf1DeviceName);
  EXPECT_EQ(ReadProfileString(Ini(), "IOType", "IODevice", "?"), "ABDH");
}

TEST_F(ConfigurationTest, DatabasePathEntryIsCutTo99Characters) {
  WriteIni("[DatabasePath]\npDatabasePath=/data/tags\n");
  LoadConfiguration(kModbusDeviceName);
  EXPECT_EQ(Configuration().DatabasePath, "/data/tags");

  const std::string longPath = "/" + std::string(149, 'p');
  WriteIni("[DatabasePath]\npDatabasePath=" + longPath + "\n");
  LoadConfiguration(kModbusDeviceName);
  EXPECT_EQ(Configuration().DatabasePath, longPath.substr(0, 99));

  WriteIni("[DatabasePath]\npDatabasePath=\n");  // present but empty: the default
  LoadConfiguration(kModbusDeviceName);
  EXPECT_EQ(Configuration().DatabasePath, dir_ + "/");
}

TEST_F(ConfigurationTest, OtherSectionsAndCommentsStayByteForByte) {
  const std::string head =
      "; shared settings of the QVL programs\r\n"
      "[Screens]\r\n"
      "Start = main.scr   ; trailing comment\r\n"
      "\r\n"
      "# another comment\r\n"
      "[IOType]\r\n";
  const std::string tail =
      "Other=1\r\n"
      "[DatabasePath]\r\n"
      "pDatabasePath=C:/QVL/DB\r\n";
  WriteIni(head + "IODevice=Modbus\r\n" + tail);
  LoadConfiguration(kDf1DeviceName);
  EXPECT_EQ(Configuration().DatabasePath, "C:/QVL/DB");
  const std::string after = ReadIni();
  ASSERT_EQ(after.substr(0, head.size()), head);
  ASSERT_GE(after.size(), tail.size());
  EXPECT_EQ(after.substr(after.size() - tail.size()), tail);
  EXPECT_EQ(ReadProfileString(Ini(), "IOType", "IODevice", "?"), "ABDH");
  EXPECT_EQ(ReadProfileString(Ini(), "Screens", "Start", "?").substr(0, 8), "main.scr");

  // Without an IOType section the old text stays a prefix of the new file.
  const std::string plain = "[A]\nx=1\n; note\n";
  WriteIni(plain);
  LoadConfiguration(kModbusDeviceName);
  EXPECT_EQ(ReadIni().substr(0, plain.size()), plain);
  EXPECT_EQ(ReadProfileString(Ini(), "IOType", "IODevice", "?"), "Modbus");
}

TEST_F(ConfigurationTest, BinaryOrUnreadableFileIsLeftAloneWithTheDefault) {
  std::string binary;
  for (int i = 0; i < 512; ++i) binary += static_cast<char>((i * 37 + 11) % 256);
  WriteIni(binary);
  LoadConfiguration(kModbusDeviceName);
  EXPECT_EQ(Configuration().DatabasePath, dir_ + "/");
  EXPECT_EQ(ReadIni(), binary);  // not ours to overwrite

  // A NUL inside a value: at most the text before it may be taken, never the rest.
  const std::string withNul("[DatabasePath]\npDatabasePath=/data\0rest\n", 40);
  WriteIni(withNul);
  LoadConfiguration(kModbusDeviceName);
  EXPECT_TRUE(Configuration().DatabasePath == "/data" || Configuration().DatabasePath == dir_ + "/")
      << Configuration().DatabasePath;

  fs::remove(Ini());
  fs::create_directory(Ini());  // there, but not a file anyone can read or replace
  LoadConfiguration(kModbusDeviceName);
  EXPECT_EQ(Configuration().DatabasePath, dir_ + "/");
  EXPECT_TRUE(fs::is_directory(Ini()));
}

TEST_F(ConfigurationTest, ASystemDirectoryTooLongToReportTouchesNoFile) {
  const std::string deep = dir_ + "/" + std::string(150, 'd');
  ASSERT_TRUE(fs::create_directory(deep));
  UseDirectory(deep);
  EXPECT_EQ(ReportedSystemDirectory(), "");
  LoadConfiguration(kModbusDeviceName);
  EXPECT_EQ(Configuration().SystemDirectory, "");
  EXPECT_EQ(Configuration().DatabasePath, "/");
  EXPECT_FALSE(fs::exists(deep + "/QVL.INI"));

  const std::string fits = dir_ + "/" + std::string(143 - dir_.size(), 'f');  // 144 characters
  ASSERT_TRUE(fs::create_directory(fits));
  UseDirectory(fits);
  EXPECT_EQ(ReportedSystemDirectory(), fits);
}

}  // namespace
}  // namespace plc
