#include "df1/Addressing.h"

#include <array>
#include <cstdint>
#include <span>
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

constexpr const char* kKnownLetters = "O, I, S, B, T, C, R, N, F, A, BCD, CC, CCO or ST";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string UpperText(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Upper(c);
  return out;
}

// Named words and bits of the three-word elements (timers, counters, controls), by the file
// type byte, so that CC and CCO take the mnemonics of the files they alias.
struct Mnemonic {
  std::string_view name;
  std::int32_t number;
};
constexpr Mnemonic kTimerWords[] = {{"PRE", 1}, {"ACC", 2}};
constexpr Mnemonic kTimerBits[] = {{"EN", 15}, {"TT", 14}, {"DN", 13}};
constexpr Mnemonic kCounterWords[] = {{"PRE", 1}, {"ACC", 2}};
constexpr Mnemonic kCounterBits[] = {{"CU", 15}, {"CD", 14}, {"DN", 13}, {"OV", 12}, {"UN", 11}, {"UA", 10}};
constexpr Mnemonic kControlWords[] = {{"LEN", 1}, {"POS", 2}};
constexpr Mnemonic kControlBits[] = {{"EN", 15}, {"EU", 14}, {"DN", 13}, {"EM", 12},
                                     {"ER", 11}, {"UL", 10}, {"IN", 9},  {"FD", 8}};

struct ElementShape {
  bool threeWords = false;  // timer, counter, control: sub-elements 0..2
  bool bits = true;         // a word whose bits can be named
  std::span<const Mnemonic> words;
  std::span<const Mnemonic> namedBits;
};

ElementShape ShapeOf(std::int16_t code) {
  switch (FileTypeOf(code).typeByte) {
    case 0x86: return {true, true, kTimerWords, kTimerBits};
    case 0x87: return {true, true, kCounterWords, kCounterBits};
    case 0x88: return {true, true, kControlWords, kControlBits};
    case 0x8A:  // floats
    case 0x8D:  // strings
      return {false, false, {}, {}};
    default: return {};
  }
}

std::optional<std::int32_t> Find(std::span<const Mnemonic> table, std::string_view name) {
  for (const Mnemonic& m : table)
    if (m.name == name) return m.number;
  return std::nullopt;
}

