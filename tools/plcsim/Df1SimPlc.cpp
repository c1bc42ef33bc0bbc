#include "tools/plcsim/Df1SimPlc.h"

#include <algorithm>

namespace plc::sim {

namespace {

constexpr std::uint8_t DLE = 0x10, STX = 0x02, ETX = 0x03, ENQ = 0x05, ACK = 0x06, NAK = 0x15;
constexpr std::int64_t kLateByteMicros = 60'000;
// A late reply, however short, ends this long after its first byte (plus its line time): past
// the 0.71 s a master allows, with room for a slow line.
constexpr std::int64_t kLateReplyMicros = 800'000;
constexpr std::int64_t kDelayedMicros = 200'000;
constexpr std::int64_t kOverdueMicros = 2'000'000;
constexpr std::int64_t kSplitMicros = 2'000;
// A real request never comes near this; a longer one is noise and starts over.
constexpr std::size_t kMaxRequest = 512;
constexpr std::uint8_t kReplyFlag = 0x40;
constexpr std::uint8_t kStsNoStation = 0x30;  // remote node host is missing

// Bit by bit, from the definition, so that it checks the master's table-driven CRC.
std::uint16_t Crc(const SimBytes& bytes) {
  std::uint16_t crc = 0;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
  }
  return crc;
}

std::uint8_t Bcc(const SimBytes& bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>(-static_cast<int>(sum) & 0xFF);
}

SimBytes CheckOf(const SimBytes& payload, bool bcc) {
  if (bcc) return {Bcc(payload)};
  SimBytes withEtx = payload;
  withEtx.push_back(ETX);
  std::uint16_t crc = Crc(withEtx);
  return {static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)};
}

}  // namespace

const std::vector<Df1FaultName>& Df1FaultNames() {
  static const std::vector<Df1FaultName> names = {
      {"none", Df1Fault::None, "answer as an SLC does"},
      {"silent", Df1Fault::Silent, "answer nothing at all"},
      {"bare-ack", Df1Fault::BareAck, "ACK ACK without DLE, and no reply"},
      {"dle-nak", Df1Fault::DleNak, "DLE NAK instead of DLE ACK, and no reply"},
      {"dle-enq", Df1Fault::DleEnq, "DLE ENQ instead of DLE ACK, and no reply"},
      {"other-byte", Df1Fault::OtherByte, "41h 41h instead of DLE ACK, and no reply"},
      {"bad-check", Df1Fault::BadCheck, "the reply's check byte altered"},
      {"status", Df1Fault::Status, "refuse the command with STS 50h: nothing written, no data"},
      {"late", Df1Fault::Late, "the reply's bytes 60 ms apart or more (0.8 s in all at least)"},
      {"delayed", Df1Fault::Delayed, "the whole answer 200 ms late"},
      {"check-10", Df1Fault::CheckByte10, "the first word chosen so that a check byte is 10h"},
      {"split", Df1Fault::Split, "the reply one byte at a time, 2 ms apart"},
      {"close-mid-reply", Df1Fault::CloseMidReply, "half the reply, then the line closed for 0.3 s"},
      {"ack-in-reply", Df1Fault::AckInReply, "DLE ACK inside the reply"},
      {"overdue", Df1Fault::Overdue, "the whole answer 2 s late, after the master gave up on it"},
      {"ack-lost", Df1Fault::AckLost, "the master's DLE ACK for the reply goes unheard: DLE ENQ follows"},
  };
  return names;
}

std::string CountsText(const Df1SimCounts& c) {
  auto n = [](long v) { return std::to_string(v); };
  return "received " + n(c.requests) + " requests (" + n(c.duplicates) + " duplicates, " + n(c.badChecks) +
         " bad checks, " + n(c.brokenFrames) + " broken frames), " + n(c.closingAcks) + " closing DLE ACKs, " +
         n(c.otherAcks) + " other DLE ACKs, " + n(c.lostAcks) + " DLE ACKs left unheard, " +
         n(c.naks) + " DLE NAKs, " + n(c.enqs) + " DLE ENQs, " + n(c.bytes) + " bytes; answered " + n(c.answered) +
         ", sent " + n(c.enqsSent) + " DLE ENQs, resent " + n(c.repliesResent) + " replies, gave up " +
         n(c.repliesGivenUp);
}

