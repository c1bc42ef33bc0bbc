#include "tools/plclink/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>
#include <limits>

#include "base/Dispatch.h"
#include "directnet/Blocks.h"
#include "plclink/Version.h"
#include "tools/plclink/ControlHelp.h"
#include "tools/plclink/RegisterFormat.h"

namespace plc::plclink {

namespace {

const char* const kLibraries[] = {"rtulink", "seqlink", "DfLink", "udplink"};

struct CommandSpec {
  Command command;
  const char* name;
  const char* synopsis;     // after "plclink CONTROL [options] "
  const char* description;  // what it does, its own options
};

const CommandSpec kCommands[] = {
    {Command::Read, "read", "read ADDRESS [COUNT] [--format F] [--word-order high|low]",
     "Waiting ReadPLC of COUNT values (1) from ADDRESS; prints the values on one line.\n"
     "  --format int|uint|hex|float|int32   register words as signed, unsigned, hexadecimal,\n"
     "                      IEEE-754 single or 32-bit integer (the last two take two registers\n"
     "                      per value, COUNT counts values); default: as the control gives them\n"
     "  --word-order high|low   which register of a pair holds the high word (default high)\n"},
    {Command::Write, "write", "write ADDRESS VALUE...",
     "WritePLC of the values, in order from ADDRESS. Each VALUE is a number (decimal, 0x hex,\n"
     "or with a fraction for --io-type ioFloat).\n"},
    {Command::Poll, "poll", "poll ADDRESS [COUNT] [--interval MS] [--times N] [--format F] [--word-order W]",
     "Non-waiting ReadPLCNW of COUNT values every MS milliseconds (1000), N times (until Ctrl-C);\n"
     "prints each completion event as it arrives. A request is sent only when the previous one\n"
     "has completed or failed, so a shorter interval than the line needs polls as fast as the\n"
     "line allows. --format and --word-order as for read.\n"
     "  --interval MS, -l MS   time between the starts of two requests\n"
     "  --times N              stop after N requests have completed\n"},
    {Command::Serve, "serve", "serve [--set REF=VALUE]... [--load FILE] [--times N]",
     "rtulink as a Modbus slave (unit --address): answers a master from its register image and\n"
     "prints each request: the table, the references and the values read or written.\n"
     "  --set REF=VALUE   preloads a holding register (4xxxx) or coil (0xxxx); repeatable\n"
     "  --load FILE       preloads from a file of lines 'REF VALUE...' (consecutive references\n"
     "                    from REF; # starts a comment)\n"
     "  --times N         stop after N requests (else at Ctrl-C)\n"},
    {Command::Call, "call", "call MEMBER [ARG...]",
     "Invokes a method by name; prints its result and every argument after the call.\n"
     "A number is passed as a number, [1,2,3] as an array with lower bound 0, L:[1,2,3] as one\n"
     "with lower bound L, - as an omitted optional argument, anything else as text (a String\n"
     "parameter always takes the text as written). Use -- before arguments that start with a dash.\n"
     "The port is opened first only when --port names it (or --prop PortOpen=True).\n"},
    {Command::Members, "members", "members",
     "The control's properties, methods, events and enumerations; the members only a host with a\n"
     "window can use (mouse and key events, Refresh...) are listed after the others.\n"},
    {Command::Get, "get", "get NAME", "A property's value.\n"},
    {Command::Set, "set", "set NAME VALUE", "Sets a property (and saves the control back to --bag when given).\n"},
    {Command::Shell, "shell", "shell",
     "Runs the commands read from standard input, one a line, as they are written after the\n"
     "control's options on the command line (read 40001 2; write 40001 5; get Address; set\n"
     "Address 2; call ReadErrors), on this one control with its port kept open between them.\n"
     "Words are split as a shell splits them ('...' and \"...\" quote, \\ escapes, # begins a\n"
     "comment); exit or end of input ends. On a terminal the lines can be edited and recalled.\n"
     "Options that set up the control (--port, --settings, --bag ...) go before 'shell'. A line\n"
     "that fails says why and the next runs; the exit status is the worst of all the lines.\n"},
};

const CommandSpec* FindCommand(const std::string& name) {
  for (const CommandSpec& c : kCommands)
    if (NamesEqual(name, c.name)) return &c;
  return nullptr;
}

const CommandSpec& SpecOf(Command command) {
  for (const CommandSpec& c : kCommands)
    if (c.command == command) return c;
  return kCommands[0];
}

// Options of one command only; every other option applies to all.
struct OptionScope {
  const char* name;
  std::vector<Command> commands;
};

const OptionScope kScoped[] = {
    {"--interval", {Command::Poll}},
    {"--times", {Command::Poll, Command::Serve}},
    {"--format", {Command::Read, Command::Poll}},
    {"--word-order", {Command::Read, Command::Poll}},
    {"--set", {Command::Serve}},
    {"--load", {Command::Serve}},
};

struct OptionSpec {
  const char* name;
  char shortName;  // 0: none
  bool flag;
  std::function<void(Options&, const std::string&)> take;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

long long WholeIn(const std::string& option, const std::string& value, long long low, long long high,
                  const char* wants) {
  auto v = ParseWholeNumber(value);
  if (!v || *v < low || *v > high) throw UsageError(option + " wants " + wants + ", not '" + value + "'");
  return *v;
}

std::string OneOf(const std::string& option, const std::string& value, std::initializer_list<const char*> allowed) {
  for (const char* a : allowed)
    if (Lower(value) == a) return a;
  std::string list;
  for (const char* a : allowed) list += (list.empty() ? "" : ", ") + std::string(a);
  throw UsageError(option + " wants one of " + list + ", not '" + value + "'");
}

const std::vector<OptionSpec>& OptionTable() {
  static const std::vector<OptionSpec> table = {
      {"--port", 'p', false,
       [](Options& o, const std::string& v) {
         if (v.empty()) throw UsageError("--port wants a port number or a device path, not ''");
         o.port = v;
       }},
      {"--settings", 0, false, [](Options& o, const std::string& v) { o.settings = v; }},
      {"--baud", 'b', false,
       [](Options& o, const std::string& v) {
         o.baud = std::to_string(WholeIn("--baud", v, 50, 4'000'000, "a line speed such as 9600"));
       }},
      {"--parity", 'P', false,
       [](Options& o, const std::string& v) {
         std::string p = OneOf("--parity", v, {"none", "even", "odd", "mark", "space", "n", "e", "o", "m", "s"});
         o.parity = p.substr(0, 1);
       }},
      {"--data-bits", 'd', false,
       [](Options& o, const std::string& v) { o.dataBits = std::to_string(WholeIn("--data-bits", v, 5, 8, "5 to 8")); }},
      {"--stop-bits", 's', false,
       [](Options& o, const std::string& v) { o.stopBits = OneOf("--stop-bits", v, {"1", "1.5", "2"}); }},
      {"--mode", 'm', false, [](Options& o, const std::string& v) { o.mode = v; }},
      {"--address", 'a', false,
       [](Options& o, const std::string& v) {
         // A unit or station is a byte on the line (a module ID for ECOM): a negative one
         // would go out as another, and a DirectNET station travels as 20h + 0..223.
         const bool seq = o.library == "seqlink";
         const std::string wants = seq                      ? "a station from 0 to " + std::to_string(dnet::kMaxStation)
                                   : o.library == "udplink" ? "a station or ECOM ID from 0 to 255"
                                                            : "a unit from 0 to 255";
         o.address = std::to_string(WholeIn("--address", v, 0, seq ? dnet::kMaxStation : 255, wants.c_str()));
       }},
      {"--plc-type", 0, false, [](Options& o, const std::string& v) { o.plcType = v; }},
      {"--rs485", 0, false, [](Options& o, const std::string& v) { o.rs485 = v; }},
      {"--node", 0, false,
       [](Options& o, const std::string& v) { o.node = std::to_string(WholeIn("--node", v, 0, 255, "a node from 0 to 255")); }},
      {"--prop", 0, false,
       [](Options& o, const std::string& v) {
         if (v.find('=') == std::string::npos || v.front() == '=')
           throw UsageError("--prop wants NAME=VALUE, not '" + v + "'");
         o.props.push_back(v);
       }},
      {"--io-type", 0, false, [](Options& o, const std::string& v) { o.ioType = v; }},
      {"--bag", 0, false, [](Options& o, const std::string& v) { o.bag = v; }},
      {"--section", 0, false, [](Options& o, const std::string& v) { o.section = v; }},
      {"--json", 0, true, [](Options& o, const std::string&) { o.json = true; }},
      {"--trace", 0, true, [](Options& o, const std::string&) { o.trace = true; }},
      {"--interval", 'l', false,
       [](Options& o, const std::string& v) {
         o.intervalMs = static_cast<int>(WholeIn("--interval", v, 1, 86'400'000, "milliseconds from 1 to 86400000"));
       }},
      {"--times", 0, false,
       [](Options& o, const std::string& v) { o.times = WholeIn("--times", v, 1, 1'000'000'000, "a count from 1"); }},
      {"--format", 0, false,
       [](Options& o, const std::string& v) {
         std::string f = OneOf("--format", v, {"int", "uint", "hex", "float", "int32"});
         o.format = f == "int"     ? RegisterFormat::Int
                    : f == "uint"  ? RegisterFormat::Uint
                    : f == "hex"   ? RegisterFormat::Hex
                    : f == "float" ? RegisterFormat::Float
                                   : RegisterFormat::Int32;
       }},
      {"--word-order", 0, false,
       [](Options& o, const std::string& v) {
         o.wordOrder = OneOf("--word-order", v, {"high", "low"}) == "high" ? WordOrder::HighFirst : WordOrder::LowFirst;
       }},
      {"--set", 0, false,
       [](Options& o, const std::string& v) {
         std::size_t eq = v.find('=');
         if (eq == std::string::npos || eq == 0) throw UsageError("--set wants REF=VALUE, not '" + v + "'");
         WholeIn("--set " + v.substr(0, eq), v.substr(0, eq), 1, 499'999, "a reference such as 40001");
         // As a master's write would be: -1 is no register value, and is not taken for 65535.
         WholeIn("--set " + v.substr(0, eq), v.substr(eq + 1), 0, 65535, "a whole number from 0 to 65535");
         o.preset.push_back(v);
       }},
      {"--load", 0, false, [](Options& o, const std::string& v) { o.imageFile = v; }},
  };
  return table;
}

const OptionSpec* FindOption(const std::string& name) {
  for (const OptionSpec& s : OptionTable())
    if (name == s.name || (s.shortName && name.size() == 2 && name[0] == '-' && name[1] == s.shortName)) return &s;
  return nullptr;
}

// A dash followed by a digit or a point is a negative number, not an option.
bool LooksLikeOption(const std::string& t) {
  return t.size() > 1 && t[0] == '-' && !std::isdigit(static_cast<unsigned char>(t[1])) && t[1] != '.';
}

std::string Quoted(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& s : items) text += (text.empty() ? "'" : " '") + s + "'";
  return text;
}

int CountOperand(const std::string& command, const std::string& text) {
  auto v = ParseWholeNumber(text);
  if (!v) throw UsageError(command + ": COUNT '" + text + "' is not a whole number");
  if (*v < 1 || *v > 32767) throw UsageError(command + ": COUNT must be 1 to 32767, not " + text);
  return static_cast<int>(*v);
}

// Operands of each command, checked in the order given.
void TakeOperands(Options& o, const CommandSpec& spec, std::vector<std::string> operands) {
  auto tooMany = [&](std::size_t allowed) {
    if (operands.size() <= allowed) return;
    std::vector<std::string> extra(operands.begin() + static_cast<std::ptrdiff_t>(allowed), operands.end());
    // The synopsis after the command's name; a command that takes nothing has none.
    const std::string synopsis = spec.synopsis;
    const std::size_t after = std::string(spec.name).size() + 1;
    const std::string takes = synopsis.size() > after ? "takes " + synopsis.substr(after) : "takes no operands";
    throw UsageError(std::string(spec.name) + " " + takes + "; " +
                     (extra.size() == 1 ? "unexpected " : "unexpected arguments ") + Quoted(extra));
  };
  auto need = [&](std::size_t n, const char* what) {
    if (operands.size() < n) throw UsageError(std::string(spec.name) + " needs " + what);
  };
  switch (spec.command) {
    case Command::Read:
    case Command::Poll:
      need(1, "an ADDRESS");
      tooMany(2);
      o.target = operands[0];
      if (operands.size() > 1) o.count = CountOperand(spec.name, operands[1]);
      // The control is asked for register words, a count it takes as a 16-bit number.
      if (o.count * WordsPerValue(o.format) > 32767)
        throw UsageError(std::string(spec.name) + ": COUNT " + operands[1] + " values of two registers each are " +
                         std::to_string(o.count * WordsPerValue(o.format)) + " registers, more than 32767");
      break;
    case Command::Write:
      need(2, "an ADDRESS and at least one VALUE");
      o.target = operands[0];
      o.operands.assign(operands.begin() + 1, operands.end());
      break;
    case Command::Call:
      need(1, "a MEMBER");
      o.target = operands[0];
      o.operands.assign(operands.begin() + 1, operands.end());
      break;
    case Command::Serve:
    case Command::Members:
    case Command::Shell:
      tooMany(0);
      break;
    case Command::Get:
      need(1, "a property NAME");
      tooMany(1);
      o.target = operands[0];
      break;
    case Command::Set:
      need(2, "a property NAME and a VALUE");
      tooMany(2);
      o.target = operands[0];
      o.operands = {operands[1]};
      break;
  }
}

}  // namespace

std::optional<long long> ParseWholeNumber(std::string_view s) {
  bool negative = !s.empty() && s.front() == '-';
  if (negative || (!s.empty() && s.front() == '+')) s.remove_prefix(1);
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return std::nullopt;
  unsigned long long magnitude = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  if (magnitude > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) return std::nullopt;
  long long v = static_cast<long long>(magnitude);
  return negative ? -v : v;
}

std::optional<std::string> LibraryFor(const std::string& control) {
  for (const char* library : kLibraries)
    if (NamesEqual(control, library)) return std::string(library);
  return std::nullopt;
}

std::string VersionText() { return std::string("plclink ") + PLCLINK_VERSION; }

std::string UsageText() {
  std::string text = R"(usage: plclink CONTROL [options] COMMAND [operands]
       plclink demo | --version | --help | CONTROL COMMAND --help
       plclink about CONTROL | udplink ccm [options]   (each with --help)
       plclink gateway PLANT.ini [options] | trend DB TAG... --svg FILE   (each with --help)

CONTROL: rtulink, seqlink, DfLink or udplink (any case)

commands:
)";
  for (const CommandSpec& c : kCommands) text += "  " + std::string(c.synopsis) + "\n";
  text += R"(
options (properties are set before the port opens):
  -p, --port N|PATH        CommPort, or a device path its CommPort opens in this run
      --settings TEXT      Settings, e.g. 9600,e,8,1
  -b, --baud SPEED         the speed in Settings (also -P, -d, -s: the other fields;
  -P, --parity P           none, even, odd, mark, space or n, e, o, m, s
  -d, --data-bits N        5 to 8
  -s, --stop-bits N        1, 1.5 or 2               each over --settings when both are given)
  -m, --mode MODE          the control's mode by name or number (rtulink ModBusMode: Rtu, Ascii,
                           SlaveRtu, SlaveAscii; seqlink/udplink CommMode; DfLink Mode)
  -a, --address N          Address (the unit or station)
      --plc-type TYPE      PLCType by name or number
      --rs485 MODE         RS485Mode (OFF, RTS, DTR, Mode3, Mode4)
      --node N             Node (DfLink)
      --prop NAME=VALUE    any other property (repeatable)
      --io-type TYPE       the ioType argument of read, write and poll (ioWord, ioFloat, ... or a
                           number); ioFloat is the control's fixed-point pair, see --format float
      --bag FILE           restore the control from this property-bag document first
      --section NAME       its section (default: the control's class name followed by 1)
      --json               one JSON object per line
      --trace              every byte sent and received, in hex, to standard error (UdpLink
                           in ECOM mode: every datagram)

Run 'plclink CONTROL COMMAND --help' for a command's own options, the control's limits, its
address forms and its defaults.
exit status: 0 success, 1 a failed result or error, 2 a usage error.

)";
  return text + EnvironmentText({});
}

std::optional<std::string> CommandUsage(const std::string& command, const std::string& library) {
  const CommandSpec* c = FindCommand(command);
  if (!c) return std::nullopt;
  std::string text = "usage: plclink " + (library.empty() ? std::string("CONTROL") : library) + " [options] " +
                     c->synopsis + "\n\n" + c->description;
  if (c->command == Command::Read || c->command == Command::Write || c->command == Command::Poll) {
    if (library.empty()) {
      for (const char* each : kLibraries) text += ControlLimitsText(each, c->command);
      text += "Name the control (plclink rtulink " + std::string(c->name) + " --help) for its address forms.\n";
    } else {
      text += ControlLimitsText(library, c->command) + AddressFormsText(library);
    }
  }
  text += "\n" + DefaultsText(library) + EnvironmentText(library);
  return text + "\nRun 'plclink --help' for the options every command takes.\n";
}

std::optional<std::string> HelpTopic(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--") break;
    if (FindCommand(a)) return a;
  }
  return std::nullopt;
}

bool TakesValue(const std::string& option) {
  const OptionSpec* spec = FindOption(option);
  return spec && !spec->flag;
}

Options ParseCommandLine(const std::vector<std::string>& args) {
  Options o;
  if (args.empty()) throw UsageError("no control given");
  auto library = LibraryFor(args[0]);
  if (!library) {
    if (LooksLikeOption(args[0]) || FindCommand(args[0]))
      throw UsageError("the control comes first, before " + args[0] + " (rtulink, seqlink, DfLink or udplink)");
    throw UsageError("unknown control '" + args[0] + "' (rtulink, seqlink, DfLink or udplink)");
  }
  o.library = *library;

  const CommandSpec* command = nullptr;
  std::vector<std::string> operands;
  std::vector<std::pair<const OptionSpec*, std::string>> given;  // applied once the command is known
  std::vector<std::string> givenAs;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& t = args[i];
    if (!optionsEnded && t == "--") {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && LooksLikeOption(t)) {
      bool isLong = t.rfind("--", 0) == 0;
      std::size_t eq = isLong ? t.find('=') : std::string::npos;
      std::string name = isLong ? t.substr(0, eq) : t.substr(0, 2);
      std::optional<std::string> inlineValue;
      if (isLong && eq != std::string::npos) inlineValue = t.substr(eq + 1);
      if (!isLong && t.size() > 2) inlineValue = t.substr(t[2] == '=' ? 3 : 2);
      const OptionSpec* spec = FindOption(name);
      if (!spec) throw UsageError("unknown option '" + name + "'");
      std::string value;
      if (spec->flag) {
        if (inlineValue) throw UsageError(std::string(spec->name) + " takes no value");
      } else if (inlineValue) {
        value = *inlineValue;
      } else {
        if (i + 1 >= args.size()) throw UsageError(std::string(spec->name) + " needs a value");
        value = args[++i];
      }
      given.emplace_back(spec, value);
      givenAs.push_back(name);
      continue;
    }
    if (!command) {
      command = FindCommand(t);
      if (!command)
        throw UsageError("unknown command '" + t + "' (read, write, poll, serve, call, members, get, set or shell)");
      continue;
    }
    operands.push_back(t);
  }
  if (!command) throw UsageError("no command given (read, write, poll, serve, call, members, get, set or shell)");
  o.command = command->command;

