#include "screens/AboutBox.h"

namespace plc::screens {

AboutBox::AboutBox(const DialogRequest& request) : caption_(request.title) {
  if (!request.lines.empty()) {
    version_ = request.lines.front();
    labels_.assign(request.lines.begin() + 1, request.lines.end());
  }
}

std::vector<std::string> AboutBox::Texts() const {
  std::vector<std::string> texts{caption_, version_};
  texts.insert(texts.end(), labels_.begin(), labels_.end());
  return texts;
}

}  // namespace plc::screens
