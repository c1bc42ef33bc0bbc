#pragma once
// Everything a C++ host of the link controls needs: the control interface and its dispatch by
// name, Variant and its arrays, result codes and enumerations, run-time errors, the component
// host and property bags, the event loop the controls wait on, and loading a control's
// plug-in by name.
//
// ABI: the controls hand std::string, std::vector and std::function across the plug-in
// boundary and throw plc::RuntimeError through it. A host and every plug-in it loads must be
// built as C++20 with GCC's libstdc++ (or clang using libstdc++) and the new string ABI
// (_GLIBCXX_USE_CXX11_ABI=1, the default), against the same major version of libplcbase
// (PLCLINK_VERSION_MAJOR below). Plug-ins export only PlcCreateControl and PlcDestroyControl.
#include "platform/Control.h"
#include "base/Dispatch.h"
#include "base/Enums.h"
#include "platform/PluginControl.h"
#include "base/ResultCodes.h"
#include "base/RuntimeError.h"
#include "base/Variant.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "platform/IniPropertyBag.h"
#include "platform/PropertyBag.h"
#include "platform/SerialPortMap.h"
#include "plclink/Version.h"

#include <optional>
#include <type_traits>
#include <utility>

namespace plclink {

// An optional argument of a typed control's method. Left out (or std::nullopt) it is omitted.
// A variable of the parameter's own type (or a std::optional holding one) is passed by
// reference, as the controls pass every argument, and sees what the control wrote into it
// (ReadSize doubled by an ioFloat read, the IOType of a bit address); anything else, such as a
// literal, goes in as a copy.
template <class T>
class OptionalArg {
 public:
  OptionalArg() = default;
  OptionalArg(std::nullopt_t) {}
  OptionalArg(T& variable) : ref_(&variable) {}
  OptionalArg(std::optional<T>& variable) : ref_(variable ? &*variable : nullptr) {}
  OptionalArg(const std::optional<T>& value) : own_(value) {}
  template <class U, std::enable_if_t<std::is_constructible_v<T, U&&> &&
                                          !std::is_same_v<std::remove_cvref_t<U>, std::optional<T>> &&
                                          !std::is_same_v<std::remove_cvref_t<U>, std::nullopt_t> &&
                                          !std::is_same_v<std::remove_cvref_t<U>, OptionalArg>,
                                      int> = 0>
  OptionalArg(U&& value) : own_(Converted(std::forward<U>(value))) {}

  bool Given() const { return ref_ || own_; }
  T Value() const { return ref_ ? *ref_ : *own_; }
  // Into the caller's variable; a copy keeps nothing.
  void Put(const T& value) const {
    if (ref_) *ref_ = value;
  }

 private:
  // Another number type converts as the control converts any value (Variant's rules): rounded
  // to an integer, and an overflow error where it does not fit; 65537 for an Integer is not 1.
  template <class U>
  static T Converted(U&& value) {
    using V = std::remove_cvref_t<U>;
    constexpr bool numeric = std::is_arithmetic_v<V> && !std::is_same_v<V, bool> && !std::is_same_v<V, T>;
    if constexpr (numeric && std::is_same_v<T, std::int16_t>) {
      return plc::Variant(static_cast<double>(value)).ToInt16();
    } else if constexpr (numeric && std::is_same_v<T, std::int32_t>) {
      return plc::Variant(static_cast<double>(value)).ToInt32();
    } else if constexpr (numeric && std::is_same_v<T, float>) {
      return plc::Variant(static_cast<double>(value)).ToSingle();
    } else {
      return T(std::forward<U>(value));
    }
  }

  T* ref_ = nullptr;
  std::optional<T> own_;
};

}  // namespace plclink
