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
// LRC is wrong is answered with NAK.
//
// Memory: one image of 65536 words per station, addressed by header address, so V, T, CT, S,
// SP and the bit areas X, Y, C, GX, GY are all reachable. A set/reset at F000h + n changes
// bit n mod 8 of word 4180h + n div 8 (where a C read finds it); at any other address it
// changes bit 0 of that word.
#include <cstdint>
#include <map>
#include <span>
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

class DirectNetStation {
 public:
  explicit DirectNetStation(std::vector<int> stations);

  // Feeds bytes received from the master; returns the answers to send, in order.
  std::vector<StationBytes> Feed(std::span<const std::uint8_t> bytes);

  StationFault fault = StationFault::None;

  std::uint16_t Word(int station, std::uint32_t address) const;
  void SetWord(int station, std::uint32_t address, std::uint16_t value);
  bool Serves(int station) const { return images_.count(station) != 0; }
  // Transactions that reached the master's closing EOT.
  int Completed() const { return completed_; }
  int Enquiries() const { return enquiries_; }

 private:
  enum class Phase { Enquiry, Header, AwaitAck, AwaitEot };

  // Tries to take one complete unit from the front of the buffer; false when more is needed.
  bool Step(std::vector<StationBytes>& out);
  bool TakeEnquiry(std::vector<StationBytes>& out);
  bool TakeHeader(std::vector<StationBytes>& out);
  StationBytes ReadReply(std::uint32_t address, std::uint32_t count) const;
  StationBytes WriteReply(std::uint8_t command, std::uint32_t address) const;
  void SetBit(std::uint32_t address, bool on);
  void Drop(std::size_t n) { buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n)); }

  std::map<int, std::vector<std::uint16_t>> images_;
  StationBytes buffer_;
  Phase phase_ = Phase::Enquiry;
  int current_ = 0;  // the station addressed by the last enquiry
  int completed_ = 0;
  int enquiries_ = 0;
};

}  // namespace plc::sim
