// The DF1 reply machine fed arbitrary bytes one at a time in both check modes: it never
// stores beyond its buffers, a good outcome always fits the reply table and names its
// transaction, a failure always says why; the line between transactions takes the same bytes
// without failing; a payload framed by the request framing comes back whole through the
// machine, also behind a repeated DLE ACK and a DLE ENQ, and is the reply of exactly the
// request it names.
// fuzz-libs: plcdf1 plcframe
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "df1/Frame.h"
#include "df1/Receive.h"

namespace {

using plc::df1::ReplyReceiver;

plc::df1::ReplyOutcome Run(const std::uint8_t* data, std::size_t size, std::int32_t mode) {
  ReplyReceiver r(mode);
  for (std::size_t i = 0; i < size && !r.Finished(); ++i) {
    r.Feed(data[i]);
    if (r.Reply().size() > plc::df1::kReceiveBufferSize) std::abort();
  }
  return plc::df1::EvaluateReply(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (std::int32_t mode : {1, 2}) {
    plc::df1::ReplyOutcome o = Run(data, size, mode);
    if (o.status == plc::ResultOk) {
      if (!o.tns || !o.header || *o.tns != o.header->tns || *o.tns < 0 || *o.tns >= plc::df1::kReplyRows) std::abort();
      if (o.header->sts != 0) std::abort();
      if (o.words.size() > static_cast<std::size_t>(plc::df1::kReplyWords)) std::abort();
      if (!o.text.empty() || !o.cause.empty()) std::abort();
    } else if (o.status != plc::ResultCheckError && o.status != plc::ResultStatusError && o.status != 5 &&
               o.status != 6 && o.status != 21) {
      std::abort();
    } else if (o.cause.empty()) {
      std::abort();
    }
    plc::df1::IdleListener idle(mode);
    for (std::size_t i = 0; i < size; ++i) idle.Feed(data[i]);
  }
  // The input as a reply payload with STS 0 and a TNS that fits: framed, it must come back.
  if (size >= 6 && size <= plc::df1::MaxPayload(2)) {
    std::vector<std::uint8_t> payload(data, data + size);
    payload[2] |= 0x40;  // a reply's command
    payload[3] = 0;
    payload[4] %= plc::df1::kReplyRows;
    payload[5] = 0;
    for (std::int32_t mode : {1, 2}) {
      auto frame = plc::df1::StuffAndCheck(payload, mode);
      if (!frame) std::abort();
      plc::df1::ReplyOutcome o = Run(frame->data(), frame->size(), mode);
      if (o.status != plc::ResultOk || o.tns != payload[4]) std::abort();
      std::size_t words = size >= 8 ? (size - 6) / 2 : 0;
      if (o.words.size() != words) std::abort();
      for (std::size_t k = 0; k < words; ++k)
        if (o.words[k] != (payload[6 + 2 * k] | (payload[7 + 2 * k] << 8))) std::abort();
      // Behind a repeated link response and a DLE ENQ of the station it comes back the same,
      // the enquiry counted once.
      {
        ReplyReceiver r(mode);
        for (std::uint8_t b : {0x10, 0x06, 0x10, 0x05}) r.Feed(b);
        for (std::uint8_t b : *frame) r.Feed(b);
        plc::df1::ReplyOutcome again = plc::df1::EvaluateReply(r);
        if (r.Enquiries() != 1 || again.status != plc::ResultOk || again.words != o.words) std::abort();
      }
      const plc::df1::ReplyHeader& h = *o.header;
      if (!plc::df1::ReplyAnswers(h, payload[1], static_cast<std::uint8_t>(payload[2] & ~0x40), payload[4])) std::abort();
      if (plc::df1::ReplyAnswers(h, payload[1], static_cast<std::uint8_t>(payload[2] & ~0x40), payload[4] + 1)) std::abort();
      // The line between transactions acknowledges it once.
      plc::df1::IdleListener idle(mode);
      int acks = 0;
      for (std::uint8_t b : *frame) acks += idle.Feed(b) ? 1 : 0;
      if (acks != 1) std::abort();
    }
  }
  return 0;
}
