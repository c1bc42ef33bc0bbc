#pragma once
// The shared configuration file QVL.INI that RtuLink's and DfLink's mains read: the tag
// database folder, and the name of the driver last started, for other programs of the family.
#include <string>

namespace plc {

inline constexpr const char* kModbusDeviceName = "Modbus";  // RtuLink
inline constexpr const char* kDf1DeviceName = "ABDH";       // DfLink

// What LoadConfiguration found; set by each call and read by nothing else in the product.
struct ConfigurationRecord {
  std::string DatabasePath;
  std::string SystemDirectory;
};

// This thread's record of this deliverable.
ConfigurationRecord& Configuration();

// The system directory as the controls report it: at most 144 characters (the reporting buffer
// holds 145 with its terminating NUL). A longer one cannot be reported and gives empty text.
std::string ReportedSystemDirectory();

// Reads section "DatabasePath" key "pDatabasePath" of SystemDirectory/QVL.INI (at most 99
// characters, cut at a NUL) into DatabasePath, defaulting to SystemDirectory + "/", and writes
// section "IOType" key "IODevice" = deviceName. A missing or unreadable file or section gives the
// default; a failed write is not reported and leaves the old file whole. Without a reportable
// system directory no file is touched.
void LoadConfiguration(const std::string& deviceName);

// The DatabasePath LoadConfiguration would set, read without writing anything.
std::string ConfiguredDatabasePath();

}  // namespace plc
