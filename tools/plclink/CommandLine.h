#pragma once
// What the command line asks for: the control, the options that set its properties, and one
// command with its operands. Parsing only; nothing is loaded here.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace plc::plclink {

// A command line that cannot be carried out as written: exit status 2 with the usage text.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Command { Read, Write, Poll, Serve, Call, Members, Get, Set };

struct Options {
  std::string library;  // plug-in name: rtulink, seqlink, DfLink, udplink

  // Properties set before the port opens (each only when given).
  std::optional<std::string> port, settings, mode, address, plcType, rs485, node;
  std::vector<std::string> props;  // NAME=VALUE
  std::optional<std::string> ioType;
  bool json = false;
  bool trace = false;
  std::optional<std::string> bag;
  std::optional<std::string> section;

  Command command = Command::Members;
  std::string target;                // read/write/poll ADDRESS, call MEMBER, get/set NAME
  int count = 1;                     // read/poll COUNT
  std::vector<std::string> operands; // write VALUE..., call ARG..., set VALUE
  int intervalMs = 1000;             // poll
  std::optional<long> times;         // poll, serve
};

// The control names plclink knows and their libraries, matched without regard to case.
std::optional<std::string> LibraryFor(const std::string& control);

// The usage text, also shown with a usage error.
std::string UsageText();

// Parses everything after the program name (not `demo` or a request for help). Throws
// UsageError naming what is wrong.
Options ParseCommandLine(const std::vector<std::string>& args);

}  // namespace plc::plclink
