#include "df1/Addressing.h"

#include <array>
#include <cctype>
#include <limits>
#include <string>

namespace plc::df1 {

namespace {

constexpr std::array<FileType, 14> kFileTypes{{
    {"O", 0x82, 2},
    {"I", 0x83, 2},
    {"S", 0x84, 2},
    {"B", 0x85, 2},
    {"T", 0x86, 2},
    {"C", 0x87, 2},
    {"R", 0x88, 2},
    {"N", 0x89, 2},
    {"F", 0x8A, 4},
    {"A", 0x8E, 2},
    {"BCD", 0x99, 2},
    {"CC", 0x88, 2},
    {"CCO", 0x87, 2},
    {"ST", 0x8D, 2},
}};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The two parsers differ only in these rules.
struct Dialect {
  bool lettersRequired;
  bool bitFormWithoutColon;  // B3/35 read as bit 35 of the file
  bool subElement;           // "." introduces a sub-element
};
constexpr Dialect kRead{true, true, true};
constexpr Dialect kWrite{false, false, false};

// A cursor over the text. Numbers accumulate in 64 bits and refuse what does not fit 32.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }
  void Skip() { ++pos_; }
  void SkipSpaces() {
    while (!AtEnd() && Peek() == ' ') ++pos_;
  }
  std::string_view TakeLetters() {
    std::size_t start = pos_;
    while (!AtEnd() && Peek() != ':' && Peek() != ' ' && !IsDigit(Peek())) ++pos_;
    return text_.substr(start, pos_ - start);
  }
  // Digits, passing over the characters in skip; stops at any other character. Empty when
  // the number does not fit 32 bits.
  std::optional<std::int32_t> TakeNumber(std::string_view skip) {
    std::int64_t value = 0;
    while (!AtEnd()) {
      char c = Peek();
      if (IsDigit(c)) {
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
      } else if (skip.find(c) == std::string_view::npos) {
        break;
      }
      ++pos_;
    }
    return static_cast<std::int32_t>(value);
  }
  // Consumes the stopping character; true when at least one character follows it.
  bool ConsumeStopFollowed() {
    ++pos_;
    return pos_ < text_.size();
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// What follows the element in the colon form: a sub-element after "." (reads), then a bit
// number. Returns the bit number (99: none), or empty when a number does not fit.
std::optional<std::int32_t> ParseTail(Cursor& c, char stop, bool more, const Dialect& d, std::int32_t& wordOffset) {
  if (stop == '.' && d.subElement) {
    if (!more) return kNoBit;  // T4:2. addresses the element itself
    c.SkipSpaces();
    auto sub = c.TakeNumber(" ");
    if (!sub || *sub == std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    wordOffset = *sub + 1;
    more = !c.AtEnd() && c.ConsumeStopFollowed();
  }
  if (!more) return kNoBit;
  c.SkipSpaces();
  return c.TakeNumber("/ ");
}

std::optional<ParsedAddress> Parse(std::string_view text, const Dialect& d) {
  const bool colonForm = text.find(':') != std::string_view::npos;
  ParsedAddress a;
  Cursor c(text);
  c.SkipSpaces();
  std::string_view letters = c.TakeLetters();
  if (letters.empty() && d.lettersRequired) return std::nullopt;
  c.SkipSpaces();

  // File number: digits up to ':', a space or any other non-digit. Digits that run to the
  // end, or a stop with nothing after it (N7:), leave no element to address.
  auto file = c.TakeNumber("");
  if (!file || c.AtEnd()) return std::nullopt;
  if (!c.ConsumeStopFollowed()) return std::nullopt;
  a.FileNumber = *file;

  // Element: digits, passing over spaces and ':'.
  c.SkipSpaces();
  auto element = c.TakeNumber(" :");
  if (!element) return std::nullopt;
  a.ElementNumber = *element;
  bool more = false;
  char stop = 0;
  if (!c.AtEnd()) {
    stop = c.Peek();
    more = c.ConsumeStopFollowed();
  }

  if (!colonForm && d.bitFormWithoutColon) {
    // B3/35: a bit counted from the start of the file; the rest is ignored.
    a.BitNumber = a.ElementNumber % 16;
    a.ElementNumber /= 16;
  } else if (auto bit = ParseTail(c, stop, more, d, a.WordOffset)) {
    a.BitNumber = *bit;
  } else {
    return std::nullopt;
  }
  a.FileTypeCode = FileTypeCodeOf(letters);
  if (a.FileTypeCode == kCodeOutput || a.FileTypeCode == kCodeInput || a.FileTypeCode == kCodeStatus)
    a.FileNumber = a.FileTypeCode;
  return a;
}

}  // namespace

const FileType& FileTypeOf(std::int16_t code) {
  if (code < 0 || code >= static_cast<std::int16_t>(kFileTypes.size())) return kFileTypes[kCodeBit];
  return kFileTypes[static_cast<std::size_t>(code)];
}

std::int16_t FileTypeCodeOf(std::string_view letters) {
  std::string upper(letters);
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  for (std::size_t i = 0; i < kFileTypes.size(); ++i)
    if (kFileTypes[i].letters == upper) return static_cast<std::int16_t>(i);
  return kCodeBit;
}

std::optional<ParsedAddress> ParseReadAddress(std::string_view text) { return Parse(text, kRead); }
std::optional<ParsedAddress> ParseWriteAddress(std::string_view text) { return Parse(text, kWrite); }

}  // namespace plc::df1
