#pragma once
// UdpLink's serial modes (KSeq, DIrectNet): the DirectNET engine of directnet/ over the control's
// serial child, with UdpLink's own addressing. An address is the header word address itself: a
// number (or text of digits) taken as it stands, with no octal reading and no memory type, or a
// tag name whose stored address is such a number. Address strings ("station;TYPE,number") are
// not read on this path, and there are no bit-type addresses; the station is always the default
// one. The engine runs over the thread's UdpLink state (ecom/EcomLinkState.h): its words are
// CcmWords and its call flags are those of the ECOM requests too.
//
// Nothing here raises an error to the host: an address or value that cannot be sent ends as 0
// with no traffic, as a station that does not answer does after 2 s.
#include <cstdint>
#include <optional>
#include <vector>

#include "core/ResultCodes.h"
#include "core/TagDatabase.h"
#include "core/Variant.h"
#include "directnet/DirectNetEngine.h"
#include "ecom/EcomLinkState.h"

namespace plc::ecom {

class UdpSerialPath {
 public:
  // The engine takes over port's OnComm; a completed non-waiting read calls commComplete.
  UdpSerialPath(SerialPort& port, EcomLinkState& link, std::function<void()> commComplete,
                EventLoop& loop = EventLoop::Current(), TagDatabase& tags = Tags());

  dnet::DirectNetEngine& Engine() { return engine_; }

  // Waiting read of count words into ReadValue (as a SeqLink read stores them, ioType 5 giving
  // the words themselves: UdpLink has no BCD form).
  Result Read(const Variant& Address, Variant& ReadValue, std::int32_t count, std::int16_t ioType, std::int32_t ioIdx);
  // Sends the enquiry of a read of count words; the words arrive in CcmWords, then CommComplete.
  Result StartRead(const Variant& Address, std::int32_t count);
  // A set/reset (setReset: value 1 sets, anything else resets) or a word write of writeSize
  // values; fixedPoint (ioFloat) sends each of writeSize / 2 values as whole part and
  // ten-thousandths.
  Result Write(const Variant& address, const Variant& values, std::int32_t writeSize, bool setReset, bool fixedPoint);

 private:
  dnet::ResolvedAddress Target(std::int32_t headerAddress, bool bit) const;

  EcomLinkState& link_;
  TagDatabase& tags_;
  dnet::DirectNetEngine engine_;
};

// The header address an Address argument names on this path: a number or digits in 0..65535,
// or a tag name whose stored address is one; nullopt for anything else.
std::optional<std::int32_t> SerialHeaderAddress(const Variant& Address, TagDatabase& tags = Tags());

// The words of a word write: elements 1..count of an array, or the one value; each a whole
// number in -32768..65535 (a negative one as its 16-bit pattern). fixedPoint: count / 2 values,
// each as two words. nullopt when a value is missing or does not fit.
std::optional<std::vector<std::int32_t>> SerialWriteWords(const Variant& values, std::int32_t count, bool fixedPoint);

}  // namespace plc::ecom
