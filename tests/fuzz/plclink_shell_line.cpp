// The shell command's line splitter over arbitrary text: it gives words or a reason, never
// both; no word holds a NUL byte; and the words, quoted again, split back into themselves.
// fuzz-libs: plclinkreaders
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tools/plclink/ShellLine.h"

namespace {

// Each word in single quotes, a ' inside as '\''.
std::string Quoted(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& w : words) {
    line += " '";
    for (char c : w) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += "'";
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  plc::plclink::ShellWords split = plc::plclink::SplitShellLine(text);
  if (!split.ok()) {
    if (!split.words.empty()) std::abort();
    return 0;
  }
  for (const std::string& w : split.words)
    if (w.find('\0') != std::string::npos) std::abort();
  plc::plclink::ShellWords again = plc::plclink::SplitShellLine(Quoted(split.words));
  if (!again.ok() || again.words != split.words) std::abort();
  return 0;
}
