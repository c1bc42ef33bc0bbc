#pragma once
// The simulated DF1 PLC on the line, free of devices and threads: bytes from the master go in
// with the time they arrived, what the PLC writes comes out with the time it is to leave.
//
// It is as strict as an SLC on DF1 full duplex. It frames as the link does (BCC or CRC-16, DLE
// doubled both ways) and answers a request's frame at once with DLE ACK, or DLE NAK for a bad
// check. A request from the same source with the command and transaction number of the last
// one it took is a duplicate: acknowledged and dropped. Its reply follows after a turnaround
// delay, one reply at a time; then it waits for the master's DLE ACK: DLE NAK makes it send
// the reply again (3 times at most), silence past the ACK time-out makes it ask with DLE ENQ
// (3 times at most) before it gives the reply up. A DLE ENQ from the master is answered with
// its last link response. With a byte time, every byte leaves at the line's pace and a
// request counts as received once its bytes would have crossed the line.
//
// Faults are injected for the next request (InjectNext) or for every request (SetFault).
// What it received is counted (Counts), closing DLE ACKs apart from the others.
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
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
  Status,         // the command refused with STS 0x50: nothing carried out, no data
  Late,           // the reply's bytes at least 60 ms apart: complete only after 0.8 s or more
  Delayed,        // the whole answer 200 ms late, then as usual
  CheckByte10,    // the reply's first data word chosen so that a check byte is 0x10
  Split,          // the reply written one byte at a time
  CloseMidReply,  // half the reply, then the line closed
  AckInReply,     // DLE ACK inside the reply
  Overdue,        // the whole answer 2 s late: after the master gave up on it
  AckLost,        // the master's first DLE ACK for the reply goes unheard: DLE ENQ follows
};

// Names as plcsim's --fault option takes them ("none", "silent", "bare-ack", ...), with a
// line of help each.
struct Df1FaultName {
  std::string name;
  Df1Fault fault;
  std::string help;
};
const std::vector<Df1FaultName>& Df1FaultNames();

struct Df1SimSettings {
  bool bcc = false;
  std::int64_t turnaroundMicros = 5'000;  // from a request's end to its reply
  std::int64_t ackTimeoutMicros = 1'000'000;
  std::int64_t byteMicros = 0;  // 0: bytes leave at once (a pseudo-terminal)
  // Unset: the processor at the far end of a point-to-point line, which takes any DST. Set: the
  // one station behind a DF1 bridge; the bridge takes a request for another station (DLE ACK)
  // and answers it with STS 30h, as no such station is there.
  std::optional<std::uint8_t> station = std::nullopt;
};

struct Df1Action {
  std::int64_t atMicros = 0;  // when to write, on the clock the PLC is fed by
  SimBytes bytes;
  bool closeLine = false;  // after writing
};

struct Df1SimCounts {
  long bytes = 0;         // every byte received
  long requests = 0;      // frames with a good check, duplicates among them
  long answered = 0;      // commands carried out, a reply sent for each
  long duplicates = 0;    // dropped as repeats of the last request of their source
  long badChecks = 0;     // frames refused with DLE NAK
  long brokenFrames = 0;  // frames cut off by a DLE and a byte that has no place in them
  long closingAcks = 0;   // DLE ACKs that acknowledged a reply
  long otherAcks = 0;     // DLE ACKs while no reply awaited one
  long lostAcks = 0;      // DLE ACKs left unheard (the ack-lost fault)
  long naks = 0;          // DLE NAKs received
  long enqs = 0;          // DLE ENQs received
  long enqsSent = 0;
  long repliesResent = 0;
  long repliesGivenUp = 0;  // no DLE ACK after every DLE ENQ
  long mostOutstanding = 0;  // the most requests taken at once whose replies awaited their DLE ACK
  long otherStations = 0;    // requests to a DST not this station's, refused with STS 30h
};

// "received 2 requests (0 duplicates, 0 bad checks), 2 closing DLE ACKs, ..."
std::string CountsText(const Df1SimCounts& c);

class Df1SimPlc {
 public:
  explicit Df1SimPlc(Df1SimSettings settings);
  explicit Df1SimPlc(bool bcc) : Df1SimPlc(Df1SimSettings{bcc}) {}

  Df1DataTable& Table() { return table_; }
  void SetFault(Df1Fault fault);
  void InjectNext(Df1Fault fault);
  // Drops the injected faults no request has taken yet; returns how many there were.
  std::size_t ClearInjected();

  std::vector<Df1Action> Feed(std::uint8_t byte, std::int64_t nowMicros);
  // When Expire is next due: a reply awaiting its DLE ACK.
  std::optional<std::int64_t> NextDeadline() const;
  std::vector<Df1Action> Expire(std::int64_t nowMicros);
  // No reply waits to be sent or acknowledged.
  bool Idle() const;

  Df1SimCounts Counts() const;
  int RequestsSeen() const { return static_cast<int>(Counts().requests); }
  int AcksSeen() const {
    Df1SimCounts c = Counts();
    return static_cast<int>(c.closingAcks + c.otherAcks + c.lostAcks);
  }
  // The value CheckByte10 put into the first word it answered.
  std::uint16_t ForcedValue() const { return forced_.load(); }

  // A whole frame for a payload in this PLC's check mode.
  SimBytes Frame(const SimBytes& payload) const;

 private:
  enum class Rx { Idle, IdleDle, Data, DataDle, Check };
  struct Outgoing {
    SimBytes frame;
    std::int64_t readyAt = 0;
    Df1Fault fault = Df1Fault::None;
  };
  struct Awaiting {
    SimBytes frame;
    std::int64_t startedAt = 0;
    std::int64_t deadline = 0;
    int naksLeft = 3;
    int enqsLeft = 3;
    bool deaf = false;  // the next DLE ACK goes unheard
  };

  Df1Fault TakeFault();
  void Respond(const SimBytes& request, std::int64_t now);
  void StartNext(std::int64_t now);
  void LinkSignal(std::uint8_t byte, std::int64_t now);
  bool CheckOk() const;
  // Queues bytes to leave no earlier than `earliest`, after what is already leaving, gap
  // apart (or at the line's pace); returns when the last one has left.
  std::int64_t Emit(const SimBytes& bytes, std::int64_t earliest, std::int64_t gap = 0, bool closeLine = false);

  const Df1SimSettings settings_;
  Df1DataTable table_;
  std::mutex faultMutex_;
  Df1Fault always_ = Df1Fault::None;
  std::deque<Df1Fault> next_;

  mutable std::mutex mutex_;  // the serving thread feeds while a test reads the counts
  Rx rx_ = Rx::Idle;
  std::int64_t rxDone_ = 0;  // when the last byte received has crossed the line
  SimBytes payload_;
  SimBytes check_;
  std::map<std::uint8_t, std::pair<std::uint8_t, std::uint16_t>> lastBySource_;  // command and TNS
  std::uint8_t lastResponse_ = 0x06;
  std::deque<Outgoing> queue_;
  std::optional<Awaiting> awaiting_;
  std::int64_t lineFreeAt_ = 0;
  std::vector<Df1Action> out_;
  Df1SimCounts counts_;
  std::atomic<std::uint16_t> forced_{0};
};

}  // namespace plc::sim
