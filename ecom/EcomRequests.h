#pragma once
// UdpLink's ECOM reads and writes: the 2-s wait for the busy flag, the address road, one
// EtherCCMRead, and the values stored into the caller's variable. Never raises an error for a
// communication problem or a bad address: the result is 0, CurrentErrors tells what failed
// and Cause why, in a user's words.
#include <cstdint>
#include <optional>
#include <string>

#include "base/Opt.h"
#include "base/ResultCodes.h"
#include "base/Variant.h"
#include "ecom/EcomAddress.h"
#include "ecom/EcomLinkState.h"
#include "platform/EventLoop.h"

namespace plc::ecom {

class EcomRequests {
 public:
  // defaultStation: the Address of the control that asks, for an address naming no station
  // (the thread's controls share the transport, not their stations).
  EcomRequests(EcomLinkState& link, EventLoop& loop, std::int16_t defaultStation)
      : link_(link), loop_(loop), defaultStation_(defaultStation) {}

  // A waiting read of readSize words (bits for a bit-type address, which sets IOType to 18 and
  // ioIdx to the bit). storeInto null: the words stay in CcmWords only (non-waiting reads).
  // A ReadValue array without room for every value fails the read (its first elements hold
  // what fitted).
  Result Read(const Variant& Address, Variant* storeInto, std::int32_t readSize, Opt<std::int16_t> IOType,
              Opt<std::int32_t> ioIdx);
  // WritePLC in ECOM mode: writeSize words from values (an array from index 1, or one value),
  // sent as given. pstr as the caller gave it: a number sets IOType 0; one with a "b" that is
  // no tag name sets IOType 1, and a bit-type address IOType 18 and ioIdx its bit. Both are
  // single bits, which a CCM write cannot send without rewriting their neighbours: refused.
  Result Write(const Variant& pstr, const Variant& values, std::int32_t writeSize, Opt<std::int16_t> IOType,
               Opt<std::int32_t> ioIdx);

  // Why the last call failed; empty after success.
  const std::string& Cause() const { return cause_; }

 private:
  // Waits up to 2 s for the busy flag, then takes it.
  void TakeBusyFlag();
  // The address resolved, or nothing with the failure noted.
  std::optional<EcomAddress> Resolve(const Variant& address);
  // One request through the transport; false with the failure noted.
  bool Request(const EcomAddress& address, std::int32_t size, const Variant& values, bool write);
  Result Refuse(std::string currentErrors, std::string cause);

  EcomLinkState& link_;
  EventLoop& loop_;
  std::int16_t defaultStation_;
  std::string cause_;
};

}  // namespace plc::ecom
