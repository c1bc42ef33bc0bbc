#include "directnet/SeqCallRoad.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "base/Enums.h"
#include "base/RuntimeError.h"
#include "directnet/AddressTexts.h"
#include "directnet/BitWrites.h"
#include "directnet/ReadSize.h"
#include "directnet/ReadValues.h"
#include "directnet/WriteWords.h"

namespace plc::dnet {

namespace {

std::string OctalPoint(const std::string& type, std::int32_t n) { return type + OctalDigits(n); }

// A bit address makes the ioType 18 (and ioIdx its bit index) for the rest of the call, and in
// the caller's variables when they were passed.
void NoteBit(const ResolvedAddress& target, Opt<std::int16_t>& IOType, Opt<std::int32_t>& ioIdx) {
  if (!target.memory.bit) return;
  IOType.Put(kBitIoType);
  ioIdx.Put(target.memory.bitIndex);
}

}  // namespace

Result SeqCallRoad::Failed(std::string why) {
  cause_ = std::move(why);
  return ResultFailed;
}

Result SeqCallRoad::Refused(std::string why) {
  engine_.State().ErrorText = why;
  return Failed(std::move(why));
}

Result SeqCallRoad::ReadPLC(Variant& Address, Variant& ReadValue, Opt<Variant> ReadSize, Opt<std::int16_t> IOType,
                            Opt<std::int32_t> ioIdx) {
  cause_.clear();
  auto size = ReadSizeArgument(ReadSize);
  if (!size) return Failed(ReadSizeRefusal(ReadSize));
  std::int32_t count = *size;
  const bool pairs = IOType.ValueOr(0) == ioFloat;
  if (pairs) {
    // As the classic control does, the caller's ReadSize then counts the words read.
    count = static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{count} * 2, INT32_MIN, INT32_MAX));
    ReadSize.Put(Variant(count));
  }
  if (engine_.State().WriteCallActive) return Failed("a write call holds the line");
  auto target = ResolveAddress(Address, defaultStation_, Access::Read, TagForm::TypedString, tags_);
  if (!target) return Failed(target.refusal);
  // Points go sixteen to a word: their span says whether they stay inside their area.
  if (!target->memory.bit && count > kMaxWords)
    return Failed(CountBeyondLimit(count) + (pairs ? " (ReadSize " + std::to_string(*size) + " ioFloat values, two words each)" : ""));
  NoteBit(*target, IOType, ioIdx);
  std::string why;
  const auto span = ReadSpanOf(*target, count, why);
  if (!span) return Failed(why);
  ResolvedAddress read = *target;
  read.memory.address = span->address;
  const std::int32_t ioType = IOType.ValueOr(0);
  if (ioType == kBitIoType && !target->memory.bit) {
    if (std::string refusal = BitIndexRefusal(ioIdx.ValueOr(0)); !refusal.empty()) return Failed(refusal);
  }
  // The bits of a bit read start where its span puts them; ioIdx keeps the point's own bit.
  const std::int32_t firstBit = target->memory.bit ? span->firstBit : ioIdx.ValueOr(0);
  ReadWordArray words{};
  if (!engine_.WaitingRead(read, span->words, Conversion(*target, *span, count, -1), &words))
    return Failed(engine_.Failure());
  std::string refusal;
  if (!StoreReadValue(words, count, ioType, firstBit, ReadValue, &refusal))
    return Failed(!refusal.empty() ? refusal
                                   : "ReadValue cannot take every value read (an array too small, or of a type the values do not fit)");
  return ResultOk;
}

ReadConversion SeqCallRoad::Conversion(const ResolvedAddress& target, const ReadSpan& span, std::int32_t count,
                                       std::int32_t deviceIoType, std::int32_t deviceBit) const {
  if (target.memory.bit) return ReadConversion{kBitIoType, span.firstBit, count, true};
  if (deviceIoType >= 0) return ReadConversion{deviceIoType, deviceBit, count};
  // A read of one word has no pair for an ioFloat value: its word is what ReadData gets, where
  // none would leave the last read's values to be taken for its own.
  if (engine_.LastIOType == ioFloat && count < 2) return ReadConversion{ioWord, 0, count};
  // A bit walk belongs to a bit read: the 18 of an earlier ReadDevice of a point never makes
  // the words of a word read into bits.
  return ReadConversion{engine_.LastIOType, engine_.LastBitIndex, count};
}

Result SeqCallRoad::ReadPLCNW(Variant& Address, Opt<Variant> ReadSize, Opt<std::int16_t> IOType) {
  return NonWaitingRead(Address, ReadSize, IOType, Opt<std::int32_t>(), false);
}

Result SeqCallRoad::ReadDevice(Variant& Address, Opt<Variant> ReadSize, Opt<std::int16_t> IOType,
                               Opt<std::int32_t> ioIdx) {
  return NonWaitingRead(Address, ReadSize, IOType, ioIdx, true);
}

Result SeqCallRoad::ScanRead(Variant& Address, std::int32_t count, std::int16_t station) {
  return NonWaitingRead(Address, Opt<Variant>(Variant(count)), Opt<std::int16_t>(), Opt<std::int32_t>(), false, station);
}

