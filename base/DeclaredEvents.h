#pragma once
// The events every control declares for its host's convenience and never raises.
#include "base/Dispatch.h"

namespace plc {

template <class T>
void AddDeclaredEvents(DispatchTable<T>& table) {
  const ParamInfo keyCode{"KeyCode", "Integer"}, shift{"Shift", "Integer"};
  const std::vector<ParamInfo> mouse{{"Button", "Integer"}, shift, {"x", "Single"}, {"Y", "Single"}};
  table.Event("Resize", {})
      .Event("Click", {})
      .Event("DblClick", {})
      .Event("KeyDown", {keyCode, shift})
      .Event("KeyPress", {{"KeyAscii", "Integer"}})
      .Event("KeyUp", {keyCode, shift})
      .Event("MouseDown", mouse)
      .Event("MouseMove", mouse)
      .Event("MouseUp", mouse)
      .Event("InitProperties", {})
      .Event("ReadProperties", {{"PropBag", "PropertyBag"}});
}

}  // namespace plc
