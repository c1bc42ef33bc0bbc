#pragma once
// UdpLink's ECOM reads and writes: the 2-s wait for the busy flag, the address road, one
// EtherCCMRead, and the values stored into the caller's variable. Never raises an error for a
// communication problem or a bad address: the result is 0 and CurrentErrors tells why.
#include <cstdint>
#include <optional>

#include "core/Opt.h"
#include "core/ResultCodes.h"
#include "core/Variant.h"
#include "ecom/EcomAddress.h"
#include "ecom/EcomLinkState.h"
#include "platform/EventLoop.h"

namespace plc::ecom {

class EcomRequests {
 public:
  EcomRequests(EcomLinkState& link, EventLoop& loop) : link_(link), loop_(loop) {}

  // A waiting read of readSize words (bits for a bit-type address, which sets IOType to 18 and
  // ioIdx to the bit). storeInto null: the words stay in CcmWords only (non-waiting reads).
  Result Read(const Variant& Address, Variant* storeInto, std::int32_t readSize, Opt<std::int16_t> IOType,
              Opt<std::int32_t> ioIdx);
  // A write of writeSize words from values (an array from index 1, or one value); fixedPoint
  // (ioFloat) writes each of writeSize / 2 values as two registers, whole part then
  // ten-thousandths.
  Result Write(const Variant& pstr, const Variant& values, std::int32_t writeSize, bool fixedPoint);

 private:
  // Waits up to 2 s for the busy flag, then takes it.
  void TakeBusyFlag();
  // The address resolved, or nothing with the text in CurrentErrors.
  std::optional<EcomAddress> Resolve(const Variant& address);
  void Store(Variant& ReadValue, std::int32_t readSize, std::int16_t ioType, std::int32_t bit) const;

  EcomLinkState& link_;
  EventLoop& loop_;
};

}  // namespace plc::ecom
