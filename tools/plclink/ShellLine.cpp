#include "tools/plclink/ShellLine.h"

namespace plc::plclink {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Options that set the control's properties or choose its document: the shell's control is set
// up once, before its first line.
bool SetsTheControl(const Options& o) {
  return o.port || o.settings || o.mode || o.address || o.plcType || o.rs485 || o.node || o.baud || o.parity ||
         o.dataBits || o.stopBits || !o.props.empty() || o.bag || o.section || o.trace;
}


}  // namespace

ShellWords SplitShellLine(std::string_view line) {
  ShellWords out;
  std::string word;
  bool inWord = false;  // a word has begun (an empty quoted word counts)
  std::size_t i = 0;
  auto fail = [&](std::string why) {
    out.words.clear();
    out.error = std::move(why);
    return out;
  };
  if (line.find('\0') != std::string_view::npos) return fail("the line holds a NUL byte");
  while (i < line.size()) {
    char c = line[i];
    if (IsBlank(c)) {
      if (inWord) out.words.push_back(std::move(word));
      word.clear();
      inWord = false;
      ++i;
      continue;
    }
    if (c == '#' && !inWord) break;  // a comment
    inWord = true;
    if (c == '\\') {
      if (i + 1 >= line.size()) return fail("the line ends in a backslash");
      word += line[i + 1];
      i += 2;
      continue;
    }
    if (c == '\'') {
      std::size_t close = line.find('\'', i + 1);
      if (close == std::string_view::npos) return fail("a ' is not closed");
      word.append(line.substr(i + 1, close - i - 1));
      i = close + 1;
      continue;
    }
    if (c == '"') {
      ++i;
      for (;;) {
        if (i >= line.size()) return fail("a \" is not closed");
        char q = line[i];
        if (q == '"') break;
        if (q == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
          word += line[i + 1];
          i += 2;
          continue;
        }
        word += q;
        ++i;
      }
      ++i;
      continue;
    }
    word += c;
    ++i;
  }
  if (inWord) out.words.push_back(std::move(word));
  return out;
}

Options ShellLineOptions(const Options& shell, const std::vector<std::string>& words) {
  std::vector<std::string> args{shell.library};
  args.insert(args.end(), words.begin(), words.end());
  Options line = ParseCommandLine(args);
  if (line.command == Command::Shell) throw UsageError("a shell runs no shell of its own");
  if (SetsTheControl(line))
    throw UsageError("options that set up the control go before 'shell'; in a shell use 'set NAME VALUE'");
  line.json = line.json || shell.json;
  // The control's port is the shell's: commands that open it and wait for the end of their
  // transaction (call) do so as on the command line.
  line.port = shell.port;
  return line;
}

}  // namespace plc::plclink
