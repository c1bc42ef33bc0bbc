#pragma once
// A simulated Modbus slave, as strict as a real one: four tables of its own (coils, discrete
// inputs, input registers, holding registers), requests for another unit ignored, broadcast
// (unit 0) writes carried out unanswered, and every request it cannot serve answered with the
// exception a standard slave gives (1 function, 2 address, 3 quantity). Framing and request
// parsing are the project's own (modbus/); this adds the memory and the faults.
//
// Pure: bytes and arrival times in, the bytes to send (with their delays) out. The serving loop
// on a device, and the thread tests run it on, are in ModbusSimulator.
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "modbus/Pdu.h"
#include "modbus/SlaveCollector.h"
#include "platform/SerialSettings.h"

namespace plc::sim {

enum class ModbusFault {
  None,
  Silent,     // no reply at all
  BadCheck,   // the reply's last check byte (CRC or LRC) flipped
  Exception,  // every request answered with exception 4 (slave device failure)
  Late,       // the reply 2.5 s late, after a master has given up
  Split,      // the reply in three pieces 50 ms apart
  Noise,      // three bytes of noise before the reply
};

// Names as the command line gives them, in the order --help lists them.
const std::vector<std::pair<std::string, ModbusFault>>& ModbusFaultNames();

// The tables and their sizes: references x0001 up to x<size>.
enum class ModbusTable { Coils, DiscreteInputs, InputRegisters, HoldingRegisters };

// One piece of a reply: wait delayMs, then write bytes.
struct ModbusSimSend {
  int delayMs = 0;
  modbus::Bytes bytes;
};

class ModbusSimSlave {
 public:
  ModbusSimSlave(std::uint8_t unit, modbus::Framing framing, std::size_t tableSize = 9999);

  // Sets one value by its reference (00001, 10001, 30001, 40001 ...); false when the
  // reference names no point of the tables or the value does not fit it (0..65535; 0 or 1).
  bool Set(std::int32_t reference, std::int32_t value);
  std::optional<std::int32_t> Get(std::int32_t reference) const;

  // How long a request may take to arrive whole, from its first byte, before the slave drops
  // it as a real one does: in RTU the longest frame (256 bytes) and 3.5 character times at the
  // line speed, plus 50 ms for a pseudo-terminal or a loaded machine; in ASCII 1 s between
  // one character and the next (the gap the framing allows), however long the frame.
  static std::int64_t RequestTimeLimitMicros(const SerialSettings& line, modbus::Framing framing);
  // Constructed with 1 s, the lenient limit.
  void SetRequestTimeLimit(std::int64_t micros);

  // The silence that ends an RTU frame whose length its function does not give (one this slave
  // does not serve): 3.5 character times at the line speed (1.75 ms above 19200 baud), plus
  // 20 ms for a pseudo-terminal or a USB adapter that delays bytes. ASCII frames end at CR LF.
  static std::int64_t FrameSilenceMicros(const SerialSettings& line);
  // Constructed with the silence at 9600 baud.
  void SetFrameSilence(std::int64_t micros) { silence_ = micros; }
  // When a held frame is ended by the line's silence, if one is held: the serving loop calls
  // Feed with no bytes then.
  std::optional<std::int64_t> SilenceDueMicros() const;

  void SetFault(ModbusFault fault) { always_ = fault; }
  // The next request only.
  void InjectNext(ModbusFault fault) { next_.push_back(fault); }

  // Received bytes (none: time has passed); what to send back, piece by piece.
  std::vector<ModbusSimSend> Feed(modbus::ByteView bytes, std::int64_t nowMicros);

  // Requests answered or carried out (including refused and broadcast ones).
  int RequestsServed() const { return served_; }
  // Broken frames seen (a failed check, bytes that are no request).
  int BrokenFrames() const { return broken_; }
  // Times the master sent again while a reply was still to go out: two requests outstanding
  // here (a master that gave up on a late reply, or one that does not wait). The serving loop
  // notes them.
  int EarlySends() const { return earlySends_; }
  void NoteEarlySend() { ++earlySends_; }

  // A lock for callers that share the slave between its serving thread and a test.
  std::mutex& Lock() { return lock_; }

 private:
  std::vector<std::uint16_t>& TableOf(ModbusTable table);
  const std::vector<std::uint16_t>& TableOf(ModbusTable table) const;
  // The reply message to a checked request; nullopt for none (another unit, broadcast).
  std::optional<modbus::Adu> Serve(const modbus::Adu& request);
  std::vector<ModbusSimSend> Framed(const modbus::Adu& reply, ModbusFault fault) const;
  ModbusFault TakeFault();
  // Answers one checked request (or not), with the fault it takes.
  void Respond(const modbus::Adu& request, std::vector<ModbusSimSend>& out);
  // Held bytes whose function is one the collector cuts go to it; a held frame that has ended
  // (CR LF, or the silence at nowMicros) is answered or dropped.
  void SettleHeld(std::int64_t nowMicros, std::vector<ModbusSimSend>& out);
  // The collector's decisions until it needs more; how many broken frames it reported.
  int Drain(std::vector<ModbusSimSend>& out);
  void EndHeldFrame(std::size_t length, std::int64_t nowMicros, std::vector<ModbusSimSend>& out);

  std::uint8_t unit_;
  modbus::Framing framing_;
  std::size_t size_;
  std::vector<std::uint16_t> coils_, inputs_, inputRegisters_, holding_;
  modbus::SlaveRequestCollector collector_;
  // A frame start the collector has not been given: its function byte is still to come, or is
  // one whose length the collector cannot tell, so the frame runs to the silence (RTU) or its
  // CR LF (ASCII) as on a real device.
  modbus::Bytes held_;
  std::int64_t heldLast_ = 0;  // arrival of its last byte
  std::int64_t silence_;
  std::int64_t asciiGap_;
  ModbusFault always_ = ModbusFault::None;
  std::deque<ModbusFault> next_;
  int served_ = 0;
  int broken_ = 0;
  int earlySends_ = 0;
  std::mutex lock_;
};

}  // namespace plc::sim
