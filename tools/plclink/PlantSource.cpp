#include "tools/plclink/PlantSource.h"

#include "logger/TimeText.h"
#include "platform/SharedLibrary.h"

namespace plc::plclink {

namespace {

// Keys of a section that a control may keep without storing them (DfLink's scan timers and
// retries): set at start when the section has them.
const char* const kRunKeys[] = {"ScanReadIOTimerInterval", "ScanWriteIOTimerInterval", "NumOfReadRetries",
                                "NumOfWriteRetries"};
constexpr std::int32_t kEcomMode = 3;  // UdpLink's CommMode ECOM

}  // namespace

PlantSource::PlantSource(const PlantControl& control, const std::string& documentPath)
    : section_(control.section), library_(control.library), control_(PluginControl::Load(control.library)) {
  host_.SetDisplayName(section_);
  control_->SetHost(&host_);
  control_->SetEventSink([this](const std::string& name, std::vector<Variant>& args) { Event(name, args); });
  bag_.Load(documentPath, section_);
  control_->Initialize();
  control_->ReadProperties(bag_);
  control_->Show();
}

PlantSource::~PlantSource() { Stop(); }

bool PlantSource::Has(const char* property) const {
  for (const MemberInfo& m : control_->Members())
    if (m.kind == MemberKind::Property && NamesEqual(m.name, property)) return true;
  return false;
}

bool PlantSource::NumbersAreOctal() {
  if (NamesEqual(control_->ClassName(), "SeqLink")) return true;
  try {
    return NamesEqual(control_->ClassName(), "UdpLink") && control_->GetProperty("CommMode").ToInt32() == kEcomMode;
  } catch (const RuntimeError&) {
    return false;
  }
}

DatabaseLoad PlantSource::LoadDatabases(const std::string& folder) {
  SharedLibrary library = SharedLibrary::Open(control_.LibraryPath());
  auto* load = library.Function<void(const char*, DatabaseLoad*)>(kLoadDatabasesSymbol);
  if (!load) throw RuntimeError(err::InvalidCall, control_.LibraryPath() + " has no " + kLoadDatabasesSymbol);
  DatabaseLoad result;
  load(folder.c_str(), &result);
  return result;
}

std::string PlantSource::Start() {
  try {
    for (const char* key : kRunKeys) {
      const Variant stored = bag_.ReadProperty(key, Variant());
      if (!stored.IsEmpty() && Has(key)) control_->SetProperty(key, stored);
    }
    // A stored PortOpen=True is a flag restoring left up, with the port still closed: it goes
    // down first, so that the set below opens the line.
    if (control_->GetProperty("PortOpen").ToBool()) control_->SetProperty("PortOpen", false);
    control_->SetProperty("PortOpen", true);
    opened_ = true;
    // UdpLink's ECOM open raises nothing when no module answers: its scan would then read
    // nothing, with no failure logged, for the whole run. (CurrentErrors is the thread's, so
    // only a control in ECOM mode is judged by it.)
    if (NamesEqual(control_->ClassName(), "UdpLink") && control_->GetProperty("CommMode").ToInt32() == kEcomMode) {
      const std::string errors = control_->GetProperty("CurrentErrors").ToString();
      if (!errors.empty()) return control_->FailureCause().empty() ? errors : control_->FailureCause();
    }
    control_->SetProperty("ScanReadEnable", true);
    control_->SetProperty("ScanWriteEnable", true);
  } catch (const RuntimeError& e) {
    return e.what();
  }
  return {};
}

void PlantSource::StopScan() {
  try {
    if (Has("ScanReadEnable")) control_->SetProperty("ScanReadEnable", false);
    if (Has("ScanWriteEnable")) control_->SetProperty("ScanWriteEnable", false);
    // A read in flight is given up: the waits for the line end now, not with its reply.
    control_->SetProperty("CommBusy", false);
  } catch (const RuntimeError&) {
    // Stopping at the end: the control goes away next either way.
  }
}

void PlantSource::Stop() {
  StopScan();
  try {
    if (opened_) control_->SetProperty("PortOpen", false);
  } catch (const RuntimeError&) {
    // Closing at the end: the control goes away next either way.
  }
  opened_ = false;
}

std::string PlantSource::Force(const std::string& address, std::int32_t value) {
  Variant add(address);
  Variant v(value);
  const char* member = nullptr;
  for (const MemberInfo& m : control_->Members())
    if (m.kind == MemberKind::Method && (m.name == "ForceModData" || m.name == "ForceData")) member = m.name.c_str();
  if (!member) return control_->ClassName() + " has no write queue";
  control_->Invoke(member, ArgList{&add, &v});
  return control_->FailureCause();
}

void PlantSource::Event(const std::string& name, std::vector<Variant>& args) {
  if (name == "ScanComplete" && args.size() >= 5) {
    logger::ScanResult r;
    r.control = section_;
    r.index = args[0].ToInt32();
    if (args[2].IsArray())
      for (const Variant& v : args[2].Array()) r.values.push_back(v);
    r.error = args[4].ToString();
    r.timeUs = logger::NowUs();
    ++reads_;
    if (!r.error.empty()) ++failed_;
    if (OnScan) OnScan(r);
  } else if (name == "WriteQueComplete" && args.size() >= 4) {
    QueuedWriteEnd w{section_, args[0].ToString(), args[1].ToInt32(), args[2].ToBool(), args[3].ToString()};
    if (OnWrite) OnWrite(w);
  }
}

}  // namespace plc::plclink
