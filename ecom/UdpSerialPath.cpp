#include "ecom/UdpSerialPath.h"

#include <charconv>

#include "base/Enums.h"
#include "base/IoDataType.h"
#include "directnet/AddressRoad.h"
#include "directnet/AddressTexts.h"
#include "directnet/BitWrites.h"
#include "directnet/Blocks.h"
#include "directnet/ReadValues.h"
#include "directnet/WriteWords.h"

namespace plc::ecom {

namespace {

constexpr std::int32_t kLastHeaderAddress = 0xFFFF;
constexpr std::int16_t kIoSetReset = 1;
constexpr const char* kAddressForm = "this path takes a header address in decimal (1024 is V2000), or a tag holding one";

// Digits (blanks around them allowed) as a header address; nullopt for anything that is no
// number, why in *why for a number no header carries.
std::optional<std::int32_t> DigitAddress(const Variant& v, std::string& why) {
  const std::string beyond = " is beyond " + std::to_string(kLastHeaderAddress) + ", the last header address";
  if (v.IsNumeric()) {
    const double d = v.ToDouble();
    if (d >= 0 && d <= kLastHeaderAddress && d == static_cast<std::int32_t>(d)) return static_cast<std::int32_t>(d);
    why = d > kLastHeaderAddress ? dnet::Capped(v.ToString()) + beyond : "a header address is a whole number 0.." +
                                                              std::to_string(kLastHeaderAddress) + ", not " + dnet::Capped(v.ToString());
    return std::nullopt;
  }
  if (!v.IsString()) return std::nullopt;
  const std::string text = dnet::Trim(v.ToString());
  if (!dnet::IsDigitText(text)) return std::nullopt;
  std::int32_t n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size() || n > kLastHeaderAddress) {
    why = dnet::Capped(text) + beyond;
    return std::nullopt;
  }
  return n;
}

SerialAddress Refused(const Variant& Address, const std::string& why) {
  return SerialAddress{std::nullopt, "address '" + dnet::Capped(dnet::AddressText(Address)) + "' not understood: " + why};
}

}  // namespace

SerialAddress SerialHeaderAddress(const Variant& Address, TagDatabase& tags) {
  if (Address.IsArray()) return Refused(Address, "an address is one text or number, not an array");
  if (Address.IsEmpty()) return Refused(Address, "no address given");
  std::string why;
  if (auto n = DigitAddress(Address, why)) return SerialAddress{n, {}};
  if (!why.empty()) return Refused(Address, why);
  if (!Address.IsString()) return Refused(Address, kAddressForm);
  const std::string name = Address.ToString();
  if (dnet::Trim(name).empty()) return Refused(Address, "no address given");
  if (name.find_first_of(";,") != std::string::npos)
    return Refused(Address, std::string(kAddressForm) + "; no station;TYPE,number strings");
  const TagRecord* record = TagRecordOfName(name, tags);
  if (!record) return Refused(Address, "no tag of that name (" + std::string(kAddressForm) + ")");
  if (auto n = DigitAddress(record->address, why)) return SerialAddress{n, {}};
  return Refused(Address, "the tag holds " + dnet::Capped(dnet::AddressText(record->address)) + ": " + (why.empty() ? kAddressForm : why));
}

UdpSerialPath::UdpSerialPath(SerialPort& port, EcomLinkState& link, const std::int16_t& station,
                             std::function<void()> commComplete, EventLoop& loop, TagDatabase& tags)
    // The words stay in CcmWords as they came for ReadData; no value buffer of its own.
    : link_(link), station_(station), tags_(tags), engine_(port, link.Line, loop, dnet::EngineRules{0, false}) {
  engine_.Events.CommComplete = std::move(commComplete);
}

Result UdpSerialPath::Failed(std::string why) {
  cause_ = std::move(why);
  return ResultFailed;
}

Result UdpSerialPath::Refused(std::string why) {
  link_.Line.ErrorText = why;
  return Failed(std::move(why));
}

dnet::ResolvedAddress UdpSerialPath::Target(std::int32_t headerAddress, bool bit,
                                            std::optional<std::int16_t> station) const {
  return dnet::ResolvedAddress{station.value_or(station_), dnet::MemoryAddress{headerAddress, bit, 0}, {},
                               headerAddress};
}

