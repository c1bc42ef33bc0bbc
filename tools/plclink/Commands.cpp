#include "tools/plclink/Commands.h"

#include <algorithm>
#include <map>
#include <iostream>
#include <optional>

#include "base/Enums.h"
#include "base/IoDataType.h"
#include "base/ResultCodes.h"
#include "tools/plclink/LateCompletion.h"
#include "tools/plclink/RegisterFormat.h"
#include "tools/plclink/ServeImage.h"
#include "tools/plclink/ServedRequests.h"
#include "tools/plclink/Shell.h"
#include "tools/plclink/StopSignals.h"
#include "tools/plclink/ValueText.h"

namespace plc::plclink {

namespace {

constexpr std::int64_t kMicrosPerMilli = 1000;
// poll's watchdog: a read not completed this long after it was sent is lost. The controls
// give up on a reply after 2 s as well.
constexpr std::int64_t kReplyLimitMicros = 2'000'000;
// How long serve keeps the port open after its last request: a 256-byte answer at 9600 baud.
constexpr std::int64_t kLastAnswerMicros = 300'000;

// Arguments for a member by position; an unset one travels as omitted.
struct ArgSlots {
  std::vector<std::optional<Variant>> slots;

  ArgList List() {
    ArgList list;
    for (auto& s : slots) list.push_back(s ? &*s : nullptr);
    while (!list.empty() && !list.back()) list.pop_back();
    return list;
  }
  std::vector<Variant> After() const {
    std::vector<Variant> values;
    for (const auto& s : slots) values.push_back(s.value_or(Variant()));
    return values;
  }
};

// The read and write methods: address, values, count, ioType (when the method has one).
ArgSlots TransferArgs(const MemberInfo& method, const Options& o, Variant values, std::int16_t count) {
  ArgSlots a;
  a.slots.resize(method.params.size());
  if (a.slots.size() < 3) throw UsageError(method.name + " does not take an address, values and a count");
  a.slots[0] = Variant(o.target);
  a.slots[1] = std::move(values);
  a.slots[2] = Variant(count);
  if (o.ioType) {
    if (a.slots.size() < 4) throw UsageError("--io-type: " + method.name + " of this control takes no ioType");
    a.slots[3] = ParseValue(*o.ioType, "Integer", method.params[3].enumeration, "--io-type");
  }
  return a;
}

std::vector<Variant> Elements(const Variant& v) {
  if (!v.IsArray()) return {v};
  std::vector<Variant> out;
  const VariantArray& a = v.Array();
  for (std::int32_t i = a.Lower(); a.Size() > 0 && i <= a.Upper(); ++i) out.push_back(a.Get(i));
  return out;
}

std::string ErrorsText(ControlSession& s) {
  if (!s.Find("ReadErrors", MemberKind::Method)) return {};
  try {
    return s.Get().Invoke("ReadErrors", {}).ToString();
  } catch (const RuntimeError&) {
    return {};
  }
}

// The control's ReadErrors text and its cause of the failure, each when it has one.
int Failed(const std::string& method, std::int32_t result, const std::string& errors, const std::string& cause) {
  std::string why = cause;
  // The classic text in front, unless the cause already says it.
  if (!errors.empty() && cause.find(errors) == std::string::npos) why = why.empty() ? errors : errors + " (" + cause + ")";
  if (why.empty()) why = "the control gave no cause for this result";
  std::cerr << "plclink: " << method << " failed with result " << result << ": " << why << "\n";
  return 1;
}

// The values a read or poll asks the control for: register words when a --format reads them.
std::int16_t Count(const Options& o) { return static_cast<std::int16_t>(o.count * WordsPerValue(o.format)); }

void CheckFormat(const Options& o) {
  if (o.format != RegisterFormat::Control && o.ioType)
    throw UsageError("--format reads plain register words; leave out --io-type " + *o.ioType);
}

std::vector<Variant> Formatted(const Options& o, const std::vector<Variant>& words) {
  return FormatWords(words, o.format, o.wordOrder);
}

int Read(const Options& o, ControlSession& s, Output& out) {
  CheckFormat(o);
  const MemberInfo& m = s.Require("ReadPLC", MemberKind::Method);
  ArgSlots a = TransferArgs(m, o, Variant(VariantArray(1, Count(o))), Count(o));
  s.OpenPort();
  std::int32_t result = s.Get().Invoke(m.name, a.List()).ToInt32();
  std::string errors = ErrorsText(s);
  const std::string& cause = s.Get().FailureCause();
  std::vector<Variant> values = result == ResultOk ? Formatted(o, Elements(*a.slots[1])) : std::vector<Variant>{};
  out.Transfer(result, values, errors, cause);
  return result == ResultOk ? 0 : Failed(m.name, result, errors, cause);
}

// UdpLink counts an ioFloat write in values of two words each (whole part, then
// ten-thousandths), which the command line gives as the words: WriteSize is half of them.
void CountFixedPointPairs(const Options& o, ArgSlots& a) {
  if (o.library != "udplink" || a.slots.size() < 4 || !a.slots[3] || a.slots[3]->ToInt32() != ioFloat) return;
  if (o.operands.size() % 2 != 0)
    throw UsageError("write: an ioFloat value is two words (whole part, then ten-thousandths); give them in pairs");
  a.slots[2] = Variant(static_cast<std::int16_t>(o.operands.size() / 2));
}

int Write(const Options& o, ControlSession& s, Output& out) {
  const MemberInfo& m = s.Require("WritePLC", MemberKind::Method);
  if (o.operands.size() > 32767) throw UsageError("too many values");
  VariantArray values(1, static_cast<std::int32_t>(o.operands.size()));
  for (std::size_t i = 0; i < o.operands.size(); ++i) {
    std::optional<Variant> v = ParseArgument(o.operands[i], nullptr);
    if (!v || !v->IsNumeric()) throw UsageError("write: '" + o.operands[i] + "' is not a number");
    values.Set(static_cast<std::int32_t>(i + 1), *v);
  }
  ArgSlots a = TransferArgs(m, o, Variant(std::move(values)), static_cast<std::int16_t>(o.operands.size()));
  CountFixedPointPairs(o, a);
  s.OpenPort();
  std::int32_t result = s.Get().Invoke(m.name, a.List()).ToInt32();
  // A write acknowledged later (DfLink) is done when its completion came; none is a failure.
  bool missing = false;
  if (result == ResultOk) {
    LateEnd end = AwaitLine(s);
    if (end.completion && end.completion->size() >= 5) result = (*end.completion)[4].ToInt32();
    missing = end.Missing();
    if (missing) result = ResultNoReply;
  }
  std::string errors = ErrorsText(s);
  const std::string cause = missing ? MissingCompletionText(m.name) : s.Get().FailureCause();
  out.Transfer(result, {}, errors, cause);
  return result == ResultOk ? 0 : Failed(m.name, result, errors, cause);
}

// A completion event's data as the --format asks: MData(1..quan) formatted, quan counting
// the printed values.
void FormatEvent(const Options& o, std::vector<Variant>& args) {
  if (o.format == RegisterFormat::Control || args.size() < 3 || !args[0].IsArray() || !args[2].IsNumeric()) return;
  const VariantArray& data = args[0].Array();
  std::vector<Variant> words;
  for (std::int32_t i = 1; i <= args[2].ToInt32() && data.Contains(i); ++i) words.push_back(data[i]);
  std::vector<Variant> values = Formatted(o, words);
  VariantArray shown(1, static_cast<std::int32_t>(values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) shown.Set(static_cast<std::int32_t>(i + 1), values[i]);
  args[0] = Variant(std::move(shown));
  args[2] = Variant(static_cast<std::int16_t>(values.size()));
}

// Prints every event the control raises, with its declared parameter names, for the scope of
// one command (the counter it feeds lives no longer). Printed arguments are a copy: what the
// control reads back from its own stays as it was.
class PrintedEvents {
 public:
  // counted sees each event's name and its arguments as the control raised them.
  PrintedEvents(ControlSession& s, Output& out, const Options& o,
                std::function<void(const std::string&, const std::vector<Variant>&)> counted)
      : s_(s) {
    s.OnEvent([this, &s, &out, &o, counted](const std::string& name, std::vector<Variant>& args) {
      const MemberInfo* m = s.Find(name, MemberKind::Event);
      static const std::vector<ParamInfo> kNone;
      if (o.format != RegisterFormat::Control && IsCompletion(name)) {
        std::vector<Variant> shown = args;
        try {
          FormatEvent(o, shown);
          out.Event(name, shown, m ? m->params : kNone, WallMicrosNow());
        } catch (const NotARegisterWord& e) {
          refused_ = true;
          std::cerr << "plclink: " << name << ": " << e.what() << "\n";
        }
      } else {
        out.Event(name, args, m ? m->params : kNone, WallMicrosNow());
      }
      if (counted) counted(name, args);
    });
  }
  ~PrintedEvents() { s_.OnEvent(nullptr); }
  PrintedEvents(const PrintedEvents&) = delete;
  PrintedEvents& operator=(const PrintedEvents&) = delete;
  // A completion whose values the --format could not print (no register words).
  bool Refused() const { return refused_; }

 private:
  ControlSession& s_;
  bool refused_ = false;
};

// The parameter of a completion event with that name, when it declares one.
const Variant* EventArg(ControlSession& s, const std::string& event, const std::vector<Variant>& args,
                        const char* param) {
  const MemberInfo* m = s.Find(event, MemberKind::Event);
  if (!m) return nullptr;
  for (std::size_t i = 0; i < m->params.size() && i < args.size(); ++i)
    if (NamesEqual(m->params[i].name, param)) return &args[i];
  return nullptr;
}

// The result a completion event reports (RespStatus), when it reports one.
std::optional<std::int32_t> CompletionStatus(ControlSession& s, const std::string& event,
                                             const std::vector<Variant>& args) {
  const Variant* status = EventArg(s, event, args, "RespStatus");
  if (!status || !status->IsNumeric()) return std::nullopt;
  return status->ToInt32();
}

std::string StatusErrorText(ControlSession& s, const std::string& event, const std::vector<Variant>& args) {
  const Variant* text = EventArg(s, event, args, "ErrorStr");
  return text && text->Type() == VarType::String ? text->ToString() : std::string();
}

void PrintReadData(const Options& o, ControlSession& s, Output& out) {
  if (!s.Find("ReadData", MemberKind::Method)) return;
  std::vector<Variant> values;
  try {
    for (std::int16_t i = 1; i <= Count(o); ++i) {
      Variant idx(i);
      values.push_back(s.Get().Invoke("ReadData", {&idx}));
    }
  } catch (const RuntimeError&) {
    // beyond the control's value buffer: what came before is shown
  }
  out.Transfer(ResultOk, Formatted(o, values), {});
}

// poll: one request on the line at a time. The next is sent when the previous one completed
// (its event) or failed, at the interval after the previous start or at once when that has
// passed: a bus of several stations never sees two requests at once. poll is its own watchdog,
// as a host is once Show has stopped the control's timers: a read unanswered for 2 s is printed
// as lost and freed with CommBusy = False, so that a late reply is dropped instead of being
// taken for the next read's.
int Poll(const Options& o, ControlSession& s, Output& out) {
  CheckFormat(o);
  const MemberInfo& m = s.Require("ReadPLCNW", MemberKind::Method);
  ArgSlots a = TransferArgs(m, o, Variant(VariantArray(1, Count(o))), Count(o));
  EventLoop& loop = s.Loop();
  StopSignals stop(loop);
  long sent = 0;
  bool inFlight = false, failed = false;
  std::int64_t lastSent = 0;
  EventLoop::Handle timer = 0, watchdog = 0;
  const std::int64_t interval = o.intervalMs * kMicrosPerMilli;
  auto allSent = [&] { return o.times && sent >= *o.times; };

  std::function<void()> send;
  auto scheduleNext = [&] {
    if (allSent() || stop.Stopped() || timer) return;
    timer = loop.AddTimer(std::max(lastSent + interval, loop.Now()), send);
  };
  auto ended = [&] {
    inFlight = false;
    if (watchdog) loop.CancelTimer(watchdog);
    watchdog = 0;
    scheduleNext();
  };
  PrintedEvents events(s, out, o, [&](const std::string& name, const std::vector<Variant>& args) {
    if (!IsCompletion(name) || !inFlight) return;
    // A CommComplete without arguments (SeqLink, UdpLink) leaves the values in ReadData.
    if (name == "CommComplete" && args.empty()) {
      try {
        PrintReadData(o, s, out);
      } catch (const NotARegisterWord& e) {
        failed = true;
        std::cerr << "plclink: " << m.name << ": " << e.what() << "\n";
      }
    }
    // A completion that carries a failed status (DfLink's, RtuLink's) is a failed read.
    if (auto status = CompletionStatus(s, name, args); status && *status != ResultOk) {
      failed = true;
      Failed(m.name, *status, StatusErrorText(s, name, args), s.Get().FailureCause());
    }
    ended();
  });
  s.OpenPort();

  send = [&] {
    timer = 0;
    if (stop.Stopped() || allSent()) return;
    ++sent;
    lastSent = loop.Now();
    inFlight = true;
    ArgSlots call = a;
    std::int32_t result = s.Get().Invoke(m.name, call.List()).ToInt32();
    if (!NonWaitingReadSent(s, result)) {
      failed = true;
      const std::string errors = ErrorsText(s);
      out.Transfer(result, {}, errors, s.Get().FailureCause());  // with --json, the refusal's line
      Failed(m.name, result, errors, s.Get().FailureCause());
      if (inFlight) ended();  // no event follows a refused read
      return;
    }
    if (!inFlight) return;  // completed inside the call
    // A completion that never comes must not stop the polling for good. Its time starts once
    // the call returns with the request out: after a lost read the call first waits for the
    // line to fall silent, and that wait is not the slave's.
    watchdog = loop.AddTimer(loop.Now() + kReplyLimitMicros, [&] {
      watchdog = 0;
      failed = true;
      if (s.Find("CommBusy", MemberKind::Property)) s.Get().SetProperty("CommBusy", Variant(false));
      // Freed, a control that has no event for a failed read says why it failed (SeqLink,
      // UdpLink: a NAK, a failed check, the step at which the station went silent).
      const std::string cause = s.Get().FailureCause();
      std::string errors = ErrorsText(s);
      out.LostReply(m.name, o.target, errors, cause, WallMicrosNow());
      std::cerr << "plclink: " << m.name << " " << o.target
                << (cause.empty() ? " got no reply within 2 s" : " failed: " + cause)
                << (errors.empty() ? std::string() : ": " + errors) << "\n";
      ended();
    });
  };
  send();
  auto finished = [&] { return stop.Stopped() || (allSent() && !inFlight); };
  while (!finished()) loop.WaitUntil(finished, loop.Now() + 1'000'000);
  if (timer) loop.CancelTimer(timer);
  if (watchdog) loop.CancelTimer(watchdog);
  return failed || events.Refused() ? 1 : 0;
}

// The control a slave while it serves, and the master it was again afterwards: a shell's next
// line reads and writes as before.
class ServingAsSlave {
 public:
  explicit ServingAsSlave(ControlSession& s) : s_(s), master_(s.AnswerAsSlave()) {}
  ~ServingAsSlave() {
    if (!master_) return;
    try {
      s_.Get().SetProperty("ModBusMode", *master_);
    } catch (const RuntimeError& e) {
      std::cerr << "plclink: setting ModBusMode back to " << master_->ToString() << ": " << e.what() << "\n";
    }
  }
  ServingAsSlave(const ServingAsSlave&) = delete;
  ServingAsSlave& operator=(const ServingAsSlave&) = delete;

 private:
  ControlSession& s_;
  std::optional<Variant> master_;
};

int Serve(const Options& o, ControlSession& s, Output& out) {
  std::map<std::int32_t, std::int32_t> image = ImageValues(o);
  ServingAsSlave slave(s);
  // The image is preloaded over another line: a port an earlier line of a shell opened closes
  // first, and serving opens it again.
  if (!image.empty() && s.Get().GetProperty("PortOpen").ToBool()) s.Get().SetProperty("PortOpen", Variant(false));
  PreloadImage(s, o, image);
  EventLoop& loop = s.Loop();
  StopSignals stop(loop);
  long requests = 0;
  ServedRequests served(s.Get().GetProperty("ModBusMode").ToInt32() == rtu::SlaveAscii,
                        s.Get().GetProperty("PLCType").ToInt32() == rtu::EnType2);
  s.OnTrace([&served](TraceDirection d, const std::uint8_t* data, std::size_t size, std::int64_t wallMicros) {
    if (d == TraceDirection::Received) served.Received(data, size, wallMicros);
    else served.Sent(data, size);
  });
  // Each request as it was served; the other events as they are.
  s.OnEvent([&](const std::string& name, std::vector<Variant>& args) {
    if (name == "CommCompleteEx") {
      ++requests;
      out.Served(served.Take(), WallMicrosNow());
      return;
    }
    const MemberInfo* m = s.Find(name, MemberKind::Event);
    out.Event(name, args, m ? m->params : std::vector<ParamInfo>{}, WallMicrosNow());
  });
  s.OpenPort();
  // Requests that waited on the line before the port opened were meant for a slave that was
  // not there yet: answering them now would answer a master that has long given up.
  s.Get().Invoke("ClearCommPort", {});
  out.Notice("READY serving unit " + s.Get().GetProperty("Address").ToString() + " on " + s.PortDevice() +
             (image.empty() ? "" : ", " + std::to_string(image.size()) + " values preloaded"));
  auto finished = [&] { return stop.Stopped() || (o.times && requests >= *o.times); };
  while (!finished()) loop.WaitUntil(finished, loop.Now() + 1'000'000);
  // Closing a port discards what it has not sent: the last answer gets time to leave.
  if (!stop.Stopped()) loop.RunFor(kLastAnswerMicros);
  s.OnEvent(nullptr);
  s.OnTrace(nullptr);
  return 0;
}

int Call(const Options& o, ControlSession& s, Output& out) {
  const MemberInfo& m = s.Require(o.target, MemberKind::Method);
  if (o.operands.size() > m.params.size())
    throw UsageError(m.name + " takes " + std::to_string(m.params.size()) + " argument(s), not " +
                     std::to_string(o.operands.size()));
  ArgSlots a;
  for (std::size_t i = 0; i < o.operands.size(); ++i) a.slots.push_back(ParseArgument(o.operands[i], &m.params[i]));
  for (std::size_t i = 0; i < m.params.size(); ++i) {
    bool given = i < a.slots.size() && a.slots[i];
    if (!given && !m.params[i].optional)
      throw UsageError(m.name + " wants its argument " + m.params[i].name + " (" + m.params[i].type + ")");
  }
  if (o.port) s.OpenPort();
  PrintedEvents events(s, out, o, nullptr);
  Variant result;
  try {
    result = s.Get().Invoke(m.name, a.List());
  } catch (const RuntimeError& e) {
    // The bare error names neither the call nor which argument; the signature and the
    // argument forms let the user see which one its parameter cannot take.
    std::string given;
    for (const std::string& operand : o.operands) given += (given.empty() ? "" : " ") + operand;
    const bool argument = e.Number() == err::TypeMismatch || e.Number() == err::Overflow;
    throw RuntimeError(e.Number(), Signature(m) + (argument ? " cannot take " : " failed with ") + given +
                                       (argument ? " (a number as it is, an array as [1,2] from element 0 "
                                                   "or 1:[1,2] from element 1, - for an omitted argument)"
                                                 : "") +
                                       ": " + e.what());
  }
  // ReadErrors reports the cause of the call before it; it has none of its own.
  const bool reports = Control::ReportsLastCall(m.name);
  std::string cause = reports ? std::string() : s.Get().FailureCause();
  // A call that left a transaction on the line sees it end before the process does; a
  // completion that never comes, for a request the call sent, is a failure. A call that
  // failed has its own cause and no transaction to wait for.
  // The port is the call's when --port named it or the session opened it for an earlier line
  // (a shell on a --bag document's port).
  if ((o.port || s.PortOpened()) && !reports && cause.empty()) {
    const bool missing = AwaitLine(s).Missing();
    cause = s.Get().FailureCause();
    const bool sent = m.name != "ReadPLCNW" || NonWaitingReadSent(s, result.ToInt32());
    if (missing && sent && cause.empty()) {
      // The line freed, a control with no event for a failed read says why it failed.
      if (s.Find("CommBusy", MemberKind::Property) && s.Get().GetProperty("CommBusy").ToBool())
        s.Get().SetProperty("CommBusy", Variant(false));
      cause = s.Get().FailureCause();
      if (cause.empty()) cause = MissingCompletionText(m.name);
    }
  }
  // call opens no port of itself (conversions need none): a failure on a closed port says how
  // plclink opens one, where the control can only say PortOpen is False. The JSON cause stays
  // the control's own.
  const bool closed = !cause.empty() && !o.port && !s.PortOpened() && s.Find("PortOpen", MemberKind::Property) &&
                      !s.Get().GetProperty("PortOpen").ToBool();
  out.Call(result, a.After(), cause);
  if (!cause.empty())
    std::cerr << "plclink: " << m.name << " failed: " << cause
              << (closed ? " (call opens the port only when --port names it, or give --prop PortOpen=True)" : "")
              << "\n";
  return cause.empty() ? 0 : 1;
}

int GetProperty(const Options& o, ControlSession& s, Output& out) {
  const MemberInfo& m = s.Require(o.target, MemberKind::Property);
  out.Property(m.name, s.Get().GetProperty(m.name));
  return 0;
}

int SetProperty(const Options& o, ControlSession& s, Output& out) {
  const MemberInfo& m = s.Require(o.target, MemberKind::Property);
  if (!m.writable) throw UsageError(s.Get().ClassName() + "'s property " + m.name + " is read-only");
  Variant value = ParseValue(o.operands.at(0), m.result, m.enumeration, m.name);
  try {
    s.Get().SetProperty(m.name, value);
  } catch (const RuntimeError& e) {
    throw RuntimeError(e.Number(), "cannot set " + m.name + " to " + o.operands[0] + ": " + e.what());
  }
  s.Save();
  const Variant now = s.Get().GetProperty(m.name);
  out.Property(m.name, now);
  // The document is all that outlasts this run: a value it does not keep was not set. A
  // restored PortOpen opens nothing, by design, so it is not compared.
  if (NamesEqual(m.name, "PortOpen")) return 0;
  std::optional<Variant> restored = s.RestoredValue(m.name);
  // A restore may give the same value in another type (a Long where a Double was set).
  const auto same = [](const Variant& a, const Variant& b) {
    if (a.IsArray() || b.IsArray() || a.Type() == VarType::Font || b.Type() == VarType::Font) return a == b;
    return a.ToString() == b.ToString();
  };
  if (!restored || same(*restored, now)) return 0;
  std::cerr << "plclink: " << *o.bag << " keeps no " << m.name << " of " << s.Get().ClassName()
            << ": a control restored from it has " << restored->ToString() << ", not " << now.ToString()
            << " (the value holds in this run only)\n";
  return 1;
}

}  // namespace

int RunCommand(const Options& o, ControlSession& s, Output& out) {
  s.ApplyOptions(o);
  if (o.command == Command::Shell) return RunShell(o, s);
  return RunOneCommand(o, s, out);
}

// A slave mode takes every byte that arrives for a request, a reply too: a read or write
// would go out, its reply be served as a request, and the call fail as unanswered though
// the PLC answered (and carried out the write).
void RequireMaster(const Options& o, ControlSession& s) {
  if (!s.Find("ModBusMode", MemberKind::Property)) return;
  const std::int32_t mode = s.Get().GetProperty("ModBusMode").ToInt32();
  if (mode != rtu::SlaveRtu && mode != rtu::SlaveAscii) return;
  throw UsageError(std::string(o.command == Command::Read ? "read" : o.command == Command::Write ? "write" : "poll") +
                   ": ModBusMode " + (mode == rtu::SlaveRtu ? "SlaveRtu" : "SlaveAscii") +
                   " makes the control a slave, which takes the PLC's reply for a request; read, write and "
                   "poll run as a master (--mode Rtu or Ascii), serve as a slave");
}

int RunOneCommand(const Options& o, ControlSession& s, Output& out) {
  if (o.command == Command::Read || o.command == Command::Write || o.command == Command::Poll) RequireMaster(o, s);
  switch (o.command) {
    case Command::Shell: throw UsageError("a shell runs no shell of its own");
    case Command::Read: return Read(o, s, out);
    case Command::Write: return Write(o, s, out);
    case Command::Poll: return Poll(o, s, out);
    case Command::Serve: return Serve(o, s, out);
    case Command::Call: return Call(o, s, out);
    case Command::Members: out.Members(s.Get().ClassName(), s.Get().Members()); return 0;
    case Command::Get: return GetProperty(o, s, out);
    case Command::Set: return SetProperty(o, s, out);
  }
  return 2;
}

}  // namespace plc::plclink
