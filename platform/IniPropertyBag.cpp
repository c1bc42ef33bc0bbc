#include "platform/IniPropertyBag.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "base/RuntimeError.h"
#include "platform/ProfileFile.h"

namespace plc {
namespace {

constexpr const char* kBlanks = " \t";
constexpr const char* kHex = "0123456789ABCDEF";

std::string Trim(const std::string& s) {
  auto first = s.find_first_not_of(kBlanks);
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// ---- value text ----------------------------------------------------------------------------

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default:
        if (u < 0x20 || u == 0x7F) {
          out += "\\x";
          out += kHex[u >> 4];
          out += kHex[u & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted text starting at text[pos] == '"'; pos moves past the closing quote.
std::optional<std::string> Unquote(const std::string& text, std::size_t& pos) {
  if (pos >= text.size() || text[pos] != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = pos + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      pos = i + 1;
      return out;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i >= text.size()) return std::nullopt;
    switch (text[i]) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case 'x': {
        if (i + 2 >= text.size()) return std::nullopt;
        int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default: return std::nullopt;
    }
  }
  return std::nullopt;  // no closing quote
}

std::string FormatDouble(double v) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, res.ptr);
  if (s.find_first_of(".eEn") == std::string::npos) s += ".0";  // "n": inf and nan
  return s;
}

template <class T>
std::optional<T> WholeNumber(std::string_view s) {
  T v{};
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}

std::optional<Variant> ParseFont(const std::string& t) {
  constexpr std::string_view head = "Font(";
  if (t.compare(0, head.size(), head) != 0 || t.back() != ')') return std::nullopt;
  std::size_t pos = head.size();
  auto skip = [&] {
    while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
  };
  skip();
  auto name = Unquote(t, pos);
  if (!name) return std::nullopt;
  // The rest is three numbers separated by commas, then the closing parenthesis.
  std::string_view rest(t.data() + pos, t.size() - pos - 1);
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= rest.size()) {
    auto comma = rest.find(',', start);
    if (comma == std::string_view::npos) comma = rest.size();
    parts.push_back(Trim(std::string(rest.substr(start, comma - start))));
    start = comma + 1;
  }
  if (parts.size() != 4 || !parts[0].empty()) return std::nullopt;  // parts[0]: between name and first comma
  auto size = WholeNumber<double>(parts[1]);
  auto bold = WholeNumber<int>(parts[2]);
  auto italic = WholeNumber<int>(parts[3]);
  if (!size || !bold || !italic) return std::nullopt;
  return Variant(Font{*name, *size, *bold != 0, *italic != 0});
}

std::optional<Variant> ParseTyped(const std::string& t) {
  if (t.empty()) return std::nullopt;
  if (t == "Empty") return Variant();
  if (SameName(t, "True")) return Variant(true);
  if (SameName(t, "False")) return Variant(false);
  if (t.front() == '"') {
    std::size_t pos = 0;
    auto s = Unquote(t, pos);
    if (s && pos == t.size()) return Variant(*s);
    return std::nullopt;
  }
  if (auto font = ParseFont(t)) return font;
  std::string_view body(t.data(), t.size() - 1);
  if (t.compare(0, 5, "Byte(") == 0 && t.back() == ')') {
    auto v = WholeNumber<int>(std::string_view(t).substr(5, t.size() - 6));
    if (v && *v >= 0 && *v <= 255) return Variant(static_cast<std::uint8_t>(*v));
    return std::nullopt;
  }
  if (t.back() == '&') {
    if (auto v = WholeNumber<std::int32_t>(body)) return Variant(*v);
    return std::nullopt;
  }
  if (t.back() == '!') {
    if (auto v = WholeNumber<float>(body)) return Variant(*v);
    return std::nullopt;
  }
  if (auto v = WholeNumber<long long>(t)) {
    if (*v >= std::numeric_limits<std::int16_t>::min() && *v <= std::numeric_limits<std::int16_t>::max())
      return Variant(static_cast<std::int16_t>(*v));
    if (*v >= std::numeric_limits<std::int32_t>::min() && *v <= std::numeric_limits<std::int32_t>::max())
      return Variant(static_cast<std::int32_t>(*v));
    return Variant(static_cast<double>(*v));
  }
  if (auto v = WholeNumber<double>(t)) return Variant(*v);
  return std::nullopt;
}

// ---- file access ---------------------------------------------------------------------------

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

std::string SystemMessage(int code) { return std::error_code(code, std::generic_category()).message(); }

std::string WhyUnreadable(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return SystemMessage(errno);
  ::close(fd);
  return "not a regular file";
}

std::string DescribeBadLine(const std::string& path, const std::string& text, int line) {
  // Find the offending line to say what is wrong with it.
  std::size_t start = 0;
  for (int n = 1; n < line && start < text.size(); ++n) {
    auto nl = text.find('\n', start);
    start = nl == std::string::npos ? text.size() : nl + 1;
  }
  auto end = text.find('\n', start);
  std::string body = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
  std::string what = body.find('\0') != std::string::npos
                         ? "holds a NUL byte (a binary file?)"
                         : "is not a [section], key=value, comment or blank line";
  return ErrorText(err::BadFileFormat) + ": " + path + ", line " + std::to_string(line) + " " + what;
}

// The document as it is on disk now; a missing file is an empty one.
ProfileDocument ReadDocument(const std::string& path, const std::string& doing) {
  auto text = ReadWholeFile(path);
  if (!text) {
    if (!Exists(path)) return {};
    throw RuntimeError(err::FileNotFound, "Cannot read property file " + path + ": " + WhyUnreadable(path) + doing);
  }
  int line = 0;
  auto doc = ProfileDocument::Parse(*text, &line);
  if (!doc) throw RuntimeError(err::BadFileFormat, DescribeBadLine(path, *text, line) + doing);
  return std::move(*doc);
}

bool StorableKey(const std::string& key) {
  std::string k = Trim(key);
  return !k.empty() && k.find_first_of(std::string("=\r\n\0", 4)) == std::string::npos && k[0] != '[' &&
         k[0] != ';' && k[0] != '#';
}

}  // namespace

