#pragma once
// Opt<T>: an optional by-reference parameter.
//
// Built from a variable it refers to it, and what the control writes into it reaches the
// caller. Built from a value it holds a copy (writes stay in the copy). Default-built it is
// omitted: IsMissing() is true and ValueOr() gives the default; a value the control writes
// into it then stays with the call, as a local variable would, and later reads see it. It
// reaches no caller.
#include <utility>

namespace plc {

template <class T>
class Opt {
 public:
  Opt() = default;
  Opt(T& ref) : ref_(&ref), omitted_(false) {}
  Opt(const T& value) : own_(value), hasOwn_(true), omitted_(false) {}
  Opt(T&& value) : own_(std::move(value)), hasOwn_(true), omitted_(false) {}

  // Whether the caller left the argument out (unchanged by writes).
  bool IsMissing() const { return omitted_; }
  T ValueOr(const T& dflt) const { return ref_ ? *ref_ : hasOwn_ ? own_ : dflt; }
  void Put(const T& value) {
    if (ref_) {
      *ref_ = value;
      return;
    }
    own_ = value;
    hasOwn_ = true;
  }

 private:
  T* ref_ = nullptr;
  T own_{};
  bool hasOwn_ = false;
  bool omitted_ = true;
};

}  // namespace plc
