#pragma once
// One line of `plclink CONTROL shell` split into words as a shell would: blanks separate words,
// '...' keeps everything literally, "..." keeps blanks and takes \" and \\ as escapes, a
// backslash outside quotes takes the next character literally, and an unquoted # at the start
// of a word begins a comment to the end of the line. Pure: text in, words or a reason out.
#include <string>
#include <string_view>
#include <vector>

#include "tools/plclink/CommandLine.h"

namespace plc::plclink {

struct ShellWords {
  std::vector<std::string> words;
  std::string error;  // why the line cannot be split (an open quote, a NUL byte); empty if it can
  bool ok() const { return error.empty(); }
};

ShellWords SplitShellLine(std::string_view line);

// What one line's words ask for, parsed as a command line after the shell's own options.
// Throws UsageError for a line that cannot run in a shell (an option that sets up the control,
// a nested shell); the shell's --json holds for every line.
Options ShellLineOptions(const Options& shell, const std::vector<std::string>& words);

}  // namespace plc::plclink
