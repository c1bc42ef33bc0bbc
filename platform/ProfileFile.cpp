#include "platform/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace plc {
namespace {

constexpr const char* kBlanks = " \t";

std::string Trim(const std::string& s) {
  auto first = s.find_first_not_of(kBlanks);
  if (first == std::string::npos) return {};
  auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto la = static_cast<unsigned char>(a[i]);
    auto lb = static_cast<unsigned char>(b[i]);
    if (la >= 'A' && la <= 'Z') la = static_cast<unsigned char>(la - 'A' + 'a');
    if (lb >= 'A' && lb <= 'Z') lb = static_cast<unsigned char>(lb - 'A' + 'a');
    if (la != lb) return false;
  }
  return true;
}

// A line is kept with its own terminator ("\r\n", "\n" or none for a last line without one).
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    auto nl = text.find('\n', start);
    if (nl == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, nl + 1 - start));
    start = nl + 1;
  }
  return lines;
}

std::string Terminator(const std::string& line) {
  if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) return "\r\n";
  if (!line.empty() && line.back() == '\n') return "\n";
  return {};
}

std::string Body(const std::string& line) { return line.substr(0, line.size() - Terminator(line).size()); }

enum class LineKind { Blank, Comment, Section, Key, Bad };

struct LineInfo {
  LineKind kind = LineKind::Bad;
  std::string name;   // section or key name, trimmed
  std::string value;  // key value, trimmed
};

LineInfo Classify(const std::string& line, bool first) {
  std::string body = Body(line);
  if (first && body.compare(0, 3, "\xEF\xBB\xBF") == 0) body.erase(0, 3);  // a UTF-8 mark
  if (body.find('\0') != std::string::npos || body.find('\r') != std::string::npos) return {};
  std::string text = Trim(body);
  if (text.empty()) return {LineKind::Blank, {}, {}};
  if (text[0] == ';' || text[0] == '#') return {LineKind::Comment, {}, {}};
  if (text[0] == '[') {
    auto close = text.find(']');
    if (close == std::string::npos) return {};
    return {LineKind::Section, Trim(text.substr(1, close - 1)), {}};
  }
  auto eq = text.find('=');
  if (eq == std::string::npos) return {};
  std::string key = Trim(text.substr(0, eq));
  if (key.empty()) return {};
  return {LineKind::Key, key, Trim(text.substr(eq + 1))};
}

bool StorableText(const std::string& s) { return s.find_first_of(std::string("\r\n\0", 3)) == std::string::npos; }

bool StorableEntry(const std::string& section, const std::string& key, const std::string& value) {
  std::string s = Trim(section), k = Trim(key);
  return !s.empty() && !k.empty() && StorableText(section) && StorableText(key) && StorableText(value) &&
         s.find(']') == std::string::npos && k.find('=') == std::string::npos && k[0] != ';' && k[0] != '#' &&
         k[0] != '[';
}

// The range of lines of a section: the header index, and one past its last line.
struct SectionRange {
  std::size_t header;
  std::size_t end;
};

}  // namespace

std::optional<ProfileDocument> ProfileDocument::Parse(const std::string& text, int* errorLine) {
  ProfileDocument doc;
  doc.lines_ = SplitLines(text);
  for (std::size_t i = 0; i < doc.lines_.size(); ++i) {
    if (Classify(doc.lines_[i], i == 0).kind == LineKind::Bad) {
      if (errorLine) *errorLine = static_cast<int>(i + 1);
      return std::nullopt;
    }
  }
  return doc;
}

std::string ProfileDocument::Serialize() const {
  std::string out;
  for (const auto& line : lines_) out += line;
  return out;
}

namespace {

std::vector<SectionRange> FindSections(const std::vector<std::string>& lines, const std::string& section) {
  std::vector<SectionRange> found;
  std::string want = Trim(section);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    LineInfo info = Classify(lines[i], i == 0);
    if (info.kind != LineKind::Section) continue;
    if (!found.empty() && found.back().end == lines.size()) found.back().end = i;
    if (SameName(info.name, want)) found.push_back({i, lines.size()});
  }
  return found;
}

std::optional<std::size_t> FindKey(const std::vector<std::string>& lines, SectionRange range, const std::string& key) {
  std::string want = Trim(key);
  for (std::size_t i = range.header + 1; i < range.end; ++i) {
    LineInfo info = Classify(lines[i], false);
    if (info.kind == LineKind::Key && SameName(info.name, want)) return i;
  }
  return std::nullopt;
}

std::string DocumentEol(const std::vector<std::string>& lines) {
  for (const auto& line : lines) {
    std::string t = Terminator(line);
    if (!t.empty()) return t;
  }
  return "\n";
}

}  // namespace

std::optional<std::string> ProfileDocument::Get(const std::string& section, const std::string& key) const {
  auto sections = FindSections(lines_, section);
  if (sections.empty()) return std::nullopt;
  auto at = FindKey(lines_, sections.front(), key);
  if (!at) return std::nullopt;
  return Classify(lines_[*at], false).value;
}

