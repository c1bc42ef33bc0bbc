#pragma once
// The DirectNET transaction engine of one control. It drives the blocks through the control's
// serial port one step at a time, from the port's receive notifications, the watchdog tick and
// the waiting calls, and keeps the line state in the per-thread LinkState that every control
// of the thread shares: the engines of two controls take turns on one transaction.
//
// A second control reuses it as it stands: it gives its own port, its LinkState (for SeqLink
// SeqLinkState(); a control that keeps its words elsewhere may hand in its own record), the
// bounds of its value buffer and its event handlers, and resolves its own addresses before
// calling StartRead / WaitingRead / RunWrite with a station and a header address.
//
// Every wait lets events run (never a sleep) and is measured in the wall clock's whole
// seconds, so a 2-second limit ends after 1 to 2 seconds. Nothing here throws for a
// communication problem: a block that cannot be built or sent is refused and the line left
// free. Every start or waiting call that fails leaves its reason in Failure(): what the
// station sent that a check refused, the step at which the station went silent, or why
// nothing was sent.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "base/Variant.h"
#include "directnet/AddressRoad.h"
#include "directnet/LinkState.h"
#include "platform/EventLoop.h"
#include "platform/Lifetime.h"
#include "platform/SerialPort.h"

namespace plc::dnet {

inline constexpr std::int64_t kReplySeconds = 2;
// The read wait of StartRead counts a stuck read after more than 2 seconds.
inline constexpr std::int64_t kStuckReadSeconds = 3;

struct EngineEvents {
  // A read ended well; the values are in ReadValues.
  std::function<void()> CommComplete;
  // A followed non-waiting read will not complete (no CommComplete follows): why.
  std::function<void(const std::string& why)> ReadFailed;
  // Pass-through mode: CommEvent, MData, Connected; by reference.
  std::function<void(std::vector<Variant>& args)> CommEventModem;
};

// How the words of a read become ReadValues at its completion: by ioType (18 walks bits from
// bitIndex of the first word on), from `values` of them (the points of a bit read, else the
// words; 0: every word read). It travels with the read's transaction: a later call cannot
// change what an earlier read delivers.
struct ReadConversion {
  std::int32_t ioType = 0;
  std::int32_t bitIndex = 0;
  std::int32_t values = 0;
  // The read is of points (a bit address); bits of words asked for by ioType 18 are not.
  bool points = false;
};

// What differs between the controls that drive the engine.
struct EngineRules {
  // ReadValues has indices 0..valuesUpper.
  std::int32_t valuesUpper = 200;
  // A completed read turns its words into ReadValues by its conversion, and empties ErrorText.
  // Off, the words stay as they are in ReadWords and the error text is kept; the host then reads
  // ReadWords itself, so only a reply that passed its LRC check is put there.
  bool convertOnCompletion = true;
};

class DirectNetEngine {
 public:
  // Installs itself as the port's OnComm handler.
  DirectNetEngine(SerialPort& port, LinkState& state, EventLoop& loop = EventLoop::Current(), EngineRules rules = {});
  ~DirectNetEngine();
  // The port closed (PortOpen = False) under this engine's transaction: no answer can come, so
  // the thread's line is freed for the other controls now, and a followed read says why.
  void LineClosed();
  DirectNetEngine(const DirectNetEngine&) = delete;
  DirectNetEngine& operator=(const DirectNetEngine&) = delete;

  EngineEvents Events;

  LinkState& State() { return state_; }
  const LinkState& State() const { return state_; }
  SerialPort& Port() { return port_; }

  // Sends the enquiry of a read of count words, whose completion converts them as asked. True
  // when it went out.
  bool StartRead(std::int32_t station, std::int32_t address, std::int32_t count, ReadConversion conversion = {});
  // Sends the enquiry of a write of the words (each 0..65535, 1..255 of them) or of a
  // set ("D") / reset ("E").
  bool StartWordWrite(std::int32_t station, std::int32_t address, std::span<const std::int32_t> words);
  bool StartBitWrite(std::int32_t station, std::int32_t address, bool set, std::int32_t writeSize);

  // ReadPLC from the resolved address on: waits for the line, reads count words and waits for
  // the end of that read. True when this read completed; its words are in ReadWords, and in
  // *words as they were at its completion: a handler of its CommComplete may read again before
  // this call returns, and what that read leaves in ReadWords is not this read's.
  bool WaitingRead(const ResolvedAddress& target, std::int32_t count, ReadConversion conversion = {},
                   std::array<std::int32_t, kLastReadWord + 1>* words = nullptr);
  // WritePLC / WritePLCBit from the resolved address on: waits for the line, writes and waits
  // for the end. words are the values of a word write; value decides a set/reset. More than
  // 255 words are refused at once, with no wait.
  bool RunWrite(const ResolvedAddress& target, std::span<const std::int32_t> words, bool set, std::int32_t writeSize);

  // Why the last start or waiting call failed ("no answer to the enquiry from station 1 within
  // 2 s"); empty after one that succeeded.
  const std::string& Failure() const { return failure_; }
  // Why transaction number `transaction` (LinkState::Transaction once it began) ended without
  // completing, for a caller that did not wait for it (the scan).
  std::string WhyEnded(std::uint32_t transaction) const { return WhyNotCompleted(transaction); }

