#pragma once
// The Modbus slave engine of one RtuLink: in the slave modes it collects each request from the
// serial child, checks it, executes it against the register image and answers it in the
// framing of the mode. Every request and every broken frame is reported through the master's
// CommCompleteEx. A request beyond the image, or past the 10000 points of its table (which
// would reach the next table's elements), gets the standard exception reply "illegal data
// address" (2), a read of more than a reply can carry (125 registers, 2000 bits), a multiple
// write of more than one request may carry (123 registers, 1968 coils), either of none, one
// whose byte count disagrees with its quantity, or a coil written with neither FF00 nor 0
// "illegal data value" (3); requests for another unit, unknown functions and broadcasts
// (unit 0) go unanswered.
//
// The handler runs inside the port's receive notification and serves every request complete
// by then; a partial one waits in the collector for the notifications of its remaining bytes.
// Nothing here waits, so a broken request never holds the line for the next one.
#include <cstdint>
#include <vector>

#include "modbus/ModbusMaster.h"
#include "modbus/Pdu.h"
#include "modbus/SlaveCollector.h"
#include "modbus/SlaveRequests.h"
#include "platform/EventLoop.h"
#include "platform/Lifetime.h"
#include "platform/SerialPort.h"

namespace plc::modbus {

// Largest element index of the image in the slave modes.
constexpr std::int32_t kSlaveImageLast = 50000;
// How long a partial request waits for the rest of its bytes; on a line too slow to carry the
// longest RTU request (256 bytes) in that time, that request's time and a second more.
constexpr std::int64_t kSlavePartialMicros = 2'000'000;

// The image: indexed by the reference address itself, 32-bit signed elements.
using RegisterImageArray = std::vector<std::int32_t>;

class ModbusSlave {
 public:
  // The image is the owner's; it may be re-created (assigned) between requests.
  ModbusSlave(SerialPort& port, ModbusMaster& master, RegisterImageArray& image,
              EventLoop& loop = EventLoop::Current());
  ModbusSlave(const ModbusSlave&) = delete;
  ModbusSlave& operator=(const ModbusSlave&) = delete;

  // A receive notification in a slave mode.
  void HandleSlaveRequest();

  // Builds and sends the answer of a standard request (every PLCType but EnType2).
  void SendSlaveReply(std::int32_t reference, std::int32_t count, std::int32_t value, bool write,
                      std::uint8_t function);
  // The answer when PLCType is EnType2: the unit of the request, address used as reference.
  void SendType2SlaveReply(std::uint8_t unit, std::int32_t address, std::int32_t count, std::int32_t value,
                           bool write, std::uint8_t function, std::int32_t kind);

  // A mode change: what was collected under the old mode is forgotten with the port's input.
  void Reset() { collector_.Clear(); }

  // Units received and not yet taken as a request (a partial request waits for the rest).
  std::size_t Collected() const { return collector_.Buffered(); }

 private:
  Framing CurrentFraming() const;
  // Moves what the port holds into the collector; false when it held nothing.
  bool Collect();
  void ServeRequest(const Adu& adu);
  void ReportBroken(const Bytes& known);
  void Serve(const SlaveRequest& request);
  void ServeType2(const SlaveRequest& request);
  // The standard refusal of a request this slave cannot carry out.
  void Refuse(const SlaveRequest& request, std::uint8_t unit, std::uint8_t code);
  // True when elements first..first+count-1 lie inside the image.
  bool InImage(std::int64_t first, std::int64_t count) const;
  void Send(const Adu& reply);
  void RaiseEvent(std::int16_t mAdd, std::int16_t quan);

  SerialPort& port_;
  ModbusMaster& master_;
  RegisterImageArray& image_;
  EventLoop& loop_;
  SlaveRequestCollector collector_{kSlavePartialMicros};
  bool handling_ = false;
  // The request being served is a broadcast: nothing is sent.
  bool silent_ = false;
  Lifetime life_;  // the event of a request may unload the control
};

}  // namespace plc::modbus
