#include "df1/Receive.h"

#include "df1/ControlBytes.h"
#include "df1/Crc.h"
#include "df1/Frame.h"
#include "df1/Results.h"

namespace plc::df1 {

std::optional<Result> LinkResponseWatch::Feed(std::uint8_t byte) {
  if (byte == DLE) {
    dleSeen_ = true;
    return std::nullopt;
  }
  if (byte == ACK || byte == NAK || byte == ENQ) {
    if (dleSeen_) return static_cast<Result>(byte);
    return std::nullopt;
  }
  frameStart_ = dleSeen_ && byte == STX;
  return static_cast<Result>(byte);
}

bool ReplyAnswers(const ReplyHeader& reply, std::int32_t dst, std::uint8_t cmd, std::int32_t tns) {
  return reply.src == dst && reply.cmd == (cmd | 0x40) && reply.tns == tns;
}

std::string ReplyMismatch(const ReplyHeader& reply, std::int32_t dst, std::uint8_t cmd, std::int32_t tns) {
  std::string out;
  auto add = [&out](const std::string& part) { out += (out.empty() ? "" : " and ") + part; };
  if (reply.src != dst) add("from station " + std::to_string(reply.src) + ", where station " + std::to_string(dst) + " was asked");
  if (reply.cmd != (cmd | 0x40))
    add("with command " + HexByte(reply.cmd) + ", where the reply to " + HexByte(cmd) + " carries " + HexByte(cmd | 0x40));
  if (reply.tns != tns)
    add("with transaction number " + std::to_string(reply.tns) + ", where " + std::to_string(tns) + " was sent");
  return out;
}

bool IdleListener::Feed(std::uint8_t byte) {
  const int enquiries = receiver_.Enquiries();
  receiver_.Feed(byte);
  if (receiver_.Enquiries() != enquiries) return true;
  if (!receiver_.Finished()) return false;
  // A frame is acknowledged once its check bytes are in; of the link signals only DLE ENQ
  // asks for an answer.
  const bool answer = receiver_.State() == ReplyReceiver::Phase::Complete ||
                      (receiver_.State() == ReplyReceiver::Phase::LinkSignal && EvaluateReply(receiver_).status == ENQ);
  receiver_ = ReplyReceiver(mode_);
  return answer;
}

ReplyReceiver::ReplyReceiver(std::int32_t mode) : bcc_(IsBccMode(mode)) {}

void ReplyReceiver::Step(std::uint8_t byte) {
  if (Finished()) return;
  if (++rawCount_ > kRawBytesLimit || replyCount_ >= kReceiveBufferSize) {
    phase_ = Phase::Overflow;
    return;
  }
  auto signal = [&](std::uint8_t b) {
    if (b == ACK || b == NAK || b == ENQ) {
      signal_ = static_cast<Result>(b);
      phase_ = Phase::LinkSignal;
      return true;
    }
    return false;
  };
  switch (phase_) {
    case Phase::BeforeStart:
      if (byte == DLE) phase_ = Phase::BeforeStartEscape;
      break;
    case Phase::BeforeStartEscape:
      if (byte == ACK || byte == ENQ) {
        if (byte == ENQ) ++enquiries_;
        phase_ = Phase::BeforeStart;
      } else if (byte == STX) phase_ = Phase::InData;
      else if (byte == ETX) phase_ = Phase::CheckByteOutside;
      else if (byte == DLE) break;  // a DLE of noise: this one may start DLE STX
      else if (!signal(byte)) phase_ = Phase::BeforeStart;  // DLE and noise
      break;
    case Phase::InData:
      if (byte == DLE) phase_ = Phase::InDataEscape;  // the DLE itself is not data
      else Append(byte);
      break;
    case Phase::InDataEscape:
      // The byte after a DLE is kept as data, ETX and a repeated STX included; DLE DLE is
      // one 0x10.
      Append(byte);
      if (byte == ETX) phase_ = Phase::CheckByte;
      else if (!signal(byte)) phase_ = Phase::InData;
      break;
    case Phase::CheckByte:
      Append(byte);
      phase_ = bcc_ ? Phase::Complete : Phase::CrcHigh;
      break;
    case Phase::CheckByteOutside:
      phase_ = bcc_ ? Phase::Complete : Phase::CrcHigh;
      break;
    case Phase::CrcHigh:
      crcHigh_ = byte;  // kept apart: it does not count as a reply byte
      phase_ = Phase::Complete;
      break;
    case Phase::Complete:
    case Phase::LinkSignal:
    case Phase::Overflow:
      break;
  }
}

ReplyOutcome EvaluateReply(const ReplyReceiver& r) {
  ReplyOutcome out;
  if (r.phase_ == ReplyReceiver::Phase::LinkSignal) {
    out.status = r.signal_;
    out.cause = r.signal_ == ACK ? "a DLE ACK broke off the reply"
                : r.signal_ == NAK ? "a DLE NAK broke off the reply"
                                   : "a DLE ENQ broke off the reply";
    return out;
  }
  out.status = ResultCheckError;
  if (r.phase_ == ReplyReceiver::Phase::Overflow) {
    out.text = kTextUnfit;
    out.cause = "the reply ran past the " + std::to_string(kReceiveBufferSize) + " bytes (" +
                std::to_string(kRawBytesLimit) + " on the line) a reply may take";
    return out;
  }
  out.text = kTextCheck;
  const std::size_t count = r.replyCount_;
  const char* check = r.bcc_ ? "BCC" : "CRC";
  if (r.phase_ != ReplyReceiver::Phase::Complete || count < 3) {
    out.cause = "the reply ended before it held a check";
    return out;
  }
  // The reply is the unstuffed payload, ETX and the first check byte; the BCC covers the
  // payload, the CRC the payload and ETX.
  std::span<const std::uint8_t> reply = r.Reply();
  std::span<const std::uint8_t> payload = reply.first(count - 2);
  bool checked = false;
  if (r.bcc_) {
    checked = Bcc(payload) == reply[count - 1];
  } else {
    std::uint16_t crc = Df1Crc16(reply.first(count - 1)).crc;
    checked = (crc & 0xFF) == reply[count - 1] && (crc >> 8) == r.crcHigh_;
  }
  // The cause is worded only for a failure: a good reply builds no text.
  if (!checked) {
    out.cause = std::string("the reply failed its ") + check + " check";
    return out;
  }
  // One too short to hold STS is no reply.
  if (payload.size() < 4) {
    out.cause = "the reply of " + std::to_string(payload.size()) + " bytes is too short to hold a status";
    return out;
  }
  if (payload.size() >= 6) {
    ReplyHeader h{payload[0], payload[1], payload[2], payload[3], payload[4] + 256 * payload[5], std::nullopt};
    if (payload.size() >= 7 && (h.sts & 0xF0) == 0xF0) h.ext = payload[6];
    out.header = h;
  }
  // A reply too short for its transaction number is no station's answer to this request
  // (a zero byte lost on the line passes BCC, and a leading one CRC): its "STS" may be the
  // transaction number, and a write carried out would read as refused.
  if (!out.header) {
    out.text = kTextUnfit;
    out.cause = "the reply of " + std::to_string(payload.size()) + " bytes carries no transaction number";
    return out;
  }
  if (payload[3] != 0) {
    out.status = ResultStatusError;
    out.text = kTextStatus;
    out.cause = "the station refused the request";
    return out;
  }
  out.text = kTextUnfit;
  if (out.header->tns >= kReplyRows) {
    out.cause = "the reply's transaction number " + std::to_string(out.header->tns) + " is beyond the table's 0.." +
                std::to_string(kReplyRows - 1);
    return out;
  }
  out.tns = out.header->tns;
  if (payload.size() >= 8) {
    std::size_t n = (payload.size() - 6) / 2;
    if (n > static_cast<std::size_t>(kReplyWords)) {
      out.cause = "the reply carries " + std::to_string(n) + " words, beyond the " + std::to_string(kReplyWords) +
                  " a reply may hold";
      out.tns.reset();
      return out;
    }
    out.oddByte = (payload.size() - 6) % 2 != 0;
    out.words.reserve(n);
    for (std::size_t k = 0; k < n; ++k)
      out.words.push_back(static_cast<std::uint16_t>(payload[6 + 2 * k] | (payload[7 + 2 * k] << 8)));
  }
  out.status = ResultOk;
  out.text.clear();
  out.cause.clear();
  return out;
}

}  // namespace plc::df1
