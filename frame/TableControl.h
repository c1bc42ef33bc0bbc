#pragma once
// A control whose members are one DispatchTable: the dispatch interface forwards to it. The
// control gives the table through a static Table(), built once per deliverable.
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Control.h"
#include "base/Dispatch.h"

namespace plc {

template <class C>
class TableControl : public Control {
 public:
  const std::vector<MemberInfo>& Members() const override { return C::Table().Members(); }
  Variant GetProperty(std::string_view name) override { return C::Table().Get(Self(), name); }
  void SetProperty(std::string_view name, const Variant& value) override { C::Table().Set(Self(), name, value); }
  Variant Invoke(std::string_view name, ArgList args) override {
    // Every method call starts with no cause: one left by an earlier call is not this one's.
    if (!ReportsLastCall(name)) ClearFailure();
    return C::Table().Invoke(Self(), name, std::move(args));
  }

 private:
  C& Self() { return static_cast<C&>(*this); }
};

}  // namespace plc
