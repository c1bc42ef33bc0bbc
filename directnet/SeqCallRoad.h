#pragma once
// The road of SeqLink's read and write methods from the host's call to the result code:
// default arguments, the DirectNET address road, the hand-over to the engine and the copying of
// values. SeqLink's members forward here one to one. None of these calls raises an error to
// the host: a bad address, a value that has no word form, a closed port all end as 0, and
// Cause() says why.
//
// Writes the station could only get wrong are refused before anything is sent, with the reason
// also in ReadErrors: a set or reset of an X, Y, GX or GY point (its header address names eight
// points and the set/reset header no bit among them), and a single bit of a word ("V,2000b3":
// the station has no bit write for words, and a read-modify-write could undo what the PLC
// changed in between).
#include <cstdint>
#include <optional>
#include <string>

#include "base/Opt.h"
#include "base/ResultCodes.h"
#include "frame/TagDatabase.h"
#include "base/Variant.h"
#include "directnet/BitWrites.h"
#include "directnet/DirectNetEngine.h"

namespace plc::dnet {

class SeqCallRoad {
 public:
  // defaultStation: the control's Address property, read at each call.
  SeqCallRoad(DirectNetEngine& engine, const std::int16_t& defaultStation, TagDatabase& tags = Tags())
      : engine_(engine), defaultStation_(defaultStation), tags_(tags) {}

  Result ReadPLC(Variant& Address, Variant& ReadValue, Opt<Variant> ReadSize, Opt<std::int16_t> IOType,
                 Opt<std::int32_t> ioIdx);
  Result ReadPLCNW(Variant& Address, Opt<Variant> ReadSize, Opt<std::int16_t> IOType);
  Result ReadDevice(Variant& Address, Opt<Variant> ReadSize, Opt<std::int16_t> IOType, Opt<std::int32_t> ioIdx);
  // ReadPLCNW of a scan group, its address read as ReadPLCNW reads one, at station (the
  // group's unit) where it names none. The scan takes the words themselves, so ReadData's limits
  // of the last ReadDevice's conversion never keep it off the line (ReadData gets what fits).
  Result ScanRead(Variant& Address, std::int32_t count, std::int16_t station);
  // station: where the address names none (unset: the Address property).
  Result WritePLC(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType,
                  std::optional<std::int16_t> station = std::nullopt);
  Result WritePLCBit(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType);
  // Gives an address with "," but no ";" the default station; reads nothing.
  Result ReadPLCValue(Variant& Address);

  // Why the last call failed, in words a user can act on; empty after one that succeeded.
  const std::string& Cause() const { return cause_; }

 private:
  // scanStation: a scan group's read, at that station where its address names none.
  Result NonWaitingRead(Variant& Address, Opt<Variant> ReadSize, Opt<std::int16_t> IOType, Opt<std::int32_t> ioIdx,
                        bool device, std::optional<std::int16_t> scanStation = std::nullopt);
  // How the read's completion makes ReadValues: a point's bits; the ioType a ReadDevice of words
  // gives (deviceIoType, not negative); else that of the last ReadDevice of words.
  ReadConversion Conversion(const ResolvedAddress& target, const ReadSpan& span, std::int32_t count,
                            std::int32_t deviceIoType, std::int32_t deviceBit = 0) const;
  // pstr as the host gave it; a Marked mark names the address before its "b".
  Result Write(const Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, const BitMark& mark,
               std::optional<std::int16_t> station = std::nullopt);
  // Records why the call failed; ResultFailed.
  Result Failed(std::string why);
  // As Failed, and the reason is ReadErrors' text too: a write refused for what it asks.
  Result Refused(std::string why);

  DirectNetEngine& engine_;
  const std::int16_t& defaultStation_;
  TagDatabase& tags_;
  std::string cause_;
};

}  // namespace plc::dnet
