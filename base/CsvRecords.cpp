#include "base/CsvRecords.h"

namespace plc {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// One record from text[pos]; pos and line move past it.
class RecordReader {
 public:
  RecordReader(std::string_view text, std::size_t& pos, int& line) : text_(text), pos_(pos), line_(line) {}

  std::optional<CsvError> Read(CsvRecord& record) {
    record.line = line_;
    record.fields.assign(1, std::string());
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n' || c == '\r') {
        pos_ += c == '\r' && Next() == '\n' ? 2 : 1;
        ++line_;
        return std::nullopt;
      }
      if (c == ',') {
        ++pos_;
        if (record.fields.size() == kMaxFields) return Fail(record, "more than 64 fields in one record");
        record.fields.emplace_back();
        continue;
      }
      // A quote opens a quoted field only as its first character; elsewhere it is text.
      if (c == '"' && record.fields.back().empty()) {
        if (auto e = Quoted(record)) return e;
        continue;
      }
      if (!Append(record, c)) return Fail(record, "a field longer than 1024 bytes");
      ++pos_;
    }
    return std::nullopt;
  }

 private:
  char Next() const { return pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0'; }

  bool Append(CsvRecord& record, char c) {
    if (record.fields.back().size() >= kMaxFieldBytes) return false;
    record.fields.back().push_back(c);
    return true;
  }

  std::optional<CsvError> Fail(const CsvRecord& record, std::string reason) const {
    return CsvError{record.line, std::move(reason)};
  }

  // A quoted field from its opening quote to its closing one.
  std::optional<CsvError> Quoted(CsvRecord& record) {
    ++pos_;
    for (;;) {
      if (pos_ >= text_.size()) return Fail(record, "a quote that is never closed");
      const char c = text_[pos_];
      if (c == '"' && Next() == '"') {
        if (!Append(record, '"')) return Fail(record, "a field longer than 1024 bytes");
        pos_ += 2;
        continue;
      }
      if (c == '"') {
        ++pos_;
        // Only a separator or the end of the record may follow.
        const char after = pos_ < text_.size() ? text_[pos_] : '\n';
        if (after != ',' && after != '\n' && after != '\r') return Fail(record, "text after the closing quote of a field");
        return std::nullopt;
      }
      // A line break inside the field counts as the record's breaks do: LF, CRLF, a lone CR.
      if (c == '\n' || (c == '\r' && Next() != '\n')) ++line_;
      if (!Append(record, c)) return Fail(record, "a field longer than 1024 bytes");
      ++pos_;
    }
  }

  std::string_view text_;
  std::size_t& pos_;
  int& line_;
};

}  // namespace

bool CsvRecord::Blank() const {
  for (const std::string& f : fields)
    if (f.find_first_not_of(" \t") != std::string::npos) return false;
  return true;
}

CsvRead ReadCsvRecords(std::string_view text) {
  CsvRead out;
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
  std::size_t pos = 0;
  int line = 1;
  while (pos < text.size()) {
    CsvRecord record;
    if (auto error = RecordReader(text, pos, line).Read(record)) {
      out.error = std::move(error);
      return out;
    }
    out.records.push_back(std::move(record));
  }
  return out;
}

std::string CsvField(std::string_view text) {
  // A field that starts with a byte order mark is quoted too: first in a file, it would be
  // taken for the file's own mark and dropped.
  const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                     text.substr(0, kByteOrderMark.size()) == kByteOrderMark ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' ' || text.front() == '\t' ||
                                        text.back() == '\t'));
  if (!quote) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace plc
