#pragma once
// Private-profile (INI) files and the system directory.
//
// An INI document is kept as its lines, so that writing one key keeps every other section, key,
// comment and blank line of the file byte for byte. Section and key names match without regard
// to case. Writes replace the file atomically (a temporary file in the same folder, renamed
// over the old one): a crash mid-write leaves the old file whole.
#include <optional>
#include <string>
#include <vector>

namespace plc {

class ProfileDocument {
 public:
  ProfileDocument() = default;
  // Parses a document. A line that is not a section header, a key=value pair, a comment (';'
  // or '#') or blank is an error: *errorLine (when given) gets its 1-based number.
  static std::optional<ProfileDocument> Parse(const std::string& text, int* errorLine = nullptr);
  std::string Serialize() const;

  std::optional<std::string> Get(const std::string& section, const std::string& key) const;
  void Set(const std::string& section, const std::string& key, const std::string& value);
  void Remove(const std::string& section, const std::string& key);
  // Removes the section with its keys; comments inside it go with it.
  void RemoveSection(const std::string& section);
  std::vector<std::string> Sections() const;
  std::vector<std::pair<std::string, std::string>> Entries(const std::string& section) const;

 private:
  std::vector<std::string> lines_;
};

// Reads a key as the profile API does: the default when the file, section or key is missing
// or the file cannot be read.
std::string ReadProfileString(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& dflt);
// Writes a key, creating the file and section as needed; false when the file cannot be
// written (the old file then stays as it was).
bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value);

// Reads a whole file; nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);
// Writes a file atomically; false on failure, leaving any old file untouched.
bool WriteFileAtomically(const std::string& path, const std::string& content);

// The system directory: QVL_SYSTEM_DIR when set, else /etc.
std::string SystemDirectory();

}  // namespace plc
