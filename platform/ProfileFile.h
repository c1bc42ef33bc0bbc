#pragma once
// Private-profile (INI) files and the system directory.
//
// An INI document is kept as its lines, so that writing one key keeps every other section, key,
// comment and blank line of the file byte for byte. Section and key names match without regard
// to case; values are trimmed of surrounding blanks. Line ends (LF or CRLF) and a missing final
// line end are kept. Writes replace the file atomically (platform/AtomicFile.h): a crash
// mid-write leaves the old file whole.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/AtomicFile.h"

namespace plc {

class ProfileDocument {
 public:
  ProfileDocument() = default;
  // Parses a document. A line that is not a section header, a key=value pair, a comment (';'
  // or '#') or blank is an error: *errorLine (when given) gets its 1-based number.
  static std::optional<ProfileDocument> Parse(const std::string& text, int* errorLine = nullptr);
  std::string Serialize() const;

  // The trimmed value of the first such key in the first such section.
  std::optional<std::string> Get(const std::string& section, const std::string& key) const;
  // Rewrites only the key's line, or adds the key after the section's last key, or appends
  // the section at the end. Names or values that cannot live on one line (line breaks, NUL,
  // '=' in a key, ']' in a section name, empty names) throw std::invalid_argument.
  void Set(const std::string& section, const std::string& key, const std::string& value);
  void Remove(const std::string& section, const std::string& key);
  // Removes the section with its keys; comments inside it go with it.
  void RemoveSection(const std::string& section);
  // Leaves the section holding exactly these keys: other keys go, these are set in place (an
  // unchanged key keeps its line), comments stay, the section keeps its place (appended when
  // absent). Later sections of the same name are removed.
  void ReplaceSection(const std::string& section, const std::vector<std::pair<std::string, std::string>>& entries);
  std::vector<std::string> Sections() const;
  std::vector<std::pair<std::string, std::string>> Entries(const std::string& section) const;

 private:
  // Appends an empty section header; true when the document had no final line end, which
  // the header's line end now stands in for.
  bool AppendSection(const std::string& section);

  std::vector<std::string> lines_;
};

// Reads a key as the profile API does: the trimmed value without one pair of surrounding
// quotes; the default when the file, section or key is missing, or the file cannot be read
// or is not a profile (binary, a NUL byte, a line that is not an entry). Never throws.
std::string ReadProfileString(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& dflt);
// Writes a key, creating the file and section as needed; false when the file cannot be
// written, when the entry cannot be stored on one line, or when the existing file is not a
// profile (it is then refused rather than overwritten). On false the old file stays as it was.
bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value);

// Reads a whole file; nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// The system directory: QVL_SYSTEM_DIR when set and not empty, else /etc.
std::string SystemDirectory();

}  // namespace plc
