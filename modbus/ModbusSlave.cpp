#include "modbus/ModbusSlave.h"

#include <algorithm>
#include <cmath>

#include "base/RuntimeError.h"
#include "frame/WallSeconds.h"
#include "modbus/Frame.h"

namespace plc::modbus {
namespace {

// The unit of the slave's replies: UnitAddress without its sign.
std::uint8_t OwnUnit(std::int16_t address) { return static_cast<std::uint8_t>(address < 0 ? -address : address); }

// Image index of offset 0 of the table a function works on.
std::int32_t TableBase(std::uint8_t function) {
  switch (function) {
    case fn::ReadDiscreteInputs: return 10001;
    case fn::ReadInputRegisters: return 30001;
    case fn::ReadHoldingRegisters:
    case fn::WriteSingleRegister:
    case fn::WriteMultipleRegisters: return 40001;
    default: return 1;  // coils
  }
}

std::uint16_t Low16(std::int32_t v) { return static_cast<std::uint16_t>(static_cast<std::uint32_t>(v) & 0xFFFF); }

// (p - 3) / 2, halves to even: p is the request without its checksum.
std::int16_t QuanOf(std::size_t messageLength) {
  double q = std::nearbyint((static_cast<double>(messageLength) - 3.0) / 2.0);
  return static_cast<std::int16_t>(q);
}

// A coil is written on with FF00 and off with 0; anything else a standard slave refuses, so a
// master that means on by another value is told instead of finding its coil off.
bool IsCoilValue(const SlaveRequest& r) {
  return r.function != fn::WriteSingleCoil || r.value == 0xFF00 || r.value == 0;
}

// A multiple write carries 1 to 123 registers or 1 to 1968 coils; a slave refuses any other
// quantity whatever its addressing.
bool IsMultipleWriteQuantity(std::uint8_t function, std::size_t count) {
  return count >= 1 && count <= (function == fn::WriteMultipleCoils ? kMaxWriteBits : kMaxWriteRegisters);
}

bool IsType2Pair(std::int32_t kind) { return kind == 5 || kind == 7; }

// Points of each table: its elements x0001..x0001 + 9999 end where the next table's begin, so
// an offset past them would read or write another table.
constexpr std::int64_t kTablePoints = 10000;

bool InTable(std::uint16_t offset, std::int64_t count) { return std::int64_t{offset} + count <= kTablePoints; }

}  // namespace

ModbusSlave::ModbusSlave(SerialPort& port, ModbusMaster& master, RegisterImageArray& image, EventLoop& loop)
    : port_(port), master_(master), image_(image), loop_(loop) {}

Framing ModbusSlave::CurrentFraming() const {
  return master_.ModBusMode() == rtu::SlaveAscii || master_.ModBusMode() == rtu::Ascii ? Framing::Ascii
                                                                                       : Framing::Rtu;
}

bool ModbusSlave::Collect() {
  collector_.SetFraming(CurrentFraming());
  const SerialSettings& line = port_.LineSettings();
  const std::int64_t longest = std::int64_t{256} * line.BitsPerCharacter() * 1'000'000 / std::max(line.baud, 1);
  collector_.SetWaitLimit(std::max(kSlavePartialMicros, longest + 1'000'000));
  if (port_.InBufferCount() == 0) return false;
  port_.SetInputLen(0);
  Bytes in = port_.InputBytes();
  if (in.empty()) return false;
  collector_.Add(in, loop_.Now());
  return true;
}

void ModbusSlave::HandleSlaveRequest() {
  // A host handler of the event below may let events run, and with them this notification.
  if (handling_) return;
  handling_ = true;
  // A handler that unloads the control ends the round: nothing more is served or touched.
  const Lifetime::Watch watch = life_.Watched();
  try {
    Collect();
    for (;;) {
      CollectedRequest next = collector_.Next();
      if (next.kind == SlaveInput::Request) {
        ServeRequest(next.adu);
      } else if (next.kind == SlaveInput::Broken) {
        ReportBroken(next.known);
      } else if (!Collect()) {
        break;  // what is left waits for the rest of its bytes
      }
      if (watch.Gone()) return;
    }
  } catch (...) {
    if (watch.Gone()) throw;
    handling_ = false;
    throw;
  }
  handling_ = false;
}

void ModbusSlave::ReportBroken(const Bytes& known) {
  MasterTransaction& tx = master_.Transaction();
  tx.ReplyFailed = true;
  tx.ReadPending = false;
  tx.WritePending = false;
  std::int16_t quan = 0;
  if (known.size() >= 6 && IsMultipleWrite(known[1])) quan = static_cast<std::int16_t>((known[4] << 8) | known[5]);
  RaiseEvent(-2, quan);
}

void ModbusSlave::ServeRequest(const Adu& adu) {
  master_.Transaction().ReplyFailed = false;
  ParsedRequest request = ParseRequest(adu);
  // Every slave on the line hears a broadcast (unit 0): it is carried out, never answered.
  silent_ = adu.unit == 0;
  const bool type2 = master_.PLCType() == rtu::EnType2;
  if (request) {
    if (type2) {
      ServeType2(request.request);
    } else if (adu.unit == master_.UnitAddress()) {
      Serve(request.request);
    }
  } else if (request.error != RequestError::UnknownFunction && (type2 || adu.unit == master_.UnitAddress())) {
    // A write whose byte count disagrees with its quantity is refused as a standard slave
    // refuses it, so the master is told at once rather than left to its time-out. An unknown
    // function is left unanswered.
    Refuse(request.request, type2 ? adu.unit : OwnUnit(master_.UnitAddress()), ExceptionCodeFor(request.error));
  }
  silent_ = false;
  RaiseEvent(adu.function, QuanOf(2 + adu.data.size()));
}

bool ModbusSlave::InImage(std::int64_t first, std::int64_t count) const {
  return count >= 1 && first >= 0 && first + count <= static_cast<std::int64_t>(image_.size());
}

void ModbusSlave::Serve(const SlaveRequest& r) {
  std::uint8_t f = r.function;
  std::int32_t reference = std::int32_t{r.offset} + TableBase(f);
  std::uint8_t unit = OwnUnit(master_.UnitAddress());
  if (IsRead(f)) {
    std::size_t limit = IsBitRead(f) ? kMaxReadBits : kMaxReadRegisters;
    if (r.count == 0 || r.count > limit) return Refuse(r, unit, ex::IllegalDataValue);
    if (!InTable(r.offset, r.count) || !InImage(reference, r.count)) return Refuse(r, unit, ex::IllegalDataAddress);
    SendSlaveReply(reference, r.count, 0, false, f);
  } else if (IsSingleWrite(f)) {
    if (!IsCoilValue(r)) return Refuse(r, unit, ex::IllegalDataValue);
    if (!InTable(r.offset, 1) || !InImage(reference, 1)) return Refuse(r, unit, ex::IllegalDataAddress);
    auto& element = image_[static_cast<std::size_t>(reference)];
    element = f == fn::WriteSingleCoil ? (r.value == 0xFF00 ? 1 : 0) : std::int32_t{r.value};
    SendSlaveReply(reference, 1, r.value, true, f);
  } else if (IsMultipleWrite(f)) {
    if (!IsMultipleWriteQuantity(f, r.count)) return Refuse(r, unit, ex::IllegalDataValue);
    if (!InTable(r.offset, r.count) || !InImage(reference, r.count)) return Refuse(r, unit, ex::IllegalDataAddress);
    if (r.values.size() != r.count) return;
    for (std::size_t k = 0; k < r.values.size(); ++k) image_[static_cast<std::size_t>(reference) + k] = r.values[k];
    SendSlaveReply(reference, r.count, 0, true, f);
  }
}

void ModbusSlave::ServeType2(const SlaveRequest& r) {
  std::uint8_t f = r.function;
  std::int32_t address = r.offset;
  std::int32_t kind = address / 1000;
  if (IsRead(f)) {
    std::size_t points = IsBitRead(f) ? r.count : std::size_t{r.count} * (IsType2Pair(kind) ? 2 : 1);
    std::size_t limit = IsBitRead(f) ? kMaxReadBits : kMaxReadRegisters;
    if (points == 0 || points > limit) return Refuse(r, r.unit, ex::IllegalDataValue);
    if (!InImage(address, r.count)) return Refuse(r, r.unit, ex::IllegalDataAddress);
    SendType2SlaveReply(r.unit, address, r.count, 0, false, f, kind);
  } else if (IsSingleWrite(f)) {
    if (!IsCoilValue(r)) return Refuse(r, r.unit, ex::IllegalDataValue);
    if (!InImage(address, 1)) return Refuse(r, r.unit, ex::IllegalDataAddress);
    image_[static_cast<std::size_t>(address)] =
        f == fn::WriteSingleCoil ? (r.value == 0xFF00 ? 1 : 0) : std::int32_t{r.value};
    SendType2SlaveReply(r.unit, address, 1, r.value, true, f, kind);
  } else if (IsMultipleWrite(f) && !IsMultipleWriteQuantity(f, r.count)) {
    return Refuse(r, r.unit, ex::IllegalDataValue);
  } else if (f == fn::WriteMultipleRegisters && IsType2Pair(kind)) {
    // Each 4-byte group is one value. A float is kept as its two register words, so a read
    // gives back exactly the words written.
    if (r.data.size() % 4 != 0) return Refuse(r, r.unit, ex::IllegalDataValue);
    std::size_t n = r.data.size() / 4;
    if (!InImage(address, static_cast<std::int64_t>(n))) return Refuse(r, r.unit, ex::IllegalDataAddress);
    for (std::size_t k = 0; k < n; ++k) {
      const std::uint8_t* b = &r.data[4 * k];
      std::uint32_t v = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
      image_[static_cast<std::size_t>(address) + k] = static_cast<std::int32_t>(v);
    }
    SendType2SlaveReply(r.unit, address, r.count, 0, true, f, kind);
  } else if (IsMultipleWrite(f)) {
    if (!InImage(address, r.count)) return Refuse(r, r.unit, ex::IllegalDataAddress);
    if (r.values.size() != r.count) return;
    for (std::size_t k = 0; k < r.values.size(); ++k) image_[static_cast<std::size_t>(address) + k] = r.values[k];
    SendType2SlaveReply(r.unit, address, r.count, 0, true, f, kind);
  }
}

void ModbusSlave::Refuse(const SlaveRequest& request, std::uint8_t unit, std::uint8_t code) {
  Send(ExceptionReply(unit, request.function, code));
}

void ModbusSlave::SendSlaveReply(std::int32_t reference, std::int32_t count, std::int32_t value, bool write,
                                 std::uint8_t function) {
  std::uint8_t unit = OwnUnit(master_.UnitAddress());
  // The offset of the function's own table: a reference does not tell its table by itself
  // (coil offset 10000 is reference 10001, the first discrete input).
  std::uint16_t offset = Low16(reference - TableBase(function));
  if (write) {
    Send(WriteEchoReply(unit, function, offset, Low16(IsSingleWrite(function) ? value : count)));
    return;
  }
  if (!InImage(reference, count)) return;
  auto first = image_.begin() + reference;
  std::optional<Adu> reply;
  if (IsBitRead(function)) {
    std::vector<std::uint8_t> points;
    std::transform(first, first + count, std::back_inserter(points), [](std::int32_t v) { return v == 1 ? 1 : 0; });
    if (points.size() <= kMaxReadBits) reply = ReadBitsReply(unit, function, points);
  } else {
    std::vector<std::uint16_t> registers;
    std::transform(first, first + count, std::back_inserter(registers), Low16);
    if (registers.size() <= kMaxReadRegisters) reply = ReadRegistersReply(unit, function, registers);
  }
  if (reply) Send(*reply);
}

void ModbusSlave::SendType2SlaveReply(std::uint8_t unit, std::int32_t address, std::int32_t count, std::int32_t value,
                                      bool write, std::uint8_t function, std::int32_t kind) {
  if (write) {
    Send(WriteEchoReply(unit, function, Low16(address), Low16(IsSingleWrite(function) ? value : count)));
    return;
  }
  if (!InImage(address, count)) return;
  auto first = image_.begin() + address;
  std::optional<Adu> reply;
  if (IsBitRead(function)) {
    if (static_cast<std::size_t>(count) > kMaxReadBits) return;
    std::vector<std::uint8_t> points;
    std::transform(first, first + count, std::back_inserter(points), [](std::int32_t v) { return v == 1 ? 1 : 0; });
    reply = ReadBitsReply(unit, function, points);
  } else {
    std::vector<std::uint16_t> registers;
    for (auto it = first; it != first + count; ++it) {
      if (IsType2Pair(kind)) registers.push_back(static_cast<std::uint16_t>(static_cast<std::uint32_t>(*it) >> 16));
      registers.push_back(Low16(*it));
    }
    if (registers.size() > kMaxReadRegisters) return;
    reply = ReadRegistersReply(unit, function, registers);
  }
  if (reply) Send(*reply);
}

void ModbusSlave::Send(const Adu& reply) {
  MasterTransaction& tx = master_.Transaction();
  tx.RawMode = false;
  // A host write holds the line: the request was executed, its answer is not sent.
  if (tx.WriteActive || silent_) return;
  std::int64_t now = WallNow(loop_);
  if ((tx.ReadPending || tx.WritePending) && now - tx.SendTime >= kStalePendingSeconds) {
    tx.ReadPending = false;
    tx.WritePending = false;
  }
  tx.SendTime = now;
  try {
    master_.TransmitFrame(BuildFrame(reply, CurrentFraming()));
  } catch (const RuntimeError&) {
    // A closed port or a failed write: the master repeats its request.
  }
}

void ModbusSlave::RaiseEvent(std::int16_t mAdd, std::int16_t quan) {
  master_.RaiseDataBufferEvent(mAdd, quan, master_.LastErrorText());
}

}  // namespace plc::modbus
