#pragma once
// Late binding: every control exposes its members by name, so that a generic host (a script
// host, the command-line host) drives it without its headers.
//
// A DispatchTable binds names to the control's real C++ members. Arguments travel as a list of
// Variant pointers (nullptr for an omitted optional argument); by-reference parameters are
// converted in, and written back after the call, so a caller sees what the control wrote.
// Names are matched without regard to case, as late-binding hosts do.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/Opt.h"
#include "base/RuntimeError.h"
#include "base/Variant.h"

namespace plc {

using ArgList = std::vector<Variant*>;

enum class MemberKind { Property, Method, Event };

// An enumeration of the interface, by name with its labels and values, so that a generic host
// can take "SlaveRtu" where a property wants 3. Empty name: the member is no enumeration.
struct EnumInfo {
  struct Value {
    std::string label;
    std::int32_t value = 0;
  };
  std::string name;  // "EnModBusMode"
  std::vector<Value> values;
};

struct ParamInfo {
  std::string name;
  std::string type;  // "Integer", "Long", "Double()", "Variant", ...
  bool byRef = true;
  bool optional = false;
  EnumInfo enumeration{};
};

struct MemberInfo {
  std::string name;
  MemberKind kind = MemberKind::Method;
  std::vector<ParamInfo> params;
  std::string result;  // type of a property or of a method's result; empty for none
  bool readable = true;
  bool writable = true;
  EnumInfo enumeration{};  // of a property whose values are an enumeration
};

const char* KindName(MemberKind kind);
bool NamesEqual(std::string_view a, std::string_view b);

class Dispatch {
 public:
  virtual ~Dispatch() = default;
  virtual std::string ClassName() const = 0;
  virtual const std::vector<MemberInfo>& Members() const = 0;
  virtual Variant GetProperty(std::string_view name) = 0;
  virtual void SetProperty(std::string_view name, const Variant& value) = 0;
  virtual Variant Invoke(std::string_view name, ArgList args) = 0;
};

namespace dispatch_detail {

// Conversion of one C++ parameter type from and to a Variant, and its name for hosts.
template <class V>
struct Conv {
  static const char* Name() {
    if constexpr (std::is_same_v<V, std::int16_t>) return "Integer";
    else if constexpr (std::is_same_v<V, std::int32_t>) return "Long";
    else if constexpr (std::is_same_v<V, float>) return "Single";
    else if constexpr (std::is_same_v<V, double>) return "Double";
    else if constexpr (std::is_same_v<V, bool>) return "Boolean";
    else if constexpr (std::is_same_v<V, std::string>) return "String";
    else if constexpr (std::is_enum_v<V>) return "Long";  // the interface's enumerations are 32-bit
    else return "Variant";
  }
  static V From(const Variant& v) {
    if constexpr (std::is_same_v<V, std::int16_t>) return v.ToInt16();
    else if constexpr (std::is_same_v<V, std::int32_t>) return v.ToInt32();
    else if constexpr (std::is_same_v<V, float>) return v.ToSingle();
    else if constexpr (std::is_same_v<V, double>) return v.ToDouble();
    else if constexpr (std::is_same_v<V, bool>) return v.ToBool();
    else if constexpr (std::is_same_v<V, std::string>) return v.ToString();
    else if constexpr (std::is_enum_v<V>) return static_cast<V>(v.ToInt32());
    else return v;
  }
  static Variant To(const V& v) {
    if constexpr (std::is_enum_v<V>) return Variant(static_cast<std::int32_t>(v));
    else return Variant(v);
  }
};

inline Variant* Required(Variant* v) {
  if (!v) throw RuntimeError(err::ArgumentNotOptional);
  return v;
}

// How one declared parameter type is fed from a Variant and written back.
template <class P>
struct Arg {  // by value
  using V = std::decay_t<P>;
  static constexpr bool byRef = false, optional = false;
  static std::string TypeName() { return Conv<V>::Name(); }
  V value;
  explicit Arg(Variant* v) : value(Conv<V>::From(*Required(v))) {}
  V Get() { return value; }
  void WriteBack() {}
};

template <class V>
struct Arg<V&> {  // by reference
  static constexpr bool byRef = true, optional = false;
  static std::string TypeName() { return Conv<V>::Name(); }
  Variant* slot;
  V value;
  explicit Arg(Variant* v) : slot(Required(v)), value(Conv<V>::From(*v)) {}
  V& Get() { return value; }
  void WriteBack() { *slot = Conv<V>::To(value); }
};

template <>
struct Arg<Variant&> {
  static constexpr bool byRef = true, optional = false;
  static std::string TypeName() { return "Variant"; }
  Variant* slot;
  explicit Arg(Variant* v) : slot(Required(v)) {}
  Variant& Get() { return *slot; }
  void WriteBack() {}
};

template <>
struct Arg<VariantArray&> {
  static constexpr bool byRef = true, optional = false;
  static std::string TypeName() { return "Array"; }
  VariantArray* array;
  explicit Arg(Variant* v) : array(&Required(v)->Array()) {}
  VariantArray& Get() { return *array; }
  void WriteBack() {}
};

template <class V>
struct Arg<Opt<V>> {
  static constexpr bool byRef = true, optional = true;
  static std::string TypeName() { return Conv<V>::Name(); }
  Variant* slot;
  V value{};
  explicit Arg(Variant* v) : slot(v) {
    if (slot) value = Conv<V>::From(*slot);
  }
  Opt<V> Get() { return slot ? Opt<V>(value) : Opt<V>(); }
  void WriteBack() {
    if (slot) *slot = Conv<V>::To(value);
  }
};

template <class S>
struct SetterTraits;
template <class C, class V>
struct SetterTraits<void (C::*)(V)> {
  using Value = std::decay_t<V>;
};

}  // namespace dispatch_detail

template <class T>
class DispatchTable {
 public:
  // A property with a getter and, unless setter is nullptr, a setter.
  template <class G, class S>
  DispatchTable& Property(std::string name, G getter, S setter) {
    using R = std::decay_t<std::invoke_result_t<G, T&>>;
    Entry e;
    e.info = {name, MemberKind::Property, {}, dispatch_detail::Conv<R>::Name(), true, true};
    e.get = [getter](T& self) { return dispatch_detail::Conv<R>::To(std::invoke(getter, self)); };
    if constexpr (std::is_null_pointer_v<S>) {
      e.info.writable = false;
    } else {
      using V = typename dispatch_detail::SetterTraits<S>::Value;
      e.set = [setter](T& self, const Variant& v) { std::invoke(setter, self, dispatch_detail::Conv<V>::From(v)); };
    }
    entries_.push_back(std::move(e));
    return *this;
  }

