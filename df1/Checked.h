#pragma once
// A value, or the words saying why there is none: what the DF1 request builders return, so
// that a call refusing a request can tell its host why.
#include <optional>
#include <string>
#include <utility>

namespace plc::df1 {

template <class T>
struct Checked {
  std::optional<T> value;
  std::string why;

  Checked(T v) : value(std::move(v)) {}  // NOLINT: a good value converts
  static Checked Refused(std::string why) {
    Checked c;
    c.why = std::move(why);
    return c;
  }
  explicit operator bool() const { return value.has_value(); }
  const T& operator*() const { return *value; }
  T& operator*() { return *value; }
  const T* operator->() const { return &*value; }
  T* operator->() { return &*value; }

 private:
  Checked() = default;
};

}  // namespace plc::df1