Result UdpSerialPath::Read(const Variant& Address, Variant& ReadValue, std::int32_t count, std::int16_t ioType,
                           std::int32_t ioIdx) {
  cause_.clear();
  if (count > dnet::kMaxWords) return Failed(dnet::CountBeyondLimit(count));
  const auto address = SerialHeaderAddress(Address, tags_);
  if (!address.address) return Failed(address.refusal);
  if (ioType == dnet::kBitIoType) {
    if (std::string refusal = dnet::BitIndexRefusal(ioIdx); !refusal.empty()) return Failed(refusal);
  }
  dnet::ReadWordArray words{};
  if (!engine_.WaitingRead(Target(*address.address, false), count, {}, &words)) return Failed(engine_.Failure());
  std::string refusal;
  if (!dnet::StoreReadValue(words, count, ioType == ioBCD ? 0 : ioType, ioIdx, ReadValue, &refusal))
    return Failed(!refusal.empty() ? refusal
                                   : "ReadValue cannot take every value read (an array too small, or of a type the values do not fit)");
  return ResultOk;
}

Result UdpSerialPath::StartRead(const Variant& Address, std::int32_t count) {
  cause_.clear();
  const auto address = SerialHeaderAddress(Address, tags_);
  if (!address.address) return Failed(address.refusal);
  if (!engine_.StartRead(station_, *address.address, count)) return Failed(engine_.Failure());
  return ResultOk;
}

Result UdpSerialPath::WritePLC(const Variant& pstr, const Variant& values, std::int32_t writeSize,
                               Opt<std::int16_t>& IOType, std::optional<std::int16_t> station) {
  cause_.clear();
  std::int16_t ioType = IOType.ValueOr(ioWord);
  Variant address = pstr;
  if (pstr.IsNumeric() || (pstr.IsString() && dnet::IsDigitText(pstr.ToString()))) {
    ioType = ioWord;
  } else {
    // A "b" marks a set/reset and ends the address; a tag is looked up by its whole name first.
    const dnet::BitMark mark = dnet::FindBitMark(pstr, tags_);
    if (mark.form == dnet::BitMark::Form::Unreadable) return Failed(dnet::UnreadableMarkRefusal(pstr));
    if (mark.form == dnet::BitMark::Form::Marked) {
      IOType.Put(kIoSetReset);
      if (!mark.bit.empty()) return Refused(dnet::BitOfAWordRefusal(pstr.ToString(), mark.bit));
      address = Variant(mark.address);
      ioType = kIoSetReset;
    }
  }
  IOType.Put(ioType);
  return Write(address, values, writeSize, ioType == kIoSetReset, pstr, station);
}

Result UdpSerialPath::WritePLCBit(const Variant& pstr, const Variant& values, std::int32_t writeSize) {
  cause_.clear();
  return Write(pstr, values, writeSize, true, pstr);
}

Result UdpSerialPath::Write(const Variant& address, const Variant& values, std::int32_t writeSize, bool setReset,
                            const Variant& pstr, std::optional<std::int16_t> station) {
  const auto header = SerialHeaderAddress(address, tags_);
  if (!header.address) {
    // Not even as an address before its "b": the text as given is what was not understood.
    const auto whole = SerialHeaderAddress(pstr, tags_);
    return Failed(whole.address ? header.refusal : whole.refusal);
  }
  std::vector<std::int32_t> words;
  bool set = false;
  if (setReset) {
    if (*header.address < kFirstSetReset || *header.address > kLastSetReset)
      return Refused("a set or reset reaches only C points, header addresses " + dnet::HexAddress(kFirstSetReset) +
                     " to " + dnet::HexAddress(kLastSetReset) + "; " + dnet::HexAddress(*header.address) +
                     " is none (its header would name no bit)");
    const std::string point = dnet::HexAddress(*header.address) + " (C" +
                              dnet::OctalDigits(*header.address - kFirstSetReset) + ")";
    if (std::string run = dnet::SetResetRunRefusal(writeSize, point); !run.empty()) return Refused(run);
    std::string why;
    const auto setOrReset = dnet::SetOrReset(values, &why);
    if (!setOrReset) return Failed(why);
    set = *setOrReset;
  } else {
    auto packed = dnet::WriteWords(values, std::max(writeSize, 1));
    if (!packed.words) return Failed(packed.refusal);
    words = std::move(*packed.words);
  }
  if (!engine_.RunWrite(Target(*header.address, setReset, station), words, set, writeSize))
    return Failed(engine_.Failure());
  return ResultOk;
}

}  // namespace plc::ecom
