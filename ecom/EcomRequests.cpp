#include "ecom/EcomRequests.h"

#include "core/Enums.h"
#include "core/IoDataType.h"
#include "core/RuntimeError.h"
#include "core/WallSeconds.h"
#include "directnet/ReadValues.h"
#include "ecom/EcomAddress.h"

namespace plc::ecom {
namespace {

constexpr std::int64_t kBusyWaitSeconds = 2;

// Clears the busy flag however the request ends.
struct BusyFlag {
  EcomLinkState& link;
  ~BusyFlag() { link.EcomBusy = false; }
};

// Element k of the caller's array (from index 1) or, for a variable that is no array, the
// variable itself for k = 1. False when the array has no element k.
bool Put(Variant& target, std::int32_t k, const Variant& value) {
  if (!target.IsArray()) {
    if (k == 1) target = value;
    return k == 1;
  }
  if (!target.Array().Contains(k)) return false;
  target.Array().Set(k, value);
  return true;
}

}  // namespace

void EcomRequests::TakeBusyFlag() {
  if (link_.EcomBusy) {
    const bool freed = WaitSeconds(loop_, [this] { return !link_.EcomBusy; }, WallNow(loop_), kBusyWaitSeconds);
    if (!freed) link_.ResetAfterBusyWait();
  }
  link_.EcomBusy = true;
}

std::optional<EcomAddress> EcomRequests::Resolve(const Variant& address) {
  auto resolved = ResolveEcomAddress(address, link_.Line.DefaultStation);
  if (!resolved) link_.ErrorText = "Error: invalid PLC address " + address.ToString();
  return resolved;
}

Result EcomRequests::Read(const Variant& Address, Variant* storeInto, std::int32_t readSize, Opt<std::int16_t> IOType,
                          Opt<std::int32_t> ioIdx) {
  TakeBusyFlag();
  BusyFlag release{link_};
  const auto address = Resolve(Address);
  if (!address) return ResultFailed;
  const CcmTarget target = MapEcomType(address->type, address->number);
  std::int16_t ioType = IOType.ValueOr(0);
  if (target.bit) {
    ioType = dnet::kBitIoType;
    IOType.Put(ioType);
    ioIdx.Put(target.bitIndex);
  }
  const std::int32_t bit = target.bit ? target.bitIndex : ioIdx.ValueOr(0);
  try {
    link_.Form().EtherCCMRead(address->station, target.address, readSize, Variant(), target.dataType, false,
                              link_.ErrorText);
  } catch (const RuntimeError&) {
    link_.ErrorText = "Error: invalid device address " + std::to_string(address->station);
  }
  if (!link_.ErrorText.empty()) return ResultFailed;
  if (storeInto) {
    try {
      Store(*storeInto, readSize, ioType, bit);
    } catch (const RuntimeError& e) {
      link_.ErrorText = std::string("Error: the values read do not fit ReadValue: ") + e.what();
      return ResultFailed;
    }
  }
  return ResultOk;
}

void EcomRequests::Store(Variant& ReadValue, std::int32_t readSize, std::int16_t ioType, std::int32_t bit) const {
  const auto& words = link_.CcmWords();
  auto word = [&](std::int32_t k) { return k >= 1 && k < static_cast<std::int32_t>(words.size()) ? words[k] : 0; };
  if (ioType == dnet::kBitIoType) {
    if (readSize < 2) {
      Put(ReadValue, 1, Variant(std::int32_t{(word(1) >> (bit & 15)) & 1}));
      return;
    }
    std::int32_t b = bit & 15, w = 1;
    for (std::int32_t k = 1; k <= readSize; ++k) {
      if (!Put(ReadValue, k, Variant(std::int32_t{(word(w) >> b) & 1}))) return;
      if (++b == 16) {
        b = 0;
        ++w;
      }
    }
    return;
  }
  if (ioType == ioFloat) {
    if (!ReadValue.IsArray()) {
      ReadValue = Variant(FixedPointRead(static_cast<std::uint16_t>(word(1)), static_cast<std::uint16_t>(word(2))));
      return;
    }
    for (std::int32_t k = 1; k <= readSize / 2; ++k) {
      const double v = FixedPointRead(static_cast<std::uint16_t>(word(2 * k - 1)), static_cast<std::uint16_t>(word(2 * k)));
      if (!Put(ReadValue, k, Variant(v))) return;
    }
    return;
  }
  if (readSize < 2) {
    Put(ReadValue, 1, Variant(word(1)));
    return;
  }
  if (!ReadValue.IsArray()) ReadValue = Variant(VariantArray(0, readSize));
  VariantArray& array = ReadValue.Array();
  if (array.ElementType() == VarType::Empty && array.Contains(1) && array.Contains(readSize)) {
    // An array of variants that holds them all: straight in, one bounds check for the lot.
    auto span = array.Range(1, readSize);
    for (std::int32_t k = 1; k <= readSize; ++k) span[static_cast<std::size_t>(k - 1)] = Variant(word(k));
    return;
  }
  for (std::int32_t k = 1; k <= readSize; ++k) {
    if (!Put(ReadValue, k, Variant(word(k)))) return;
  }
}

Result EcomRequests::Write(const Variant& pstr, const Variant& values, std::int32_t writeSize, bool fixedPoint) {
  TakeBusyFlag();
  BusyFlag release{link_};
  const auto address = Resolve(pstr);
  if (!address) return ResultFailed;
  const CcmTarget target = MapEcomType(address->type, address->number);
  Variant words = values;
  if (fixedPoint && target.dataType == kRegisters) {
    // Each value becomes its whole part and its ten-thousandths, as a read of ioFloat takes them.
    const std::int32_t count = writeSize / 2;
    VariantArray pairs(1, std::max(2 * count, 1));
    try {
      for (std::int32_t k = 1; k <= count; ++k) {
        const Variant& v = values.IsArray() ? values.Array().Get(k) : values;
        if (!values.IsArray() && k > 1) throw RuntimeError(err::Subscript);
        const FixedPointWords fp = FixedPointWrite(v.ToDouble());
        pairs.Set(2 * k - 1, Variant(std::int32_t{RegisterWord(fp.whole)}));
        pairs.Set(2 * k, Variant(fp.fraction));
      }
    } catch (const RuntimeError& e) {
      link_.ErrorText = std::string("Error: a value to write cannot be sent: ") + e.what();
      return ResultFailed;
    }
    words = Variant(std::move(pairs));
  }
  try {
    link_.Form().EtherCCMRead(address->station, target.address, writeSize, words, target.dataType, true,
                              link_.ErrorText);
  } catch (const RuntimeError&) {
    link_.ErrorText = "Error: invalid device address " + std::to_string(address->station);
  }
  return link_.ErrorText.empty() ? ResultOk : ResultFailed;
}

}  // namespace plc::ecom