Df1SimPlc::Df1SimPlc(Df1SimSettings settings) : settings_(settings) {}

void Df1SimPlc::SetFault(Df1Fault fault) {
  std::lock_guard lock(faultMutex_);
  always_ = fault;
}

void Df1SimPlc::InjectNext(Df1Fault fault) {
  std::lock_guard lock(faultMutex_);
  next_.push_back(fault);
}

std::size_t Df1SimPlc::ClearInjected() {
  std::lock_guard lock(faultMutex_);
  const std::size_t left = next_.size();
  next_.clear();
  return left;
}

Df1Fault Df1SimPlc::TakeFault() {
  std::lock_guard lock(faultMutex_);
  if (next_.empty()) return always_;
  Df1Fault f = next_.front();
  next_.pop_front();
  return f;
}

Df1SimCounts Df1SimPlc::Counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

bool Df1SimPlc::Idle() const {
  std::lock_guard lock(mutex_);
  return !awaiting_ && queue_.empty();
}

std::optional<std::int64_t> Df1SimPlc::NextDeadline() const {
  std::lock_guard lock(mutex_);
  if (!awaiting_) return std::nullopt;
  return awaiting_->deadline;
}

SimBytes Df1SimPlc::Frame(const SimBytes& payload) const {
  SimBytes frame{DLE, STX};
  for (std::uint8_t b : payload) {
    frame.push_back(b);
    if (b == DLE) frame.push_back(DLE);
  }
  frame.push_back(DLE);
  frame.push_back(ETX);
  SimBytes check = CheckOf(payload, settings_.bcc);
  frame.insert(frame.end(), check.begin(), check.end());
  return frame;
}

bool Df1SimPlc::CheckOk() const { return check_ == CheckOf(payload_, settings_.bcc); }

std::int64_t Df1SimPlc::Emit(const SimBytes& bytes, std::int64_t earliest, std::int64_t gap, bool closeLine) {
  std::int64_t at = std::max(earliest, lineFreeAt_);
  const std::int64_t step = std::max(gap, settings_.byteMicros);
  if (step == 0) {
    out_.push_back(Df1Action{at, bytes, closeLine});
  } else {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      out_.push_back(Df1Action{at, {bytes[i]}, closeLine && i + 1 == bytes.size()});
      at += step;
    }
  }
  lineFreeAt_ = at;
  return at;
}

std::vector<Df1Action> Df1SimPlc::Feed(std::uint8_t byte, std::int64_t nowMicros) {
  std::lock_guard lock(mutex_);
  out_.clear();
  ++counts_.bytes;
  // On a paced line a byte is in once it has crossed it.
  std::int64_t now = nowMicros;
  if (settings_.byteMicros > 0) now = rxDone_ = std::max(nowMicros, rxDone_) + settings_.byteMicros;
  switch (rx_) {
    case Rx::Idle:
      if (byte == DLE) rx_ = Rx::IdleDle;
      break;
    case Rx::IdleDle:
      rx_ = Rx::Idle;
      if (byte == STX) {
        payload_.clear();
        check_.clear();
        rx_ = Rx::Data;
      } else if (byte == ACK || byte == NAK || byte == ENQ) {
        LinkSignal(byte, now);
      } else if (byte == DLE) {
        rx_ = Rx::IdleDle;
      }
      break;
    case Rx::Data:
      if (byte == DLE) rx_ = Rx::DataDle;
      else payload_.push_back(byte);
      if (payload_.size() > kMaxRequest) rx_ = Rx::Idle;
      break;
    case Rx::DataDle:
      if (byte == DLE) {
        payload_.push_back(DLE);
        rx_ = Rx::Data;
      } else if (byte == ETX) {
        rx_ = Rx::Check;
      } else {
        ++counts_.brokenFrames;
        rx_ = byte == STX ? Rx::Data : Rx::Idle;  // a new start, or a broken frame
        payload_.clear();
      }
      break;
    case Rx::Check:
      check_.push_back(byte);
      if (check_.size() < (settings_.bcc ? 1u : 2u)) break;
      rx_ = Rx::Idle;
      if (!CheckOk()) {
        ++counts_.badChecks;
        lastResponse_ = NAK;
        Emit({DLE, NAK}, now);
        break;
      }
      Respond(payload_, now);
      break;
  }
  return std::move(out_);
}

