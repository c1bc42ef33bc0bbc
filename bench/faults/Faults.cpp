#include "bench/faults/Faults.h"

namespace plc::faults {

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::None: return "none";
    case Fault::Silence: return "silence";
    case Fault::Corrupt: return "corrupt";
    case Fault::Garbage: return "garbage";
    case Fault::Noise: return "noise";
    case Fault::Truncate: return "truncate";
    case Fault::Split: return "split";
    case Fault::Delay: return "delay";
    case Fault::Late: return "late";
    case Fault::Duplicate: return "duplicate";
    case Fault::LoseRequest: return "lose-request";
    case Fault::Refuse: return "refuse";
    case Fault::Stale: return "stale";
  }
  return "?";
}

bool Harmless(Fault fault) {
  return fault == Fault::None || fault == Fault::Split || fault == Fault::Delay || fault == Fault::Stale;
}

bool MustFail(Fault fault) { return fault == Fault::Refuse; }

bool DeviceFault(Fault fault) { return fault == Fault::Refuse || fault == Fault::Stale; }

void Mangler::Corrupt(Bytes& b) {
  if (b.empty()) return;
  const auto flip = static_cast<std::uint8_t>(1 + Below(255));
  b[Below(b.size())] ^= flip;
}

void Mangler::Garble(Bytes& b) {
  for (auto& byte : b) byte = static_cast<std::uint8_t>(Below(256));
}

Bytes Mangler::Noise() {
  Bytes noise(1 + Below(4));
  Garble(noise);
  return noise;
}

}  // namespace plc::faults
