#pragma once
// Checks every control shares: what InitProperties leaves alone, and the enIODataType labels
// its member descriptions carry.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/Dispatch.h"
#include "tests/support/LinkTestBench.h"

namespace plc::test {

// Every label of an enIODataType in the member descriptions (properties and parameters).
inline std::set<std::string> IoDataTypeLabels(const std::vector<MemberInfo>& members) {
  std::set<std::string> labels;
  auto take = [&labels](const EnumInfo& e) {
    if (e.name != "enIODataType") return;
    for (const auto& v : e.values) labels.insert(v.label);
  };
  for (const MemberInfo& m : members) {
    take(m.enumeration);
    for (const ParamInfo& p : m.params) take(p.enumeration);
  }
  return labels;
}

// InitProperties sets the control's own values and touches neither the serial child nor the
// timers: a child on port 5 stays there while CommPort reads 1.
template <class C>
void ExpectInitPropertiesLeavesChildAndTimers(LinkTestBench<C>& b, IntervalTimer& timer) {
  b.link->Initialize();
  b.port->SetCommPort(5);
  timer.SetEnabled(true);
  b.link->InitProperties();
  EXPECT_EQ(b.port->CommPort(), 5);
  EXPECT_EQ(b.link->CommPort(), 1);
  EXPECT_TRUE(timer.Enabled());
}

}  // namespace plc::test
