#pragma once
// The faults a relay between a control and its simulated PLC can act out, knowing nothing of the
// protocol: what a line, a noisy cable or a slow or confused device does to the bytes. A fault
// is armed for one transaction and strikes one reply of it (the n-th burst of bytes that the
// device sends after the control spoke), or one request.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace plc::faults {

using Bytes = std::vector<std::uint8_t>;

enum class Fault {
  None,
  Silence,      // the reply never comes (a device that does not answer)
  Corrupt,      // one byte of the reply altered (a failed check)
  Garbage,      // the reply replaced by as many random bytes (a confused device)
  Noise,        // one to four random bytes before the reply (line noise)
  Truncate,     // only the first half of the reply, then nothing (a device cut off)
  Split,        // the reply one byte at a time, 1 ms apart (a slow UART or gateway)
  Delay,        // the whole reply late, but within the control's time-out
  Late,         // the reply held until the control has given up, then delivered
  Duplicate,    // the reply, and the same again once the control has spoken (or its call returned)
  LoseRequest,  // the request never reaches the device
  // Acted out by the simulated PLC itself, on the first request of the transaction:
  Refuse,  // the device answers every request of the transaction with an error status and no data
  Stale,   // the device answers first as to its previous request, with other data, then rightly
  LinkRefuse,   // the device refuses the request on the link (a NAK) and answers nothing more
  OddResponse,  // a link response the control cannot take (no DLE before it, or not ACK), no reply
  CutReply,     // the reply broken off by a link response inside it
  BadCheck,     // the right data under a check that does not match it
  NoClose,      // the device never sends the byte that closes the transaction
  Mute,         // the device takes the request and answers nothing
  Slow,         // the device's answers one byte at a time, a few milliseconds apart
};

const char* FaultName(Fault fault);
// Faults after which the transaction must still succeed: the reply comes whole and in time.
bool Harmless(Fault fault);
// Faults a transaction must fail under: a success would hand over what the device refused.
bool MustFail(Fault fault);
// Faults the simulated PLC acts out, not the relay.
bool DeviceFault(Fault fault);

// The fault of one transaction: which one, and which reply (or request) it strikes, from 1.
struct FaultSpec {
  Fault kind = Fault::None;
  int exchange = 1;
};

// What a relay does to the bytes of a struck reply; random choices come from `random`.
class Mangler {
 public:
  explicit Mangler(std::uint32_t seed) : random_(seed) {}
  void Corrupt(Bytes& b);
  void Garble(Bytes& b);
  Bytes Noise();
  std::size_t Below(std::size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }

 private:
  std::mt19937 random_;
};

}  // namespace plc::faults
