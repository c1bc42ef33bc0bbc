#include "modbus/SlaveCollector.h"

#include <algorithm>

#include "modbus/AsciiFrame.h"
#include "modbus/Frame.h"
#include "modbus/SlaveRequests.h"

namespace plc::modbus {
namespace {

bool Served(std::uint8_t function) { return IsRead(function) || IsSingleWrite(function) || IsMultipleWrite(function); }

// The units of the frame that starts received, once it is complete (0 while it is not). The
// frame ends at its computed length, in ASCII at its CR LF when that comes first.
std::size_t CompleteFrameLength(ByteView received, Framing framing) {
  if (received.empty()) return 0;
  std::size_t length = FrameEnd(RequestFrameLength(received, framing), received, framing);
  return received.size() >= length ? length : 0;
}

}  // namespace

void SlaveRequestCollector::SetFraming(Framing framing) {
  if (framing != framing_) Clear();
  framing_ = framing;
}

void SlaveRequestCollector::Clear() {
  buffer_.clear();
  times_.clear();
  stale_.clear();
  brokenRun_ = false;
}

void SlaveRequestCollector::Add(ByteView received, std::int64_t nowMicros) {
  // An RTU frame is timed whole; ASCII allows the limit between one character and the next, so
  // a long request on a slow line is not cut off while its characters keep coming.
  const bool stale =
      !buffer_.empty() && nowMicros - (framing_ == Framing::Ascii ? times_.back() : times_.front()) > waitLimit_;
  if (stale) {
    // Cut off long ago: whatever comes now is not its rest. Left over from bad bytes already
    // reported, it goes without a second report.
    if (!brokenRun_) stale_.push_back(std::move(buffer_));
    buffer_.clear();
    times_.clear();
    brokenRun_ = false;
  }
  buffer_.insert(buffer_.end(), received.begin(), received.end());
  times_.insert(times_.end(), received.size(), nowMicros);
}

void SlaveRequestCollector::Drop(std::size_t n) {
  n = std::min(n, buffer_.size());
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
  times_.erase(times_.begin(), times_.begin() + static_cast<std::ptrdiff_t>(n));
}

std::size_t SlaveRequestCollector::NextPlausibleStart(std::size_t from) const {
  for (std::size_t k = from; k < buffer_.size(); ++k) {
    if (framing_ == Framing::Ascii) {
      if (buffer_[k] == ':') return k;
    } else if (k + 1 == buffer_.size() || Served(buffer_[k + 1])) {
      return k;
    }
  }
  return buffer_.size();
}

std::size_t SlaveRequestCollector::ValidFrameAt(std::size_t start) const {
  ByteView rest = ByteView(buffer_).subspan(start);
  if (framing_ == Framing::Ascii && rest.front() != ':') return 0;
  if (framing_ == Framing::Rtu && (rest.size() < 2 || !Served(rest[1]))) return 0;
  std::size_t length = CompleteFrameLength(rest, framing_);
  if (length == 0) return 0;
  ParsedFrame parsed = ParseFrame(rest.first(length), framing_);
  return parsed && Served(parsed.adu.function) ? length : 0;
}

CollectedRequest SlaveRequestCollector::BrokenOf(ByteView dropped) const {
  CollectedRequest out;
  out.kind = SlaveInput::Broken;
  out.known = KnownMessageBytes(dropped, framing_);
  return out;
}

CollectedRequest SlaveRequestCollector::Next() {
  if (!stale_.empty()) {
    Bytes dropped = std::move(stale_.front());
    stale_.pop_front();
    return BrokenOf(dropped);
  }
  for (;;) {
    CollectedRequest next = Decide();
    if (next.kind == SlaveInput::Request) {
      brokenRun_ = false;
      return next;
    }
    if (next.kind == SlaveInput::NeedMore) {
      if (buffer_.empty()) brokenRun_ = false;
      return next;
    }
    // One report per stretch of bad bytes, however many frame starts it held.
    if (!brokenRun_) {
      brokenRun_ = true;
      return next;
    }
  }
}

CollectedRequest SlaveRequestCollector::Decide() {
  if (framing_ == Framing::Ascii) {
    // Noise between frames is no request: a frame starts at its colon.
    Drop(SkipToColon(buffer_));
    // A second colon before the line end: the frame before it was cut off.
    auto end = AsciiLineEnd(buffer_);
    std::size_t colon = NextPlausibleStart(1);
    if (colon < buffer_.size() && (!end || colon < *end)) {
      CollectedRequest broken = BrokenOf(ByteView(buffer_).first(colon));
      Drop(colon);
      return broken;
    }
  }
  if (buffer_.empty()) return {};

  if (std::size_t length = CompleteFrameLength(buffer_, framing_); length > 0) {
    ParsedFrame parsed = ParseFrame(ByteView(buffer_).first(length), framing_);
    if (parsed) {
      Drop(length);
      CollectedRequest out;
      out.kind = SlaveInput::Request;
      out.adu = std::move(parsed.adu);
      return out;
    }
    // A good request may sit behind the broken one, whole or still arriving: drop only up to
    // where one is, or could be.
    CollectedRequest broken = BrokenOf(ByteView(buffer_).first(length));
    std::size_t next = 1;
    while (next < buffer_.size() && ValidFrameAt(next) == 0) ++next;
    Drop(next < buffer_.size() ? next : NextPlausibleStart(1));
    return broken;
  }
  // The front is incomplete. A valid request that has arrived whole behind it (it ends where
  // the received bytes end) means the front was cut off.
  for (std::size_t k = 1; k < buffer_.size(); ++k) {
    if (ValidFrameAt(k) == buffer_.size() - k) {
      CollectedRequest broken = BrokenOf(ByteView(buffer_).first(k));
      Drop(k);
      return broken;
    }
  }
  return {};
}

}  // namespace plc::modbus
