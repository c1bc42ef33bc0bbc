#pragma once
// DirectNET / K-sequence blocks: the bytes the master sends and the checks on what a station
// answers. Pure functions over bytes; no port, no timer.
//
// A transaction is: enquiry ("K", station + 20h, ENQ) -> station's 3-byte acknowledge ->
// header block (SOH ... ETB LRC) -> station's reply block -> master's ACK -> station's EOT ->
// master's EOT. The LRC of a block is the XOR of the bytes between its opening SOH (or
// reply's first two bytes) and its ETB.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace plc::dnet {

using Bytes = std::vector<std::uint8_t>;

// Control characters.
inline constexpr std::uint8_t ENQ = 0x05;
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t SOH = 0x01;
inline constexpr std::uint8_t STX = 0x02;
inline constexpr std::uint8_t ETB = 0x17;
inline constexpr std::uint8_t NAK = 0x15;
inline constexpr std::uint8_t ETX = 0x03;
inline constexpr std::uint8_t EOT = 0x04;
inline constexpr std::uint8_t TypeByte = 0x01;
inline constexpr std::uint8_t EnquiryLead = 'K';
inline constexpr std::uint8_t ReadCommand = 0x40;
inline constexpr std::uint8_t WriteCommand = 'F';
inline constexpr std::uint8_t SetCommand = 'D';
inline constexpr std::uint8_t ResetCommand = 'E';

inline constexpr std::int32_t kMaxStation = 223;
inline constexpr std::int32_t kMaxWords = 255;
// Reply lengths.
inline constexpr std::size_t kEnquiryReplyLength = 3;
inline constexpr std::size_t kWriteReplyLength = 8;
inline constexpr std::size_t kEotReplyLength = 1;
constexpr std::size_t ReadReplyLength(std::size_t byteCount) { return byteCount + 9; }

// Station s (0..223) travels as s + 20h; nullopt outside.
std::optional<std::uint8_t> StationByte(std::int32_t station);

// XOR of every byte of data.
std::uint8_t XorOf(std::span<const std::uint8_t> data);

// LRCchk(HEADER): XOR of the character codes from the second to the next-to-last, as one
// character; a HEADER of two characters or fewer gives the character 00h.
std::string LRCchk(const std::string& HEADER);

// The blocks the master sends. nullopt when a field cannot be encoded (station outside
// 0..223, address outside 0..FFFFh, count outside 1..255, a value outside 0..65535).
std::optional<Bytes> Enquiry(std::int32_t station);
std::optional<Bytes> ReadHeader(std::int32_t address, std::int32_t count);
// Each value low byte first, then high byte.
std::optional<Bytes> PackWriteWords(std::span<const std::int32_t> values);
// SOH "F" 01 addrHi addrLo n data... ETB LRC: 8 + 2n bytes. count is the number of words the
// data holds.
std::optional<Bytes> WordWriteHeader(std::int32_t address, const Bytes& data);
// SOH "D"/"E" 01 addrHi addrLo ETB LRC.
std::optional<Bytes> SetResetHeader(std::int32_t address, bool set);

// ReplyLRC: XOR of bytes[2] .. bytes[count - 3]; 0 when count < 5 or bytes is shorter.
std::uint8_t ReplyLRC(std::span<const std::uint8_t> bytes, std::size_t count);

// The checks on a station's replies. Every offset is bounds-checked: a reply shorter than its
// layout fails.
// The enquiry reply: ACK from the station enquired of ([1] its station byte). A station that
// took a station byte spoilt on the line for its own answers with its own, and would serve the
// header from its memory.
bool CheckEnquiryReply(std::span<const std::uint8_t> reply, std::uint8_t stationByte);
struct ReadReplyCheck {
  bool acknowledged = false;  // [0] is ACK: the words are taken even if the LRC fails
  bool lrcMatches = false;
  bool Passed() const { return acknowledged && lrcMatches; }
};
ReadReplyCheck CheckReadReply(std::span<const std::uint8_t> reply, std::size_t byteCount);
bool CheckWriteReply(std::span<const std::uint8_t> reply);
bool CheckEotReply(std::span<const std::uint8_t> reply);

// UnpackReadWords: the words from offset 7 on, low byte first, into words[0], [1], ... as many
// as byteCount / 2, as the reply holds, and as words has room for. Returns how many it wrote.
std::size_t UnpackReadWords(std::span<const std::uint8_t> reply, std::size_t byteCount,
                            std::span<std::int32_t> words);

}  // namespace plc::dnet
