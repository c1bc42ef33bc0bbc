// Profile (INI) documents: a document that parses serializes back byte for byte, and a key set
// into it reads back, trimmed, from the re-parsed text while every other entry stays.
// fuzz-libs: plcbase
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "platform/ProfileFile.h"

namespace {

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  const auto e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  // The document, then after a NUL byte "section\x01key\x01value" to set.
  const auto nul = input.find('\0');
  const std::string text = input.substr(0, nul);
  auto doc = plc::ProfileDocument::Parse(text);
  if (!doc) return 0;
  if (doc->Serialize() != text) std::abort();
  if (nul == std::string::npos) return 0;

  const std::string edit = input.substr(nul + 1);
  const auto a = edit.find('\x01');
  const auto b = a == std::string::npos ? a : edit.find('\x01', a + 1);
  if (b == std::string::npos) return 0;
  const std::string section = edit.substr(0, a), key = edit.substr(a + 1, b - a - 1), value = edit.substr(b + 1);
  const plc::ProfileDocument before = *doc;
  try {
    doc->Set(section, key, value);
  } catch (const std::invalid_argument&) {
    return 0;
  }
  const auto again = plc::ProfileDocument::Parse(doc->Serialize());
  if (!again) std::abort();
  const auto got = again->Get(section, key);
  if (!got || *got != Trim(value)) std::abort();
  for (const auto& s : before.Sections()) {
    for (const auto& [k, v] : before.Entries(s)) {
      if (Lower(Trim(s)) == Lower(Trim(section)) && Lower(Trim(k)) == Lower(Trim(key))) continue;
      if (again->Get(s, k) != before.Get(s, k)) std::abort();
    }
  }
  return 0;
}
