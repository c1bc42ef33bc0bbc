#include "tools/plclink/CommandLine.h"

#include <CLI/CLI.hpp>


#include "core/Dispatch.h"

namespace plc::plclink {

namespace {

const char* const kLibraries[] = {"rtulink", "seqlink", "DfLink", "udplink"};

}  // namespace

std::optional<std::string> LibraryFor(const std::string& control) {
  for (const char* library : kLibraries)
    if (NamesEqual(control, library)) return std::string(library);
  return std::nullopt;
}

std::string UsageText() {
  return R"(usage: plclink CONTROL [options] COMMAND [operands]
       plclink demo

CONTROL: rtulink, seqlink, DfLink or udplink (any case)

commands:
  read ADDRESS [COUNT]              waiting ReadPLC; prints the values
  write ADDRESS VALUE...            WritePLC of the values
  poll ADDRESS [COUNT] [--interval MS] [--times N]
                                    ReadPLCNW every MS (1000) ms, N times (until Ctrl-C);
                                    prints each completion event as it arrives
  serve [--times N]                 rtulink as a Modbus slave; prints each request event
                                    (until Ctrl-C, or after N requests)
  call MEMBER [ARG...]              invokes a method by name; prints its result and every
                                    argument after the call
  members                           the members, their kinds, parameters and enumerations
  get NAME                          a property's value
  set NAME VALUE                    sets a property (saved back to --bag)

options (properties are set before the port opens):
  --port N|PATH       CommPort, or a device path mapped to a free port number
  --settings TEXT     Settings, e.g. 9600,e,8,1
  --mode MODE         the control's mode by name or number (rtulink ModBusMode:
                      Rtu, Ascii, SlaveRtu, SlaveAscii; seqlink/udplink CommMode; DfLink Mode)
  --address N         Address (the unit or station)
  --plc-type TYPE     PLCType by name or number
  --rs485 MODE        RS485Mode (OFF, RTS, DTR, Mode3, Mode4)
  --node N            Node (DfLink)
  --prop NAME=VALUE   any other property (repeatable)
  --io-type TYPE      the ioType argument of read, write and poll (ioWord, ioFloat, ... or a number)
  --bag FILE          restore the control from this property-bag document first
  --section NAME      its section (default: the control's class name followed by 1)
  --json              one JSON object per line
  --trace             every byte sent and received, in hex, to standard error

call arguments: a number is passed as a number, [1,2,3] as an array with lower bound 0,
  L:[1,2,3] as one with lower bound L, - as an omitted optional argument, anything else as
  text (a String parameter always takes the text as written). Use -- before arguments that
  start with a dash.
exit status: 0 success, 1 a failed result or error, 2 a usage error.
)";
}

Options ParseCommandLine(const std::vector<std::string>& args) {
  Options o;
  if (args.empty()) throw UsageError("no control given");
  auto library = LibraryFor(args[0]);
  if (!library) {
    if (!args[0].empty() && args[0][0] == '-') throw UsageError("the control comes first, before " + args[0]);
    throw UsageError("unknown control '" + args[0] + "' (rtulink, seqlink, DfLink or udplink)");
  }
  o.library = *library;

  CLI::App app{"plclink", "plclink"};
  app.set_help_flag();  // help is answered by main from the usage text
  app.fallthrough();
  app.require_subcommand(1, 1);
  app.add_option("--port", o.port);
  app.add_option("--settings", o.settings);
  app.add_option("--mode", o.mode);
  app.add_option("--address", o.address);
  app.add_option("--plc-type", o.plcType);
  app.add_option("--rs485", o.rs485);
  app.add_option("--node", o.node);
  app.add_option("--prop", o.props)->allow_extra_args(false);
  app.add_option("--io-type", o.ioType);
  app.add_flag("--json", o.json);
  app.add_flag("--trace", o.trace);
  app.add_option("--bag", o.bag);
  app.add_option("--section", o.section);

  CLI::App* read = app.add_subcommand("read");
  read->add_option("ADDRESS", o.target)->required();
  read->add_option("COUNT", o.count)->check(CLI::Range(1, 32767));
  CLI::App* write = app.add_subcommand("write");
  write->add_option("ADDRESS", o.target)->required();
  write->add_option("VALUE", o.operands)->required();
  CLI::App* poll = app.add_subcommand("poll");
  poll->add_option("ADDRESS", o.target)->required();
  poll->add_option("COUNT", o.count)->check(CLI::Range(1, 32767));
  poll->add_option("--interval", o.intervalMs)->check(CLI::Range(1, 86'400'000));
  poll->add_option("--times", o.times)->check(CLI::Range(1L, 1'000'000'000L));
  CLI::App* serve = app.add_subcommand("serve");
  serve->add_option("--times", o.times)->check(CLI::Range(1L, 1'000'000'000L));
  CLI::App* call = app.add_subcommand("call");
  call->add_option("MEMBER", o.target)->required();
  call->add_option("ARG", o.operands);
  CLI::App* members = app.add_subcommand("members");
  CLI::App* get = app.add_subcommand("get");
  get->add_option("NAME", o.target)->required();
  CLI::App* set = app.add_subcommand("set");
  set->add_option("NAME", o.target)->required();
  set->add_option("VALUE", o.operands)->required()->expected(1);

  std::vector<std::string> rest(args.rbegin(), args.rend() - 1);  // CLI11 takes them reversed
  // CLI11 splits a value written [a,b] into several; an array argument must stay one, so it
  // is shielded behind a leading byte no argument has, taken off again below.
  constexpr char kShield = '\x01';
  for (std::string& a : rest)
    if (!a.empty() && a.front() == '[' && a.back() == ']') a.insert(a.begin(), kShield);
  try {
    app.parse(rest);
  } catch (const CLI::ParseError& e) {
    std::string text = e.what();
    bool anyCommand = false;
    for (CLI::App* sub : app.get_subcommands({})) anyCommand = anyCommand || sub->parsed();
    std::vector<std::string> extra = app.remaining();
    if (!anyCommand) {
      if (extra.empty()) text = "no command given";
      else text = std::string(extra.front()[0] == '-' ? "unknown option '" : "unknown command '") + extra.front() + "'";
    }
    if (text.empty()) text = "malformed command line";
    throw UsageError(text);
  }
  const std::pair<CLI::App*, Command> commands[] = {
      {read, Command::Read}, {write, Command::Write}, {poll, Command::Poll},       {serve, Command::Serve},
      {call, Command::Call}, {members, Command::Members}, {get, Command::Get}, {set, Command::Set}};
  for (const auto& [sub, command] : commands)
    if (sub->parsed()) o.command = command;
  for (std::string& a : o.operands)
    if (!a.empty() && a.front() == kShield) a.erase(a.begin());
  for (const std::string& p : o.props)
    if (p.find('=') == std::string::npos || p.front() == '=') throw UsageError("--prop wants NAME=VALUE, not '" + p + "'");
  if (o.command == Command::Serve && o.library != "rtulink") throw UsageError("serve is for rtulink only");
  return o;
}

}  // namespace plc::plclink
