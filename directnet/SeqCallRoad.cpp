#include "directnet/SeqCallRoad.h"

#include <cctype>
#include <vector>

#include "core/Enums.h"
#include "core/RuntimeError.h"
#include "directnet/ReadValues.h"

namespace plc::dnet {

namespace {

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

// A bit address makes the ioType 18 (and ioIdx its bit index) in the caller's variables.
void NoteBit(const ResolvedAddress& target, Opt<std::int16_t>& IOType, Opt<std::int32_t>& ioIdx) {
  if (!target.memory.bit) return;
  IOType.Put(kBitIoType);
  ioIdx.Put(target.memory.bitIndex);
}

// The words of a word write: elements 1..count of an array, or the single value. nullopt when
// an element is missing or has no 16-bit unsigned form.
std::optional<std::vector<std::int32_t>> WordsOf(const Variant& ABValue, std::int32_t count) {
  std::vector<std::int32_t> words;
  try {
    if (!ABValue.IsArray()) {
      words.push_back(ABValue.ToInt32());
    } else {
      const VariantArray& array = ABValue.Array();
      for (std::int32_t k = 1; k <= count; ++k) {
        if (!array.Contains(k)) return std::nullopt;
        words.push_back(array.Get(k).ToInt32());
      }
    }
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
  for (std::int32_t w : words)
    if (w < 0 || w > 0xFFFF) return std::nullopt;
  return words;
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

Result SeqCallRoad::ReadPLC(Variant& Address, Variant& ReadValue, Opt<Variant> ReadSize, Opt<std::int16_t> IOType,
                            Opt<std::int32_t> ioIdx) {
  auto size = SizeOf(ReadSize);
  if (!size) return ResultFailed;
  std::int32_t count = *size;
  if (IOType.ValueOr(0) == ioFloat) count *= 2;
  if (engine_.State().WriteCallActive) return ResultFailed;
  auto target = ResolveAddress(Address, defaultStation_, Access::Read, TagForm::TypedString, tags_);
  if (!target) return ResultFailed;
  NoteBit(*target, IOType, ioIdx);
  if (!engine_.WaitingRead(*target, count)) return ResultFailed;
  return StoreReadValue(engine_.State().ReadWords, count, IOType.ValueOr(0), ioIdx.ValueOr(0), ReadValue)
             ? ResultOk
             : ResultFailed;
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
  auto size = SizeOf(ReadSize);
  if (!size) return ResultFailed;
  auto target = ResolveAddress(Address, defaultStation_, Access::Read, TagForm::FrameString, tags_);
  if (!target) return ResultFailed;
  NoteBit(*target, IOType, ioIdx);
  if (device) {
    engine_.LastIOType = IOType.ValueOr(0);
    engine_.LastBitIndex = ioIdx.ValueOr(0);
  }
  return engine_.StartRead(target->station, target->memory.address, *size) ? ResultOk : ResultFailed;
}

Result SeqCallRoad::WritePLC(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType) {
  WriteCallScope call(engine_.State());
  Variant address = pstr;
  if (address.IsNumeric() || (address.IsString() && IsDigitText(address.ToString()))) {
    IOType.Put(ioWord);
  } else if (address.IsString()) {
    // A "b" marks a bit: the address ends before it.
    const std::string text = address.ToString();
    const std::size_t b = text.find_first_of("bB");
    if (b != std::string::npos) {
      address = Variant(text.substr(0, b));
      IOType.Put(ioDWord);
    }
  }
  return Write(address, ABValue, WriteSize);
}

Result SeqCallRoad::WritePLCBit(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType) {
  WriteCallScope call(engine_.State());
  IOType.Put(ioDWord);
  return Write(pstr, ABValue, WriteSize);
}

Result SeqCallRoad::Write(const Variant& address, Variant& ABValue, Opt<std::int16_t> WriteSize) {
  auto target = ResolveAddress(address, defaultStation_, Access::Write, TagForm::TypedString, tags_);
  if (!target) return ResultFailed;
  const std::int32_t requested = WriteSize.ValueOr(0);
  std::vector<std::int32_t> words;
  if (!target->memory.bit) {
    auto packed = WordsOf(ABValue, std::max(requested, 1));
    if (!packed) return ResultFailed;
    words = std::move(*packed);
  }
  return engine_.RunWrite(*target, words, IsSet(ABValue), requested) ? ResultOk : ResultFailed;
}

Result SeqCallRoad::ReadPLCValue(Variant& Address) const {
  if (Address.IsString()) {
    const std::string text = Address.ToString();
    if (text.find(',') != std::string::npos && text.find(';') == std::string::npos)
      Address = Variant(std::to_string(defaultStation_) + ";" + text);
  }
  return ResultFailed;
}

}  // namespace plc::dnet
