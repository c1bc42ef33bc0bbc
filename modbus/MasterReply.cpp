#include "modbus/MasterReply.h"

#include <algorithm>

#include "modbus/AsciiFrame.h"
#include "modbus/Frame.h"

namespace plc::modbus {

namespace {

// Enough for a few of the longest RTU frames: another unit's reply and some noise around it.
constexpr std::size_t kDroppedKept = 1024;

// Whether the checked message answers `request` but for its unit.
bool AnswersButForTheUnit(Request request, const Adu& adu) {
  if (adu.unit == (request.unit & 0xFF)) return false;
  request.unit = adu.unit;
  const ReplyError error = CheckReply(request, adu);
  return error == ReplyError::None || error == ReplyError::Exception;
}

}  // namespace

void MasterReplyCollector::Expect(const Request& request, Framing framing) {
  request_ = request;
  framing_ = framing;
  expecting_ = true;
  buffer_.clear();
  dropped_.clear();
  otherUnit_.reset();
  unfinished_.reset();
}

void MasterReplyCollector::Clear() {
  // Given up while still waiting: what came may be another unit's answer, or ours cut short.
  if (expecting_) {
    unfinished_ = Unfinished();
    Drop(buffer_.size());
  }
  expecting_ = false;
  buffer_.clear();
}

void MasterReplyCollector::Drop(std::size_t count) {
  count = std::min(count, buffer_.size());
  if (framing_ == Framing::Rtu) {
    dropped_.insert(dropped_.end(), buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
    if (dropped_.size() > kDroppedKept) {
      dropped_.erase(dropped_.begin(), dropped_.end() - static_cast<std::ptrdiff_t>(kDroppedKept));
    }
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
}

std::optional<std::uint8_t> MasterReplyCollector::OtherUnit() const {
  if (otherUnit_) return otherUnit_;
  return OtherUnitInDropped();
}

std::optional<UnfinishedReply> MasterReplyCollector::Unfinished() const {
  if (!expecting_) return unfinished_;
  if (framing_ != Framing::Ascii) return std::nullopt;
  const Bytes known = AsciiKnownBytes(buffer_);
  if (known.size() < 2 || known[0] != (request_.unit & 0xFF)) return std::nullopt;
  UnfinishedReply out;
  out.received = buffer_.size();
  out.expected = ReplyFrameLength(request_, buffer_, framing_);
  // The buffer holds no CR LF (it would have ended the frame): any CR or LF in it came alone.
  for (std::uint8_t c : buffer_) {
    if (c == '\r' || c == '\n') {
      out.loneLineEnd = c;
      break;
    }
  }
  return out;
}

// RTU drops a frame of another unit a unit at a time as it comes, so the frame is looked for
// in what was dropped only when it is asked for.
std::optional<std::uint8_t> MasterReplyCollector::OtherUnitInDropped() const {
  if (framing_ != Framing::Rtu) return std::nullopt;
  // With what is still buffered: the frame may have been taken for ours from a unit inside it.
  Bytes seen = dropped_;
  seen.insert(seen.end(), buffer_.begin(), buffer_.end());
  const auto exception = static_cast<std::uint8_t>(request_.function | fn::ExceptionFlag);
  for (std::size_t start = 0; start + 1 < seen.size(); ++start) {
    const std::uint8_t function = seen[start + 1];
    if (seen[start] == (request_.unit & 0xFF) || (function != request_.function && function != exception)) {
      continue;
    }
    Request asked = request_;
    asked.unit = seen[start];
    const ByteView rest = ByteView(seen).subspan(start);
    const std::size_t length = FrameEnd(ReplyFrameLength(asked, rest, Framing::Rtu), rest, Framing::Rtu);
    if (length > rest.size()) continue;
    ParsedFrame parsed = ParseFrame(rest.first(length), Framing::Rtu);
    if (parsed && AnswersButForTheUnit(request_, parsed.adu)) return parsed.adu.unit;
  }
  return std::nullopt;
}

void MasterReplyCollector::DropUntilFrameStart() {
  if (framing_ == Framing::Ascii) {
    Drop(SkipToColon(buffer_));
    // No digit is a colon: one before the line end starts a new frame, the one before it was
    // cut off.
    for (;;) {
      const auto end = AsciiLineEnd(buffer_);
      const auto colon = std::find(buffer_.begin() + (buffer_.empty() ? 0 : 1), buffer_.end(), ':');
      if (colon == buffer_.end() || (end && colon - buffer_.begin() >= static_cast<std::ptrdiff_t>(*end))) return;
      Drop(static_cast<std::size_t>(colon - buffer_.begin()));
    }
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
  Drop(start);
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
      expecting_ = false;
      buffer_.clear();
      return reply;
    }
    // Another station's frame: drop it and look for ours behind it.
    if (reply.rejection == ReplyError::WrongUnit && AnswersButForTheUnit(request_, reply.adu)) {
      otherUnit_ = reply.adu.unit;
    }
    Drop(std::max<std::size_t>(length, 1));
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
