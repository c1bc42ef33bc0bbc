#include "tools/plclink/LateCompletion.h"

#include "base/ResultCodes.h"
#include "base/RuntimeError.h"

namespace plc::plclink {

namespace {
// A DF1 transaction ends within 1.4 s, or the control's watchdog frees it within 3 s.
constexpr std::int64_t kLineWaitMicros = 4'000'000;
}  // namespace

bool IsCompletion(const std::string& event) { return event.rfind("CommComplete", 0) == 0; }

bool NonWaitingReadSent(ControlSession& s, std::int32_t result) {
  if (s.Get().ClassName() == "DfLink") return result == ResultFailed;
  return result == ResultOk;
}

std::string MissingCompletionText(const std::string& method) {
  return "no reply in time: the PLC never answered the " + method + " (no CommComplete came while the control held the line)";
}

LateEnd AwaitLine(ControlSession& s) {
  if (!s.Find("CommBusy", MemberKind::Property)) return {};
  auto busy = [&s] {
    try {
      return s.Get().GetProperty("CommBusy").ToBool();
    } catch (const RuntimeError&) {
      return false;
    }
  };
  std::optional<std::vector<Variant>> completion;
  const EventHandler previous = s.Handler();
  s.OnEvent([&](const std::string& name, std::vector<Variant>& args) {
    if (previous) previous(name, args);
    if (IsCompletion(name)) completion = args;
  });
  EventLoop& loop = s.Loop();
  const bool awaited = busy();
  loop.WaitUntil([&] { return !busy(); }, loop.Now() + kLineWaitMicros);
  s.OnEvent(previous);
  return {awaited || completion.has_value(), completion};
}

}  // namespace plc::plclink