  template <class G>
  DispatchTable& ReadOnly(std::string name, G getter) {
    return Property(std::move(name), getter, nullptr);
  }

  template <class R, class... P>
  DispatchTable& Method(std::string name, R (T::*fn)(P...), std::vector<std::string> paramNames) {
    Entry e;
    e.info = {name, MemberKind::Method, {}, {}, true, true};
    if constexpr (!std::is_void_v<R>) e.info.result = dispatch_detail::Conv<std::decay_t<R>>::Name();
    std::vector<ParamInfo> params{ParamInfo{{}, dispatch_detail::Arg<P>::TypeName(),
                                            dispatch_detail::Arg<P>::byRef, dispatch_detail::Arg<P>::optional}...};
    for (std::size_t i = 0; i < params.size() && i < paramNames.size(); ++i) params[i].name = paramNames[i];
    e.info.params = std::move(params);
    e.invoke = [fn](T& self, ArgList& args) -> Variant {
      if (args.size() > sizeof...(P)) throw RuntimeError(err::WrongArgumentCount);
      args.resize(sizeof...(P), nullptr);
      return Call(self, fn, args, std::index_sequence_for<P...>{});
    };
    entries_.push_back(std::move(e));
    return *this;
  }

  // Describes the values of a property (and of every method parameter of that name) as an
  // enumeration. Call before the member list is first taken.
  DispatchTable& Enumeration(std::string_view member, const EnumInfo& info) {
    for (Entry& e : entries_) {
      if (e.info.kind == MemberKind::Property && NamesEqual(e.info.name, member)) e.info.enumeration = info;
      if (e.info.kind != MemberKind::Method) continue;
      for (ParamInfo& p : e.info.params)
        if (NamesEqual(p.name, member)) p.enumeration = info;
    }
    infos_.clear();
    return *this;
  }

  // An event: listed for hosts, raised through the control's event sink.
  DispatchTable& Event(std::string name, std::vector<ParamInfo> params) {
    Entry e;
    e.info = {std::move(name), MemberKind::Event, std::move(params), {}, false, false};
    entries_.push_back(std::move(e));
    return *this;
  }

  const std::vector<MemberInfo>& Members() const {
    if (infos_.size() != entries_.size()) {
      infos_.clear();
      for (const Entry& e : entries_) infos_.push_back(e.info);
    }
    return infos_;
  }

  Variant Get(T& self, std::string_view name) const {
    const Entry& e = Find(name, MemberKind::Property);
    return e.get(self);
  }
  void Set(T& self, std::string_view name, const Variant& value) const {
    const Entry& e = Find(name, MemberKind::Property);
    if (!e.set) throw RuntimeError(err::ReadOnlyProperty, "Property " + e.info.name + " is read-only");
    e.set(self, value);
  }
  Variant Invoke(T& self, std::string_view name, ArgList args) const {
    const Entry& e = Find(name, MemberKind::Method);
    return e.invoke(self, args);
  }

 private:
  struct Entry {
    MemberInfo info;
    std::function<Variant(T&)> get;
    std::function<void(T&, const Variant&)> set;
    std::function<Variant(T&, ArgList&)> invoke;
  };

  const Entry& Find(std::string_view name, MemberKind kind) const {
    for (const Entry& e : entries_)
      if (e.info.kind == kind && NamesEqual(e.info.name, name)) return e;
    throw RuntimeError(err::MemberNotFound, std::string("No ") + KindName(kind) + " named " + std::string(name));
  }

  template <class R, class... P, std::size_t... I>
  static Variant Call(T& self, R (T::*fn)(P...), ArgList& args, std::index_sequence<I...>) {
    std::tuple<dispatch_detail::Arg<P>...> holders{dispatch_detail::Arg<P>(args[I])...};
    if constexpr (std::is_void_v<R>) {
      (self.*fn)(std::get<I>(holders).Get()...);
      (std::get<I>(holders).WriteBack(), ...);
      return Variant();
    } else {
      R result = (self.*fn)(std::get<I>(holders).Get()...);
      (std::get<I>(holders).WriteBack(), ...);
      return dispatch_detail::Conv<std::decay_t<R>>::To(result);
    }
  }

  std::vector<Entry> entries_;
  mutable std::vector<MemberInfo> infos_;
};

}  // namespace plc
