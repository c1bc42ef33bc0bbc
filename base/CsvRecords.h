#pragma once
// Comma-separated records as spreadsheets export them (RFC 4180): fields separated by ",", a
// field in double quotes may hold commas, line breaks and doubled quotes (""), records end at
// LF, CRLF or a lone CR. A UTF-8 byte order mark before the first record is dropped. Pure: text
// in, records out; nothing here opens a file.
//
// The reader is bounded for text from anywhere: a record holds at most kMaxFields fields of at
// most kMaxFieldBytes bytes each; past either, or at a quote that is never closed, or at text
// after a closing quote, reading stops with the line where the broken record starts.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plc {

struct CsvRecord {
  int line = 0;  // 1-based line where the record starts
  std::vector<std::string> fields;

  // Every field empty (a blank line, or a spreadsheet row of empty cells).
  bool Blank() const;
};

struct CsvError {
  int line = 0;
  std::string reason;
};

struct CsvRead {
  std::vector<CsvRecord> records;
  std::optional<CsvError> error;  // reading stopped here; records holds those before it
};

inline constexpr std::size_t kMaxFields = 64;
inline constexpr std::size_t kMaxFieldBytes = 1024;

CsvRead ReadCsvRecords(std::string_view text);

// A field written so that ReadCsvRecords reads it back as it is: quoted when it holds a comma,
// a quote, a line break or blanks at either end, or starts with a byte order mark.
std::string CsvField(std::string_view text);

}  // namespace plc
