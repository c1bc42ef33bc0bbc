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
    case Fault::LinkRefuse: return "link-refuse";
    case Fault::OddResponse: return "odd-response";
    case Fault::CutReply: return "cut-reply";
    case Fault::BadCheck: return "bad-check";
    case Fault::NoClose: return "no-close";
    case Fault::Mute: return "mute";
    case Fault::Slow: return "slow";
  }
  return "?";
}

bool Harmless(Fault fault) {
  return fault == Fault::None || fault == Fault::Split || fault == Fault::Delay || fault == Fault::Stale ||
         fault == Fault::Slow;
}

// Under each of these the device refused the request, or sent no reply the control may take:
// whatever values a success handed over were not read for it.
bool MustFail(Fault fault) {
  return fault == Fault::Refuse || fault == Fault::LinkRefuse || fault == Fault::OddResponse ||
         fault == Fault::CutReply || fault == Fault::BadCheck || fault == Fault::NoClose || fault == Fault::Mute;
}

bool DeviceFault(Fault fault) { return fault >= Fault::Refuse; }

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
