#include "tools/plclink/Commands.h"

#include <algorithm>
#include <iostream>
#include <optional>

#include "core/ResultCodes.h"
#include "tools/plclink/LateCompletion.h"
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

int Failed(const std::string& method, std::int32_t result, const std::string& errors) {
  std::cerr << "plclink: " << method << " failed with result " << result
            << (errors.empty() ? std::string(" (no error text)") : ": " + errors) << "\n";
  return 1;
}

std::int16_t Count(const Options& o) { return static_cast<std::int16_t>(o.count); }

int Read(const Options& o, ControlSession& s, Output& out) {
  const MemberInfo& m = s.Require("ReadPLC", MemberKind::Method);
  ArgSlots a = TransferArgs(m, o, Variant(VariantArray(1, o.count)), Count(o));
  s.OpenPort();
  std::int32_t result = s.Get().Invoke(m.name, a.List()).ToInt32();
  std::string errors = ErrorsText(s);
  std::vector<Variant> values = result == ResultOk ? Elements(*a.slots[1]) : std::vector<Variant>{};
  out.Transfer(result, values, errors);
  return result == ResultOk ? 0 : Failed(m.name, result, errors);
}

int Write(const Options& o, ControlSession& s, Output& out) {
  const MemberInfo& m = s.Require("WritePLC", MemberKind::Method);
  if (o.operands.size() > 32767) throw UsageError("too many values");
  VariantArray values(1, static_cast<std::int32_t>(o.operands.size()));
  for (std::size_t i = 0; i < o.operands.size(); ++i) {
    std::optional<Variant> v = ParseArgument(o.operands[i], nullptr);
    if (!v || v->IsArray()) throw UsageError("write: '" + o.operands[i] + "' is not a value");
    values.Set(static_cast<std::int32_t>(i + 1), *v);
  }
  ArgSlots a = TransferArgs(m, o, Variant(std::move(values)), static_cast<std::int16_t>(o.operands.size()));
  s.OpenPort();
  std::int32_t result = s.Get().Invoke(m.name, a.List()).ToInt32();
  // A write acknowledged later (DfLink) is done when its completion came.
  if (result == ResultOk) {
    auto completion = AwaitLine(s);
    if (completion && completion->size() >= 5) result = (*completion)[4].ToInt32();
  }
  std::string errors = ErrorsText(s);
  out.Transfer(result, {}, errors);
  return result == ResultOk ? 0 : Failed(m.name, result, errors);
}

// Prints every event the control raises, with its declared parameter names, for the scope of
// one command (the counter it feeds lives no longer).
class PrintedEvents {
 public:
  // counted sees each event's name and whether it carried arguments.
  PrintedEvents(ControlSession& s, Output& out, std::function<void(const std::string&, bool)> counted) : s_(s) {
    s.OnEvent([&s, &out, counted](const std::string& name, std::vector<Variant>& args) {
      const MemberInfo* m = s.Find(name, MemberKind::Event);
      static const std::vector<ParamInfo> kNone;
      out.Event(name, args, m ? m->params : kNone, WallMicrosNow());
      if (counted) counted(name, !args.empty());
    });
  }
  ~PrintedEvents() { s_.OnEvent(nullptr); }
  PrintedEvents(const PrintedEvents&) = delete;
  PrintedEvents& operator=(const PrintedEvents&) = delete;

 private:
  ControlSession& s_;
};

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
  out.Transfer(ResultOk, values, {});
}

