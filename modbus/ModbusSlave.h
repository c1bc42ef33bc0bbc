#pragma once
// The Modbus slave engine of one RtuLink: in the slave modes it collects each request from the
// serial child, checks it, executes it against the register image and answers it in the
// framing of the mode. Every request that got past its first wait is reported through the
// master's CommCompleteEx. No exception replies are sent: a request that cannot be served
// (another unit, an unknown function, a reference beyond the image, a read beyond the reply
// buffer) is left unanswered.
//
// The handler runs inside the port's receive notification and serves a request to its end.
// Its waits let the loop run (the bytes arrive through it), so the notifications of the bytes
// still arriving call the handler again: those nested calls return at once.
#include <cstdint>
#include <vector>

#include "modbus/ModbusMaster.h"
#include "modbus/Pdu.h"
#include "modbus/SlaveRequests.h"
#include "platform/EventLoop.h"
#include "platform/SerialPort.h"

namespace plc::modbus {

// Largest element index of the image in the slave modes.
constexpr std::int32_t kSlaveImageLast = 50000;
// The reply buffer (unit, function, byte count, data) bounds a read reply.
constexpr std::size_t kSlaveMaxRegisters = 61;
constexpr std::size_t kSlaveMaxBits = 984;

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

  // Units received and not yet taken as a request (a partial request waits for the rest).
  std::size_t Collected() const { return collected_.size(); }

 private:
  Framing CurrentFraming() const;
  // Moves what the port holds into collected_; in ASCII anything before a colon is dropped.
  void Collect();
  // Waits (2 seconds by the wall clock) until at least units are collected.
  bool WaitForUnits(std::size_t units);
  // One request from its first wait to its event. False when the first wait gave up.
  bool ServeOne();
  void Serve(const SlaveRequest& request);
  void ServeType2(const SlaveRequest& request);
  // True when elements first..first+count-1 lie inside the image.
  bool InImage(std::int64_t first, std::int64_t count) const;
  void Send(const Adu& reply);
  void RaiseEvent(std::int16_t mAdd, std::int16_t quan);

  SerialPort& port_;
  ModbusMaster& master_;
  RegisterImageArray& image_;
  EventLoop& loop_;
  Bytes collected_;
  bool handling_ = false;
};

}  // namespace plc::modbus
