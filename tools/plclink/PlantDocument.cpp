#include "tools/plclink/PlantDocument.h"

#include <filesystem>
#include <stdexcept>

#include "base/Variant.h"
#include "logger/MqttPublisher.h"
#include "logger/SetMessages.h"
#include "platform/IniPropertyBag.h"
#include "platform/ProfileFile.h"
#include "tools/plclink/CommandLine.h"

namespace plc::plclink {

namespace {

namespace fs = std::filesystem;

constexpr int kMinCommitMs = 50;
constexpr int kMaxCommitMs = 60'000;

// A key's value as the property bag reads it (quotes and escapes undone).
std::string Value(const ProfileDocument& doc, const std::string& section, const std::string& key,
                  const std::string& fallback) {
  const auto raw = doc.Get(section, key);
  if (!raw) return fallback;
  return ParseProfileValue(*raw).ToString();
}

}  // namespace

std::string FromFolder(const std::string& folder, const std::string& path) {
  if (path.empty() || fs::path(path).is_absolute()) return path;
  return (fs::path(folder) / path).lexically_normal().string();
}

PlantDocument ReadPlantDocument(const std::string& path) {
  const auto text = ReadWholeFile(path);
  if (!text) throw std::runtime_error(path + ": cannot be read");
  int line = 0;
  const auto doc = ProfileDocument::Parse(*text, &line);
  if (!doc) throw std::runtime_error(path + ":" + std::to_string(line) + ": not a section, a key=value line or a comment");
  PlantDocument plant;
  plant.path = path;
  const std::string folder = fs::absolute(path).parent_path().string();
  for (const std::string& section : doc->Sections()) {
    const auto control = doc->Get(section, "Control");
    if (!control) continue;
    const std::string name = ParseProfileValue(*control).ToString();
    const auto library = LibraryFor(name);
    if (!library)
      throw std::runtime_error(path + ": [" + section + "] Control=" + name +
                               " is none of RtuLink, SeqLink, DfLink, UdpLink");
    plant.controls.push_back({section, *library});
  }
  if (plant.controls.empty()) throw std::runtime_error(path + ": no section names a control (Control=RtuLink, ...)");
  plant.databases = FromFolder(folder, Value(*doc, "Gateway", "Databases", "."));
  plant.history = FromFolder(folder, Value(*doc, "Gateway", "History", fs::path(path).stem().string() + ".db"));
  plant.topic = Value(*doc, "Gateway", "Topic", plant.topic);
  // As --topic: a wildcard, or bytes that are no UTF-8, make every topic under it one no
  // message can be published to.
  if (!logger::IsTopicPrefix(plant.topic))
    throw std::runtime_error(path + ": [Gateway] Topic=" + logger::PrintableText(plant.topic, 64) +
                             " is not a topic prefix (UTF-8 text without + or #)");
  const std::string commit = Value(*doc, "Gateway", "CommitMs", std::to_string(plant.commitMs));
  const auto ms = ParseWholeNumber(commit);
  if (!ms || *ms < kMinCommitMs || *ms > kMaxCommitMs)
    throw std::runtime_error(path + ": [Gateway] CommitMs=" + commit + " is not a number of milliseconds from " +
                             std::to_string(kMinCommitMs) + " to " + std::to_string(kMaxCommitMs));
  plant.commitMs = static_cast<int>(*ms);
  return plant;
}

}  // namespace plc::plclink
