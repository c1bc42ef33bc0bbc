#pragma once
// The face every control shows its host: late-bound members (Dispatch), the container events,
// the host it lives in, and the sink its events are raised to.
//
// Events carry their parameters by reference: a handler may change the Variants in `args`,
// and the control reads them back after the handler returns where the interface says so.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Dispatch.h"
#include "platform/ComponentHost.h"
#include "platform/Lifetime.h"
#include "platform/PropertyBag.h"

namespace plc {

using EventSink = std::function<void(const std::string& event, std::vector<Variant>& args)>;

class Control : public Dispatch {
 public:
  Control();
  ~Control() override;

  // Container events, in the order a host raises them: Initialize, then InitProperties (a new
  // control) or ReadProperties (a stored one), then Show. WriteProperties saves.
  virtual void Initialize() {}
  virtual void InitProperties() = 0;
  virtual void ReadProperties(PropertyBag& bag) = 0;
  virtual void WriteProperties(PropertyBag& bag) = 0;
  virtual void Show() {}
  virtual void Paint() {}
  virtual void Resize() {}

  // The host: without one the control runs in a StandaloneHost of its own (run mode).
  void SetHost(ComponentHost* host) { host_ = host ? host : &ownHost_; }
  ComponentHost& Host() const { return *host_; }
  void SetEventSink(EventSink sink) { sink_ = std::move(sink); }
  // Whether anyone receives events: an engine skips building arguments nobody would see.
  bool HasEventSink() const { return static_cast<bool>(sink_); }

  // Drawn size in twips.
  float Width() const { return width_; }
  float Height() const { return height_; }

  // Why the last read or write call of this control failed, in words a user can act on
  // ("no reply from station 2 within 2 s"); empty when it succeeded. ReadErrors keeps the
  // control's classic text, which hosts compare; this is the cause behind a failed result.
  const std::string& FailureCause() const { return failureCause_; }
  // ReadErrors reports on the last call: it neither fails nor clears that call's cause, so a
  // host may ask for both after a failed read. Every other method starts with no cause.
  static bool ReportsLastCall(std::string_view method) { return method == "ReadErrors"; }

  // Puts the failure cause back as it was when it goes out of scope: around a call the control
  // makes on its own behalf (a scan read, a queued write) through the calls a host makes, which
  // clear and note the cause. The cause is the host's calls' alone.
  class KeptFailureCause {
   public:
    explicit KeptFailureCause(Control& control)
        : control_(control),
          kept_(control.failureCause_),
          watch_(control.life_.Watched()),
          outer_(std::exchange(control.keeping_, this)) {}
    ~KeptFailureCause() {
      if (watch_.Gone()) return;
      control_.failureCause_ = std::move(kept_);
      control_.keeping_ = outer_;
    }
    KeptFailureCause(const KeptFailureCause&) = delete;
    KeptFailureCause& operator=(const KeptFailureCause&) = delete;

   private:
    friend class Control;
    Control& control_;
    std::string kept_;
    Lifetime::Watch watch_;  // a handler that ran meanwhile may have unloaded the control
    KeptFailureCause* outer_;
  };

 protected:
  // A call starts with no cause; the path that makes it fail says why.
  void ClearFailure() { failureCause_.clear(); }
  void NoteFailure(std::string cause) { failureCause_ = std::move(cause); }
  // A host's earlier call that fails only now (a non-waiting read given up): its cause stands
  // past the call the control is making on its own behalf meanwhile.
  void NoteLateFailure(const std::string& cause) {
    for (KeptFailureCause* k = keeping_; k; k = k->outer_) k->kept_ = cause;
    failureCause_ = cause;
  }

  void RaiseEvent(const std::string& name, std::vector<Variant>& args) {
    if (sink_) sink_(name, args);
  }
  void PropertyChanged(const std::string& key) { host_->PropertyChanged(key); }
  // Tells afterwards whether a call that let a host handler run left this control in being (a
  // handler may unload it).
  Lifetime::Watch Watched() const { return life_.Watched(); }
  bool RunMode() const { return host_->UserMode(); }
  void SetDrawnSize(float width, float height) {
    width_ = width;
    height_ = height;
  }

 private:
  StandaloneHost ownHost_;
  ComponentHost* host_ = &ownHost_;
  EventSink sink_;
  float width_ = 0;
  float height_ = 0;
  std::string failureCause_;
  KeptFailureCause* keeping_ = nullptr;  // the innermost call made on the control's own behalf
  Lifetime life_;
};

// The C entry points each plug-in library exports.
extern "C" {
using PlcCreateControlFn = Control* (*)();
using PlcDestroyControlFn = void (*)(Control*);
}
inline constexpr const char* kCreateControlSymbol = "PlcCreateControl";
inline constexpr const char* kDestroyControlSymbol = "PlcDestroyControl";

}  // namespace plc
