#include "tools/plclink/LineInput.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#ifdef PLC_HAVE_READLINE
#include <readline/history.h>
#include <readline/readline.h>
#endif

namespace plc::plclink {

LineInput::LineInput(std::string prompt) : prompt_(std::move(prompt)), interactive_(::isatty(STDIN_FILENO) != 0) {}

std::optional<std::string> LineInput::Next() {
#ifdef PLC_HAVE_READLINE
  if (interactive_) {
    char* raw = ::readline(prompt_.c_str());
    if (!raw) return std::nullopt;
    std::string line(raw);
    std::free(raw);
    if (!line.empty()) ::add_history(line.c_str());
    return line;
  }
#endif
  if (interactive_) std::cout << prompt_ << std::flush;
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  return line;
}

}  // namespace plc::plclink