std::string Names(std::span<const Mnemonic> table) {
  std::string out;
  for (const Mnemonic& m : table) out += (out.empty() ? "" : ", ") + std::string(m.name);
  return out;
}

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }
  void SkipSpaces() {
    while (!AtEnd() && text_[pos_] == ' ') ++pos_;
  }
  bool Take(char c) {
    if (AtEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  std::string_view Letters() { return TakeWhile(IsLetter); }
  std::string_view Digits() { return TakeWhile(IsDigit); }
  std::string_view Rest() const { return text_.substr(pos_); }

 private:
  template <class Pred>
  std::string_view TakeWhile(Pred pred) {
    const std::size_t start = pos_;
    while (!AtEnd() && pred(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }
  std::string_view text_;
  std::size_t pos_ = 0;
};

// Digits as a number when it is at most max; empty beyond (however many digits).
std::optional<std::int64_t> NumberUpTo(std::string_view digits, std::int64_t max) {
  std::int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > max) return std::nullopt;
  }
  return value;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text), s_(text) {}

  AddressParse Run() {
    s_.SkipSpaces();
    const std::string_view letters = s_.Letters();
    if (letters.empty()) return Fail("has no file type letters (as in N7:0, B3/35 or T4:1.ACC)");
    auto code = FileTypeCodeOf(letters);
    if (!code) return Fail("has the file type '" + std::string(letters) + "', which is none of " + kKnownLetters);
    a_.FileTypeCode = *code;
    shape_ = ShapeOf(*code);
    s_.SkipSpaces();
    if (!FileNumber(letters)) return Refused();
    s_.SkipSpaces();
    if (s_.Take(':')) {
      if (!ColonForm()) return Refused();
    } else if (s_.Take('/')) {
      if (!BitOfFile()) return Refused();
    } else {
      return Fail(s_.AtEnd() ? "has no element: give one after a colon, as in " + Example()
                             : "has '" + std::string(s_.Rest()) + "' where ':' and an element belong");
    }
    s_.SkipSpaces();
    if (!s_.AtEnd()) return Fail("ends in '" + std::string(s_.Rest()) + "', which is not understood");
    return AddressParse{a_, {}};
  }

 private:
  AddressParse Fail(const std::string& why) {
    error_ = why;
    return Refused();
  }
  AddressParse Refused() { return AddressParse{std::nullopt, "address '" + std::string(text_) + "' " + error_}; }
  bool Error(const std::string& why) {
    error_ = why;
    return false;
  }
  std::string Example() const { return std::string(FileTypeOf(a_.FileTypeCode).letters) + "7:0"; }

  bool FileNumber(std::string_view letters) {
    const std::string_view digits = s_.Digits();
    const bool fixed = a_.FileTypeCode <= kCodeStatus;  // O, I and S are files 0, 1 and 2
    if (digits.empty()) {
      if (!fixed) return Error("has no file number after '" + std::string(letters) + "'");
      a_.FileNumber = a_.FileTypeCode;
      return true;
    }
    auto number = NumberUpTo(digits, kMaxFileNumber);
    if (!number) return Error("has the file number " + std::string(digits) + ", beyond " + std::to_string(kMaxFileNumber));
    if (fixed && *number != a_.FileTypeCode)
      return Error("names file " + std::to_string(*number) + ", but " + std::string(FileTypeOf(a_.FileTypeCode).letters) +
                   " is always file " + std::to_string(a_.FileTypeCode));
    a_.FileNumber = static_cast<std::int32_t>(*number);
    return true;
  }

  // FILE:ELEMENT, then .SUB and /BIT where the file has them.
  bool ColonForm() {
    s_.SkipSpaces();
    const std::string_view digits = s_.Digits();
    if (digits.empty()) return Error("has no element after ':' (as in " + Example() + ")");
    auto element = NumberUpTo(digits, kMaxElementNumber);
    if (!element)
      return Error("has the element " + std::string(digits) + ", beyond " + std::to_string(kMaxElementNumber));
    a_.ElementNumber = static_cast<std::int32_t>(*element);
    s_.SkipSpaces();
    if (s_.Take('.') && !SubElement()) return false;
    s_.SkipSpaces();
    if (s_.Take('/') && !Bit()) return false;
    return true;
  }

  // .0 .1 .2 or a word mnemonic (.PRE, .ACC, .LEN, .POS); a bit mnemonic after '.' (.DN)
  // is taken as the bit it names.
  bool SubElement() {
    const std::string letters = LettersOrEmpty();
    if (!shape_.threeWords) return Error("has a sub-element, which " + FileName() + " elements do not have");
    if (!letters.empty()) {
      if (auto word = Find(shape_.words, letters)) {
        a_.WordOffset = *word + 1;
        return true;
      }
      if (auto bit = Find(shape_.namedBits, letters)) {
        a_.BitNumber = *bit;
        return true;
      }
      return Error("has '." + letters + "', which is none of " + Names(shape_.words) + ", " + Names(shape_.namedBits));
    }
    const std::string_view digits = s_.Digits();
    if (digits.empty()) return Error("has nothing after '.': give a sub-element (0..2, " + Names(shape_.words) + ")");
    auto sub = NumberUpTo(digits, 2);
    if (!sub) return Error("has the sub-element " + std::string(digits) + ", beyond 2 (" + Names(shape_.words) + ")");
    a_.WordOffset = static_cast<std::int32_t>(*sub) + 1;
    return true;
  }

  // /0../15, or a bit mnemonic of the element's first word (/DN).
  bool Bit() {
    if (!shape_.bits) return Error("has a bit, which " + FileName() + " values do not have");
    if (a_.BitNumber != kNoBit) return Error("names a bit twice");
    s_.SkipSpaces();
    const std::string letters = LettersOrEmpty();
    if (!letters.empty()) {
      auto bit = Find(shape_.namedBits, letters);
      if (!bit)
        return Error("has the bit '" + letters + "', which is " +
                     (shape_.namedBits.empty() ? "no bit number (0.." + std::to_string(kMaxBitNumber) + ")"
                                               : "none of " + Names(shape_.namedBits)));
      if (a_.WordOffset > 1) return Error("names the bit " + letters + " of word 0 after a sub-element");
      a_.BitNumber = *bit;
      return true;
    }
    const std::string_view digits = s_.Digits();
    if (digits.empty()) return Error("has nothing after '/': give a bit (0.." + std::to_string(kMaxBitNumber) + ")");
    auto bit = NumberUpTo(digits, kMaxBitNumber);
    if (!bit) return Error("has the bit " + std::string(digits) + ", beyond " + std::to_string(kMaxBitNumber));
    a_.BitNumber = static_cast<std::int32_t>(*bit);
    return true;
  }

  // B3/35: the bit counted from the start of a file of one-word elements.
  bool BitOfFile() {
    if (shape_.threeWords || !shape_.bits)
      return Error("counts a bit from the start of the file, which only files of one-word elements allow; give " +
                   FileName() + "FILE:ELEMENT/BIT");
    s_.SkipSpaces();
    const std::string_view digits = s_.Digits();
    constexpr std::int64_t kMaxFileBit = (std::int64_t{kMaxElementNumber} + 1) * 16 - 1;
    if (digits.empty()) return Error("has no bit number after '/' (as in B3/35)");
    auto n = NumberUpTo(digits, kMaxFileBit);
    if (!n) return Error("has the bit " + std::string(digits) + ", beyond " + std::to_string(kMaxFileBit));
    a_.ElementNumber = static_cast<std::int32_t>(*n / 16);
    a_.BitNumber = static_cast<std::int32_t>(*n % 16);
    return true;
  }

  std::string LettersOrEmpty() { return UpperText(s_.Letters()); }
  std::string FileName() const { return std::string(FileTypeOf(a_.FileTypeCode).letters); }

  std::string_view text_;
  Scanner s_;
  ParsedAddress a_;
  ElementShape shape_;
  std::string error_;
};

}  // namespace