  for (std::size_t k = 0; k < given.size(); ++k) {
    const OptionSpec* spec = given[k].first;
    for (const OptionScope& scope : kScoped) {
      if (std::string(scope.name) != spec->name) continue;
      if (std::find(scope.commands.begin(), scope.commands.end(), o.command) == scope.commands.end()) {
        std::string owners;
        for (Command c : scope.commands) owners += (owners.empty() ? "" : " and ") + std::string(SpecOf(c).name);
        throw UsageError(givenAs[k] + " is an option of " + owners + ", not of " + command->name);
      }
    }
    spec->take(o, given[k].second);
  }
  TakeOperands(o, *command, std::move(operands));
  if (o.command == Command::Serve && o.library != "rtulink") throw UsageError("serve is for rtulink only");
  return o;
}

std::string CombinedSettings(const std::string& base, const Options& o) {
  std::vector<std::string> fields{"9600", "n", "8", "1"};
  std::size_t start = 0;
  for (std::size_t f = 0; f < fields.size() && start <= base.size(); ++f) {
    std::size_t comma = base.find(',', start);
    if (comma == std::string::npos) comma = base.size();
    if (comma > start) fields[f] = base.substr(start, comma - start);
    start = comma + 1;
  }
  if (o.baud) fields[0] = *o.baud;
  if (o.parity) fields[1] = *o.parity;
  if (o.dataBits) fields[2] = *o.dataBits;
  if (o.stopBits) fields[3] = *o.stopBits;
  return fields[0] + "," + fields[1] + "," + fields[2] + "," + fields[3];
}

}  // namespace plc::plclink
