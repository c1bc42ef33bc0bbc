#include "ecom/heipas/ModuleList.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

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

}  // namespace

std::optional<std::vector<ModuleAddress>> ParseModuleList(const std::string& text) {
  std::vector<ModuleAddress> list;
  std::string entry;
  bool comment = false;
  auto flush = [&]() -> bool {
    if (entry.empty()) return true;
    auto a = ParseEntry(entry);
    entry.clear();
    if (!a || list.size() == kMaxModuleEntries) return false;
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

std::optional<std::vector<ModuleAddress>> ConfiguredModules() {
  if (const char* env = std::getenv("HEI_PAS_MODULES"); env && *env) return ParseModuleList(env);
  std::string path = "hei_pas.conf";
  const char* named = std::getenv("HEI_PAS_CONFIG");
  if (named && *named) path = named;
  std::ifstream file(path);
  if (!file) {
    if (named && *named) return std::nullopt;
    return std::vector<ModuleAddress>{ModuleAddress{0x7F000001, kDefaultPort}};
  }
  std::stringstream text;
  text << file.rdbuf();
  return ParseModuleList(text.str());
}

int QueryMilliseconds() {
  const char* env = std::getenv("HEI_PAS_QUERY_MS");
  if (!env) return 250;
  char* end = nullptr;
  const long v = std::strtol(env, &end, 10);
  if (end == env || *end != '\0' || v < 1 || v > 60000) return 250;
  return static_cast<int>(v);
}

std::string AddressText(const ModuleAddress& a) {
  return std::to_string(a.ipv4 >> 24) + "." + std::to_string((a.ipv4 >> 16) & 0xFF) + "." +
         std::to_string((a.ipv4 >> 8) & 0xFF) + "." + std::to_string(a.ipv4 & 0xFF) + ":" + std::to_string(a.port);
}

}  // namespace heipas
