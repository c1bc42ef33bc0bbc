#pragma once
// UdpLink's serial modes (KSeq, DIrectNet): the DirectNET engine of directnet/ over the control's
// serial child, with UdpLink's own addressing. An address is the header word address itself: a
// number (or text of digits) taken as it stands, with no octal reading and no memory type, or a
// tag name whose stored address is such a number. Address strings ("station;TYPE,number") are
// not read on this path, and there are no bit-type addresses; the station is always the
// control's own Address. The engine runs over the thread's UdpLink state
// (ecom/EcomLinkState.h): its words are CcmWords and its call flags are those of the ECOM
// requests too.
//
// Writes send the host's values as the words they are (ioFloat pairs too: whole part, then
// ten-thousandths, as the host gives them), each a whole number in 0..65535. A set/reset
// reaches only C points (header addresses F000h to F3FFh); elsewhere its header would name no
// bit among eight, and it is refused, as is a bit number after "b" ("1024b3").
//
// Nothing here raises an error to the host: an address or value that cannot be sent ends as 0
// with no traffic, as a station that does not answer does after 2 s, and Cause() says why.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Opt.h"
#include "base/ResultCodes.h"
#include "frame/TagDatabase.h"
#include "base/Variant.h"
#include "directnet/DirectNetEngine.h"
#include "ecom/EcomLinkState.h"

namespace plc::ecom {

class UdpSerialPath {
 public:
  // The engine takes over port's OnComm; a completed non-waiting read calls commComplete.
  // station: the control's own Address (the controls of a thread share the line state, not
  // their stations).
  UdpSerialPath(SerialPort& port, EcomLinkState& link, const std::int16_t& station, std::function<void()> commComplete,
                EventLoop& loop = EventLoop::Current(), TagDatabase& tags = Tags());

  dnet::DirectNetEngine& Engine() { return engine_; }

  // Waiting read of count words into ReadValue (as a SeqLink read stores them, ioType 5 giving
  // the words themselves: UdpLink has no BCD form).
  Result Read(const Variant& Address, Variant& ReadValue, std::int32_t count, std::int16_t ioType, std::int32_t ioIdx);
  // Sends the enquiry of a read of count words; the words arrive in CcmWords, then CommComplete.
  Result StartRead(const Variant& Address, std::int32_t count);
  // WritePLC: writeSize values (doubled already for ioFloat). A numeric address makes IOType 0; a
  // "b" after a non-numeric one that names no tag makes it 1 (a set/reset), as does IOType 1.
  // station: unset, the control's own.
  Result WritePLC(const Variant& pstr, const Variant& values, std::int32_t writeSize, Opt<std::int16_t>& IOType,
                  std::optional<std::int16_t> station = std::nullopt);
  // WritePLCBit: a set (1 or True) or reset (0 or False) of a C point; other values are refused.
  Result WritePLCBit(const Variant& pstr, const Variant& values, std::int32_t writeSize);

  // Why the last call failed; empty after one that succeeded.
  const std::string& Cause() const { return cause_; }
  // Records why a call failed before it reached this path; ResultFailed.
  Result Failed(std::string why);

 private:
  // address: pstr, or what precedes its "b".
  Result Write(const Variant& address, const Variant& values, std::int32_t writeSize, bool setReset,
               const Variant& pstr, std::optional<std::int16_t> station = std::nullopt);
  // As Failed, and the reason is ReadErrors' text too: a write refused for what it asks.
  Result Refused(std::string why);
  dnet::ResolvedAddress Target(std::int32_t headerAddress, bool bit,
                               std::optional<std::int16_t> station = std::nullopt) const;

  EcomLinkState& link_;
  const std::int16_t& station_;
  TagDatabase& tags_;
  dnet::DirectNetEngine engine_;
  std::string cause_;
};

// The header address an Address argument names on this path: a number or digits in 0..65535,
// or a tag name whose stored address is one; for anything else, why not.
struct SerialAddress {
  std::optional<std::int32_t> address;
  std::string refusal;
};
SerialAddress SerialHeaderAddress(const Variant& Address, TagDatabase& tags = Tags());

// Set/reset header addresses: the C points.
inline constexpr std::int32_t kFirstSetReset = 0xF000;
inline constexpr std::int32_t kLastSetReset = 0xF3FF;

}  // namespace plc::ecom