  // The read StartRead just began is a host's non-waiting call, which has no event for a
  // failure: once it cannot complete (a check refused an answer, the watchdog, CommBusy or
  // another transaction ended it), ReadFailed says why. A later call of the host has its own
  // outcome and stops following it.
  void Follow() { followed_ = state_.Transaction; }
  void Unfollow() { followed_ = 0; }
  // Tells ReadFailed when the followed read has ended without completing or was refused.
  void TellFailedRead();

  // The watchdog (Timer1 tick); runMode false: nothing.
  void Watchdog(bool runMode);
  // The port's OnComm.
  void OnComm();

  bool CommBusy() const { return state_.CommBusy(); }
  void SetCommBusy(bool busy) {
    if (busy) return;
    state_.ForceFree();
    TellFailedRead();
  }

  // Pass-through mode.
  void SendToComm(const std::string& line1);
  bool PassThroughMode() const { return passThroughMode_; }

  // Per control: the values of the last completed read (ReadData) and how they were made, and
  // how ReadDevice asked the word reads after it to be turned into values.
  VariantArray& ReadValues() { return readValues_; }
  const ReadConversion& CompletedConversion() const { return completed_; }
  std::int32_t LastIOType = 0;
  std::int32_t LastBitIndex = 0;

 private:
  std::int64_t Now() const;
  // A transaction of this engine is still marked on the thread's line state.
  bool HoldsLine() const;
  // What the engine waits for from the station of its transaction.
  enum class Awaiting { EnquiryReply, Reply, Eot };
  // The transaction this engine put on the line, followed for the text of its failure.
  struct Progress {
    std::uint32_t transaction = 0;
    std::int32_t station = 0;
    Awaiting awaiting = Awaiting::EnquiryReply;
    std::string refusal;  // what a failed check found in the station's answer
    // The words its reply brought, put back at its end: UdpLink's ECOM requests share the word
    // array and may fill it while the station's EOT is still to come.
    std::vector<std::int32_t> words;
    bool completed = false;
  };
  // Why the transaction this engine put on the line before the current one ended without
  // completing, told as it was left: its station and step are gone once the next one began.
  struct Left {
    std::uint32_t transaction = 0;
    std::string why;
  };

  // Records why a call fails; false.
  bool Fail(std::string why);
  // Why transaction `mine` did not complete, from how far it came.
  std::string WhyNotCompleted(std::uint32_t mine) const;
  bool ClosedUnder(std::uint32_t transaction);
  // Sends a block; false (and nothing more happens) when the port refuses it, why in
  // lineError_.
  bool Send(const Bytes& block);
  void Send(std::uint8_t byte) {
    oneByte_[0] = byte;
    Send(oneByte_);
  }
  // The input buffer emptied, and the next notification after `expect` bytes, read as such.
  void Expect(std::int16_t bytes);
  // Takes what the check needs; empty when fewer bytes wait.
  Bytes Take(std::size_t needed);
  // Sends the enquiry that opens a transaction; false, with the line left idle, when the port
  // refuses it.
  bool OpenTransaction(std::int32_t station, const Bytes& enquiry, Direction direction);

  // Why an enquiry reply the check refused is none: NAK, no ACK, or another station's ACK.
  std::string EnquiryRefusal(const Bytes& reply, std::uint8_t own) const;
  void ReadStep();
  void WriteStep();
  void HeaderStep(std::size_t replyLength);
  bool ClosingStep();
  void AcknowledgeReply();
  // A read or write reply a check refused: why, for the failure text.
  void RefuseReply(const Bytes& reply, const char* kind);
  void CompleteRead();
  void PassThrough();

  // The waiting read of this engine whose end is awaited: its transaction, whether it
  // completed, and where its words go then (a waiting read run from a handler inside another's
  // wait stands in for that one until it returns).
  struct AwaitedRead {
    std::uint32_t transaction = 0;
    std::array<std::int32_t, kLastReadWord + 1>* words = nullptr;
    bool completed = false;
  };

  // A write call of this engine awaiting its transaction's end: a write run from a handler or
  // a queued write inside its wait begins only after it, and must not stand for it.
  struct AwaitedWrite {
    std::uint32_t transaction = 0;
    bool completed = false;
    AwaitedWrite* outer = nullptr;
  };

  SerialPort& port_;
  LinkState& state_;
  EventLoop& loop_;
  EngineRules rules_;
  bool passThroughMode_ = false;
  Lifetime life_;  // an event's handler may unload the control, and this engine with it
  Progress progress_;
  Left left_;
  std::string failure_;
  std::string lineError_;
  Bytes oneByte_{0};  // the ACK or EOT going out: a transaction sends two
  VariantArray readValues_;
  ReadConversion reading_;    // of the read on the line
  ReadConversion completed_;  // of the read whose values ReadValues hold
  AwaitedRead* awaited_ = nullptr;
  AwaitedWrite* awaitedWrites_ = nullptr;
  std::uint32_t followed_ = 0;  // the transaction of a followed non-waiting read
  bool connected_ = false;     // Connected of a data event; only a host handler changes it
  bool carrierState_ = false;  // Connected of a carrier-detect event
  VariantArray modemData_{1, 1};
};

}  // namespace plc::dnet
