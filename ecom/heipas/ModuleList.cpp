#include "ecom/heipas/ModuleList.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace heipas {
namespace {

bool ParseNumber(const std::string& text, std::uint32_t max, std::uint32_t& out) {
  if (text.empty() || text.size() > 5) return false;
  std::uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (v > max) return false;
  out = v;
  return true;
}

std::optional<ModuleAddress> ParseEntry(const std::string& entry) {
  ModuleAddress a;
  std::string host = entry;
  const auto colon = entry.find(':');
  if (colon != std::string::npos) {
    host = entry.substr(0, colon);
    std::uint32_t port = 0;
    if (!ParseNumber(entry.substr(colon + 1), 65535, port) || port == 0) return std::nullopt;
    a.port = static_cast<std::uint16_t>(port);
  }
  std::uint32_t ip = 0;
  int parts = 0;
  std::size_t start = 0;
  while (true) {
    const auto dot = host.find('.', start);
    std::uint32_t octet = 0;
    if (!ParseNumber(host.substr(start, dot == std::string::npos ? std::string::npos : dot - start), 255, octet))
      return std::nullopt;
    ip = (ip << 8) | octet;
    ++parts;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (parts != 4) return std::nullopt;
  a.ipv4 = ip;
  return a;
}

bool IsSeparator(char c) { return c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// An entry as a message shows it: a long run of bytes is cut.
std::string Shown(const std::string& entry) {
  std::string shown;
  for (char c : entry.substr(0, 40)) shown += (c >= 0x20 && c < 0x7F) ? c : '?';
  return "'" + shown + (entry.size() > 40 ? "...'" : "'");
}

}  // namespace

std::optional<std::vector<ModuleAddress>> ParseModuleList(const std::string& text, std::string* why) {
  std::vector<ModuleAddress> list;
  std::string entry;
  bool comment = false;
  auto refuse = [&](std::string reason) {
    if (why) *why = std::move(reason);
    return false;
  };
  auto flush = [&]() -> bool {
    if (entry.empty()) return true;
    auto a = ParseEntry(entry);
    if (!a) return refuse("entry " + Shown(entry) + " is not A.B.C.D or A.B.C.D:PORT");
    if (list.size() == kMaxModuleEntries) return refuse("more than " + std::to_string(kMaxModuleEntries) + " entries");
    entry.clear();
    list.push_back(*a);
    return true;
  };
  for (char c : text) {
    if (comment) {
      if (c == '\n') comment = false;
      continue;
    }
    if (c == '#') {
      if (!flush()) return std::nullopt;
      comment = true;
    } else if (IsSeparator(c)) {
      if (!flush()) return std::nullopt;
    } else {
      entry.push_back(c);
    }
  }
  if (!flush()) return std::nullopt;
  return list;
}

std::optional<std::string> ReadModuleListFile(const std::string& path, std::string& why) {
  // Non-blocking, so that a FIFO named by mistake is refused rather than waited on.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    why = "the module list " + path + " cannot be opened: " + std::strerror(errno);
    return std::nullopt;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = "the module list " + path + " is not a regular file";
    return std::nullopt;
  }
  std::string text(kMaxModuleListBytes + 1, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = "the module list " + path + " cannot be read: " + std::strerror(errno);
      return std::nullopt;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got > kMaxModuleListBytes) {
    why = "the module list " + path + " is longer than " + std::to_string(kMaxModuleListBytes) + " bytes";
    return std::nullopt;
  }
  text.resize(got);
  return text;
}

namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

ConfiguredList FromText(const std::string& text, std::string source) {
  ConfiguredList c;
  c.source = std::move(source);
  std::string why;
  c.modules = ParseModuleList(text, &why);
  if (!c.modules) c.error = "the module list " + c.source + ": " + why;
  return c;
}

ConfiguredList FromFile(const std::string& path) {
  std::string why;
  const auto text = ReadModuleListFile(path, why);
  if (!text) return ConfiguredList{std::nullopt, path, why};
  return FromText(*text, path);
}

}  // namespace

ConfiguredList ConfiguredModules() {
  if (const char* env = std::getenv("HEI_PAS_MODULES"); env && *env) return FromText(env, "HEI_PAS_MODULES");
  if (const char* named = std::getenv("HEI_PAS_CONFIG"); named && *named) return FromFile(named);
  std::string user;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    user = std::string(xdg) + "/hei_pas.conf";
  } else if (const char* home = std::getenv("HOME"); home && *home == '/') {
    user = std::string(home) + "/.config/hei_pas.conf";
  }
  if (!user.empty() && Exists(user)) return FromFile(user);
  if (Exists("/etc/hei_pas.conf")) return FromFile("/etc/hei_pas.conf");
  return ConfiguredList{std::vector<ModuleAddress>{ModuleAddress{0x7F000001, kDefaultPort}}, "the default", ""};
}

int QueryMilliseconds() {
  const char* env = std::getenv("HEI_PAS_QUERY_MS");
  if (!env) return 250;
  char* end = nullptr;
  const long v = std::strtol(env, &end, 10);
  if (end == env || *end != '\0') return 250;
  return static_cast<int>(std::clamp<long>(v, 1, kMaxQueryMilliseconds));
}

std::string AddressText(const ModuleAddress& a) {
  return std::to_string(a.ipv4 >> 24) + "." + std::to_string((a.ipv4 >> 16) & 0xFF) + "." +
         std::to_string((a.ipv4 >> 8) & 0xFF) + "." + std::to_string(a.ipv4 & 0xFF) + ":" + std::to_string(a.port);
}

}  // namespace heipas
