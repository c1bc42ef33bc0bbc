#pragma once
// Opt<T>: an optional by-reference parameter.
//
// Built from a variable it refers to it, and what the control writes into it reaches the
// caller. Built from a value it holds a copy (writes stay in the copy). Default-built it is
// omitted: IsMissing() is true, ValueOr() gives the default and writes are dropped.
#include <utility>

namespace plc {

template <class T>
class Opt {
 public:
  Opt() = default;
  Opt(T& ref) : ref_(&ref) {}
  Opt(const T& value) : own_(value), hasOwn_(true) {}
  Opt(T&& value) : own_(std::move(value)), hasOwn_(true) {}

  bool IsMissing() const { return ref_ == nullptr && !hasOwn_; }
  T ValueOr(const T& dflt) const { return ref_ ? *ref_ : hasOwn_ ? own_ : dflt; }
  void Put(const T& value) {
    if (ref_) *ref_ = value;
    else if (hasOwn_) own_ = value;
  }

 private:
  T* ref_ = nullptr;
  T own_{};
  bool hasOwn_ = false;
};

}  // namespace plc