void ProfileDocument::Set(const std::string& section, const std::string& key, const std::string& value) {
  if (!StorableEntry(section, key, value)) throw std::invalid_argument("profile entry cannot be stored as one line");
  const std::string eol = DocumentEol(lines_);
  auto sections = FindSections(lines_, section);
  if (sections.empty()) {
    const bool openEnd = AppendSection(section);
    lines_.push_back(Trim(key) + "=" + value + (openEnd ? "" : eol));
    return;
  }
  SectionRange range = sections.front();
  if (auto at = FindKey(lines_, range, key)) {
    std::string& line = lines_[*at];
    std::string body = Body(line);
    std::string indent = body.substr(0, body.find_first_not_of(kBlanks));
    std::string name = Classify(line, false).name;
    line = indent + name + "=" + value + Terminator(line);
    return;
  }
  // A new key goes after the last key of the section, before the blank lines and comments
  // that lead into the next one.
  std::size_t insertAt = range.header + 1;
  for (std::size_t i = range.header + 1; i < range.end; ++i)
    if (Classify(lines_[i], false).kind == LineKind::Key) insertAt = i + 1;
  std::string newLine = Trim(key) + "=" + value + eol;
  if (insertAt == lines_.size() && Terminator(lines_.back()).empty()) {
    lines_.back() += eol;
    newLine.resize(newLine.size() - eol.size());
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine);
}

bool ProfileDocument::AppendSection(const std::string& section) {
  // At the end, after a blank line; a file without a final line end stays so.
  const std::string eol = DocumentEol(lines_);
  const bool openEnd = !lines_.empty() && Terminator(lines_.back()).empty();
  if (openEnd) lines_.back() += eol;
  if (!lines_.empty() && Classify(lines_.back(), lines_.size() == 1).kind != LineKind::Blank) lines_.push_back(eol);
  lines_.push_back("[" + Trim(section) + "]" + eol);
  return openEnd;
}

void ProfileDocument::Remove(const std::string& section, const std::string& key) {
  for (;;) {
    auto sections = FindSections(lines_, section);
    if (sections.empty()) return;
    auto at = FindKey(lines_, sections.front(), key);
    if (!at) return;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*at));
  }
}

void ProfileDocument::RemoveSection(const std::string& section) {
  auto sections = FindSections(lines_, section);
  for (auto it = sections.rbegin(); it != sections.rend(); ++it)
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(it->header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(it->end));
}

void ProfileDocument::ReplaceSection(const std::string& section,
                                     const std::vector<std::pair<std::string, std::string>>& entries) {
  for (const auto& [key, value] : entries)
    if (!StorableEntry(section, key, value)) throw std::invalid_argument("profile entry cannot be stored as one line");
  // Later sections of the same name would shadow nothing but confuse a reader: they go.
  auto sections = FindSections(lines_, section);
  for (std::size_t n = sections.size(); n > 1; --n)
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(sections[n - 1].header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(sections[n - 1].end));
  for (const auto& [key, value] : Entries(section)) {
    bool kept = false;
    for (const auto& entry : entries) kept = kept || SameName(Trim(entry.first), key);
    if (!kept) Remove(section, key);
  }
  // A section with no keys is still the section: a control saved with every value at its
  // default is a stored one.
  if (sections.empty() && entries.empty() && AppendSection(section)) {
    lines_.back().resize(lines_.back().size() - DocumentEol(lines_).size());
  }
  for (const auto& [key, value] : entries) Set(section, key, value);
}

std::vector<std::string> ProfileDocument::Sections() const {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    LineInfo info = Classify(lines_[i], i == 0);
    if (info.kind != LineKind::Section) continue;
    bool seen = false;
    for (const auto& n : names) seen = seen || SameName(n, info.name);
    if (!seen) names.push_back(info.name);
  }
  return names;
}

std::vector<std::pair<std::string, std::string>> ProfileDocument::Entries(const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> out;
  auto sections = FindSections(lines_, section);
  if (sections.empty()) return out;
  for (std::size_t i = sections.front().header + 1; i < sections.front().end; ++i) {
    LineInfo info = Classify(lines_[i], false);
    if (info.kind != LineKind::Key) continue;
    bool seen = false;
    for (const auto& e : out) seen = seen || SameName(e.first, info.name);
    if (!seen) out.emplace_back(info.name, info.value);
  }
  return out;
}

std::string ReadProfileString(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& dflt) {
  try {
    auto text = ReadWholeFile(path);
    if (!text) return dflt;
    auto doc = ProfileDocument::Parse(*text);
    if (!doc) return dflt;
    auto value = doc->Get(section, key);
    if (!value) return dflt;
    // As the profile API does, one pair of matching quotes around the value is dropped.
    if (value->size() >= 2 && (value->front() == '"' || value->front() == '\'') && value->back() == value->front())
      return value->substr(1, value->size() - 2);
    return *value;
  } catch (...) {
    return dflt;
  }
}

bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
  if (!StorableEntry(section, key, value)) return false;
  try {
    ProfileDocument doc;
    if (auto text = ReadWholeFile(path)) {
      // A file that is not a profile is somebody else's: it is refused, never overwritten.
      auto parsed = ProfileDocument::Parse(*text);
      if (!parsed) return false;
      doc = std::move(*parsed);
    } else {
      struct stat st {};
      if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT) return false;  // there but unreadable
    }
    doc.Set(section, key, value);
    return WriteFileAtomically(path, doc.Serialize());
  } catch (...) {
    return false;
  }
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string out;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

std::string SystemDirectory() {
  const char* dir = std::getenv("QVL_SYSTEM_DIR");
  return dir && *dir ? dir : "/etc";
}

}  // namespace plc