std::string FormatProfileValue(const Variant& value) {
  switch (value.Type()) {
    case VarType::Empty: return "Empty";
    case VarType::Int16: return std::to_string(value.ToInt16());
    case VarType::Int32: return std::to_string(value.ToInt32()) + "&";
    case VarType::Byte: return "Byte(" + std::to_string(value.ToByte()) + ")";
    case VarType::Single: {
      char buf[64];
      auto res = std::to_chars(buf, buf + sizeof buf, value.ToSingle());
      return std::string(buf, res.ptr) + "!";
    }
    case VarType::Double: return FormatDouble(value.ToDouble());
    case VarType::Bool: return value.ToBool() ? "True" : "False";
    case VarType::String: return Quote(value.ToString());
    case VarType::Font: {
      Font f = value.ToFont();
      char buf[64];
      auto res = std::to_chars(buf, buf + sizeof buf, f.size);
      return "Font(" + Quote(f.name) + "," + std::string(buf, res.ptr) + "," + (f.bold ? "1" : "0") + "," +
             (f.italic ? "1" : "0") + ")";
    }
    case VarType::Array: break;
  }
  throw RuntimeError(err::TypeMismatch, ErrorText(err::TypeMismatch) + ": an array cannot be stored in a profile");
}

Variant ParseProfileValue(const std::string& text) {
  std::string t = Trim(text);
  if (auto v = ParseTyped(t)) return *v;
  // A value followed by a comment after a blank (`1000   ; how often`), as documents edited by
  // hand carry them: the value. Text that is no value keeps its ';', which settings may hold.
  for (auto semi = t.find(';'); semi != std::string::npos; semi = t.find(';', semi + 1)) {
    if (semi == 0 || (t[semi - 1] != ' ' && t[semi - 1] != '\t')) continue;
    if (auto v = ParseTyped(Trim(t.substr(0, semi)))) return *v;
  }
  return Variant(t);
}

