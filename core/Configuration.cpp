#include "core/Configuration.h"

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

void LoadConfiguration(const std::string& deviceName) {
  ConfigurationRecord& cfg = Configuration();
  cfg.SystemDirectory = ReportedSystemDirectory();
  const std::string folder = WithSeparator(cfg.SystemDirectory);
  if (cfg.SystemDirectory.empty()) {
    // No folder to look in: never fall back to a file at the root.
    cfg.DatabasePath = folder;
    return;
  }
  const std::string file = folder + "QVL.INI";
  std::string path = FitBuffer(ReadProfileString(file, "DatabasePath", "pDatabasePath", ""), kDatabasePathBuffer);
  cfg.DatabasePath = path.empty() ? folder : path;
  WriteProfileString(file, "IOType", "IODevice", deviceName);
}

}  // namespace plc
