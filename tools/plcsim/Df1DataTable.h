#pragma once
// The data table of the simulated DF1 PLC and the PCCC commands it answers: the typed logical
// read (0xA2) and write (0xAA) with three address fields, and the PLC5 word-range read (0x01).
// Files O0, I1, S2, B3, T4, C5, R6, N7, F8, A9 and ST10; timers, counters and controls take
// three words an element, floats two, strings 21, the rest one. An element or file that does
// not exist is answered with STS 0x50, a command it does not know with 0x10.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace plc::sim {

using SimBytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kStsAddress = 0x50;
inline constexpr std::uint8_t kStsCommand = 0x10;

class Df1DataTable {
 public:
  Df1DataTable();

  // The reply payload to a request payload (DST SRC CMD STS TNS TNS function ...); empty for a
  // request too short to answer.
  std::optional<SimBytes> Answer(const SimBytes& request);

  // The words of a file from word offset on, for tests and the demo; false outside the file.
  bool SetWords(int file, int offset, const std::vector<std::uint16_t>& words);
  std::optional<std::uint16_t> Word(int file, int offset) const;

 private:
  struct File {
    int wordsPerElement;
    std::vector<std::uint16_t> words;
  };
  // The data bytes of a read, or the STS that refuses it.
  std::uint8_t Read(int file, int offset, int byteCount, SimBytes& data) const;
  std::uint8_t Write(int file, int offset, const SimBytes& data);

  mutable std::mutex mutex_;  // the PLC's thread answers while a test sets values
  std::map<int, File> files_;
};

}  // namespace plc::sim
