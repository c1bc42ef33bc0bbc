#pragma once
// Why a read or write of RtuLink failed, in words a user can act on. Pure text builders: the
// engine and the call road pick the one that fits and keep it as the failure cause. ReadErrors
// keeps its classic texts ("CRC error", "Read error"); these say the rest.
#include <cstdint>
#include <optional>
#include <string>

#include "modbus/MasterReply.h"
#include "modbus/Pdu.h"
#include "modbus/ReferenceMap.h"
#include "modbus/Requests.h"

namespace plc::modbus {

// The largest quantities one request of this control carries (the Modbus maxima of Pdu.h); a
// larger count is refused before anything is sent.
constexpr auto kReadRegisterLimit = static_cast<std::int32_t>(kMaxReadRegisters);
constexpr auto kReadBitLimit = static_cast<std::int32_t>(kMaxReadBits);
// EnType2 32-bit values: two registers each.
constexpr std::int32_t kReadPairLimit = kReadRegisterLimit / 2;
constexpr auto kWriteRegisterLimit = static_cast<std::int32_t>(kMaxWriteRegisters);
constexpr auto kWriteBitLimit = static_cast<std::int32_t>(kMaxWriteBits);

// otherUnit: a unit that answered the request instead, which is what a user must hear;
// unfinished: the reply that began and never ended, said in place of no reply at all.
std::string NoReplyCause(std::int32_t unit, std::int64_t seconds, std::optional<std::uint8_t> otherUnit = {},
                         std::optional<UnfinishedReply> unfinished = {});
std::string NoAcknowledgementCause(std::int32_t unit, std::int64_t seconds, std::optional<std::uint8_t> otherUnit = {},
                                   std::optional<UnfinishedReply> unfinished = {});
std::string ChecksumCause(std::int32_t unit, Framing framing);
std::string ExceptionCause(std::int32_t unit, std::uint8_t code);
std::string RejectedCause(std::int32_t unit, ReplyError error);
std::string BusyCause();
std::string HostWriteCause();
std::string PortClosedCause(std::int16_t commPort);
// The port closed under a request out on it ("the read waited for its reply").
std::string PortClosedWhileCause(std::int16_t commPort, const std::string& what);
std::string PortWriteCause(std::int16_t commPort, const std::string& what);

// A reference the PLCType maps to no function for this access, or to an offset outside
// 0..65535: the reference, and the references that do work.
std::string UnmappedCause(std::int32_t plcType, std::int32_t reference, Access access);

// A count of points outside 1..the limit of its request; nullopt when it fits.
std::optional<std::string> ReadCountCause(const ReferenceMapping& mapping, std::int32_t count);
std::optional<std::string> WriteCountCause(const ReferenceMapping& mapping, std::int32_t count);

// A value that cannot go out as written to what the mapping addresses (a register takes a
// whole number 0..65535, a coil a whole number, nonzero for on); nullopt when it fits.
std::optional<std::string> WriteValueCause(const ReferenceMapping& mapping, double value);

// A request the framing refused (a unit outside 0..255 and the like).
std::string EncodeCause(EncodeError error, const Request& request);

// A number as a user wrote it: whole numbers without a point, others with as few digits as
// keep the value.
std::string NumberText(double value);

}  // namespace plc::modbus
