#include "tools/plclink/ControlSession.h"

#include <iostream>

#include "platform/SerialPortMap.h"
#include "tools/plclink/BagDocument.h"
#include "tools/plclink/LineTrace.h"
#include "tools/plclink/ValueText.h"

namespace plc::plclink {

namespace {

// The property that holds each control's mode enumeration.
std::string ModeProperty(const std::string& library) {
  if (library == "rtulink") return "ModBusMode";
  if (library == "DfLink") return "Mode";
  return "CommMode";
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

ControlSession::ControlSession(const Options& options)
    : library_(options.library), control_(PluginControl::Load(options.library)) {
  TraceHook printed = options.trace ? StandardErrorTrace() : TraceHook();
  host_.SetSerialTrace([this, printed](TraceDirection d, const std::uint8_t* data, std::size_t size, std::int64_t t) {
    if (printed) printed(d, data, size, t);
    if (traceListener_) traceListener_(d, data, size, t);
  });
  control_->SetHost(&host_);
  control_->SetEventSink([this](const std::string& name, std::vector<Variant>& args) {
    if (handler_) handler_(name, args);
  });
  control_->Initialize();
  if (options.section && !options.bag) throw UsageError("--section names a section of the --bag document; give --bag too");
  if (options.bag) {
    std::string section = options.section.value_or(control_->ClassName() + "1");
    CheckBagDocument(*options.bag, section, options.command == Command::Set);
    bag_.emplace(*options.bag, section);
    if (!bag_->SectionFound()) control_->InitProperties();
    else control_->ReadProperties(*bag_);
  } else {
    control_->InitProperties();
  }
  control_->Show();
}

ControlSession::~ControlSession() {
  if (!opened_) return;
  try {
    control_->SetProperty("PortOpen", false);
  } catch (const std::exception& e) {
    std::cerr << "plclink: closing the port: " << e.what() << "\n";
  }
}

const MemberInfo* ControlSession::Find(const std::string& name, MemberKind kind) const {
  for (const MemberInfo& m : control_->Members())
    if (m.kind == kind && NamesEqual(m.name, name)) return &m;
  return nullptr;
}

const MemberInfo& ControlSession::Require(const std::string& name, MemberKind kind) const {
  if (const MemberInfo* m = Find(name, kind)) return *m;
  throw UsageError(control_->ClassName() + " has no " + KindName(kind) + " named " + name);
}

void ControlSession::SetNamed(const std::string& option, const std::string& property, const std::string& text) {
  const MemberInfo* m = Find(property, MemberKind::Property);
  if (!m) throw UsageError(option + ": " + control_->ClassName() + " has no property " + property);
  Variant value = ParseValue(text, m->result, m->enumeration, option);
  try {
    control_->SetProperty(m->name, value);
  } catch (const RuntimeError& e) {
    // A value the control refuses as such (a settings text the port cannot take, a port
    // number below 1) is a mistake on the command line, not a failure of the line.
    if (e.Number() == err::InvalidPropertyValue || e.Number() == err::PortInvalid || e.Number() == err::Overflow)
      throw UsageError(option + ": " + m->name + " refuses " + text + ": " + e.what());
    throw RuntimeError(e.Number(), "cannot set " + m->name + " to " + text + ": " + e.what());
  }
}

void ControlSession::SetPort(const std::string& text) {
  if (AllDigits(text)) {
    SetNamed("--port", "CommPort", text);
    return;
  }
  // A device path: the control's own port number is pointed at it, so that a document saved
  // back keeps the number the plant's host maps to its line; when another device of this
  // process holds that number, the lowest one not mapped yet.
  SerialPortMap& map = SerialPortMap::Current();
  int number = control_->GetProperty("CommPort").ToInt32();
  if (number < 1 || map.Mapped(number)) {
    number = 1;
    while (map.Mapped(number)) ++number;
  }
  map.Map(number, text);
  SetNamed("--port", "CommPort", std::to_string(number));
}

void ControlSession::ApplyOptions(const Options& o) {
  // Line properties cannot change while a restored document left the port open. get, set and
  // members never use the line: a stored PortOpen=True (restoring opens nothing) is left as it
  // was, so that they neither need the device nor take the line from whoever holds it.
  const bool usesLine = o.command != Command::Get && o.command != Command::Set && o.command != Command::Members;
  bool wasOpen = usesLine && Find("PortOpen", MemberKind::Property) && control_->GetProperty("PortOpen").ToBool();
  if (wasOpen) control_->SetProperty("PortOpen", false);
  if (o.port) SetPort(*o.port);
  if (o.mode) {
    SetNamed("--mode", ModeProperty(o.library), *o.mode);
  }
  if (o.baud || o.parity || o.dataBits || o.stopBits) {
    // The text is checked as written first: a field given apart would otherwise replace the
    // part the port refuses and hide that the rest of it was dropped or taken for defaults.
    if (o.settings) SetNamed("--settings", "Settings", *o.settings);
    std::string base = o.settings ? *o.settings : control_->GetProperty("Settings").ToString();
    SetNamed(o.settings ? "--settings" : "--baud/--parity/--data-bits/--stop-bits", "Settings", CombinedSettings(base, o));
  } else if (o.settings) {
    SetNamed("--settings", "Settings", *o.settings);
  }
  if (o.address) SetNamed("--address", "Address", *o.address);
  if (o.plcType) SetNamed("--plc-type", "PLCType", *o.plcType);
  if (o.rs485) SetNamed("--rs485", "RS485Mode", *o.rs485);
  if (o.node) SetNamed("--node", "Node", *o.node);
  for (const std::string& p : o.props) {
    std::size_t eq = p.find('=');
    SetNamed("--prop " + p.substr(0, eq), p.substr(0, eq), p.substr(eq + 1));
  }
  if (wasOpen) {
    control_->SetProperty("PortOpen", true);
    opened_ = true;
  }
}

std::optional<Variant> ControlSession::AnswerAsSlave() {
  // A master framing (or none) becomes its slave framing; a slave mode given stays.
  const MemberInfo& m = Require("ModBusMode", MemberKind::Property);
  const Variant current = control_->GetProperty(m.name);
  auto slaveRtu = EnumValue(m.enumeration, "SlaveRtu");
  auto slaveAscii = EnumValue(m.enumeration, "SlaveAscii");
  auto ascii = EnumValue(m.enumeration, "Ascii");
  const std::int32_t mode = current.ToInt32();
  if (!slaveRtu || !slaveAscii || mode == *slaveRtu || mode == *slaveAscii) return std::nullopt;
  control_->SetProperty(m.name, Variant(ascii && mode == *ascii ? *slaveAscii : *slaveRtu));
  return current;
}

std::string ControlSession::PortDevice() const {
  const MemberInfo* m = Find("CommPort", MemberKind::Property);
  if (!m) return "its line";
  return SerialPortMap::Current().PathFor(control_->GetProperty("CommPort").ToInt32());
}

void ControlSession::OpenPort() {
  Require("PortOpen", MemberKind::Property);
  const bool flag = control_->GetProperty("PortOpen").ToBool();
  if (flag && opened_) return;
  try {
    // Up without this session opening it, PortOpen is the flag a restored document left: the
    // port is closed, and the flag goes down first so that the set opens it.
    if (flag) control_->SetProperty("PortOpen", false);
    control_->SetProperty("PortOpen", true);
  } catch (const RuntimeError& e) {
    std::string port = Find("CommPort", MemberKind::Property) ? control_->GetProperty("CommPort").ToString() : "?";
    throw RuntimeError(e.Number(), "cannot open port " + port + " (" + PortDevice() + "): " + e.what());
  }
  opened_ = true;
}

void ControlSession::Save() {
  if (!bag_) return;
  control_->WriteProperties(*bag_);
  bag_->Save();
}

std::optional<Variant> ControlSession::RestoredValue(const std::string& property) {
  if (!bag_) return std::nullopt;
  PluginControl restored = PluginControl::Load(library_);
  restored->SetHost(&host_);
  restored->Initialize();
  IniPropertyBag saved(bag_->Path(), bag_->Section());
  restored->ReadProperties(saved);
  return restored->GetProperty(property);
}

}  // namespace plc::plclink
