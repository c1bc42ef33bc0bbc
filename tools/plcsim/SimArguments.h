#pragma once
// The simulators' command-line arguments, read strictly: a value is taken only when all of it
// is understood and in range, and a refusal names the option and what was wrong, so that a
// typing error never quietly runs a simulator other than the one asked for.
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace plc::sim {

// A refused argument; what() is the whole message ("--station: 'abc' is not a number").
class ArgumentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A decimal number in min..max, all of the text.
long DecimalArgument(const std::string& option, const std::string& text, long min, long max);
// A hexadecimal number (0x optional) in 0..max, all of the text.
unsigned long HexArgument(const std::string& option, const std::string& text, unsigned long max);
// NAME=VALUE, split at the first '='; neither side may be empty.
std::pair<std::string, std::string> Assignment(const std::string& option, const std::string& text);
// The index of text among words; refused with the list of words otherwise.
std::size_t ChoiceArgument(const std::string& option, const std::string& text, const std::vector<std::string>& words);

// Walks the arguments after the protocol name, one option at a time.
class ArgumentReader {
 public:
  // argv[0] is the protocol name.
  ArgumentReader(int argc, char** argv) : argc_(argc), argv_(argv) {}
  // Moves to the next option; false when none is left.
  bool Next();
  const std::string& Option() const { return option_; }
  // The argument after the option, as its value; ArgumentError when there is none.
  std::string Value();

 private:
  int argc_;
  char** argv_;
  int at_ = 0;
  std::string option_;
};

// Runs a simulator command: an ArgumentError becomes "plcsim PROTOCOL: message" and a pointer
// to --help on standard error, with exit status 2.
int RunChecked(const std::string& protocol, const std::function<int()>& body);

// "plcsim 1.0.0".
std::string SimVersionText();

}  // namespace plc::sim
