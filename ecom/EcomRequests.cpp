#include "ecom/EcomRequests.h"

#include "core/Enums.h"
#include "core/RuntimeError.h"
#include "core/WallSeconds.h"
#include "directnet/AddressRoad.h"
#include "directnet/ReadValues.h"

namespace plc::ecom {
namespace {

constexpr std::int64_t kBusyWaitSeconds = 2;
constexpr std::int16_t kIoSetReset = 1;

// Clears the busy flag however the request ends.
struct BusyFlag {
  EcomLinkState& link;
  ~BusyFlag() { link.EcomBusy = false; }
};

std::string Octal(std::int32_t n) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + n % 8));
    n /= 8;
  } while (n > 0);
  return digits;
}

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
  EcomResolution r = ResolveEcomAddress(address, link_.Line.DefaultStation);
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
  if (target.bit) {
    IOType.Put(dnet::kBitIoType);
    ioIdx.Put(target.bitIndex);
  }
  if (!Request(*address, readSize, Variant(), false)) return ResultFailed;
  if (!storeInto) return ResultOk;
  // UdpLink has no BCD form: ioBCD gives the words themselves.
  std::int16_t ioType = target.bit ? dnet::kBitIoType : IOType.ValueOr(ioWord);
  if (ioType == ioBCD) ioType = ioWord;
  const std::int32_t bit = target.bit ? target.bitIndex : ioIdx.ValueOr(0);
  if (!dnet::StoreReadValue(link_.CcmWords(), readSize, ioType, bit, *storeInto)) {
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
  } else if (const std::string text = pstr.IsString() ? pstr.ToString() : std::string();
             text.find_first_of("bB") != std::string::npos && !TagRecordOfName(text)) {
    // The classic road cuts the address at its "b" and writes the word there: every other bit
    // of it would be overwritten.
    IOType.Put(kIoSetReset);
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
                      address->type + Octal(first) + ".." + address->type + Octal(first + 7) + " all at once");
  }
  return Request(*address, writeSize, values, true) ? ResultOk : ResultFailed;
}

}  // namespace plc::ecom
