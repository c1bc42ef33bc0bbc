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
// A module list file longer than this is refused: a list of 64 entries is far shorter, and a
// device file or a mistaken path must not be read without end.
constexpr std::size_t kMaxModuleListBytes = 64 * 1024;
// The query waits at most this long for the listed modules (HEI_PAS_QUERY_MS is clamped to it).
constexpr int kMaxQueryMilliseconds = 2000;

struct ModuleAddress {
  std::uint32_t ipv4 = 0;  // host byte order
  std::uint16_t port = kDefaultPort;
  bool operator==(const ModuleAddress&) const = default;
};

// "host:port" entries (dotted IPv4, port 1..65535, ":port" optional) separated by commas,
// semicolons, blanks, tabs or line ends; "#" comments out the rest of its line. nullopt for
// any malformed entry or more than kMaxModuleEntries entries, with the reason in *why when
// given. An empty text is an empty list.
std::optional<std::vector<ModuleAddress>> ParseModuleList(const std::string& text, std::string* why = nullptr);

// The list in force and where it came from.
struct ConfiguredList {
  std::optional<std::vector<ModuleAddress>> modules;  // nullopt: it could not be read
  std::string source;                                 // "HEI_PAS_MODULES", a file's path, or "the default"
  std::string error;                                  // why not, naming the source
};

// The list in force (hei_pas.h), from the first of: HEI_PAS_MODULES; the file HEI_PAS_CONFIG
// names; $XDG_CONFIG_HOME/hei_pas.conf (else $HOME/.config/hei_pas.conf) when it exists;
// /etc/hei_pas.conf when it exists; else 127.0.0.1 on the default port. Nothing is read from
// the current directory. A file must be a regular file of at most kMaxModuleListBytes.
ConfiguredList ConfiguredModules();

// The text of a module list file, or nullopt with why (naming the path): not there, not a
// regular file, unreadable, or longer than kMaxModuleListBytes.
std::optional<std::string> ReadModuleListFile(const std::string& path, std::string& why);

// HEI_PAS_QUERY_MS, clamped to 1..kMaxQueryMilliseconds; 250 when unset or not a number.
int QueryMilliseconds();

std::string AddressText(const ModuleAddress& a);

}  // namespace heipas
