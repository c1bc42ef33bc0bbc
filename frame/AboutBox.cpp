#include "frame/AboutBox.h"

#include "plclink/Version.h"

namespace plc {

std::string BuildVersionText() {
  return std::to_string(PLCLINK_VERSION_MAJOR) + "." + std::to_string(PLCLINK_VERSION_MINOR) + "." +
         std::to_string(PLCLINK_VERSION_PATCH);
}

DialogRequest AboutBoxDialog(const std::string& applicationTitle, bool showsVersion,
                             const std::vector<std::string>& productTexts) {
  DialogRequest d{"About " + applicationTitle, {showsVersion ? "Version " + BuildVersionText() : "Version"}, kAboutForm};
  d.lines.insert(d.lines.end(), productTexts.begin(), productTexts.end());
  return d;
}

}  // namespace plc
