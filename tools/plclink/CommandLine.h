#pragma once
// What the command line asks for: the control, the options that set its properties, and one
// command with its operands. Parsing only; nothing is loaded here.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace plc::plclink {

// A command line that cannot be carried out as written: exit status 2 with the usage text.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Command { Read, Write, Poll, Serve, Call, Members, Get, Set, Shell };

// How read and poll print register words: as the control gives them, or as mbpoll offers.
enum class RegisterFormat { Control, Int, Uint, Hex, Float, Int32 };
// Which register of a 32-bit pair holds the high word.
enum class WordOrder { HighFirst, LowFirst };

struct Options {
  std::string library;  // plug-in name: rtulink, seqlink, DfLink, udplink

  // Properties set before the port opens (each only when given).
  std::optional<std::string> port, settings, mode, address, plcType, rs485, node;
  // Fields of Settings, applied over --settings (or the control's own Settings).
  std::optional<std::string> baud, parity, dataBits, stopBits;
  std::vector<std::string> props;  // NAME=VALUE
  std::optional<std::string> ioType;
  bool json = false;
  bool trace = false;
  std::optional<std::string> bag;
  std::optional<std::string> section;

  Command command = Command::Members;
  std::string target;                // read/write/poll ADDRESS, call MEMBER, get/set NAME
  int count = 1;                     // read/poll COUNT (values)
  std::vector<std::string> operands; // write VALUE..., call ARG..., set VALUE
  int intervalMs = 1000;             // poll
  std::optional<long> times;         // poll, serve
  RegisterFormat format = RegisterFormat::Control;  // read, poll
  WordOrder wordOrder = WordOrder::HighFirst;
  std::vector<std::string> preset;   // serve: REF=VALUE, in the order given
  std::optional<std::string> imageFile;  // serve: REF VALUE... lines
};

// A whole number in decimal or 0x hexadecimal, with an optional sign; nullopt for anything else.
std::optional<long long> ParseWholeNumber(std::string_view text);

// The control names plclink knows and their libraries, matched without regard to case.
std::optional<std::string> LibraryFor(const std::string& control);

// The whole usage text (plclink --help).
std::string UsageText();
// One command's usage (plclink CONTROL COMMAND --help), with the control's limits, address
// forms and defaults when library names one; nullopt for no such command.
std::optional<std::string> CommandUsage(const std::string& command, const std::string& library = {});
// The command a help request is about: the first argument naming a command, if any.
std::optional<std::string> HelpTopic(const std::vector<std::string>& args);
// "plclink 1.0.0".
std::string VersionText();

// Parses everything after the program name (not `demo` or a request for help). Throws
// UsageError naming what is wrong.
Options ParseCommandLine(const std::vector<std::string>& args);

// Whether option, as written without a value ("--port", "-p"), is one of plclink's options
// that takes a value: the argument after it, unless written --option=value or -pVALUE.
bool TakesValue(const std::string& option);

// The line settings text with the separate line options applied over `base` (speed, parity,
// data bits, stop bits, as "9600,e,8,1").
std::string CombinedSettings(const std::string& base, const Options& o);

}  // namespace plc::plclink
