#pragma once
// A control created through a plug-in library's C entry points, for hosts that know no
// control's headers: the library is opened by name, the control made by PlcCreateControl and
// given back to PlcDestroyControl before the library closes.
#include <memory>
#include <string>
#include <utility>

#include "platform/Control.h"
#include "base/RuntimeError.h"
#include "platform/SharedLibrary.h"

namespace plc {

class PluginControl {
 public:
  // Library errors as SharedLibrary gives them (53); a library without the entry points is
  // error 453, naming the function.
  static PluginControl Load(const std::string& library) {
    PluginControl p;
    p.library_ = SharedLibrary::Open(library);
    auto create = reinterpret_cast<PlcCreateControlFn>(p.library_.Symbol(kCreateControlSymbol));
    auto destroy = reinterpret_cast<PlcDestroyControlFn>(p.library_.Symbol(kDestroyControlSymbol));
    if (!create || !destroy)
      throw RuntimeError(kEntryPointNotFound, "Can't find entry point " + std::string(create ? kDestroyControlSymbol
                                                                                               : kCreateControlSymbol) +
                                                  " in " + p.library_.Path());
    p.control_ = Owned(create(), destroy);
    if (!p.control_) throw RuntimeError(err::InvalidCall, p.library_.Path() + " created no control");
    return p;
  }

  PluginControl(PluginControl&&) = default;
  // No assignment: it would close the old library before its control is gone.
  PluginControl& operator=(PluginControl&&) = delete;

  Control& operator*() const { return *control_; }
  Control* operator->() const { return control_.get(); }
  const std::string& LibraryPath() const { return library_.Path(); }

 private:
  static constexpr int kEntryPointNotFound = 453;
  using Owned = std::unique_ptr<Control, PlcDestroyControlFn>;

  PluginControl() = default;

  SharedLibrary library_;  // declared first: it closes after the control is gone
  Owned control_{nullptr, nullptr};
};

}  // namespace plc
