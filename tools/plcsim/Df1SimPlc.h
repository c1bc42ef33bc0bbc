#pragma once
// The simulated DF1 PLC on the line, free of devices and threads: bytes from the master go in,
// what the PLC writes comes out, with the pause before each piece. It frames as DF1 full
// duplex does (BCC or CRC-16, DLE doubled both ways), answers DLE ACK to a good request and
// DLE NAK to a bad check, then sends its reply; the master's DLE ACKs are counted.
//
// Faults are injected for the next request (InjectNext) or for every request (SetFault).
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "tools/plcsim/Df1DataTable.h"

namespace plc::sim {

enum class Df1Fault {
  None,
  Silent,         // no answer at all
  BareAck,        // ACK ACK without DLE: no link response the master can take
  DleNak,         // DLE NAK instead of DLE ACK
  DleEnq,         // DLE ENQ instead of DLE ACK
  OtherByte,      // 0x41 0x41 instead of DLE ACK
  BadCheck,       // the reply's check byte altered
  Status,         // the reply carries STS 0x50
  Late,           // the reply's bytes 60 ms apart: complete only after more than 0.71 s
  Delayed,        // the whole answer 200 ms late, then as usual
  CheckByte10,    // the reply's first data word chosen so that a check byte is 0x10
  Split,          // the reply written one byte at a time
  CloseMidReply,  // half the reply, then the line closed
  AckInReply,     // DLE ACK inside the reply
};

// Names as plcsim's --fault option takes them ("none", "silent", "bare-ack", ...).
const std::vector<std::pair<std::string, Df1Fault>>& Df1FaultNames();

struct Df1Action {
  int delayMs = 0;  // pause before writing
  SimBytes bytes;
  bool closeLine = false;  // after writing
};

class Df1SimPlc {
 public:
  explicit Df1SimPlc(bool bcc);

  Df1DataTable& Table() { return table_; }
  void SetFault(Df1Fault fault);
  void InjectNext(Df1Fault fault);

  std::vector<Df1Action> Feed(std::uint8_t byte);

  int RequestsSeen() const { return requests_.load(); }
  int AcksSeen() const { return acks_.load(); }
  // The value CheckByte10 put into the first word it answered.
  std::uint16_t ForcedValue() const { return forced_.load(); }

  // A whole frame for a payload in this PLC's check mode.
  SimBytes Frame(const SimBytes& payload) const;

 private:
  enum class Rx { Idle, IdleDle, Data, DataDle, Check };
  Df1Fault TakeFault();
  std::vector<Df1Action> Respond(const SimBytes& request);
  bool CheckOk() const;

  const bool bcc_;
  Df1DataTable table_;
  std::mutex faultMutex_;
  Df1Fault always_ = Df1Fault::None;
  std::deque<Df1Fault> next_;

  Rx rx_ = Rx::Idle;
  SimBytes payload_;
  SimBytes check_;
  std::atomic<int> requests_{0};
  std::atomic<int> acks_{0};
  std::atomic<std::uint16_t> forced_{0};
};

}  // namespace plc::sim
