#pragma once
// Where the shell command's lines come from: a terminal, with line editing and history where
// readline is built in, or any other standard input read line by line.
#include <optional>
#include <string>

namespace plc::plclink {

class LineInput {
 public:
  // prompt is shown only when standard input is a terminal.
  explicit LineInput(std::string prompt);
  // The next line without its end; nullopt at end of input.
  std::optional<std::string> Next();
  bool Interactive() const { return interactive_; }

 private:
  std::string prompt_;
  bool interactive_;
};

}  // namespace plc::plclink
