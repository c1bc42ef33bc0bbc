// What serve prints for received and sent bytes of any kind, in both framings and with EnType2
// addressing: taking a request never fails, consumes what it read, and always describes it in
// words.
// fuzz-libs: plclinkreaders
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tools/plclink/ServedRequests.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool ascii = data[0] & 1;
  const bool type2 = data[0] & 2;
  const std::size_t split = 2 + data[1] % (size - 1);
  plc::plclink::ServedRequests served(ascii, type2);
  served.Received(data + 2, split > size ? size - 2 : split - 2);
  if (split < size) served.Sent(data + split, size - split);
  for (int i = 0; i < 4; ++i) {
    plc::plclink::ServedRequest r = served.Take();
    if (plc::plclink::Describe(r).empty()) std::abort();
    if (!r.problem.empty() && r.answered) std::abort();
  }
  return 0;
}
