#pragma once
// The road of SeqLink's read and write methods from the host's call to the result code:
// default arguments, the DirectNET address road, the hand-over to the engine and the copying of
// values. SeqLink's members forward here one to one. None of these calls raises an error to
// the host: a bad address, a value that has no word form, a closed port all end as 0.
#include <cstdint>

#include "core/Opt.h"
#include "core/ResultCodes.h"
#include "core/TagDatabase.h"
#include "core/Variant.h"
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
  Result WritePLC(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType);
  Result WritePLCBit(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType);
  // Gives an address with "," but no ";" the default station; reads nothing.
  Result ReadPLCValue(Variant& Address) const;

 private:
  Result NonWaitingRead(Variant& Address, Opt<Variant> ReadSize, Opt<std::int16_t> IOType, Opt<std::int32_t> ioIdx,
                        bool device);
  Result Write(const Variant& address, Variant& ABValue, Opt<std::int16_t> WriteSize);

  DirectNetEngine& engine_;
  const std::int16_t& defaultStation_;
  TagDatabase& tags_;
};

}  // namespace plc::dnet
