#include "ecom/UdpSerialPath.h"

#include <charconv>

#include "core/Enums.h"
#include "core/IoDataType.h"
#include "core/RuntimeError.h"
#include "directnet/AddressRoad.h"
#include "directnet/Blocks.h"
#include "directnet/ReadValues.h"

namespace plc::ecom {

namespace {

constexpr std::int32_t kLastHeaderAddress = 0xFFFF;

// Digits (blanks around them allowed) as a header address; nullopt for anything else or a
// number no header carries.
std::optional<std::int32_t> DigitAddress(const Variant& v) {
  if (v.IsNumeric()) {
    try {
      const double d = v.ToDouble();
      if (d >= 0 && d <= kLastHeaderAddress) return v.ToInt32();
    } catch (const RuntimeError&) {
    }
    return std::nullopt;
  }
  if (!v.IsString()) return std::nullopt;
  const std::string text = v.ToString();
  if (!dnet::IsDigitText(text)) return std::nullopt;
  const auto first = text.find_first_not_of(' ');
  const auto last = text.find_last_not_of(' ');
  std::int32_t n = 0;
  const auto [end, ec] = std::from_chars(text.data() + first, text.data() + last + 1, n);
  if (ec != std::errc() || end != text.data() + last + 1 || n > kLastHeaderAddress) return std::nullopt;
  return n;
}

}  // namespace

UdpSerialPath::UdpSerialPath(SerialPort& port, EcomLinkState& link, std::function<void()> commComplete,
                             EventLoop& loop, TagDatabase& tags)
    // The words stay in CcmWords as they came for ReadData; no value buffer of its own.
    : link_(link), tags_(tags), engine_(port, link.Line, loop, dnet::EngineRules{0, false}) {
  engine_.Events.CommComplete = std::move(commComplete);
}

std::optional<std::int32_t> SerialHeaderAddress(const Variant& Address, TagDatabase& tags) {
  if (Address.IsArray() || Address.IsEmpty()) return std::nullopt;
  if (auto n = DigitAddress(Address)) return n;
  if (!Address.IsString()) return std::nullopt;
  const std::string name = Address.ToString();
  if (name.find_first_of(";,") != std::string::npos) return std::nullopt;
  const TagRecord* record = TagRecordOfName(name, tags);
  if (!record) return std::nullopt;
  return DigitAddress(record->address);
}

dnet::ResolvedAddress UdpSerialPath::Target(std::int32_t headerAddress, bool bit) const {
  return dnet::ResolvedAddress{link_.Line.DefaultStation, dnet::MemoryAddress{headerAddress, bit, 0}};
}

Result UdpSerialPath::Read(const Variant& Address, Variant& ReadValue, std::int32_t count, std::int16_t ioType,
                           std::int32_t ioIdx) {
  const auto address = SerialHeaderAddress(Address, tags_);
  if (!address) return ResultFailed;
  if (!engine_.WaitingRead(Target(*address, false), count)) return ResultFailed;
  return dnet::StoreReadValue(link_.Line.ReadWords, count, ioType == ioBCD ? 0 : ioType, ioIdx, ReadValue)
             ? ResultOk
             : ResultFailed;
}

Result UdpSerialPath::StartRead(const Variant& Address, std::int32_t count) {
  const auto address = SerialHeaderAddress(Address, tags_);
  if (!address) return ResultFailed;
  return engine_.StartRead(link_.Line.DefaultStation, *address, count) ? ResultOk : ResultFailed;
}

Result UdpSerialPath::Write(const Variant& address, const Variant& values, std::int32_t writeSize, bool setReset,
                            bool fixedPoint) {
  const auto header = SerialHeaderAddress(address, tags_);
  if (!header) return ResultFailed;
  std::vector<std::int32_t> words;
  bool set = false;
  if (setReset) {
    try {
      const Variant& v = values.IsArray() ? values.Array().Get(1) : values;
      set = v.ToDouble() == 1.0;
    } catch (const RuntimeError&) {
      return ResultFailed;  // nothing to tell set from reset
    }
  } else {
    auto packed = SerialWriteWords(values, std::max(writeSize, 1), fixedPoint);
    if (!packed) return ResultFailed;
    words = std::move(*packed);
  }
  return engine_.RunWrite(Target(*header, setReset), words, set, writeSize) ? ResultOk : ResultFailed;
}

std::optional<std::vector<std::int32_t>> SerialWriteWords(const Variant& values, std::int32_t count, bool fixedPoint) {
  const std::int32_t wanted = fixedPoint ? std::max(count / 2, 1) : count;
  if (!values.IsArray() && wanted > 1) return std::nullopt;
  std::vector<std::int32_t> words;
  for (std::int32_t k = 1; k <= wanted; ++k) {
    if (values.IsArray() && !values.Array().Contains(k)) return std::nullopt;
    const Variant& v = values.IsArray() ? values.Array().Get(k) : values;
    if (fixedPoint) {
      try {
        const FixedPointWords fp = FixedPointWrite(v.ToDouble());
        words.push_back(RegisterWord(fp.whole));
        words.push_back(fp.fraction);
      } catch (const RuntimeError&) {
        return std::nullopt;
      }
      continue;
    }
    const auto whole = WholeIn(v, -32768, 65535);
    if (!whole) return std::nullopt;
    words.push_back(static_cast<std::uint16_t>(*whole));
  }
  return words;
}

}  // namespace plc::ecom
