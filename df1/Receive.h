#pragma once
// The receiving side of the DF1 link as machines fed one byte at a time, free of ports and
// clocks: the link response after a request, and the reply frame with its check.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/ResultCodes.h"
#include "df1/ControlBytes.h"

namespace plc::df1 {

// Waits for DLE ACK (or DLE NAK, DLE ENQ) after a request. A bare ACK, NAK or ENQ is ignored;
// any other byte but DLE ends the wait with its own value as the status.
class LinkResponseWatch {
 public:
  // The status once the wait ends: 6, 21, 5 or the byte's value.
  std::optional<Result> Feed(std::uint8_t byte);
  // The wait ended at DLE STX: a frame starts where the link response belongs.
  bool FrameStart() const { return frameStart_; }

 private:
  bool dleSeen_ = false;
  bool frameStart_ = false;
};

// The unstuffed reply bytes are kept in a buffer of this size. On the wire each of them may
// come doubled (a data byte of 10h), so a frame may take twice as many raw bytes: the largest
// reply a read asks for (127 words) takes up to 530.
inline constexpr std::size_t kReceiveBufferSize = 500;
inline constexpr std::size_t kRawBytesLimit = 2 * kReceiveBufferSize;
// ReplyTable: rows 0..52 (the transaction number), words 1..130.
inline constexpr int kReplyRows = 53;
inline constexpr int kReplyWords = 130;

// The texts a failed transaction leaves for ReadErrors.
inline constexpr const char* kTextNoAck = "Error no ACK";
inline constexpr const char* kTextNoReplyByte = "ERRORWaitForPLCReply";
inline constexpr const char* kTextTimeout = "ERRORTIMEOUT";
inline constexpr const char* kTextCheck = "ERRORBCC";
inline constexpr const char* kTextStatus = "ERRORSTATUS";
// A reply that does not fit the fixed buffers and tables (more than 500 bytes, a transaction
// number above 52, more than 130 words), or not the request (fewer words than it asked, no
// transaction number), is refused with status 99 and this text.
inline constexpr const char* kTextUnfit = "ERRORREPLY";

// The reply frame: before DLE STX, in the data (DLE DLE is one 0x10), then the check byte(s)
// after DLE ETX. DLE ACK, DLE NAK or DLE ENQ inside the frame ends it early; DLE NAK before it
// too. Before the frame starts, DLE ACK is a link response (the request's own, or a repeat of
// it) and is passed over, and DLE ENQ is the station asking whether its last frame arrived:
// counted, for the link to answer, and passed over.
class ReplyReceiver {
 public:
  enum class Phase {
    BeforeStart,        // noise before DLE STX
    BeforeStartEscape,  // a DLE outside the data
    InData,
    InDataEscape,       // a DLE in the data: the next byte says what it means
    CheckByte,          // DLE ETX seen in the data: the BCC or the CRC low byte comes next
    CheckByteOutside,   // DLE ETX seen outside any data: the frame is over but holds nothing
    CrcHigh,            // CRC mode: the high byte comes next
    Complete,           // every byte of the frame is in
    LinkSignal,         // DLE ACK, DLE NAK or DLE ENQ inside the reply
    Overflow,           // more than the receive buffer holds
  };

  explicit ReplyReceiver(std::int32_t mode);

  void Feed(std::uint8_t byte) {
    // Most bytes of a reply are plain data: taken here, without a call. Every other byte goes
    // through the machine.
    if (phase_ == Phase::InData && byte != DLE && rawCount_ < kRawBytesLimit && replyCount_ < kReceiveBufferSize) {
      ++rawCount_;
      Append(byte);
      return;
    }
    Step(byte);
  }
  Phase State() const { return phase_; }
  // DLE ENQs received before the frame started.
  int Enquiries() const { return enquiries_; }
  // The byte loop is over (the check bytes still to come in CRC mode are read after it).
  bool LoopEnded() const {
    return phase_ == Phase::CrcHigh || phase_ == Phase::Complete || phase_ == Phase::LinkSignal || phase_ == Phase::Overflow;
  }
  bool Finished() const { return phase_ == Phase::Complete || phase_ == Phase::LinkSignal || phase_ == Phase::Overflow; }

  // The counted reply bytes: payload, ETX, first check byte.
  std::span<const std::uint8_t> Reply() const { return {reply_.data(), replyCount_}; }

 private:
  void Step(std::uint8_t byte);
  void Append(std::uint8_t byte) {
    // Step overflows before the buffer is full, so there is always room here.
    reply_[replyCount_++] = byte;
  }

  bool bcc_;
  int enquiries_ = 0;
  Phase phase_ = Phase::BeforeStart;
  Result signal_ = 0;
  std::size_t rawCount_ = 0;
  std::size_t replyCount_ = 0;
  std::array<std::uint8_t, kReceiveBufferSize> reply_{};
  std::uint8_t crcHigh_ = 0;

  friend struct ReplyOutcome EvaluateReply(const ReplyReceiver& receiver);
};

// The line between transactions: a DLE ENQ (the station asks whether its reply arrived) and
// any whole frame (a reply nobody waits for any more) are each answered with DLE ACK, as the
// link expects; nothing is taken.
class IdleListener {
 public:
  explicit IdleListener(std::int32_t mode) : mode_(mode), receiver_(mode) {}
  // True when this byte completes something to acknowledge.
  bool Feed(std::uint8_t byte);

 private:
  std::int32_t mode_;
  ReplyReceiver receiver_;
};

// The first bytes of a reply whose check passed: who sent it, to which command and
// transaction, and its status (EXT STS follows the transaction number when STS is F0h).
struct ReplyHeader {
  std::uint8_t dst = 0;
  std::uint8_t src = 0;
  std::uint8_t cmd = 0;
  std::uint8_t sts = 0;
  std::int32_t tns = 0;
  std::optional<std::uint8_t> ext;
};

// Whether a reply answers the request sent to station dst with command cmd and transaction
// number tns: its source, command (with the reply bit) and transaction number are theirs.
bool ReplyAnswers(const ReplyHeader& reply, std::int32_t dst, std::uint8_t cmd, std::int32_t tns);
// How a reply differs from the request it does not answer, for a failure's text: "from station
// 7, where station 1 was asked".
std::string ReplyMismatch(const ReplyHeader& reply, std::int32_t dst, std::uint8_t cmd, std::int32_t tns);

// What a finished reply means to the link.
struct ReplyOutcome {
  Result status = ResultCheckError;
  std::string text;
  // Why, in words a user can act on, when the status is a failure.
  std::string cause;
  // Set once the check passed and the payload holds a transaction number.
  std::optional<ReplyHeader> header;
  // A good reply with a transaction number: the ReplyTable row, and its words (unsigned,
  // low byte first; a trailing odd byte ignored). No words for a reply of fewer than 8 bytes.
  std::optional<int> tns;
  std::vector<std::uint16_t> words;
  // The data ends in a byte no word holds: no read's good reply does.
  bool oddByte = false;
};

// Judges a receiver whose loop ended: link signal, check, STS, and the fit of the data.
ReplyOutcome EvaluateReply(const ReplyReceiver& receiver);

}  // namespace plc::df1
