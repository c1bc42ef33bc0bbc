#include "tools/plcsim/Df1SimPlc.h"

namespace plc::sim {

namespace {

constexpr std::uint8_t DLE = 0x10, STX = 0x02, ETX = 0x03, ENQ = 0x05, ACK = 0x06, NAK = 0x15;
constexpr int kLateByteMs = 60;
constexpr int kDelayedMs = 200;
constexpr int kSplitMs = 2;
// A real request never comes near this; a longer one is noise and starts over.
constexpr std::size_t kMaxRequest = 512;

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

const std::vector<std::pair<std::string, Df1Fault>>& Df1FaultNames() {
  static const std::vector<std::pair<std::string, Df1Fault>> names = {
      {"none", Df1Fault::None},         {"silent", Df1Fault::Silent},
      {"bare-ack", Df1Fault::BareAck},  {"dle-nak", Df1Fault::DleNak},
      {"dle-enq", Df1Fault::DleEnq},    {"other-byte", Df1Fault::OtherByte},
      {"bad-check", Df1Fault::BadCheck}, {"status", Df1Fault::Status},
      {"late", Df1Fault::Late},         {"delayed", Df1Fault::Delayed},         {"check-10", Df1Fault::CheckByte10},
      {"split", Df1Fault::Split},       {"close-mid-reply", Df1Fault::CloseMidReply},
      {"ack-in-reply", Df1Fault::AckInReply},
  };
  return names;
}

Df1SimPlc::Df1SimPlc(bool bcc) : bcc_(bcc) {}

void Df1SimPlc::SetFault(Df1Fault fault) {
  std::lock_guard lock(faultMutex_);
  always_ = fault;
}

void Df1SimPlc::InjectNext(Df1Fault fault) {
  std::lock_guard lock(faultMutex_);
  next_.push_back(fault);
}

Df1Fault Df1SimPlc::TakeFault() {
  std::lock_guard lock(faultMutex_);
  if (next_.empty()) return always_;
  Df1Fault f = next_.front();
  next_.pop_front();
  return f;
}

SimBytes Df1SimPlc::Frame(const SimBytes& payload) const {
  SimBytes frame{DLE, STX};
  for (std::uint8_t b : payload) {
    frame.push_back(b);
    if (b == DLE) frame.push_back(DLE);
  }
  frame.push_back(DLE);
  frame.push_back(ETX);
  SimBytes check = CheckOf(payload, bcc_);
  frame.insert(frame.end(), check.begin(), check.end());
  return frame;
}

bool Df1SimPlc::CheckOk() const { return check_ == CheckOf(payload_, bcc_); }

std::vector<Df1Action> Df1SimPlc::Feed(std::uint8_t byte) {
  switch (rx_) {
    case Rx::Idle:
      if (byte == DLE) rx_ = Rx::IdleDle;
      return {};
    case Rx::IdleDle:
      rx_ = Rx::Idle;
      if (byte == STX) {
        payload_.clear();
        check_.clear();
        rx_ = Rx::Data;
      } else if (byte == ACK) {
        ++acks_;
      } else if (byte == DLE) {
        rx_ = Rx::IdleDle;
      }
      return {};
    case Rx::Data:
      if (byte == DLE) rx_ = Rx::DataDle;
      else payload_.push_back(byte);
      if (payload_.size() > kMaxRequest) rx_ = Rx::Idle;
      return {};
    case Rx::DataDle:
      if (byte == DLE) {
        payload_.push_back(DLE);
        rx_ = Rx::Data;
      } else if (byte == ETX) {
        rx_ = Rx::Check;
      } else {
        rx_ = byte == STX ? Rx::Data : Rx::Idle;  // a new start, or a broken frame
        payload_.clear();
      }
      return {};
    case Rx::Check:
      check_.push_back(byte);
      if (check_.size() < (bcc_ ? 1u : 2u)) return {};
      rx_ = Rx::Idle;
      if (!CheckOk()) return {Df1Action{0, {DLE, NAK}, false}};
      ++requests_;
      return Respond(payload_);
  }
  return {};
}

std::vector<Df1Action> Df1SimPlc::Respond(const SimBytes& request) {
  const Df1Fault fault = TakeFault();
  switch (fault) {
    case Df1Fault::Silent: return {};
    case Df1Fault::BareAck: return {Df1Action{0, {ACK, ACK}, false}};
    case Df1Fault::DleNak: return {Df1Action{0, {DLE, NAK}, false}};
    case Df1Fault::DleEnq: return {Df1Action{0, {DLE, ENQ}, false}};
    case Df1Fault::OtherByte: return {Df1Action{0, {0x41, 0x41}, false}};
    default: break;
  }
  auto answer = table_.Answer(request);
  if (!answer) return {Df1Action{0, {DLE, ACK}, false}};
  SimBytes reply = std::move(*answer);
  if (fault == Df1Fault::Status) reply[3] = kStsAddress;
  if (fault == Df1Fault::CheckByte10 && reply.size() >= 8) {
    // Search the first data word for a value that makes a check byte 0x10.
    for (std::uint32_t v = 0; v <= 0xFFFF; ++v) {
      reply[6] = static_cast<std::uint8_t>(v & 0xFF);
      reply[7] = static_cast<std::uint8_t>(v >> 8);
      SimBytes check = CheckOf(reply, bcc_);
      if (check.front() == DLE || check.back() == DLE) {
        forced_ = static_cast<std::uint16_t>(v);
        break;
      }
    }
  }
  SimBytes frame = Frame(reply);
  if (fault == Df1Fault::BadCheck) frame.back() ^= 0xFF;
  std::vector<Df1Action> out{Df1Action{0, {DLE, ACK}, false}};
  switch (fault) {
    case Df1Fault::Late:
      for (std::uint8_t b : frame) out.push_back({kLateByteMs, {b}, false});
      break;
    case Df1Fault::Delayed:
      out.front().delayMs = kDelayedMs;
      out.push_back({0, frame, false});
      break;
    case Df1Fault::Split:
      for (std::uint8_t b : frame) out.push_back({kSplitMs, {b}, false});
      break;
    case Df1Fault::CloseMidReply: out.push_back({0, SimBytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(frame.size() / 2)), true}); break;
    case Df1Fault::AckInReply: out.push_back({0, {DLE, STX, reply[0], reply[1], reply[2], DLE, ACK}, false}); break;
    default: out.push_back({0, frame, false}); break;
  }
  return out;
}

}  // namespace plc::sim