void IniPropertyBag::Load(const std::string& path, const std::string& section) {
  std::string name = Trim(section);
  if (name.empty() || name.find_first_of(std::string("]\r\n\0", 4)) != std::string::npos)
    throw RuntimeError(err::InvalidCall, "\"" + section + "\" cannot be a section name of a property file");
  ProfileDocument doc = ReadDocument(path, "");
  std::vector<std::pair<std::string, Variant>> entries;
  for (const auto& [key, text] : doc.Entries(section)) entries.emplace_back(key, ParseProfileValue(text));
  bool found = false;
  for (const std::string& s : doc.Sections()) found = found || SameName(s, name);
  path_ = path;
  section_ = section;
  entries_ = std::move(entries);
  sectionFound_ = found;
  written_.clear();
  rewrite_ = false;
  loaded_ = true;
}

void IniPropertyBag::Save() {
  if (!loaded_) throw RuntimeError(err::InvalidCall, "The property bag has no file: Load it before Save");
  if (!rewrite_) return;  // nothing written: the section stays as it is in the file
  // Re-read, so that what other bags saved to other sections of this file meanwhile stays.
  ProfileDocument doc = ReadDocument(path_, "; the properties were not saved");
  std::vector<std::pair<std::string, std::string>> lines;
  for (const auto& key : written_)
    if (auto it = Find(key); it != entries_.end()) lines.emplace_back(it->first, FormatProfileValue(it->second));
  // A key loaded and never written is not this bag's to change (a plant document's Control key,
  // a key the control does not store): it stays as the file now has it, or gone if it went.
  for (const auto& [key, value] : entries_) {
    if (WasWritten(key)) continue;
    if (auto text = doc.Get(section_, key)) lines.emplace_back(key, *text);
  }
  doc.ReplaceSection(section_, lines);
  if (!WriteFileAtomically(path_, doc.Serialize())) {
    int code = errno;
    throw RuntimeError(err::FileNotFound, "Cannot write property file " + path_ + ": " + SystemMessage(code) +
                                              "; the old file is unchanged");
  }
}

void IniPropertyBag::Clear() {
  entries_.clear();
  written_.clear();
  rewrite_ = true;
}

std::vector<std::pair<std::string, Variant>>::iterator IniPropertyBag::Find(const std::string& key) {
  std::string k = Trim(key);
  for (auto it = entries_.begin(); it != entries_.end(); ++it)
    if (SameName(it->first, k)) return it;
  return entries_.end();
}

Variant IniPropertyBag::ReadProperty(const std::string& key, const Variant& readDefault) {
  auto it = Find(key);
  return it == entries_.end() ? readDefault : it->second;
}

void IniPropertyBag::WriteProperty(const std::string& key, const Variant& value, const Variant& writeDefault) {
  if (!StorableKey(key))
    throw RuntimeError(err::InvalidCall, "Property name \"" + key + "\" cannot be stored in a profile");
  if (value.IsArray())
    throw RuntimeError(err::TypeMismatch,
                       ErrorText(err::TypeMismatch) + " in property \"" + key + "\": an array cannot be stored");
  const std::string k = Trim(key);
  auto it = Find(k);
  if (SameAsDefault(value, writeDefault)) {
    if (it != entries_.end()) entries_.erase(it);
  } else if (it != entries_.end()) {
    it->second = value;
  } else {
    entries_.emplace_back(k, value);
  }
  if (!WasWritten(k)) written_.push_back(k);
  rewrite_ = true;
}

bool IniPropertyBag::WasWritten(const std::string& key) const {
  for (const auto& w : written_)
    if (SameName(w, key)) return true;
  return false;
}

}  // namespace plc