// Non-waiting reads on a timer, one on the line at a time. poll is its own watchdog, as a host
// is once Show has stopped the control's timers: a read unanswered for 2 s is printed as lost
// and freed with CommBusy = False, so that a late reply is dropped instead of being taken for
// the next read's.
int Poll(const Options& o, ControlSession& s, Output& out) {
  const MemberInfo& m = s.Require("ReadPLCNW", MemberKind::Method);
  ArgSlots a = TransferArgs(m, o, Variant(VariantArray(1, o.count)), Count(o));
  EventLoop& loop = s.Loop();
  StopSignals stop(loop);
  long sent = 0;
  bool failed = false;
  std::optional<std::int64_t> awaiting;  // when the read now on the line was sent
  EventLoop::Handle timer = 0;
  PrintedEvents events(s, out, [&](const std::string& name, bool withArgs) {
    if (name.rfind("CommComplete", 0) == 0) awaiting.reset();
    // A CommComplete without arguments (SeqLink, UdpLink) leaves the values in ReadData.
    if (name == "CommComplete" && !withArgs) PrintReadData(o, s, out);
  });
  s.OpenPort();

  auto giveUpIfLost = [&] {
    if (!awaiting || loop.Now() - *awaiting < kReplyLimitMicros) return;
    awaiting.reset();
    failed = true;
    std::string errors = ErrorsText(s);
    out.LostReply(m.name, o.target, errors, WallMicrosNow());
    std::cerr << "plclink: " << m.name << " " << o.target << " got no reply within 2 s"
              << (errors.empty() ? std::string() : ": " + errors) << "\n";
    if (s.Find("CommBusy", MemberKind::Property)) s.Get().SetProperty("CommBusy", Variant(false));
  };
  bool more = true;
  std::function<void()> tick = [&] {
    timer = 0;
    if (stop.Stopped()) return;
    giveUpIfLost();
    if (awaiting) {
      // The read before is still within its time: this one goes out once that one has ended.
      timer = loop.AddTimer(*awaiting + kReplyLimitMicros, tick);
      return;
    }
    ++sent;
    awaiting = loop.Now();
    ArgSlots call = a;
    std::int32_t result = s.Get().Invoke(m.name, call.List()).ToInt32();
    if (!NonWaitingReadSent(s, result)) {
      failed = true;
      awaiting.reset();  // no event follows a refused read
      Failed(m.name, result, ErrorsText(s));
    }
    more = !o.times || sent < *o.times;
    if (more) timer = loop.AddTimer(loop.Now() + o.intervalMs * kMicrosPerMilli, tick);
  };
  tick();
  auto finished = [&] {
    if (stop.Stopped()) return true;
    giveUpIfLost();
    return !more && !awaiting;
  };
  while (!finished()) {
    std::int64_t deadline = awaiting ? *awaiting + kReplyLimitMicros : loop.Now() + 1'000'000;
    loop.WaitUntil(finished, std::max(deadline, loop.Now()));
  }
  if (timer) loop.CancelTimer(timer);
  return failed ? 1 : 0;
}

int Serve(const Options& o, ControlSession& s, Output& out) {
  EventLoop& loop = s.Loop();
  StopSignals stop(loop);
  long requests = 0;
  PrintedEvents events(s, out, [&requests](const std::string& name, bool) {
    if (name == "CommCompleteEx") ++requests;
  });
  s.OpenPort();
  out.Notice("READY serving unit " + s.Get().GetProperty("Address").ToString() + " on " + s.PortDevice());
  auto finished = [&] { return stop.Stopped() || (o.times && requests >= *o.times); };
  while (!finished()) loop.WaitUntil(finished, loop.Now() + 1'000'000);
  // Closing a port discards what it has not sent: the last answer gets time to leave.
  if (!stop.Stopped()) loop.RunFor(kLastAnswerMicros);
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
  PrintedEvents events(s, out, nullptr);
  Variant result = s.Get().Invoke(m.name, a.List());
  // A call that left a transaction on the line sees it end before the process does.
  if (o.port) AwaitLine(s);
  out.Call(result, a.After());
  return 0;
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
  out.Property(m.name, s.Get().GetProperty(m.name));
  return 0;
}

}  // namespace

int RunCommand(const Options& o, ControlSession& s, Output& out) {
  s.ApplyOptions(o);
  switch (o.command) {
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
