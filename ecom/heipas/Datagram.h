#pragma once
// The datagrams between the project's hei_pas client and an ECOM module (simulated or one that
// speaks this format). Pure functions: no socket, no clock.
//
// Every datagram, all numbers little-endian:
//
//   offset size  field
//   0      2     magic "EC" (45h 43h)
//   2      1     version, 1
//   3      1     kind: 01h query, 81h query reply, 02h CCM request, 82h CCM reply
//   4      4     sequence number, chosen by the client and echoed in the reply
//   8      1     module ID: in a request the ID addressed (0 in a query: any module), in a
//                reply the ID of the module that answers
//   9      1     status: 0 in a request; in a reply 0 or a module error (ModuleStatus)
//   10     2     body length L
//   12     L     body (by kind, below)
//   12+L   2     Fletcher-16 of bytes 0 .. 11+L (low byte: sum1, high byte: sum2)
//
// Bodies:
//   query          empty
//   query reply    device type (1: ECOM), name length N (0..32), N name bytes
//   CCM request    write flag (0 read, 1 write), data type (31h, 32h, 33h), address (16-bit),
//                  length in bytes (0..1001), then for a write the length's data bytes
//   CCM reply      the request's four fields, then for a good read the length's data bytes;
//                  a write, or any reply with a non-zero status, carries no data
//
// A datagram is at most kMaxDatagram bytes; anything longer, shorter than a header and check,
// or inconsistent in any field above is refused by Parse.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace heipas {

constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kCheckSize = 2;
constexpr std::size_t kMaxCcmLength = 1001;  // the caller's CCM buffer holds 1001 bytes
constexpr std::size_t kMaxName = 32;
constexpr std::size_t kMaxDatagram = 1024;

enum class Kind : std::uint8_t { Query = 0x01, QueryReply = 0x81, Ccm = 0x02, CcmReply = 0x82 };

// Module errors a CCM reply can carry.
enum ModuleStatus : std::uint8_t { StatusOk = 0, StatusBadDataType = 1, StatusBadLength = 2, StatusBadAddress = 3 };

struct Datagram {
  Kind kind = Kind::Query;
  std::uint32_t sequence = 0;
  std::uint8_t moduleId = 0;
  std::uint8_t status = 0;
  // Query reply.
  std::uint8_t deviceType = 0;
  std::string name{};
  // CCM request and reply.
  std::uint8_t write = 0;
  std::uint8_t dataType = 0;
  std::uint16_t address = 0;
  std::uint16_t length = 0;
  std::vector<std::uint8_t> data{};
  bool operator==(const Datagram&) const = default;
};

// The bytes of a datagram. Throws std::invalid_argument for a datagram Parse would refuse
// (a name over 32 bytes, data that disagrees with the length, a length over 1001).
std::vector<std::uint8_t> Encode(const Datagram& d);

// The datagram in bytes, or nullopt when they are not one (see above). Reads only within bytes.
std::optional<Datagram> Parse(std::span<const std::uint8_t> bytes);

// Fletcher-16 (sums modulo 255) of bytes: sum1 in the low byte, sum2 in the high byte.
std::uint16_t Fletcher16(std::span<const std::uint8_t> bytes);

}  // namespace heipas
