#include "df1/Receive.h"

#include "df1/ControlBytes.h"
#include "df1/Crc.h"
#include "df1/Frame.h"

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
  return static_cast<Result>(byte);
}

ReplyReceiver::ReplyReceiver(std::int32_t mode) : bcc_(IsBccMode(mode)) {}

void ReplyReceiver::Append(std::uint8_t byte) {
  // Raw bytes bound the reply bytes, so the one check covers both buffers.
  reply_[replyCount_++] = byte;
}

void ReplyReceiver::Feed(std::uint8_t byte) {
  if (Finished()) return;
  if (++rawCount_ > kReceiveBufferSize) {
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
      if (byte == STX) phase_ = Phase::InData;
      else if (byte == ETX) phase_ = Phase::CheckByteOutside;
      else if (!signal(byte)) phase_ = Phase::BeforeStart;  // DLE DLE, or DLE and noise
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
    return out;
  }
  out.status = ResultCheckError;
  if (r.phase_ == ReplyReceiver::Phase::Overflow) {
    out.text = kTextUnfit;
    return out;
  }
  out.text = kTextCheck;
  const std::size_t count = r.replyCount_;
  if (r.phase_ != ReplyReceiver::Phase::Complete || count < 3) return out;
  // The reply is the unstuffed payload, ETX and the first check byte; the BCC covers the
  // payload, the CRC the payload and ETX.
  std::span<const std::uint8_t> reply = r.Reply();
  std::span<const std::uint8_t> payload = reply.first(count - 2);
  if (r.bcc_) {
    if (Bcc(payload) != reply[count - 1]) return out;
  } else {
    std::uint16_t crc = Df1Crc16(reply.first(count - 1)).crc;
    if ((crc & 0xFF) != reply[count - 1] || (crc >> 8) != r.crcHigh_) return out;
  }
  // One too short to hold STS is no reply.
  if (payload.size() < 4) return out;
  if (payload[3] != 0) {
    out.status = ResultStatusError;
    out.text = kTextStatus;
    return out;
  }
  if (payload.size() >= 6) {
    int tns = payload[4] + 256 * payload[5];
    if (tns >= kReplyRows) {
      out.status = ResultCheckError;
      out.text = kTextUnfit;
      return out;
    }
    out.tns = tns;
  }
  if (payload.size() >= 8) {
    std::size_t n = (payload.size() - 6) / 2;
    if (n > static_cast<std::size_t>(kReplyWords)) {
      out.status = ResultCheckError;
      out.text = kTextUnfit;
      out.tns.reset();
      return out;
    }
    out.words.reserve(n);
    for (std::size_t k = 0; k < n; ++k)
      out.words.push_back(static_cast<std::uint16_t>(payload[6 + 2 * k] | (payload[7 + 2 * k] << 8)));
  }
  out.status = ResultOk;
  out.text.clear();
  return out;
}

}  // namespace plc::df1