void Df1SimPlc::LinkSignal(std::uint8_t byte, std::int64_t now) {
  if (byte == ENQ) {
    ++counts_.enqs;
    Emit({DLE, lastResponse_}, now);
    return;
  }
  const bool forReply = awaiting_ && now >= awaiting_->startedAt;
  if (byte == NAK) {
    ++counts_.naks;
    if (!forReply) return;
    if (awaiting_->naksLeft-- > 0) {
      ++counts_.repliesResent;
      awaiting_->deadline = Emit(awaiting_->frame, now) + settings_.ackTimeoutMicros;
      return;
    }
    ++counts_.repliesGivenUp;
    awaiting_.reset();
    StartNext(now);
    return;
  }
  if (!forReply) {
    ++counts_.otherAcks;
    return;
  }
  if (awaiting_->deaf) {
    awaiting_->deaf = false;
    ++counts_.lostAcks;
    return;
  }
  ++counts_.closingAcks;
  awaiting_.reset();
  StartNext(now);
}

void Df1SimPlc::Respond(const SimBytes& request, std::int64_t now) {
  ++counts_.requests;
  if (settings_.station && request.size() >= 6 && request[0] != *settings_.station) {
    // The bridge's answer: this station never sees the request.
    ++counts_.otherStations;
    lastResponse_ = ACK;
    const std::int64_t acked = Emit({DLE, ACK}, now);
    Outgoing o;
    o.frame = Frame({request[1], request[0], static_cast<std::uint8_t>(request[2] | kReplyFlag), kStsNoStation,
                     request[4], request[5]});
    o.readyAt = acked + settings_.turnaroundMicros;
    queue_.push_back(std::move(o));
    StartNext(now);
    return;
  }
  // The last request a source sent, by command and transaction number: the same again is a
  // repeat of a message whose acknowledgement went astray.
  std::optional<std::pair<std::uint8_t, std::pair<std::uint8_t, std::uint16_t>>> key;
  if (request.size() >= 6) key = {request[1], {request[2], static_cast<std::uint16_t>(request[4] | (request[5] << 8))}};
  if (key) {
    auto last = lastBySource_.find(key->first);
    if (last != lastBySource_.end() && last->second == key->second) {
      ++counts_.duplicates;
      lastResponse_ = ACK;
      Emit({DLE, ACK}, now);
      return;
    }
  }
  const Df1Fault fault = TakeFault();
  // A request the PLC did not take (unheard, or refused) is no message to repeat.
  if (key && fault != Df1Fault::Silent && fault != Df1Fault::DleNak) lastBySource_[key->first] = key->second;
  switch (fault) {
    case Df1Fault::Silent: return;
    case Df1Fault::BareAck: Emit({ACK, ACK}, now); return;
    case Df1Fault::DleNak: lastResponse_ = NAK; Emit({DLE, NAK}, now); return;
    case Df1Fault::DleEnq: Emit({DLE, ENQ}, now); return;
    case Df1Fault::OtherByte: Emit({0x41, 0x41}, now); return;
    default: break;
  }
  lastResponse_ = ACK;
  const std::int64_t ackAt = now + (fault == Df1Fault::Delayed ? kDelayedMicros : fault == Df1Fault::Overdue ? kOverdueMicros : 0);
  const std::int64_t acked = Emit({DLE, ACK}, ackAt);
  // A refused command is not carried out, and its reply ends at STS.
  auto answer = fault == Df1Fault::Status ? Df1DataTable::Refusal(request, kStsAddress) : table_.Answer(request);
  if (!answer) return;
  ++counts_.answered;
  SimBytes reply = std::move(*answer);
  if (fault == Df1Fault::CheckByte10 && reply.size() >= 8) {
    // Search the first data word for a value that makes a check byte 0x10.
    for (std::uint32_t v = 0; v <= 0xFFFF; ++v) {
      reply[6] = static_cast<std::uint8_t>(v & 0xFF);
      reply[7] = static_cast<std::uint8_t>(v >> 8);
      SimBytes check = CheckOf(reply, settings_.bcc);
      if (check.front() == DLE || check.back() == DLE) {
        forced_ = static_cast<std::uint16_t>(v);
        break;
      }
    }
  }
  Outgoing o;
  o.frame = fault == Df1Fault::AckInReply ? SimBytes{DLE, STX, reply[0], reply[1], reply[2], DLE, ACK} : Frame(reply);
  if (fault == Df1Fault::BadCheck) o.frame.back() ^= 0xFF;
  o.readyAt = acked + settings_.turnaroundMicros;
  o.fault = fault;
  queue_.push_back(std::move(o));
  // A master that waits for each reply never has more than this one outstanding here.
  counts_.mostOutstanding =
      std::max(counts_.mostOutstanding, static_cast<long>(queue_.size()) + (awaiting_ ? 1L : 0L));
  StartNext(now);
}

