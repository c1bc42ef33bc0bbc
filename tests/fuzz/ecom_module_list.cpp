// The hei_pas module list over arbitrary text: a list it accepts has at most 64 entries, each
// with a port, and printing the entries and parsing them again gives the same list; a list it
// refuses says why.
// fuzz-libs: heipasproto
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ecom/heipas/ModuleList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string why;
  const auto list = heipas::ParseModuleList(text, &why);
  if (!list) {
    if (why.empty()) std::abort();
    return 0;
  }
  if (list->size() > heipas::kMaxModuleEntries) std::abort();
  std::string printed;
  for (const auto& a : *list) {
    if (a.port == 0) std::abort();
    printed += heipas::AddressText(a) + "\n";
  }
  const auto again = heipas::ParseModuleList(printed);
  if (!again || *again != *list) std::abort();
  return 0;
}
