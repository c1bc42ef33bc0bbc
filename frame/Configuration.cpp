#include "frame/Configuration.h"

#include "platform/ProfileFile.h"

namespace plc {

namespace {

constexpr std::size_t kSystemDirectoryBuffer = 145;
constexpr std::size_t kDatabasePathBuffer = 100;

// What a character buffer of the given size holds of a text: at most size - 1 characters and
// nothing from the first NUL on.
std::string FitBuffer(const std::string& text, std::size_t size) {
  std::string s = text.substr(0, text.find('\0'));
  if (s.size() > size - 1) s.resize(size - 1);
  return s;
}

std::string WithSeparator(const std::string& dir) {
  return !dir.empty() && dir.back() == '/' ? dir : dir + "/";
}

}  // namespace

ConfigurationRecord& Configuration() {
  thread_local ConfigurationRecord record;
  return record;
}

std::string ReportedSystemDirectory() {
  std::string dir = SystemDirectory();
  dir = dir.substr(0, dir.find('\0'));
  // Too long for the buffer: nothing is reported rather than a cut path that names another
  // folder.
  return dir.size() < kSystemDirectoryBuffer ? dir : std::string();
}

std::string ConfiguredDatabasePath() {
  const std::string system = ReportedSystemDirectory();
  const std::string folder = WithSeparator(system);
  // No folder to look in: never fall back to a file at the root.
  if (system.empty()) return folder;
  std::string path =
      FitBuffer(ReadProfileString(folder + "QVL.INI", "DatabasePath", "pDatabasePath", ""), kDatabasePathBuffer);
  return path.empty() ? folder : path;
}

void LoadConfiguration(const std::string& deviceName) {
  ConfigurationRecord& cfg = Configuration();
  cfg.SystemDirectory = ReportedSystemDirectory();
  cfg.DatabasePath = ConfiguredDatabasePath();
  if (cfg.SystemDirectory.empty()) return;
  WriteProfileString(WithSeparator(cfg.SystemDirectory) + "QVL.INI", "IOType", "IODevice", deviceName);
}

}  // namespace plc
