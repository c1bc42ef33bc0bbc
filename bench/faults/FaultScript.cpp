#include "bench/faults/FaultScript.h"

#include <algorithm>

namespace plc::faults {

namespace {
// Pieces of one lost request that follow its first within this time are lost with it.
constexpr std::int64_t kRequestBurstMicros = 20000;
}  // namespace

void FaultScript::Begin(FaultSpec spec) {
  armed_ = spec;
  struck_ = Fault::None;
  active_ = Fault::None;
  last_ = Direction::None;
  requests_ = replies_ = 0;
}

Fault FaultScript::End(std::int64_t now, std::vector<Delivery>& out) {
  if (!timing_.lateIntoNext) {
    Release(now, out);
    SendCopy(now, out);
  }
  armed_ = {};
  active_ = Fault::None;
  return struck_;
}

void FaultScript::Release(std::int64_t now, std::vector<Delivery>& out) {
  if (held_.empty()) return;
  ++disturbances_;
  Deliver(now, std::move(held_), out);
  held_.clear();
}

void FaultScript::SendCopy(std::int64_t now, std::vector<Delivery>& out) {
  if (copy_.empty()) return;
  Deliver(now, std::move(copy_), out);
  copy_.clear();
}

void FaultScript::Deliver(std::int64_t due, Bytes bytes, std::vector<Delivery>& out) {
  // In order: nothing overtakes bytes delayed before it.
  lastDue_ = std::max(due, lastDue_);
  out.push_back({lastDue_, std::move(bytes)});
}

bool FaultScript::Request(std::int64_t now, std::vector<Delivery>& out) {
  if (silent_) return false;
  if (last_ != Direction::Request) {
    last_ = Direction::Request;
    ++requests_;
    burstStart_ = now;
    active_ = Fault::None;
    if (armed_.kind == Fault::LoseRequest && armed_.exchange == requests_) {
      active_ = struck_ = Fault::LoseRequest;
      ++disturbances_;
    }
  }
  if (active_ == Fault::LoseRequest && now - burstStart_ < kRequestBurstMicros) return false;
  // Behind the request: what was held for the control arrives once the device could have
  // answered, ahead of the answer.
  SendCopy(now + 1000, out);
  if (timing_.lateIntoNext) Release(now + 1000, out);
  return true;
}

void FaultScript::Reply(Bytes piece, std::int64_t now, std::vector<Delivery>& out) {
  if (silent_) return;
  bool first = false;
  if (last_ != Direction::Reply) {
    last_ = Direction::Reply;
    ++replies_;
    first = true;
    active_ = Fault::None;
    // The device acts out its own faults: the relay passes their bytes as they come.
    if (armed_.kind != Fault::None && armed_.kind != Fault::LoseRequest && !DeviceFault(armed_.kind) &&
        armed_.exchange == replies_) {
      active_ = struck_ = armed_.kind;
      ++disturbances_;
    }
  }
  switch (active_) {
    case Fault::None:
    case Fault::LoseRequest:
    case Fault::Refuse:
    case Fault::Stale:
    case Fault::LinkRefuse:
    case Fault::OddResponse:
    case Fault::CutReply:
    case Fault::BadCheck:
    case Fault::NoClose:
    case Fault::Mute:
    case Fault::Slow: Deliver(now, std::move(piece), out); return;
    case Fault::Silence: return;
    case Fault::Corrupt:
      if (first) mangler_.Corrupt(piece);
      Deliver(now, std::move(piece), out);
      return;
    case Fault::Garbage:
      mangler_.Garble(piece);
      Deliver(now, std::move(piece), out);
      return;
    case Fault::Noise:
      if (first) Deliver(now, mangler_.Noise(), out);
      Deliver(now, std::move(piece), out);
      return;
    case Fault::Truncate:
      if (first) {
        piece.resize(piece.size() / 2);
        if (!piece.empty()) Deliver(now, std::move(piece), out);
      }
      return;
    case Fault::Split:
      for (std::uint8_t byte : piece) Deliver(std::max(now, lastDue_) + timing_.splitGapMicros, {byte}, out);
      return;
    case Fault::Delay: Deliver(now + timing_.delayMicros, std::move(piece), out); return;
    case Fault::Late: held_.insert(held_.end(), piece.begin(), piece.end()); return;
    case Fault::Duplicate:
      copy_.insert(copy_.end(), piece.begin(), piece.end());
      Deliver(now, std::move(piece), out);
      return;
  }
}

}  // namespace plc::faults
