// plcpanel's command-line reader over arbitrary arguments (the input split at NUL bytes): it
// gives options or a UsageError, nothing else; the interval is within its bounds, the control
// one plclink knows, and every address an argument as given.
// fuzz-libs: plcpaneloptions
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/plcpanel/PanelOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) args.emplace_back();
    else args.back() += static_cast<char>(data[i]);
  }
  using namespace plc;
  try {
    plcpanel::PanelOptions o = plcpanel::ParsePanelOptions(args);
    if (!plclink::LibraryFor(o.control.library)) std::abort();
    if (o.intervalMs < 10 || o.intervalMs > 86'400'000) std::abort();
    if (o.addresses.size() >= args.size()) std::abort();
    for (const std::string& a : o.addresses)
      if (std::find(args.begin() + 1, args.end(), a) == args.end()) std::abort();
  } catch (const plclink::UsageError&) {
  }
  return 0;
}
