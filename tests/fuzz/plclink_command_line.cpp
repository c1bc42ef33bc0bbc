// plclink's command-line reader over arbitrary arguments (the input split at NUL bytes): it
// gives options or a UsageError, nothing else; whole numbers read back as written; the line
// options always combine into four settings fields; a count outside the Modbus limits is
// always named.
// fuzz-libs: plclinkreaders
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/plclink/CommandLine.h"
#include "tools/plclink/RegisterFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) args.emplace_back();
    else args.back() += static_cast<char>(data[i]);
  }
  using namespace plc::plclink;
  for (const std::string& a : args) {
    // Only an option plclink knows takes a value.
    if (TakesValue(a) && (a.size() < 2 || a[0] != '-')) std::abort();
    if (auto v = ParseWholeNumber(a)) {
      auto again = ParseWholeNumber(std::to_string(*v));
      if (!again || *again != *v) std::abort();
    }
  }
  try {
    Options o = ParseCommandLine(args);
    if (!LibraryFor(o.library)) std::abort();
    if (o.count < 1 || o.count > 32767 || o.intervalMs < 1) std::abort();
    std::string settings = CombinedSettings(args.size() > 1 ? args[1] : "", o);
    std::size_t commas = 0;
    for (char c : settings) commas += c == ',';
    if (commas < 3) std::abort();
  } catch (const UsageError&) {
  }
  (void)HelpTopic(args);
  return 0;
}
