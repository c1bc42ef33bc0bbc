#include "ecom/EcomRequests.h"

#include <algorithm>
#include <vector>

#include "base/Enums.h"
#include "frame/WallSeconds.h"
#include "directnet/AddressRoad.h"
#include "directnet/AddressTexts.h"
#include "directnet/BitWrites.h"
#include "directnet/ReadValues.h"

namespace plc::ecom {
namespace {

constexpr std::int64_t kBusyWaitSeconds = 2;
constexpr std::int16_t kIoSetReset = 1;
// ReadData's last index.
constexpr std::int32_t kLastCcmWord = static_cast<std::int32_t>(kCcmBufferSize) - 1;

// Clears the busy flag however the request ends.
struct BusyFlag {
  EcomLinkState& link;
  ~BusyFlag() { link.EcomBusy = false; }
};

}  // namespace

void EcomRequests::TakeBusyFlag() {
  if (link_.EcomBusy) {
    const bool freed = WaitSeconds(loop_, [this] { return !link_.EcomBusy; }, WallNow(loop_), kBusyWaitSeconds);
    if (!freed) link_.ResetAfterBusyWait();
  }
  link_.EcomBusy = true;
}

Result EcomRequests::Refuse(std::string currentErrors, std::string cause) {
  link_.ErrorText = std::move(currentErrors);
  cause_ = std::move(cause);
  return ResultFailed;
}

std::optional<EcomAddress> EcomRequests::Resolve(const Variant& address) {
  EcomResolution r = ResolveEcomAddress(address, defaultStation_);
  if (!r.address) Refuse("Error: " + r.refusal, r.refusal);
  return r.address;
}

bool EcomRequests::Request(const EcomAddress& address, std::int32_t size, const Variant& values, bool write) {
  CcmForm& form = link_.Form();
  // The resolver keeps the station within the map, so the transport's range error cannot come.
  form.EtherCCMRead(address.station, address.target.address, size, values, address.target.dataType, write,
                    link_.ErrorText);
  if (link_.ErrorText.empty()) return true;
  cause_ = link_.ErrorText;
  if (!form.FailureDetail().empty()) cause_ += " (" + form.FailureDetail() + ")";
  return false;
}

Result EcomRequests::Read(const Variant& Address, Variant* storeInto, std::int32_t readSize, Opt<std::int16_t> IOType,
                          Opt<std::int32_t> ioIdx) {
  cause_.clear();
  TakeBusyFlag();
  BusyFlag release{link_};
  const auto address = Resolve(Address);
  if (!address) return ResultFailed;
  const CcmTarget& target = address->target;
  // A register read asks for its words; a bit read for the bytes its points lie in.
  std::int32_t size = readSize;
  if (target.bit) {
    IOType.Put(dnet::kBitIoType);
    ioIdx.Put(target.bitIndex);
    // The points after the last of the area are another area's: never handed over as these.
    const std::int32_t last = LastEcomNumber(address->type);
    if (readSize > 1 && std::int64_t{address->number} + readSize - 1 > last) {
      const std::string why = std::to_string(readSize) + " points from " + address->type +
                              dnet::OctalDigits(address->number) + " run past " + address->type +
                              dnet::OctalDigits(last) + ", the last " + address->type + " point";
      return Refuse("Error: " + why, "address '" + ShownText(Address) + "': " + why);
    }
    if (!storeInto && readSize > kLastCcmWord) {
      const std::string why = "ReadSize " + std::to_string(readSize) + " asks for " + std::to_string(readSize) +
                              " points, and ReadData holds " + std::to_string(kLastCcmWord);
      return Refuse("Error: " + why, why);
    }
    if (readSize >= 1) size = (target.bitIndex + readSize + 7) / 8;
  } else if (storeInto && IOType.ValueOr(ioWord) == dnet::kBitIoType) {
    // A bit past the word would be taken from a word this read never asked for.
    if (std::string why = dnet::BitIndexRefusal(ioIdx.ValueOr(0)); !why.empty()) return Refuse("Error: " + why, why);
  }
  if (!Request(*address, size, Variant(), false)) return ResultFailed;
  if (!storeInto) {
    // ReadData gives a non-waiting read's points one by one, as it gives a word read's words.
    if (target.bit) {
      CcmWordArray& words = link_.CcmWords();
      std::vector<std::int32_t> points;
      for (std::int32_t k = 1; k <= readSize; ++k) points.push_back(dnet::WalkBit(words, target.bitIndex, k));
      std::copy(points.begin(), points.end(), words.begin() + 1);
    }
    return ResultOk;
  }
  // UdpLink has no BCD form: ioBCD gives the words themselves.
  std::int16_t ioType = target.bit ? dnet::kBitIoType : IOType.ValueOr(ioWord);
  if (ioType == ioBCD) ioType = ioWord;
  const std::int32_t bit = target.bit ? target.bitIndex : ioIdx.ValueOr(0);
  std::string refusal;
  if (!dnet::StoreReadValue(link_.CcmWords(), readSize, ioType, bit, *storeInto, &refusal)) {
    if (!refusal.empty()) return Refuse("Error: " + refusal, refusal);
    const std::int32_t values = ioType == ioFloat ? readSize / 2 : readSize;
    return Refuse("Error: ReadValue has no room for the " + std::to_string(values) + " values read",
                  "ReadValue has no room for the " + std::to_string(values) +
                      " values read (an array from index 1 to at least " + std::to_string(values) + " takes them)");
  }
  return ResultOk;
}

Result EcomRequests::Write(const Variant& pstr, const Variant& values, std::int32_t writeSize, Opt<std::int16_t> IOType,
                           Opt<std::int32_t> ioIdx) {
  cause_.clear();
  // Digits as text are a number too, as the serial path reads them.
  if (pstr.IsNumeric() || (pstr.IsString() && dnet::IsDigitText(pstr.ToString()))) {
    IOType.Put(ioWord);
  } else if (const dnet::BitMark mark = dnet::FindBitMark(pstr); mark.form == dnet::BitMark::Form::Unreadable) {
    const std::string why = dnet::UnreadableMarkRefusal(pstr);
    return Refuse("Error: " + why, why);
  } else if (mark.form == dnet::BitMark::Form::Marked) {
    IOType.Put(kIoSetReset);
    // A name that is no address even before its "b" is refused as the name it is.
    if (EcomResolution cut = ResolveEcomAddress(Variant(mark.address), defaultStation_); !cut.address) {
      const std::string why = ResolveEcomAddress(pstr, defaultStation_).refusal;
      return Refuse("Error: " + why, why);
    }
    // The classic road cuts the address at its "b" and writes the word there: every other bit
    // of it would be overwritten.
    return Refuse("Error: the single-bit write " + ShownText(pstr) + " is not available in ECOM mode",
                  "the single-bit write '" + ShownText(pstr) +
                      "' is not available in ECOM mode: a CCM write sends whole words, so it would "
                      "overwrite the other bits of the word");
  }
  TakeBusyFlag();
  BusyFlag release{link_};
  const auto address = Resolve(pstr);
  if (!address) return ResultFailed;
  const CcmTarget& target = address->target;
  if (target.bit) {
    IOType.Put(dnet::kBitIoType);
    ioIdx.Put(target.bitIndex);
    const std::int32_t first = address->number - target.bitIndex;
    const std::string text = ShownText(pstr);
    return Refuse("Error: a write to the bit address " + text + " is not available in ECOM mode",
                  "a write to the bit address '" + text +
                      "' is not available in ECOM mode: a CCM write sends whole bytes, so it would set " +
                      address->type + dnet::OctalDigits(first) + ".." + address->type + dnet::OctalDigits(first + 7) +
                      " all at once");
  }
  // Other letters read as V-memory; a write there would put the value in V-memory for a
  // mistyped type ("YY,5" is V5).
  if (!address->type.empty() && address->type != "V") {
    const std::string why = "address '" + ShownText(pstr) + "' not understood: '" + address->type +
                            "' is no memory type a write goes to (V; other letters are read as V-memory, never written)";
    return Refuse("Error: " + why, why);
  }
  return Request(*address, writeSize, values, true) ? ResultOk : ResultFailed;
}

}  // namespace plc::ecom
