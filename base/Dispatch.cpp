#include "base/Dispatch.h"

#include <cctype>

namespace plc {

const char* KindName(MemberKind kind) {
  switch (kind) {
    case MemberKind::Property: return "property";
    case MemberKind::Method: return "method";
    case MemberKind::Event: return "event";
  }
  return "member";
}

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace plc