void Df1SimPlc::StartNext(std::int64_t now) {
  while (!awaiting_ && !queue_.empty()) {
    Outgoing o = std::move(queue_.front());
    queue_.pop_front();
    const std::int64_t start = std::max({o.readyAt, now, lineFreeAt_});
    std::int64_t end = 0;
    switch (o.fault) {
      case Df1Fault::Late: {
        const auto gaps = static_cast<std::int64_t>(std::max<std::size_t>(o.frame.size(), 2) - 1);
        const std::int64_t span = kLateReplyMicros + static_cast<std::int64_t>(o.frame.size()) * settings_.byteMicros;
        end = Emit(o.frame, start, std::max(kLateByteMicros, (span + gaps - 1) / gaps));
        break;
      }
      case Df1Fault::Split: end = Emit(o.frame, start, kSplitMicros); break;
      case Df1Fault::CloseMidReply:
        // Half a reply and a dead line: there is nothing to acknowledge.
        Emit(SimBytes(o.frame.begin(), o.frame.begin() + static_cast<std::ptrdiff_t>(o.frame.size() / 2)), start, 0, true);
        continue;
      case Df1Fault::AckInReply: Emit(o.frame, start); continue;
      default: end = Emit(o.frame, start); break;
    }
    awaiting_ = Awaiting{o.frame, start, end + settings_.ackTimeoutMicros, 3, 3, o.fault == Df1Fault::AckLost};
  }
}

std::vector<Df1Action> Df1SimPlc::Expire(std::int64_t nowMicros) {
  std::lock_guard lock(mutex_);
  out_.clear();
  if (awaiting_ && nowMicros >= awaiting_->deadline) {
    if (awaiting_->enqsLeft-- > 0) {
      ++counts_.enqsSent;
      awaiting_->deadline = Emit({DLE, ENQ}, nowMicros) + settings_.ackTimeoutMicros;
    } else {
      ++counts_.repliesGivenUp;
      awaiting_.reset();
      StartNext(nowMicros);
    }
  }
  return std::move(out_);
}

}  // namespace plc::sim
