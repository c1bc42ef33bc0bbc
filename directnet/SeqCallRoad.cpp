#include "directnet/SeqCallRoad.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "core/Enums.h"
#include "core/RuntimeError.h"
#include "directnet/ReadValues.h"
#include "directnet/WriteWords.h"

namespace plc::dnet {

namespace {

std::string Trim(const std::string& text) {
  const std::size_t b = text.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return text.substr(b, text.find_last_not_of(' ') - b + 1);
}

std::string HexAddress(std::int32_t address) {
  char text[8];
  std::snprintf(text, sizeof text, "%04Xh", static_cast<unsigned>(address));
  return text;
}

std::string OctalPoint(const std::string& type, std::int32_t n) {
  char text[16];
  std::snprintf(text, sizeof text, "%o", static_cast<unsigned>(n));
  return type + text;
}

// ReadSize: omitted is 1 (stored back); nullopt when it is no whole number of 16 bits.
std::optional<std::int32_t> SizeOf(Opt<Variant>& ReadSize) {
  if (ReadSize.IsMissing()) {
    ReadSize.Put(Variant(std::int16_t{1}));
    return 1;
  }
  try {
    return ReadSize.ValueOr(Variant()).ToInt16();
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
}

std::string SizeRefusal(const Opt<Variant>& ReadSize) {
  return "ReadSize " + AddressText(ReadSize.ValueOr(Variant())) + " is not a count of words (1 to 255)";
}

// A bit address makes the ioType 18 (and ioIdx its bit index) for the rest of the call, and in
// the caller's variables when they were passed.
void NoteBit(const ResolvedAddress& target, Opt<std::int16_t>& IOType, Opt<std::int32_t>& ioIdx) {
  if (!target.memory.bit) return;
  IOType.Put(kBitIoType);
  ioIdx.Put(target.memory.bitIndex);
}

// A set ("D") when the value, or element 1 of an array, is 1; a reset for anything else.
bool IsSet(const Variant& ABValue) {
  try {
    const Variant& v = ABValue.IsArray() ? ABValue.Array().Get(1) : ABValue;
    return v.ToDouble() == 1.0;
  } catch (const RuntimeError&) {
    return false;
  }
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
  auto size = SizeOf(ReadSize);
  if (!size) return Failed(SizeRefusal(ReadSize));
  std::int32_t count = *size;
  const bool pairs = IOType.ValueOr(0) == ioFloat;
  if (pairs) count *= 2;
  if (count > kMaxWords)
    return Failed(CountBeyondLimit(count) + (pairs ? " (ReadSize " + std::to_string(*size) + " ioFloat values, two words each)" : ""));
  if (engine_.State().WriteCallActive) return Failed("a write call holds the line");
  auto target = ResolveAddress(Address, defaultStation_, Access::Read, TagForm::TypedString, tags_);
  if (!target) return Failed(target.refusal);
  NoteBit(*target, IOType, ioIdx);
  if (!engine_.WaitingRead(*target, count)) return Failed(engine_.Failure());
  if (!StoreReadValue(engine_.State().ReadWords, count, IOType.ValueOr(0), ioIdx.ValueOr(0), ReadValue))
    return Failed("ReadValue cannot take every value read (an array too small, or of a type the values do not fit)");
  return ResultOk;
}

Result SeqCallRoad::ReadPLCNW(Variant& Address, Opt<Variant> ReadSize, Opt<std::int16_t> IOType) {
  return NonWaitingRead(Address, ReadSize, IOType, Opt<std::int32_t>(), false);
}

Result SeqCallRoad::ReadDevice(Variant& Address, Opt<Variant> ReadSize, Opt<std::int16_t> IOType,
                               Opt<std::int32_t> ioIdx) {
  return NonWaitingRead(Address, ReadSize, IOType, ioIdx, true);
}

Result SeqCallRoad::NonWaitingRead(Variant& Address, Opt<Variant> ReadSize, Opt<std::int16_t> IOType,
                                   Opt<std::int32_t> ioIdx, bool device) {
  cause_.clear();
  auto size = SizeOf(ReadSize);
  if (!size) return Failed(SizeRefusal(ReadSize));
  auto target = ResolveAddress(Address, defaultStation_, Access::Read, TagForm::FrameString, tags_);
  if (!target) return Failed(target.refusal);
  NoteBit(*target, IOType, ioIdx);
  // The completion turns the words into values by the ioType of the last ReadDevice: a single
  // word is no ioFloat value, and a completion with none would leave old values to be read.
  const std::int32_t convertedAs = device ? IOType.ValueOr(0) : engine_.LastIOType;
  if (convertedAs == ioFloat && *size < 2)
    return Failed("ReadSize " + std::to_string(*size) + " reads no ioFloat value (two words each)");
  if (device) {
    engine_.LastIOType = IOType.ValueOr(0);
    engine_.LastBitIndex = ioIdx.ValueOr(0);
  }
  if (!engine_.StartRead(target->station, target->memory.address, *size)) return Failed(engine_.Failure());
  return ResultOk;
}

Result SeqCallRoad::WritePLC(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType) {
  cause_.clear();
  WriteCallScope call(engine_.State());
  Variant address = pstr;
  BitMark mark;
  if (address.IsNumeric() || (address.IsString() && IsDigitText(address.ToString()))) {
    IOType.Put(ioWord);
  } else if (address.IsString()) {
    // A "b" marks a bit, followed by nothing or a bit number; the address ends before it. A tag
    // is looked up by its whole name first ("Tumbler" is not "Tum").
    const std::string text = address.ToString();
    const std::size_t b = text.find_first_of("bB");
    if (b != std::string::npos && !TagRecordOfName(text, tags_)) {
      const std::string after = Trim(text.substr(b + 1));
      if (after.empty() || IsDigitText(after)) {
        mark = BitMark{true, after, text};
        address = Variant(text.substr(0, b));
        IOType.Put(ioDWord);
      }
    }
  }
  return Write(address, ABValue, WriteSize, mark);
}

Result SeqCallRoad::WritePLCBit(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType) {
  cause_.clear();
  WriteCallScope call(engine_.State());
  IOType.Put(ioDWord);
  return Write(pstr, ABValue, WriteSize, BitMark{});
}

Result SeqCallRoad::Write(const Variant& address, Variant& ABValue, Opt<std::int16_t> WriteSize, const BitMark& mark) {
  auto target = ResolveAddress(address, defaultStation_, Access::Write, TagForm::TypedString, tags_);
  if (!target) {
    // Not even as an address before its "b": the text as given is what was not understood.
    if (mark.marked) target = ResolveAddress(Variant(mark.whole), defaultStation_, Access::Write, TagForm::TypedString, tags_);
    return Failed(target.refusal);
  }
  const std::string shown = "'" + (mark.marked ? mark.whole : AddressText(address)) + "'";
  if (target->memory.bit && target->type != "C") {
    const std::int32_t first = target->number / 8 * 8;
    return Refused(shown + " cannot be set or reset alone: the station sets and resets only C points, and " +
                   OctalPoint(target->type, target->number) + " shares header address " +
                   HexAddress(target->memory.address) + " with " + OctalPoint(target->type, first) + " to " +
                   OctalPoint(target->type, first + 7));
  }
  if (mark.marked && !target->memory.bit)
    return Refused(shown + " names a bit of a word, which this line cannot write alone: the station has no bit "
                   "write for words, and reading the word first could undo what the PLC changes in between; "
                   "write the whole word");
  if (mark.marked && !mark.bit.empty())
    return Refused(shown + ": a C point is one bit; write it as " + OctalPoint("C,", target->number));
  const std::int32_t requested = WriteSize.ValueOr(0);
  std::vector<std::int32_t> words;
  if (!target->memory.bit) {
    auto packed = WriteWords(ABValue, std::max(requested, 1));
    if (!packed.words) return Failed(packed.refusal);
    words = std::move(*packed.words);
  }
  if (!engine_.RunWrite(*target, words, IsSet(ABValue), requested)) return Failed(engine_.Failure());
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