Result SeqCallRoad::NonWaitingRead(Variant& Address, Opt<Variant> ReadSize, Opt<std::int16_t> IOType,
                                   Opt<std::int32_t> ioIdx, bool device, std::optional<std::int16_t> scanStation) {
  cause_.clear();
  const bool scan = scanStation.has_value();
  auto size = ReadSizeArgument(ReadSize);
  if (!size) return Failed(ReadSizeRefusal(ReadSize));
  auto target = ResolveAddress(Address, scanStation.value_or(defaultStation_), Access::Read, TagForm::FrameString, tags_);
  if (!target) return Failed(target.refusal);
  const std::int32_t askedIoType = IOType.ValueOr(0);
  const std::int32_t askedBit = ioIdx.ValueOr(0);
  if (device && askedIoType == kBitIoType && !target->memory.bit) {
    if (std::string refusal = BitIndexRefusal(askedBit); !refusal.empty()) return Failed(refusal);
  }
  NoteBit(*target, IOType, ioIdx);
  std::string why;
  const auto span = ReadSpanOf(*target, *size, why);
  if (!span) return Failed(why);
  // The completion turns the words into values as this read's conversion says: a single word is
  // no ioFloat value, and a completion with none would leave old values to be read.
  const ReadConversion conversion = Conversion(*target, *span, *size, device ? askedIoType : -1, askedBit);
  if (conversion.ioType == ioFloat && *size < 2)
    return Failed("ReadSize " + std::to_string(*size) + " reads no ioFloat value (two words each)");
  const std::int32_t values = conversion.ioType == ioFloat ? *size / 2 : *size;
  const std::int32_t room = engine_.ReadValues().Upper();
  if (values > room && !scan)
    return Failed("ReadSize " + std::to_string(*size) + " asks for " + std::to_string(values) +
                  " values, and ReadData holds " + std::to_string(room) + " (1 to " + std::to_string(room) + ")");
  // What a later word read is converted by: the ioType a ReadDevice of words asked for.
  if (device && !target->memory.bit) {
    engine_.LastIOType = askedIoType;
    engine_.LastBitIndex = askedBit;
  }
  if (!engine_.StartRead(target->station, span->address, span->words, conversion)) return Failed(engine_.Failure());
  if (!scan) engine_.Follow();  // the scan reports its reads' ends itself
  return ResultOk;
}

Result SeqCallRoad::WritePLC(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType,
                             std::optional<std::int16_t> station) {
  cause_.clear();
  WriteCallScope call(engine_.State());
  if (pstr.IsNumeric() || (pstr.IsString() && IsDigitText(pstr.ToString()))) {
    IOType.Put(ioWord);
    return Write(pstr, ABValue, WriteSize, BitMark{}, station);
  }
  const BitMark mark = FindBitMark(pstr, tags_);
  if (mark.form == BitMark::Form::Unreadable) return Failed(UnreadableMarkRefusal(pstr));
  if (mark.form == BitMark::Form::Marked) IOType.Put(ioDWord);
  return Write(pstr, ABValue, WriteSize, mark, station);
}

Result SeqCallRoad::WritePLCBit(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType) {
  cause_.clear();
  WriteCallScope call(engine_.State());
  IOType.Put(ioDWord);
  return Write(pstr, ABValue, WriteSize, BitMark{});
}

Result SeqCallRoad::Write(const Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, const BitMark& mark,
                          std::optional<std::int16_t> station) {
  const bool marked = mark.form == BitMark::Form::Marked;
  const std::int16_t unit = station.value_or(defaultStation_);
  auto target =
      ResolveAddress(marked ? Variant(mark.address) : pstr, unit, Access::Write, TagForm::TypedString, tags_);
  if (!target) {
    // Not even as an address before its "b": the text as given is what was not understood.
    const Resolution whole = marked ? ResolveAddress(pstr, unit, Access::Write, TagForm::TypedString, tags_)
                                    : Resolution{};
    return Failed(whole.refusal.empty() ? target.refusal : whole.refusal);
  }
  const std::string shown = AddressText(pstr);
  if (target->memory.bit && target->type != "C") {
    const std::int32_t first = target->number / 8 * 8;
    return Refused("'" + Capped(shown) + "' cannot be set or reset alone: the station sets and resets only C points, and " +
                   OctalPoint(target->type, target->number) + " shares header address " +
                   HexAddress(target->memory.address) + " with " + OctalPoint(target->type, first) + " to " +
                   OctalPoint(target->type, first + 7));
  }
  if (marked && !target->memory.bit) return Refused(BitOfAWordRefusal(shown, mark.bit));
  if (marked && !mark.bit.empty())
    return Refused("'" + Capped(shown) + "': a C point is one bit; write it as " + OctalPoint("C,", target->number));
  const std::int32_t requested = WriteSize.ValueOr(0);
  std::vector<std::int32_t> words;
  bool set = false;
  if (target->memory.bit) {
    if (std::string run = SetResetRunRefusal(requested, OctalPoint(target->type, target->number)); !run.empty())
      return Refused(run);
    std::string why;
    const auto setOrReset = SetOrReset(ABValue, &why);
    if (!setOrReset) return Failed(why);
    set = *setOrReset;
  } else {
    auto packed = WriteWords(ABValue, std::max(requested, 1));
    if (!packed.words) return Failed(packed.refusal);
    words = std::move(*packed.words);
    // The words after the last of T, CT, S or SP are other memory's.
    if (std::string past = RunPastRefusal(*target, static_cast<std::int32_t>(words.size())); !past.empty())
      return Failed(past);
  }
  if (!engine_.RunWrite(*target, words, set, requested)) return Failed(engine_.Failure());
  return ResultOk;
}

Result SeqCallRoad::ReadPLCValue(Variant& Address) {
  if (Address.IsString()) {
    const std::string text = Address.ToString();
    if (text.find(',') != std::string::npos && text.find(';') == std::string::npos)
      Address = Variant(std::to_string(defaultStation_) + ";" + text);
  }
  return Failed("ReadPLCValue reads nothing on this control: it only puts the station before the address (read "
                "with ReadPLC)");
}

}  // namespace plc::dnet
