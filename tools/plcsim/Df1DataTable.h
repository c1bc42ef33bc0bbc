#pragma once
// The data table of the simulated DF1 PLC and the PCCC commands it answers: the typed logical
// read (0xA2) and write (0xAA) with three address fields, and the PLC5 word-range read (0x01),
// each packet from its offset.
//
// Files as an SLC lays them out: O0, I1, S2, B3, T4, C5, R6, N7, F8, A9 and ST10, each of its
// own type; timers, counters and controls take three words an element (control, PRE/LEN,
// ACC/POS), floats two, strings 42, the rest one. A request is refused with a status, as the
// processor refuses it: a file type byte (or PLC5 letters) that is not the file's, STS F0h with
// EXT STS 17h (type mismatch); an element, sub-element or file that does not exist (only
// timers, counters and controls have sub-elements), or a transfer that runs past the file's
// end, STS 50h; a command it does not know, or a malformed
// one, STS 10h.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace plc::sim {

using SimBytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kStsCommand = 0x10;
inline constexpr std::uint8_t kStsAddress = 0x50;
inline constexpr std::uint8_t kStsExtended = 0xF0;
inline constexpr std::uint8_t kExtTypeMismatch = 0x17;

class Df1DataTable {
 public:
  Df1DataTable();

  // The reply payload to a request payload (DST SRC CMD STS TNS TNS function ...); empty for a
  // request too short to carry a transaction number.
  std::optional<SimBytes> Answer(const SimBytes& request);
  // The reply that refuses a request with a status and carries out nothing; empty likewise.
  static std::optional<SimBytes> Refusal(const SimBytes& request, std::uint8_t sts);

  // The words of a file from word offset on, for tests and the demo; false outside the file.
  bool SetWords(int file, int offset, const std::vector<std::uint16_t>& words);
  std::optional<std::uint16_t> Word(int file, int offset) const;

  // One line per file ("N7  integer  256 elements of 1 word"), for plcsim's help.
  static std::string Layout();

 private:
  struct File {
    std::uint8_t type;
    std::string letters;
    int wordsPerElement;
    std::vector<std::uint16_t> words;
  };
  struct Status {
    std::uint8_t sts = 0;
    std::uint8_t ext = 0;
  };
  Status Typed(const SimBytes& p, SimBytes& data);
  Status WordRange(const SimBytes& p, SimBytes& data);
  // The data bytes of a read, or the status that refuses it.
  Status Read(const File& f, int offset, int byteCount, SimBytes& data) const;
  Status Write(File& f, int offset, const SimBytes& data);

  mutable std::mutex mutex_;  // the PLC's thread answers while a test sets values
  std::map<int, File> files_;
};

}  // namespace plc::sim
