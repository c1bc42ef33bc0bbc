// The simulated DF1 PLC's request side over arbitrary bytes, in both check modes and at its
// line pace (the second as one station behind a bridge): it never fails, writes nothing empty
// and nothing before the byte that caused it, counts every byte, never answers or refuses more
// requests than it took; and its data table answers any payload with a reply to that request
// (source and destination swapped, the command's reply bit, the same transaction number, data
// only with STS 0).
// fuzz-libs: plcsimlib plcdf1 plcframe
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "tools/plcsim/Df1SimPlc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (bool bcc : {false, true}) {
    plc::sim::Df1SimSettings settings;
    settings.bcc = bcc;
    settings.byteMicros = bcc ? 4'167 : 0;
    settings.ackTimeoutMicros = 50'000;
    if (bcc) settings.station = 1;
    plc::sim::Df1SimPlc plc(settings);
    std::int64_t now = 0;
    for (std::size_t i = 0; i < size; ++i) {
      now += data[i] & 0x0F;  // some bytes come later than others
      for (const plc::sim::Df1Action& a : plc.Feed(data[i], now))
        if (a.bytes.empty() || a.atMicros < now) std::abort();
      if (auto due = plc.NextDeadline(); due && (data[i] & 0x80)) {
        now = std::max(now, *due);
        for (const plc::sim::Df1Action& a : plc.Expire(now))
          if (a.bytes.empty() || a.atMicros < now) std::abort();
      }
    }
    plc::sim::Df1SimCounts c = plc.Counts();
    if (c.bytes != static_cast<long>(size) || c.answered + c.duplicates + c.otherStations > c.requests) std::abort();
  }
  plc::sim::Df1DataTable table;
  const std::vector<std::uint8_t> request(data, data + size);
  auto reply = table.Answer(request);
  if (size < 6) {
    if (reply) std::abort();
    return 0;
  }
  if (!reply || reply->size() < 6) std::abort();
  const auto& r = *reply;
  if (r[0] != request[1] || r[1] != request[0] || r[2] != (request[2] | 0x40) || r[4] != request[4] || r[5] != request[5])
    std::abort();
  if (r[3] != 0 && r.size() > 7) std::abort();
  if (r[3] == 0 && (request.size() < 8 || (request[6] == 0xA2 && r.size() != 6u + request[7]))) std::abort();
  return 0;
}
