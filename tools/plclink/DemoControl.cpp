#include "tools/plclink/DemoControl.h"

#include <utility>

#include "platform/EventLoop.h"
#include "platform/SerialPortMap.h"

namespace plc::plclink {

namespace {

// A non-waiting call's event comes well within this, or never.
constexpr std::int64_t kEventWaitMicros = 3'000'000;

}  // namespace

DemoControl::DemoControl(const std::string& library, std::int16_t commPort, const std::string& devicePath,
                         const DemoReport& report, std::string completionEvent)
    : completionEvent_(std::move(completionEvent)), control_(PluginControl::Load(library)), commPort_(commPort) {
  SerialPortMap::Current().Map(commPort_, devicePath);
  host_.SetSerialTrace(report.WireTrace());
  control_->SetHost(&host_);
  control_->Initialize();
  control_->InitProperties();
}

DemoControl::~DemoControl() {
  try {
    control_->SetProperty("PortOpen", false);
  } catch (const RuntimeError&) {
    // Closing a line that failed changes nothing worth reporting at the end of the run.
  }
  SerialPortMap::Current().Unmap(commPort_);
}

void DemoControl::Open() {
  control_->SetEventSink([this](const std::string& name, std::vector<Variant>& args) {
    if (name == completionEvent_) completions_.push_back(args);
  });
  control_->SetProperty("PortOpen", true);
}

Variant DemoControl::Call(const char* member, std::vector<Variant> args) {
  std::vector<Variant*> refs;
  for (Variant& a : args) refs.push_back(&a);
  Variant result = control_->Invoke(member, refs);
  args_ = std::move(args);
  return result;
}

bool DemoControl::AwaitCompletion(int seen) {
  EventLoop& loop = EventLoop::Current();
  return loop.WaitUntil([&] { return Completions() > seen; }, loop.Now() + kEventWaitMicros);
}

std::vector<Variant> DemoControl::NextCompletion() {
  const int seen = Completions();
  return AwaitCompletion(seen) ? CompletionArgs(seen) : std::vector<Variant>{};
}

std::string DemoControl::Errors() { return control_->Invoke("ReadErrors", {}).ToString(); }

std::string DemoControl::Failure(const std::string& resultText) {
  const std::string errors = Errors();
  return resultText + (errors.empty() ? "" : ", ReadErrors \"" + errors + "\"");
}

}  // namespace plc::plclink