const FileType& FileTypeOf(std::int16_t code) {
  if (code < 0 || code >= static_cast<std::int16_t>(kFileTypes.size())) return kFileTypes[kCodeBit];
  return kFileTypes[static_cast<std::size_t>(code)];
}

std::optional<std::int16_t> FileTypeCodeOf(std::string_view letters) {
  const std::string upper = UpperText(letters);
  for (std::size_t i = 0; i < kFileTypes.size(); ++i)
    if (kFileTypes[i].letters == upper) return static_cast<std::int16_t>(i);
  return std::nullopt;
}

AddressParse ParseReadAddress(std::string_view text) { return Parser(text).Run(); }

AddressParse ParseWriteAddress(std::string_view text) {
  AddressParse parsed = ParseReadAddress(text);
  if (parsed && parsed->BitNumber != kNoBit) {
    const std::string word = std::string(FileTypeOf(parsed->FileTypeCode).letters) + std::to_string(parsed->FileNumber) +
                             ":" + std::to_string(parsed->ElementNumber) +
                             (parsed->WordOffset > 0 ? "." + std::to_string(parsed->WordOffset - 1) : "");
    return AddressParse{std::nullopt, "address '" + std::string(text) +
                                          "' names a bit; a write changes whole words (give the word, " + word + ")"};
  }
  return parsed;
}

}  // namespace plc::df1
