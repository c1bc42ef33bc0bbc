#pragma once
// Every way one answer of a device can go wrong on the line, for the sweeps of a write's
// acknowledgements: each bit of each byte flipped, each byte dropped, the answer lost whole,
// or arriving after the control gave up on it.
#include <cstddef>
#include <string>
#include <vector>

namespace plc::test {

enum class Harm { Flip, Drop, Lose, Late };

struct Mishap {
  std::size_t answer = 0;  // which of the device's answers, in order
  Harm harm = Harm::Lose;
  std::size_t at = 0;  // byte within it
  int bit = 0;
  std::string Name() const {
    static const char* names[] = {"flip", "drop", "lose", "late"};
    return "answer " + std::to_string(answer) + " " + names[static_cast<int>(harm)] + " byte " + std::to_string(at) +
           " bit " + std::to_string(bit);
  }
};

// The mishaps of answers of these sizes, in order.
inline std::vector<Mishap> MishapsOf(const std::vector<std::size_t>& sizes) {
  std::vector<Mishap> out;
  for (std::size_t a = 0; a < sizes.size(); ++a) {
    out.push_back({a, Harm::Lose});
    out.push_back({a, Harm::Late});
    for (std::size_t p = 0; p < sizes[a]; ++p) {
      out.push_back({a, Harm::Drop, p});
      for (int b = 0; b < 8; ++b) out.push_back({a, Harm::Flip, p, b});
    }
  }
  return out;
}

}  // namespace plc::test
