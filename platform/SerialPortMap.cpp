#include "platform/SerialPortMap.h"

#include <cstdlib>

#include "base/RuntimeError.h"

namespace plc {

SerialPortMap& SerialPortMap::Current() {
  thread_local SerialPortMap map;
  return map;
}

void SerialPortMap::Map(int commPort, const std::string& path) {
  if (commPort < 1) throw RuntimeError(err::PortInvalid);
  if (path.empty()) {
    Unmap(commPort);
    return;
  }
  paths_[commPort] = path;
}

void SerialPortMap::Unmap(int commPort) { paths_.erase(commPort); }

std::optional<std::string> SerialPortMap::Mapped(int commPort) const {
  auto it = paths_.find(commPort);
  if (it == paths_.end()) return std::nullopt;
  return it->second;
}

std::string SerialPortMap::PathFor(int commPort) const {
  if (auto mapped = Mapped(commPort)) return *mapped;
  std::string variable = "QVL_COM" + std::to_string(commPort);
  if (const char* env = std::getenv(variable.c_str()); env && *env) return env;
  return "/dev/ttyS" + std::to_string(commPort - 1);
}

}  // namespace plc
