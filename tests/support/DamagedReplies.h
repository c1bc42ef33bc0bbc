#pragma once
// Every one-byte damage of a good reply: each bit of each byte flipped, each byte dropped,
// doubled, or preceded by a noise byte. Sweeps feed each to a control, which must either take
// the reply's own values or fail saying why.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/SerialPort.h"

namespace plc::test {

struct DamagedReply {
  std::string what;
  Bytes bytes;
};

inline std::vector<DamagedReply> DamagedReplies(const Bytes& good, std::uint8_t noise = 0x55) {
  std::vector<DamagedReply> out;
  for (std::size_t i = 0; i < good.size(); ++i) {
    const std::string at = " at byte " + std::to_string(i);
    for (int bit = 0; bit < 8; ++bit) {
      Bytes b = good;
      b[i] = static_cast<std::uint8_t>(b[i] ^ (1u << bit));
      out.push_back({"bit " + std::to_string(bit) + " flipped" + at, b});
    }
    Bytes dropped = good;
    dropped.erase(dropped.begin() + static_cast<std::ptrdiff_t>(i));
    out.push_back({"dropped" + at, dropped});
    Bytes doubled = good;
    doubled.insert(doubled.begin() + static_cast<std::ptrdiff_t>(i), good[i]);
    out.push_back({"doubled" + at, doubled});
    Bytes noisy = good;
    noisy.insert(noisy.begin() + static_cast<std::ptrdiff_t>(i), noise);
    out.push_back({"noise" + at, noisy});
  }
  return out;
}

}  // namespace plc::test
