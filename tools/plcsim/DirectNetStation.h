#pragma once
// A simulated DirectLOGIC station on a DirectNET / K-sequence line, as protocol logic only:
// bytes from the master go in, the station's answers come out. Written from the block layouts
// the station must answer (not from the master's code), so that it checks the master from the
// outside.
//
// It answers an enquiry "K" (station + 20h) ENQ with "N" (station + 20h) ACK; a read header
// (SOH 40h 01 addr addr n ETB LRC) with ACK STX, a five-byte reply header, the n words low
// byte first, ETX and the LRC of bytes 2 .. 2n+6; a word-write header (SOH "F" ...) or a
// set/reset header (SOH "D"/"E" ...) with the 8-byte write acknowledge; the master's ACK with
// EOT; and the master's closing EOT by getting ready for the next enquiry. A header whose ETB or
// LRC or type byte is wrong, that reads no words, or that names memory the station does not
// have, is answered with NAK.
//
// Memory, by header address, as the address mapping lays it out:
//   0000h-3FFFh  words (V0-V37777; T n at n, CT n at 200h + n)
//   4000h-41FFh  bits, eight to a header address: GX 4000h, GY 4080h, X 4100h, Y 4140h, C 4180h
//                (X10 is 4101h bit 0). The area is byte-addressed: a read of n words at A
//                returns the bytes A .. A + 2n - 1, two to a word, low byte first; a word write
//                stores them the same way.
//   4200h-7FFFh  words (S n at 4200h + n, SP n at 4280h + n, V41000-V77777)
//   F000h-F3FFh  set/reset only: "D" sets, "E" resets point C n at F000h + n (byte 4180h + n/8,
//                bit n mod 8). There is no set/reset anywhere else.
// A request that runs past the end of its area is refused as a whole.
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace plc::sim {

using StationBytes = std::vector<std::uint8_t>;

enum class StationFault {
  None,
  NoAnswer,   // ignores enquiries
  BadLrc,     // read and write replies carry a wrong LRC
  Nak,        // answers the enquiry with NAK where ACK belongs
  NoEot,      // never sends its EOT after the master's ACK
  SlowBytes,  // every answer goes out one byte at a time, with a pause between (the runner's)
};

// The fault names of the command line, in StationFault order.
const std::vector<std::string>& StationFaultNames();

// What the station received, counted as it took it.
struct StationCounts {
  long bytes = 0;        // every byte from the master
  long enquiries = 0;    // enquiries to a station served here
  long headers = 0;      // header blocks taken whole (read, write, set/reset)
  long refused = 0;      // of them, answered NAK (bad ETB or LRC, memory it does not have)
  long acks = 0;         // the master's ACK of a reply
  long closingEots = 0;  // the master's EOT that closes a transaction
  long stray = 0;        // bytes that belonged to no step (noise, another station's traffic)
};

// One station's memory, comparable as a whole.
struct StationImage {
  std::vector<std::uint16_t> words;  // by header address; only the word areas are used
  std::vector<std::uint8_t> bits;    // 4000h-41FFh, one byte per header address
  bool operator==(const StationImage&) const = default;
};

class DirectNetStation {
 public:
  explicit DirectNetStation(std::vector<int> stations);

  // Feeds bytes received from the master; returns the answers to send, in order.
  std::vector<StationBytes> Feed(std::span<const std::uint8_t> bytes);

  StationFault fault = StationFault::None;

  // What a one-word read at the header address returns (in the bit area: that address's byte
  // and the next one's); 0 where the station has no memory.
  std::uint16_t Word(int station, std::uint32_t address) const;
  // What a one-word write at the header address stores; false (nothing stored) where the
  // station has no memory for it.
  bool SetWord(int station, std::uint32_t address, std::uint16_t value);
  // The eight points of a bit-area header address (4000h-41FFh).
  std::uint8_t Byte(int station, std::uint32_t address) const;
  void SetByte(int station, std::uint32_t address, std::uint8_t value);
  StationImage Image(int station) const;
  // Whether count words at the header address lie in one area of the station's memory.
  static bool Holds(std::uint32_t address, std::uint32_t count);

  bool Serves(int station) const { return images_.count(station) != 0; }
  const StationCounts& Counts() const { return counts_; }
  // Transactions that reached the master's closing EOT.
  long Completed() const { return counts_.closingEots; }
  long Enquiries() const { return counts_.enquiries; }

 private:
  enum class Phase { Enquiry, Header, AwaitAck, AwaitEot };

  // Tries to take one complete unit from the front of the buffer; false when more is needed.
  bool Step(std::vector<StationBytes>& out);
  bool TakeEnquiry(std::vector<StationBytes>& out);
  bool TakeHeader(std::vector<StationBytes>& out);
  // The answer to a well-formed header; empty when the station refuses it.
  StationBytes Serve(std::uint8_t command, std::uint32_t address, std::span<const std::uint8_t> header);
  StationBytes ReadReply(std::uint32_t address, std::uint32_t count) const;
  StationBytes WriteReply(std::uint8_t command, std::uint32_t address) const;
  void Drop(std::size_t n) { buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n)); }

  std::map<int, StationImage> images_;
  StationBytes buffer_;
  Phase phase_ = Phase::Enquiry;
  int current_ = 0;  // the station addressed by the last enquiry
  StationCounts counts_;
};

// "received 120 bytes: 10 enquiries, 10 headers (0 refused), 10 ACKs, 10 closing EOTs, 0 stray".
std::string CountsText(const StationCounts& counts);

}  // namespace plc::sim
