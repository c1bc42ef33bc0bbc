#include "modbus/MasterReply.h"

#include <algorithm>

#include "modbus/AsciiFrame.h"
#include "modbus/Frame.h"

namespace plc::modbus {

void MasterReplyCollector::Expect(const Request& request, Framing framing) {
  request_ = request;
  framing_ = framing;
  expecting_ = true;
  buffer_.clear();
}

void MasterReplyCollector::Clear() {
  expecting_ = false;
  buffer_.clear();
}

void MasterReplyCollector::DropUntilFrameStart() {
  if (framing_ == Framing::Ascii) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(SkipToColon(buffer_)));
    return;
  }
  auto unit = static_cast<std::uint8_t>(request_.unit & 0xFF);
  auto function = request_.function;
  auto exception = static_cast<std::uint8_t>(function | fn::ExceptionFlag);
  std::size_t start = 0;
  while (start < buffer_.size()) {
    bool unitFits = buffer_[start] == unit;
    bool functionFits = start + 1 >= buffer_.size() || buffer_[start + 1] == function || buffer_[start + 1] == exception;
    if (unitFits && functionFits) break;
    ++start;
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start));
}

CollectedReply MasterReplyCollector::Feed(ByteView received) {
  if (!expecting_) return {};
  buffer_.insert(buffer_.end(), received.begin(), received.end());
  for (;;) {
    DropUntilFrameStart();
    if (buffer_.empty()) return {};
    std::size_t length = FrameEnd(ReplyFrameLength(request_, buffer_, framing_), buffer_, framing_);
    if (length > buffer_.size()) return {};  // the reply still needs units
    CollectedReply reply = Decide(length);
    if (reply.outcome == ReplyOutcome::ChecksumError) {
      // Noise that happened to look like the start of the reply: the real one may follow it.
      if (auto behind = ValidFrameBehindStart()) reply = std::move(*behind);
    }
    if (reply.outcome != ReplyOutcome::NeedMore) {
      Clear();
      return reply;
    }
    // Another station's frame: drop it and look for ours behind it.
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(std::max<std::size_t>(length, 1)));
  }
}

std::optional<CollectedReply> MasterReplyCollector::ValidFrameBehindStart() const {
  MasterReplyCollector probe;
  probe.Expect(request_, framing_);
  for (std::size_t start = 1; start < buffer_.size(); ++start) {
    probe.buffer_.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(start), buffer_.end());
    probe.DropUntilFrameStart();
    if (probe.buffer_.size() != buffer_.size() - start) continue;  // no frame start here
    if (ReplyUnitsStillNeeded(request_, probe.buffer_, framing_) > 0) continue;
    std::size_t length = FrameEnd(ReplyFrameLength(request_, probe.buffer_, framing_), probe.buffer_, framing_);
    CollectedReply reply = probe.Decide(std::min(length, probe.buffer_.size()));
    if (reply.outcome == ReplyOutcome::Good || reply.outcome == ReplyOutcome::Exception) return reply;
  }
  return std::nullopt;
}

CollectedReply MasterReplyCollector::Decide(std::size_t frameLength) const {
  CollectedReply out;
  ParsedFrame parsed = ParseFrame(ByteView(buffer_).first(frameLength), framing_);
  if (!parsed) {
    out.outcome = ReplyOutcome::ChecksumError;
    return out;
  }
  out.adu = std::move(parsed.adu);
  out.rejection = CheckReply(request_, out.adu);
  switch (out.rejection) {
    case ReplyError::None: out.outcome = ReplyOutcome::Good; break;
    case ReplyError::Exception: out.outcome = ReplyOutcome::Exception; break;
    case ReplyError::WrongUnit:
    case ReplyError::WrongFunction: out.outcome = ReplyOutcome::NeedMore; break;
    default: out.outcome = ReplyOutcome::Rejected; break;
  }
  return out;
}

}  // namespace plc::modbus
