#pragma once
// What the shared scan engine needs of SeqLink: the line's state from the engine, and each due
// group read as SeqLink's own ReadPLCNW reads its address (an octal V-memory number, TYPE,number,
// a tag name, or any of these naming its station), at the group's unit where it names none.
#include <string>
#include <vector>

#include "frame/ScanEngine.h"
#include "directnet/DirectNetEngine.h"
#include "directnet/ReadValues.h"
#include "directnet/SeqCallRoad.h"

namespace plc::dnet {

class SeqScanLine final : public ScanLine {
 public:
  SeqScanLine(DirectNetEngine& engine, SeqCallRoad& road, const std::int16_t& unitAddress)
      : engine_(engine), road_(road), unitAddress_(unitAddress) {}

  bool LineOpen() const override { return engine_.Port().PortOpen(); }
  bool CommBusy() const override { return engine_.CommBusy(); }
  bool WriteActive() const override { return engine_.State().WriteCallActive; }
  void ForceFree() override { engine_.SetCommBusy(false); }
  void CountError() override { ++engine_.State().TimeoutCount; }
  std::int16_t UnitAddress() const override { return unitAddress_; }
  bool SendScanRead(std::int16_t unit, const Variant& address, std::int16_t count) override {
    Variant target = address;
    sent_ = road_.ScanRead(target, count, unit) == ResultOk;
    if (sent_) transaction_ = engine_.State().Transaction;
    return sent_;
  }
  // Every transaction of the thread's line is numbered, whichever control began it.
  std::uint32_t RequestsBegun() const override { return engine_.State().Transaction; }
  // Why the read was not sent, or why its transaction ended without completing (a NAK, a
  // failed LRC, the step at which the station went silent).
  std::string LastFailure() const override { return sent_ ? engine_.WhyEnded(transaction_) : road_.Cause(); }
  // What the read that just completed carried, from 1: its points (0 or 1) for a bit address,
  // else its words as the reply carried them.
  std::vector<Variant> CompletedWords() const {
    std::vector<Variant> words;
    const ReadConversion& read = engine_.CompletedConversion();
    const LinkState& s = engine_.State();
    if (read.points) {
      // Walked from the words themselves: a group may hold more points than ReadData does.
      for (std::int32_t k = 1; k <= read.values; ++k) words.emplace_back(WalkBit(s.ReadWords, read.bitIndex, k));
      return words;
    }
    for (std::int32_t k = 1; k <= s.ByteCount / 2 && k <= kLastReadWord; ++k) words.emplace_back(s.ReadWords[k]);
    return words;
  }

 private:
  DirectNetEngine& engine_;
  SeqCallRoad& road_;
  const std::int16_t& unitAddress_;
  bool sent_ = false;
  std::uint32_t transaction_ = 0;
};

}  // namespace plc::dnet
