#pragma once
// The list of addresses where hei_pas looks for ECOM modules: parsing the text of the
// environment variable or configuration file (pure), and finding that text.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace heipas {

constexpr std::uint16_t kDefaultPort = 28784;
constexpr std::size_t kMaxModuleEntries = 64;

struct ModuleAddress {
  std::uint32_t ipv4 = 0;  // host byte order
  std::uint16_t port = kDefaultPort;
  bool operator==(const ModuleAddress&) const = default;
};

// "host:port" entries (dotted IPv4, port 1..65535, ":port" optional) separated by commas,
// semicolons, blanks, tabs or line ends; "#" comments out the rest of its line. nullopt for
// any malformed entry or more than kMaxModuleEntries entries. An empty text is an empty list.
std::optional<std::vector<ModuleAddress>> ParseModuleList(const std::string& text);

// The list in force (hei_pas.h): HEI_PAS_MODULES, else the HEI_PAS_CONFIG file, else
// ./hei_pas.conf, else 127.0.0.1 on the default port. nullopt when the text is malformed or
// the named file cannot be read.
std::optional<std::vector<ModuleAddress>> ConfiguredModules();

// HEI_PAS_QUERY_MS, 1..60000, else 250.
int QueryMilliseconds();

std::string AddressText(const ModuleAddress& a);

}  // namespace heipas
