#include "tools/plclink/BagDocument.h"

#include <filesystem>

#include "base/Dispatch.h"
#include "platform/ProfileFile.h"
#include "tools/plclink/CommandLine.h"

namespace plc::plclink {

void CheckBagDocument(const std::string& path, const std::string& section, bool creates) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    if (creates) return;
    throw UsageError("--bag: there is no document " + path + " (set NAME VALUE --bag FILE starts one)");
  }
  // A file that cannot be read, or is no document, is the bag's own error when it loads.
  std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return;
  std::optional<ProfileDocument> document = ProfileDocument::Parse(*text);
  if (!document) return;
  std::string present;
  for (const std::string& s : document->Sections()) {
    if (NamesEqual(s, section)) return;
    present += (present.empty() ? "" : ", ") + s;
  }
  if (creates) return;
  throw UsageError("--section: " + path + " has no section [" + section + "] (" +
                   (present.empty() ? std::string("it has none") : "it has " + present) + ")");
}

}  // namespace plc::plclink
