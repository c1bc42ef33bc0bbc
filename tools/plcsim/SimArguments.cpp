#include "tools/plcsim/SimArguments.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "plclink/Version.h"

namespace plc::sim {

namespace {

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// strtol/strtoul read leading blanks and signs we do not want: only digits of the base.
bool AllDigits(const std::string& text, int base) {
  if (text.empty()) return false;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (base == 16 ? !std::isxdigit(u) : !std::isdigit(u)) return false;
  }
  return true;
}

}  // namespace

long DecimalArgument(const std::string& option, const std::string& text, long min, long max) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::string digits = negative ? text.substr(1) : text;
  if (!AllDigits(digits, 10)) throw ArgumentError(option + ": " + Quoted(text) + " is not a number");
  errno = 0;
  long value = std::strtol(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value < min || value > max)
    throw ArgumentError(option + ": " + Quoted(text) + " is outside " + std::to_string(min) + ".." + std::to_string(max));
  return value;
}

unsigned long HexArgument(const std::string& option, const std::string& text, unsigned long max) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
  if (!AllDigits(digits, 16)) throw ArgumentError(option + ": " + Quoted(text) + " is not a hexadecimal number");
  errno = 0;
  unsigned long value = std::strtoul(digits.c_str(), nullptr, 16);
  if (errno == ERANGE || value > max) {
    char limit[32];
    std::snprintf(limit, sizeof limit, "%lX", max);
    throw ArgumentError(option + ": " + Quoted(text) + " is beyond " + limit + " (hexadecimal)");
  }
  return value;
}

std::pair<std::string, std::string> Assignment(const std::string& option, const std::string& text) {
  const std::size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == text.size())
    throw ArgumentError(option + ": " + Quoted(text) + " is not NAME=VALUE");
  return {text.substr(0, eq), text.substr(eq + 1)};
}

std::size_t ChoiceArgument(const std::string& option, const std::string& text, const std::vector<std::string>& words) {
  for (std::size_t i = 0; i < words.size(); ++i)
    if (words[i] == text) return i;
  std::string list;
  for (const std::string& w : words) list += (list.empty() ? "" : ", ") + w;
  throw ArgumentError(option + ": " + Quoted(text) + " is not one of " + list);
}

bool ArgumentReader::Next() {
  if (at_ + 1 >= argc_) return false;
  option_ = argv_[++at_];
  return true;
}

std::string ArgumentReader::Value() {
  if (at_ + 1 >= argc_) throw ArgumentError(option_ + " needs a value");
  return argv_[++at_];
}

int RunChecked(const std::string& protocol, const std::function<int()>& body) {
  try {
    return body();
  } catch (const ArgumentError& e) {
    std::cerr << "plcsim " << protocol << ": " << e.what() << "\n"
              << "(plcsim " << protocol << " --help lists the options)\n";
    return 2;
  }
}

std::string SimVersionText() { return std::string("plcsim ") + PLCLINK_VERSION; }

}  // namespace plc::sim
