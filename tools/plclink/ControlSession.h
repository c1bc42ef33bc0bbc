#pragma once
// One control as plclink hosts it: its plug-in loaded by name, restored from a property-bag
// document or new, the command-line options set as properties, its port opened and closed,
// and its events handed to the command, all on this thread's event loop.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/PluginControl.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "platform/IniPropertyBag.h"
#include "tools/plclink/CommandLine.h"

namespace plc::plclink {

using EventHandler = std::function<void(const std::string& name, std::vector<Variant>& args)>;

class ControlSession {
 public:
  // Loads and restores the control (Initialize, ReadProperties or InitProperties, Show).
  explicit ControlSession(const Options& options);
  // Closes the port if this session opened it.
  ~ControlSession();
  ControlSession(const ControlSession&) = delete;
  ControlSession& operator=(const ControlSession&) = delete;

  Control& Get() { return *control_; }
  EventLoop& Loop() { return EventLoop::Current(); }

  // The member of that name and kind; UsageError naming the control when there is none.
  const MemberInfo& Require(const std::string& name, MemberKind kind) const;
  const MemberInfo* Find(const std::string& name, MemberKind kind) const;

  // Sets the properties the options name, in a fixed order (port, mode, settings, address,
  // plc type, RS485, node, then each --prop). A closed port stays closed.
  void ApplyOptions(const Options& options);
  // Opens the port; RuntimeError naming the port and device when it cannot.
  void OpenPort();
  // Whether this session opened the port (and keeps it open): a line a call may use.
  bool PortOpened() const { return opened_; }
  // Makes RtuLink a slave in the framing it has (serve); the master mode it was in, to be
  // restored once serving ends, or nullopt when it was a slave already.
  std::optional<Variant> AnswerAsSlave();
  // The device CommPort opens now, for messages.
  std::string PortDevice() const;
  // Saves the control to the document it came from (WriteProperties + Save), if any.
  void Save();
  // The value a control restored from the saved document has for that property; nullopt
  // without a document.
  std::optional<Variant> RestoredValue(const std::string& property);

  void OnEvent(EventHandler handler) { handler_ = std::move(handler); }
  const EventHandler& Handler() const { return handler_; }
  // Sees every byte the control's port sends and receives (besides --trace), from the next
  // time the port opens.
  void OnTrace(TraceHook hook) { traceListener_ = std::move(hook); }

 private:
  void SetNamed(const std::string& option, const std::string& property, const std::string& text);
  void SetPort(const std::string& text);

  StandaloneHost host_;  // outlives the control
  std::string library_;
  PluginControl control_;
  std::optional<IniPropertyBag> bag_;
  EventHandler handler_;
  TraceHook traceListener_;
  bool opened_ = false;
};

}  // namespace plc::plclink
